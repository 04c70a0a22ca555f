#pragma once
// The one way the pages, the setpoint sets and the bound controls write
// registers. A batch holds the values the user changed, each with the limits
// its descriptor element gives; a batch with a value outside them is refused
// whole before anything is sent. The words go one register at a time; the
// batch's registers are read back whatever happened, so the page shows what
// the relay holds, and a write that stopped part-way says how many values
// went and names those that did not. What the read-back finds is compared
// with what was written: a value the relay acknowledged and did not keep is
// named, and every value's fate is told to the page. Main thread only.
#include "ixml.h"
#include "uIOChain3.h"
#include "uParamCodec.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <map>
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
  // The page's own key for the value (a row, a cell): told back in the outcome.
  int Tag = -1;
  // The bits of the read-back compared with what was written: a masked write
  // compares its Mask only (the gate sees to it), a register described by
  // bits its named bits.
  uint16_t Compared = 0xFFFF;
  // Words of the value's registers as its page shows them (a scaled number,
  // an item's text); null: the words in decimal.
  std::function<QString(const TRegWrites &Words)> Show;
};

// What became of one value of a write.
enum class TWriteFate : uint8_t {
  Kept,       // written, and the read-back holds it
  Held,       // not written: the relay held it already (a write against the relay)
  NotKept,    // written and acknowledged, but the read-back holds another value
              // (or held, never sent, and found otherwise at the read-back)
  Unanswered, // its write went and no answer came: it may have been done
  NotSent,    // not sent (refused, the write stopped before it, the check refused the write)
  Unconfirmed // written and acknowledged, but not read back (the read-back failed,
              // was cut, or was not made after a failure): it may not hold
};

struct TValueOutcome {
  int Tag = -1;
  QString Name;
  TWriteFate Fate = TWriteFate::NotSent;
  TRegWrites Held; // what the read-back found in its registers (empty when not read)
};

// The limit report line of Value against Limit ("" inside): CR LF,
// "Помилка", Name in double quotes, "<" or ">", the limit as shown. A Range
// whose word-min lies above its word-max in the register's own type is a
// fault of the descriptor: every value gets a line that says so.
QString LimitLine(const QString &Name, const TWriteLimit &Limit, int Value);

// The value a parameters-page row writes: Words from its codec, Text the
// typed text (a text parameter's length is checked against its registers).
TWriteValue ParamWriteValue(const TParamCodec &Codec, const TRegWrites &Words, const QString &Text = QString());
// The value a setpoint cell writes: Word to Reg, the limits in the page's
// units; a bit set's word compared on its named positions (TUstav::NamedBits).
TWriteValue UstavWriteValue(const TUstav &U, int Reg, uint16_t Word, bool Primary);
// The value a bound control writes to Reg: the descriptor's parameter or
// setpoint at Reg under Root gives the name and limits; a register neither
// describes (bits, commands) is written without limits, and so is a masked
// bit of a setpoint. A bit set or a bit register is compared on the bits
// the descriptor names (Compared).
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
  // The unit the values were made for (read from, typed against): the
  // identity check refuses any other unit, nothing sent. Empty: the unit
  // identified when the write goes.
  TUnitIdentity MadeFor;
  // The page the write works for (TIOChainList3::ownedBy): closed before the
  // write begins, the chain ends without a word.
  QObject *Owner = nullptr;
  // Told once as the write ends, after its read-back and comparison,
  // whichever way it ended (refused at the check or at the relay read too):
  // every value of the batch (every candidate of a write against the relay)
  // in batch order. Pages keep NotKept, Unanswered and NotSent values as
  // edits, Unconfirmed ones as the engineer's values marked so, and let Kept
  // and Held ones follow the relay. Wrap page access in Guarded().
  std::function<void(const std::vector<TValueOutcome> &)> Outcome;
  // False for commands, whose read-back is not compared (a virtual-input
  // press, a pulse).
  bool Compare = true;
};

// Registers and the words found in them.
using TRegWords = std::map<uint16_t, uint16_t>;

// One register write of a batch: the words that go and the batch values
// they carry. Masked values of one register make one masked write: the
// union of their masks, each one's bits (a later value's over an earlier
// one's), at the place of the first.
struct TPlannedWrite {
  TRegWrites Words;
  uint16_t Mask = 0xFFFF; // a masked write: its one word's other bits are the relay's
  std::vector<int> Values;
};
std::vector<TPlannedWrite> PlanWrites(const TWriteBatch &Batch);

// How far the writes of a plan went, and what the relay was found holding.
enum class TWriteStage : uint8_t { Pending, Sent, Answered, Held };
struct TWriteTrack {
  std::vector<TWriteStage> Stages; // one per planned write
  std::vector<TRegWrites> Sent;    // the words each planned write sent
  bool Refused = false;            // the failed answer said its request did nothing
  std::optional<TRegWords> Back;   // the read-back after the writes; none when not read
  TRegWords Before;                // a write against the relay: its read before the check
  bool Compare = true;
};
// Every value's fate, in batch order: an answered write compared with the
// read-back word by word on its Compared bits (a masked value on its mask),
// a text (Limit Text) by its characters as the page reads them back; one
// whose registers the read-back lacks is unconfirmed. A command's
// (Track.Compare false) answered write is kept: it is never compared.
std::vector<TValueOutcome> ValueOutcomes(const TWriteBatch &Batch, const std::vector<TPlannedWrite> &Plan,
                                         const TWriteTrack &Track);
// The report of the values not kept ("" when none): NotKeptText of each
// written, HeldChangedText of each held and never sent, joined by "; ".
QString NotKeptReport(const TWriteBatch &Batch, const std::vector<TPlannedWrite> &Plan, const TWriteTrack &Track,
                      const std::vector<TValueOutcome> &Outcomes);
// The report of a write that stopped short: the values left unanswered
// (UnansweredWriteText), PartialWriteText of those not sent, and
// UnconfirmedWriteText of those written and not read back, Reason given to
// the first of the latter two there is when no value is left unanswered.
// No part names an empty list.
QString ShortWriteReport(const std::vector<TValueOutcome> &Outcomes, const QString &Reason);

// Checks and sends Batch through Gen. Throws EKvError with the limit report
// when CheckLimits and a value is outside its limits: nothing is sent. An
// empty batch only shows the status texts. The chain names the batch's
// values as what it writes. The masked values of one register go as one
// write of the word read right after the identity check. After the writes
// the batch's registers are read back and compared with what was sent
// (Run.Compare): a value not kept is reported (NotKeptText, the write's
// report and the log), the write ends short (TIOChainList3::MarkShort) and
// neither Done nor DoneText follows. After a failed register write the
// batch's registers are read again inside the write, Shown runs and the
// write's report (which stays, TIOChainGen::WriteReport) and the log carry
// PartialWriteText with the failure's reason; a value whose write went and
// whose answer never came (or was dropped by an abort) is named by
// UnansweredWriteText instead, before the values not sent. Run.Outcome is
// told last.
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

// Writes the values of Candidates that the relay does not hold. Throws
// EKvError with the limit report when CheckLimits and any candidate is
// outside its limits: nothing is sent. The chain reads the candidates'
// registers and Relay.Read (ReadingText, in ascending order) into buffers of
// its own; then comes the identity check; then what was read enters the
// register image and Relay.Fetched runs; then the values whose words differ
// from what was read are written as RunWriteBatch writes them (the masked
// values of one register over their word read again right before their
// write, not the word read before the check), and every candidate's
// register is read back and compared. When none differs, nothing is written
// and Relay.Same runs instead of Done. A failed read before the check
// refuses the write as the check would: the box (TIOChainGen::WriteBox), a
// lost link the status line; nothing went.
void RunRelayWrite(TIOChainGen &Gen, const TWriteBatch &Candidates, const TRelayWrite &Relay, const TWriteRun &Run);

// "Ошибка записи: записано W из T, не записаны: names" in the user's
// language (without the list when NotWritten is empty), then "; " and
// Reason (the failure as its answer told it) when given.
QString PartialWriteText(int Written, int Total, const QStringList &NotWritten, const QString &Reason = QString());
// Name + ": ответ не получен: проверьте значение" in the user's language.
QString UnansweredWriteText(const QString &Name);
// "записано, не подтверждено: names" in the user's language.
QString UnconfirmedWriteText(const QStringList &Names);
// What a page's mark of an unconfirmed value says ("Записано, не
// подтверждено"), in the user's language.
QString UnconfirmedMarkText();
// "Не сохранено устройством: Name: записано W, в устройстве H" in the user's
// language, W and H as the page shows them (ShownWords).
QString NotKeptText(const QString &Name, const QString &Written, const QString &Held);
// "Не сохранено устройством: Name: в устройстве H" in the user's language:
// a value found held, never sent, and found otherwise at the read-back.
QString HeldChangedText(const QString &Name, const QString &Held);
// Words of Value's registers as its page shows them (Value.Show), else
// decimal, several words joined by blanks.
QString ShownWords(const TWriteValue &Value, const TRegWrites &Words);
