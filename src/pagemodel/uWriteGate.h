#pragma once
// The one way the pages, the setpoint sets and the bound controls write
// registers. A batch holds the values the user changed, each with the limits
// its descriptor element gives; a batch with a value outside them is refused
// whole before anything is sent. The words go one register at a time; the
// batch's registers are read back whatever happened, so the page shows what
// the relay holds, and a write that stopped part-way says how many values
// went and names those that did not. Main thread only.
#include "ixml.h"
#include "uIOChain3.h"
#include "uParamCodec.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

class TUstav;

// The limits of one value, in register units.
struct TWriteLimit {
  // Range: word-min..word-max of the raw word; Enum: an item index below
  // Max + 1; Text: at most Max characters.
  enum TKind : uint8_t { None, Range, Enum, Text };
  TKind Kind = None;
  int Min = 0, Max = 65535;
  // A limit as the user reads it (scaled number, item text); null: decimal.
  // A signed range's limits come as -32768..32767.
  std::function<QString(int Limit)> Show;
  // A Range of a register in two's-complement code: its words, limits and
  // value alike, are compared as -32768..32767.
  bool Signed = false;
};

// One value of a batch: the words of one parameter or setpoint cell.
struct TWriteValue {
  QString Name;
  TRegWrites Words;
  // What the limits are compared with: the raw word, the item index or the
  // number of characters of a text.
  int Checked = 0;
  // Only these bits of the single word go; the others are read from the
  // device just before the write.
  uint16_t Mask = 0xFFFF;
  TWriteLimit Limit;
};

// The limit report line of Value against Limit ("" inside): CR LF,
// "Помилка", Name in double quotes, "<" or ">", the limit as shown. A Range
// whose word-min lies above its word-max in the register's own type is a
// fault of the descriptor: every value gets a line that says so.
QString LimitLine(const QString &Name, const TWriteLimit &Limit, int Value);

// The value a parameters-page row writes: Words from its codec, Text the
// typed text (a text parameter's length is checked against its registers).
TWriteValue ParamWriteValue(const TParamCodec &Codec, const TRegWrites &Words, const QString &Text = QString());
// The value a setpoint cell writes: Word to Reg, the limits in the page's units.
TWriteValue UstavWriteValue(const TUstav &U, int Reg, uint16_t Word, bool Primary);
// The value a bound control writes to Reg: the descriptor's parameter or
// setpoint at Reg under Root gives the name and limits; a register neither
// describes (bits, commands) is written without limits, and so is a masked
// bit of a setpoint.
TWriteValue DescribedWriteValue(const IXXMLNode &Root, uint16_t Reg, uint16_t Word, uint16_t Mask = 0xFFFF);

class TWriteBatch {
public:
  void Add(TWriteValue Value) { FValues.push_back(std::move(Value)); }
  bool IsEmpty() const { return FValues.empty(); }
  const std::vector<TWriteValue> &Values() const { return FValues; }
  // One line per value outside its limits, in batch order; "" when all are inside.
  QString LimitReport() const;
  // Every register of the batch once, in first-written order.
  std::vector<uint16_t> Registers() const;

private:
  std::vector<TWriteValue> FValues;
};

// How one batch runs.
struct TWriteRun {
  bool CheckLimits = true;
  // False: no read-back after a whole write (a pulse the device clears itself).
  bool ReadAfter = true;
  QString WritingText, ReadingText, DoneText = QStringLiteral("Готово");
  // After the read-back, written whole or not: the page shows the image.
  std::function<void()> Shown;
  // Steps after a whole write, before DoneText (messages, mode changes).
  std::function<void(TIOChainList3 &Chain)> Done;
  TChainProgressEvent Progress;
  // The identification epoch (TIOChainGen::IdentEpoch) the batch was
  // prepared under: when the edit began, the value was chosen, the set was
  // matched with the device. Another epoch when the batch's first write goes
  // drops it whole with the write gate's box; none: the epoch at the run.
  std::optional<uint64_t> PreparedFor;
  // The page the write works for (TIOChainList3::ownedBy): closed before the
  // write begins, the chain ends without a word.
  QObject *Owner = nullptr;
};

// Checks and sends Batch through Gen. Throws EKvError with the limit report
// when CheckLimits and a value is outside its limits: nothing is sent. An
// empty batch only shows the status texts. The chain names the batch's
// values as what it writes. After a failed register write the batch's
// registers are read again, Shown runs and the write's report (which stays,
// TIOChainGen::WriteReport) and the log carry PartialWriteText with the
// failure's reason; a value whose write went and whose answer never came (or
// was dropped by an abort) is named by UnansweredWriteText instead, before
// the values not sent.
void RunWriteBatch(TIOChainGen &Gen, const TWriteBatch &Batch, const TWriteRun &Run);

// What a write decided against the relay adds to its run.
struct TRelayWrite {
  // Read from the relay with the values' own registers, before anything is
  // decided: what the page shows beside them.
  std::vector<uint16_t> Read;
  // After that read, before anything is written: the page shows the relay.
  std::function<void()> Fetched;
  // Steps instead of the writes when the relay holds every value already.
  std::function<void(TIOChainList3 &Chain)> Same;
};

// Writes the values of Candidates that the relay does not hold, decided in
// the same chain after its identity check. Throws EKvError with the limit
// report when CheckLimits and any candidate is outside its limits: nothing
// is sent. The chain reads the candidates' registers and Relay.Read into
// the register image (ReadingText), runs Relay.Fetched, then writes the values whose
// words differ from the relay's (a masked value compares and keeps its other
// bits as just read) as RunWriteBatch does, with its reports and read-back;
// when none differs, nothing is written and Relay.Same runs instead of Done.
void RunRelayWrite(TIOChainGen &Gen, const TWriteBatch &Candidates, const TRelayWrite &Relay, const TWriteRun &Run);

// "Ошибка записи: записано W из T, не записаны: names" in the user's
// language, then "; " and Reason (the failure as its answer told it) when given.
QString PartialWriteText(int Written, int Total, const QStringList &NotWritten, const QString &Reason = QString());
// Name + ": ответ не получен: проверьте значение" in the user's language.
QString UnansweredWriteText(const QString &Name);
