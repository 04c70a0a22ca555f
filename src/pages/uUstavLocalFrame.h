#pragma once
// A local setpoint set: a set file ("tempustav.xml", "*.us") shown and edited
// without the device, saved again, and written to the device when it was made
// for the same descriptor. The set's own descriptor decides every lookup.
// Main thread only.
#include "uUstavGridFrame.h"

class TUstavFrame;

class TkvUstavLocalFrame : public TUstavGridFrame {
  Q_OBJECT
public:
  // UstavPage (may be null) shows the device's values again after a write.
  explicit TkvUstavLocalFrame(TUstavFrame *UstavPage, QWidget *Parent = nullptr);

  void Init();
  // Reads the set. Throws EKvError "invalid format" when the file holds no
  // "device-descriptor" (also when it does not load), EKvRange for a value
  // above 65535.
  void LoadFromFile(const QString &FileName);
  // Copies the check states of Source's items by position when both lists
  // have as many items; rows and values follow.
  void CopyLevelChecks(const QListWidget *Source);
  // Rewrites the stored values and saves to FileName (the current file when
  // empty, which FileName otherwise becomes).
  void SaveToFile(const QString &FileName);
  QByteArray GetDescriptorDigest() const { return DescriptorDigest(Descriptor()); }
  // Writes the values of Image that differ from the device's. PreparedFor:
  // the identification epoch the set was matched with the device under.
  void WriteImage(const QByteArray &Image, std::optional<uint64_t> PreparedFor = {});
  void UpdateValues() override;
  QString FileName() const { return FFileName; }
  // What a save would write (values, level names) differs from what was
  // loaded or saved last.
  bool IsModified() const { return SetState() != FSavedState; }
  // Before the set's tab goes: a modified set asks "Да / Нет / Отмена"; yes
  // saves it to its file. False when the tab is to stay (cancelled, or the
  // set could not be saved: the error is shown).
  bool QueryClose();

protected:
  void GetCellEditor(int Col, int Row, TCellEditorRequest &Request) override;
  void CellEdited(int Col, int Row, const QString &Text) override;

private:
  // The registers a save stores (readable and writable setpoints, groups 1
  // and 2, non-zero values only) with their values, in the file's order.
  std::vector<std::pair<int, int>> StoredValues() const;
  // What a save would write, to compare with FSavedState.
  QString SetState() const;

  TUstavFrame *FUstavPage;
  QString FSavedState;
  IXXMLDocument FDoc;
  QString FFileName;
};
