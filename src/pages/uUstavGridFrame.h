#pragma once
// What the setpoints page and a local setpoint set share: the level list
// beside the grid, one row per shown setpoint, one value column per group,
// the own register image being edited, the change colours, the limit check,
// the image of the values to write and the spreadsheet export. Each frame
// decides where its values come from and which cells may be edited.
#include "uDescriptorGridFrame.h"
#include "uModbus.h"
#include "uParamCodec.h"
#include "uUstav.h"
#include "uWriteGate.h"

#include <QColor>
#include <map>
#include <vector>

// Texts of the setpoint writes.
namespace UstavTexts {
// A set write that found every value in the relay already.
inline const char *const AlreadyHeld = "Устройство уже содержит эти уставки";
// A set made from one relay while another is identified.
inline const char *const OtherRelay = "Набор сделан для другого устройства";
} // namespace UstavTexts

class QLabel;
class QListWidget;
class QListWidgetItem;
class TCheckListBoxEditor;
class TExcelFrame;
class TStringGridEditor;
struct TCellEditorRequest;

class TUstavGridFrame : public TDescriptorGridFrame {
  Q_OBJECT
public:
  TUstavGridFrame(const QString &FrameName, QWidget *Parent);
  ~TUstavGridFrame() override;

  // Rows emptied (row 1 carries no setpoint), setpoints dropped.
  void Clear();
  // Repaints the value cells from the images.
  virtual void UpdateValues() = 0;
  // The limit report of the own image: one line per group value outside its
  // setpoint's limits, "" when all are inside.
  QString CheckLimits() const;
  // The own image's values to write: the setpoint count, then per readable
  // and writable setpoint (the first row of a bit set standing for it) its
  // words of the groups that have a register.
  QByteArray BuildImage() const;
  // The sheet named "Уставки" (or the local frame's), every grid cell.
  void ExportToExcel(TExcelFrame *ExcelFrame, int SheetIndex);
  // The MD5 of the text under Root's "ustav" (Windows-1251); the digest of
  // the empty text without one.
  static QByteArray DescriptorDigest(const IXXMLNode &Root);

  int GroupCount() const { return FGroupCount; }
  const TModbus &OwnImage() const { return FOwnImage; }
  // The setpoint of grid row Row, or null.
  TUstav *RowUstav(int Row) const;
  // The first setpoint with Reg in one of its groups, or null.
  TUstav *FindByReg(int Reg) const;
  // The value cell (Col >= 2) differs from the device's last read value.
  bool CellChanged(int Col, int Row) const;
  // The changed value cell holds a value written and answered but not read
  // back: still the engineer's edit, drawn in its own colour.
  bool CellUnconfirmed(int Col, int Row) const;
  bool IsPrimary() const { return FPrimary; }

  QListWidget *clbUstavLevel = nullptr;
  QLabel *Label28 = nullptr;
  TStringGrid *const sgUstav;
  TStringGridEditor *Editor() const { return FEditor; }
  TCheckListBoxEditor *LevelEditor() const { return FLevelEditor; }

protected:
  // Levels from Root: "Все" and one item per level (its ider kept); with
  // DropUnreadable a level whose first setpoint is missing or unreadable goes.
  void FillLevels(const IXXMLNode &Root, bool DropUnreadable);
  // Setpoints, group columns, rows and values for Root.
  void BuildFrom(const IXXMLNode &Root, int GroupCount, bool DropUnreadableLevels);
  void SetGroupCount(int Count);
  void BuildRows();
  // The level item a setpoint belongs to (null when none).
  virtual QListWidgetItem *LevelItem(const TUstav &U) const;
  // The words of Image, one per readable and writable setpoint's group
  // register: throws EKvError "internal error" when it does not fit the
  // setpoints.
  TRegWrites ImageWords(const QByteArray &Image) const;
  // The values of Image the engineer changed (EditedBits), each with its
  // setpoint's limits, whatever the relay holds: a register edited whole goes
  // as its word, one edited only through its bit rows as one masked value per
  // edited bit. Each value's Tag is its place in the batch.
  TWriteBatch ImageBatch(const QByteArray &Image) const;
  // The value of Word to Reg as setpoint U's cell writes it: named
  // "<group>: <setpoint>" on a device with groups, a bit row masked to its bit.
  TWriteValue CellValue(const TUstav &U, int Reg, uint16_t Word) const;
  // The registers an image holds values of.
  std::vector<uint16_t> ImageRegisters() const;
  // ustav/limitCheck (default on): whether this page's writes check limits.
  bool LimitCheckOn() const;
  // The bits of Reg that count as changed by the user (the setpoints page:
  // edited since the last read; a set: the whole word, any difference); 0
  // when none.
  virtual uint16_t EditedBits(int Reg) const { return Reg >= 0 ? 0xFFFF : 0; }
  bool IsEdited(int Reg) const { return EditedBits(Reg) != 0; }
  // Own-image edit of (Col, Row) to Text; the register concerned or -1.
  int EditOwnImage(int Col, int Row, const QString &Text);
  // Base colour of the value cells.
  virtual QColor BaseColor() const { return Qt::white; }
  virtual void GetCellEditor(int Col, int Row, TCellEditorRequest &Request) = 0;
  virtual void CellEdited(int Col, int Row, const QString &Text) = 0;
  virtual void LevelEdited(int Index, const QString &Text);
  // The editor kind of setpoint U (edit box, list or bit-mask dialog).
  void ChooseEditor(const TUstav &U, TCellEditorRequest &Request) const;
  // Runs Batch through the write gate (limits checked unless limitCheck is
  // off): status texts, the writes, the read-back into the register image,
  // Shown (also after a write that stopped part-way), then Done. PreparedFor:
  // the identification epoch the values were edited under. The chain works
  // for this page. Told (while this page exists) is told, as the write ends,
  // each value's fate, the value found by its Tag.
  void RunWrite(const TWriteBatch &Batch, const std::function<void()> &Shown,
                const std::function<void(TIOChainList3 &)> &Done, std::optional<uint64_t> PreparedFor = {},
                std::function<void(const TWriteValue &Value, TWriteFate Fate)> Told = {});
  // Writes the values of Candidates the relay does not hold, decided after
  // the identity check against the registers read in the same chain (with
  // Relay.Read), as RunWrite writes them. Settled (while this page exists)
  // is told, as the write ends, each candidate the relay now holds as it was
  // meant (written and kept, or held already), by its Tag: it is no longer
  // an edit. The others stay edits.
  void RunRelayWrite(const TWriteBatch &Candidates, const TRelayWrite &Relay, const std::function<void()> &Shown,
                     const std::function<void(TIOChainList3 &)> &Done, std::optional<uint64_t> PreparedFor = {},
                     std::function<void(const TWriteValue &Settled)> Settled = {});

  // Value's bits are (or are no longer) written and not confirmed.
  void MarkUnconfirmed(const TWriteValue &Value, bool Unconfirmed);
  // The unit the next RunWrite or RunRelayWrite is made for (empty: any).
  TUnitIdentity FWriteFor;

  TUstavList FUstavs;
  std::vector<TUstav *> FRows; // FRows[r - 1] for grid row r
  // Registers with the bits of them written and not read back.
  std::map<int, uint16_t> FUnconfirmed;
  TModbus FOwnImage;
  int FGroupCount = 0;
  bool FPrimary = false;
  QString FSheetName = QStringLiteral("Уставки");

private:
  void LevelClickCheck(QListWidgetItem *Item);

  TStringGridEditor *FEditor = nullptr;
  TCheckListBoxEditor *FLevelEditor = nullptr;
  bool FChecking = false;
};
