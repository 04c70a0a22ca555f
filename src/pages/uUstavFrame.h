#pragma once
// The Уставки page: the device's setpoints by level and group, read through
// IO chains, edited in place (written at once, or collected in edit mode and
// written together after a limit check), saved as a setpoint set and
// exported. The value rules are TUstav's. Main thread only.
#include "uUstavGridFrame.h"

#include <map>
#include <set>

class TUstavFrame : public TUstavGridFrame {
  Q_OBJECT
public:
  explicit TUstavFrame(QWidget *Parent = nullptr);

  // One-time set-up at start.
  void Init();
  // Levels, setpoints, group columns, rows and values for Root.
  void SetDescriptor(const IXXMLNode &Root);
  // Shows the values of the register image, every register read from the
  // relay (called by name from IO chains): out of edit mode nothing written
  // as typed stays the engineer's.
  Q_INVOKABLE void ShowValues();
  // Shows the own image: out of edit mode the register image, but for the
  // bits written as typed that stay the engineer's.
  void UpdateValues() override;
  // Reads the registers of the shown readable setpoints: out of edit mode
  // they show what the relay holds.
  void Refresh();
  void UpdateMeasureFactors();
  // Names from the descriptor (custom names), rows rebuilt.
  void UpdateNames();
  void SetPrimaryValues(bool Value);
  bool GetEditMode() const { return FEditMode; }
  // Edit mode on: the own image starts from the register image; off: the
  // page reads the device again.
  void SetEditMode(bool Value);
  // Writes the registers of Image (BuildImage's form) the user edited since
  // the page last read the device and the relay does not hold, read after
  // the identity check in the same chain; the limit check (ustav/limitCheck)
  // first. Throws the limit report, or EKvError "internal error" when Image
  // does not fit the setpoints, before anything is sent.
  void WriteImage(const QByteArray &Image);
  // Registers another write changed, read back into the register image:
  // their cells show it, but for those edited in edit mode and not written
  // (out of edit mode, what was written as typed gives way to it).
  void ShowChanged(const std::vector<uint16_t> &Regs);
  // A setpoint set of the device's values ("tempustav.xml", "*.us").
  void SaveToFile(const QString &FileName);
  QByteArray GetDescriptorDigest() const { return DescriptorDigest(Descriptor()); }
  // The unit the values shown were read from (identification fills the
  // page): what an edit begun now is made for.
  void SetReadUnit(const TUnitIdentity &Unit) { FReadUnit = Unit; }

  // "?" when no setpoint has Reg.
  QString RegValueText(int Reg, int Value) const;
  // 65535 when no setpoint has Reg; else the number conversion.
  int TextToRegValue(int Reg, const QString &Text) const;

  QLabel *LabelEditor = nullptr;

signals:
  // The cells show the register image afresh (a read, a write, another
  // write's registers): what a set made from this relay follows.
  void ValuesShown();

protected:
  QColor BaseColor() const override;
  void GetCellEditor(int Col, int Row, TCellEditorRequest &Request) override;
  void CellEdited(int Col, int Row, const QString &Text) override;
  uint16_t EditedBits(int Reg) const override {
    const auto it = FEdited.find(Reg);
    return it == FEdited.end() ? 0 : it->second;
  }

private:
  int DirectEdit() const;
  // A value of a write the relay now holds as meant: its bits are no longer
  // an edit and show the relay's.
  void Settle(const TWriteValue &Value);
  // The fate of Value, written as typed under identification epoch Epoch:
  // not kept or not read back, it stays the engineer's (the latter marked
  // unconfirmed) until the relay is read; otherwise its cell shows the relay.
  void TypedWritten(const TWriteValue &Value, TWriteFate Fate, uint64_t Epoch);
  // Out of edit mode, Regs were read from the relay: what was written as
  // typed into them is no longer the engineer's.
  void DropTyped(const std::set<int> &Regs);
  bool FEditMode = false;
  // Registers edited since the last read, with the bits edited (a bit row
  // edits its bit only): in edit mode those typed; out of it those written
  // as typed that the relay did not keep or was not read back for.
  std::map<int, uint16_t> FEdited;
  // The identification epochs the values are edited under: of the editor
  // opened last, and the oldest of the registers in FEdited.
  uint64_t FEditEpoch = 0, FEditedEpoch = 0;
  // The units of the values read last, of the editor opened last and of the
  // oldest edit in FEdited: a write goes to that unit only.
  TUnitIdentity FReadUnit, FEditUnit, FEditedUnit;
};
