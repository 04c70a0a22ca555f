#pragma once
// The Уставки page: the device's setpoints by level and group, read through
// IO chains, edited in place (written at once, or collected in edit mode and
// written together after a limit check), saved as a setpoint set and
// exported. The value rules are TUstav's. Main thread only.
#include "uUstavGridFrame.h"

class TUstavFrame : public TUstavGridFrame {
  Q_OBJECT
public:
  explicit TUstavFrame(QWidget *Parent = nullptr);

  // One-time set-up at start.
  void Init();
  // Levels, setpoints, group columns, rows and values for Root.
  void SetDescriptor(const IXXMLNode &Root);
  // Shows the values of the register image (called by name from IO chains).
  Q_INVOKABLE void ShowValues() { UpdateValues(); }
  void UpdateValues() override;
  // Reads the registers of the shown readable setpoints.
  void Refresh();
  void UpdateMeasureFactors();
  // Names from the descriptor (custom names), rows rebuilt.
  void UpdateNames();
  void SetPrimaryValues(bool Value);
  bool GetEditMode() const { return FEditMode; }
  // Edit mode on: the own image starts from the register image; off: the
  // page reads the device again.
  void SetEditMode(bool Value);
  // Writes the changed registers of Image (BuildImage's form); throws
  // EKvError "internal error" when it does not fit the setpoints.
  void WriteImage(const QByteArray &Image);
  // A setpoint set of the device's values ("tempustav.xml", "*.us").
  void SaveToFile(const QString &FileName);
  QByteArray GetDescriptorDigest() const { return DescriptorDigest(Descriptor()); }

  // For the bound controls: the first setpoint with Reg in one of its groups.
  TUstav *FindByReg(int Reg) const;
  // "?" when no setpoint has Reg.
  QString RegValueText(int Reg, int Value) const;
  // 65535 when no setpoint has Reg; else the number conversion.
  int TextToRegValue(int Reg, const QString &Text) const;

  QLabel *LabelEditor = nullptr;

protected:
  QColor BaseColor() const override;
  void GetCellEditor(int Col, int Row, TCellEditorRequest &Request) override;
  void CellEdited(int Col, int Row, const QString &Text) override;

private:
  int DirectEdit() const;
  bool FEditMode = false;
};
