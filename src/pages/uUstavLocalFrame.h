#pragma once
// A local setpoint set: a set file ("tempustav.xml", "*.us") shown and edited
// without the device, saved again, and written to the device when it was made
// for the same descriptor. The set's own descriptor decides every lookup.
// Main thread only.
#include "uUstavGridFrame.h"

#include <QPointer>
#include <map>

class TUstavFrame;

class TkvUstavLocalFrame : public TUstavGridFrame {
  Q_OBJECT
public:
  // UstavPage (may be null) shows the device's values again after a write.
  explicit TkvUstavLocalFrame(TUstavFrame *UstavPage, QWidget *Parent = nullptr);
  ~TkvUstavLocalFrame() override;

  void Init();
  // Reads the set. Throws EKvError "invalid format" when the file holds no
  // "device-descriptor" (also when it does not load), EKvRange for a value
  // above 65535.
  void LoadFromFile(const QString &FileName);
  // Copies the check states of Source's items by position when both lists
  // have as many items; rows and values follow.
  void CopyLevelChecks(const QListWidget *Source);
  // Rewrites the stored values and saves to FileName (the current file when
  // empty, which FileName otherwise becomes). An edit tab not yet saved
  // under a name of the engineer's asks for one ("Сохранить набор уставок
  // как") instead of its work file: false when that was cancelled. Once
  // saved under a name, its values are the file's.
  bool SaveToFile(const QString &FileName);
  QByteArray GetDescriptorDigest() const { return DescriptorDigest(Descriptor()); }
  // Writes the values of Image (of a set made from a relay: its edited
  // cells) that the relay does not hold, read after the identity check in
  // the same chain; when it holds them all, the box says so. PreparedFor:
  // the identification epoch the set was matched with the device under.
  void WriteImage(const QByteArray &Image, std::optional<uint64_t> PreparedFor = {});
  // Binds the set to the unit its values were read from (as the read's
  // identity check saw it), under Epoch; UnitNow gives the unit identified
  // now (empty: none, or not confirmed). Until it is saved under a name it
  // is written to that unit only, only the cells edited here are written,
  // and the others show what that unit holds whenever the setpoints page
  // shows it afresh while it is the unit identified. Saved under a name, it
  // is the engineer's set for any relay of its type.
  void MadeFrom(const TUnitIdentity &Unit, uint64_t Epoch, std::function<TUnitIdentity()> UnitNow);
  bool IsMadeFromRelay() const { return bool(FUnitNow); }
  // The unit the tab's values are for; empty for a set from or saved to a file.
  TUnitIdentity MadeForUnit() const { return FFollows ? FRelayUnit : TUnitIdentity(); }
  // An edit tab whose unedited cells follow its relay (not saved under a name yet).
  bool FollowsRelay() const { return FFollows; }
  // False when the set was made from a unit other than the one identified
  // now ("другое устройство": another address, another unit of the same
  // type): the write box says what was not written, and the tab says so too.
  bool CheckRelay();
  void UpdateValues() override;
  QString FileName() const { return FFileName; }
  // What a save would write (values, level names) differs from what was
  // loaded or saved last.
  bool IsModified() const { return SetState() != FSavedState; }
  // Before the set's tab goes: a modified set asks "Да / Нет / Отмена"; yes
  // saves it to its file. False when the tab is to stay (cancelled, or the
  // set could not be saved: the error is shown).
  bool QueryClose();

signals:
  // The set was saved under the name FileName (the tab's caption follows).
  void FileNamed(const QString &FileName);

protected:
  void GetCellEditor(int Col, int Row, TCellEditorRequest &Request) override;
  void CellEdited(int Col, int Row, const QString &Text) override;
  uint16_t EditedBits(int Reg) const override;
  void showEvent(QShowEvent *Event) override;

private:
  // The unit identified now is the one the set was made from (false while
  // none is identified). The same identification goes on holding it when
  // the program's own write renewed its identity; the same unit identified
  // again (a reconnect, a poll) is its again.
  bool IsRelayNow();
  // Of a set saved under a name: the relay identified now is of the type it
  // was made from (true for a set from a file).
  bool IsTypeNow() const;
  // The cells (bits) not edited here take the relay's values the register
  // image holds, while the relay identified is the tab's.
  void FollowRelay();
  // A value of a write the relay now holds as meant: no longer an edit.
  void Settle(const TWriteValue &Value);
  void IdentChanged();
  // The registers a save stores (readable and writable setpoints, groups 1
  // and 2, non-zero values only) with their values, in the file's order.
  std::vector<std::pair<int, int>> StoredValues() const;
  // What a save would write, to compare with FSavedState.
  QString SetState() const;

  TUstavFrame *FUstavPage;
  QString FSavedState;
  IXXMLDocument FDoc;
  QString FFileName;
  QLabel *LabelOtherRelay = nullptr;
  std::map<int, uint16_t> FEditedBits; // registers edited in this tab, with the bits edited
  bool FFollows = false;
  std::function<TUnitIdentity()> FUnitNow;
  TUnitIdentity FRelayUnit;
  uint64_t FRelayEpoch = 0;
  bool FEpochOpen = false; // FRelayEpoch is the identification now
  QPointer<TIOChainGen> FIdentGen;
  int FIdentToken = 0;
};
