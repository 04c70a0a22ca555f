#pragma once
// The Параметры page: every readable parameter of the run-time descriptor in
// a grid (an empty column keyed by register, the name, the value), read from
// the device, edited in place and written one at a time or all together.
// The value rules are TParamCodec's. Main thread only.
#include "uDescriptorGridFrame.h"
#include "uParamCodec.h"
#include "uWriteGate.h"

#include <set>
#include <vector>

class TExcelFrame;
class TStringGridEditor;
struct TCellEditorRequest;

class TkvParamFrame : public TDescriptorGridFrame {
  Q_OBJECT
public:
  explicit TkvParamFrame(QWidget *Parent = nullptr);
  ~TkvParamFrame() override;

  // One-time set-up at start: header row and the cell editor.
  void Init();
  // Keeps Root and rebuilds the rows (one per readable parameter).
  void SetDescriptor(const IXXMLNode &Root);
  // Two rows, the second empty and carrying no register.
  void Clear();
  // Reads every row's registers and shows them.
  void Refresh();
  // Shows the values of the register image (called by name from IO chains).
  Q_INVOKABLE void ShowValues();
  // Shows the row of register Reg (nothing when no row has it).
  void ShowRow(int Reg);
  // Writes the rows the user changed since the page read them (their text
  // differing from the device's value). Throws the conversion errors and the
  // limit report before anything is sent, and EKvError "Значения не
  // прочитаны из устройства" when no row holds a value read from the device.
  void WriteAll();
  // Sheet SheetIndex named "Параметры": every cell of the grid, real texts
  // of masked parameters included.
  void ExportToExcel(TExcelFrame *ExcelFrame, int SheetIndex);

  // The register of data row Row; -1 for none.
  int RowReg(int Row) const;
  // Row's parameter is drawn masked ("****").
  bool RowMasked(int Row) const;
  // The cell text of Row equals the device's value.
  bool RowMatchesDevice(int Row) const;
  // Row was changed by the user since the page read it and differs from the
  // device's value: drawn yellow, written by WriteAll.
  bool RowHighlighted(int Row) const;
  // Row's value was written and answered but not read back: it stays the
  // engineer's edit, drawn in its own colour.
  bool RowUnconfirmed(int Row) const { return FUnconfirmed.count(Row) && RowHighlighted(Row); }
  // The unit the values shown were read from (identification fills the
  // page): what an edit begun now is made for.
  void SetReadUnit(const TUnitIdentity &Unit) { FReadUnit = Unit; }

  TStringGrid *const sgParam;
  TStringGridEditor *Editor() const { return FEditor; }

private:
  void GetCellEditor(int Col, int Row, TCellEditorRequest &Request);
  void CellEdited(int Col, int Row, const QString &Text);
  // Values are tagged with their grid rows.
  void RunWrite(const TWriteBatch &Batch, std::optional<uint64_t> PreparedFor, const TUnitIdentity &MadeFor);
  // Row shows the register image's value, no longer an edit.
  void ShowRowAt(int Row);
  TWriteBatch EditedBatch() const;
  const TParamCodec *RowCodec(int Row) const;

  TStringGridEditor *FEditor = nullptr;
  std::vector<TParamCodec> FRows; // FRows[r - 1] for grid row r
  std::set<int> FEdited;          // grid rows the user changed since the last read
  std::set<int> FUnconfirmed;     // of FEdited, those written and not read back
  // The identification epochs the values are edited under: of the editor
  // opened last, and the oldest of the rows in FEdited.
  uint64_t FEditEpoch = 0, FEditedEpoch = 0;
  // The units of the values read last, of the editor opened last and of the
  // oldest row in FEdited: a write goes to that unit only.
  TUnitIdentity FReadUnit, FEditUnit, FEditedUnit;
};
