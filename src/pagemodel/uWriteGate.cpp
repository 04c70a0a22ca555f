#include "uWriteGate.h"

#include "uControlRules.h"
#include "uDescriptorXml.h"
#include "uErrors.h"
#include "uLinkText.h"
#include "uLogger.h"
#include "uModbus.h"
#include "uMultiLingual.h"
#include "uUstav.h"

#include <QBuffer>
#include <QMetaObject>
#include <QPointer>
#include <algorithm>
#include <memory>
#include <utility>

namespace {
// The setpoint with register %1 in one of its groups.
const char *const SetpointByMreg = "ustav/*[mreg=%1]";
const char *const PartialWriteTemplate = "Ошибка записи: записано %1 из %2, не записаны: %3";
const char *const CountedWriteTemplate = "Ошибка записи: записано %1 из %2";
const char *const UnconfirmedTemplate = "записано, не подтверждено: %1";
const char *const UnconfirmedMark = "Записано, не подтверждено";
const char *const HeldChangedTemplate = "Не сохранено устройством: %1: в устройстве %2";
const char *const UnansweredText = "ответ не получен: проверьте значение";
const char *const NotKeptTemplate = "Не сохранено устройством: %1: записано %2, в устройстве %3";
const char *const InvertedLimitsTemplate = "ошибка дескриптора: нижний предел %1 больше верхнего %2";

QByteArray RegisterList(const std::vector<uint16_t> &Regs) {
  QBuffer b;
  b.open(QIODevice::WriteOnly);
  for (uint16_t r : Regs)
    StreamWriteWord(b, r);
  return b.data();
}

// The registers in ascending order, each once: consecutive ones go in one request.
QByteArray SortedRegisterList(std::vector<uint16_t> Regs) {
  std::sort(Regs.begin(), Regs.end());
  Regs.erase(std::unique(Regs.begin(), Regs.end()), Regs.end());
  return RegisterList(Regs);
}

// The (register, value) pairs of a write's stream, in their order.
TRegWrites ReadPairs(QIODevice &Data) {
  Data.seek(0);
  const QByteArray bytes = Data.readAll();
  Data.seek(0);
  TRegWrites pairs;
  for (qsizetype i = 0; i + 4 <= bytes.size(); i += 4) {
    const auto *p = reinterpret_cast<const uint8_t *>(bytes.constData() + i);
    pairs.emplace_back(uint16_t(p[0] | (p[1] << 8)), uint16_t(p[2] | (p[3] << 8)));
  }
  return pairs;
}

// The (register, value) pairs of a register read's answer.
TRegWords ReadWords(QIODevice &Data) {
  TRegWords words;
  for (const auto &[reg, value] : ReadPairs(Data))
    words[reg] = value;
  return words;
}

// Buffer, read by a step already made, holds Bytes from its start.
void Refill(QBuffer &Buffer, const QByteArray &Bytes) {
  Buffer.buffer() = Bytes;
  Buffer.seek(0);
}

QByteArray Pairs(const TRegWrites &Words) {
  QBuffer b;
  b.open(QIODevice::WriteOnly);
  StreamWritePairs(b, Words);
  return b.data();
}

// A list's limit as the user reads it: the item's text.
std::function<QString(int)> ItemText(const QStringList &Items) {
  return [Items](int I) { return I >= 0 && I < Items.size() ? Items[I] : QString::number(I); };
}

// Whether the failure text of an answer says the request did nothing: the
// device refused it, or it never left for the link.
bool IsRefusedOrUnsent(const QString &Text) {
  for (const char *key : {LinkTexts::DeviceError, LinkTexts::CannotConnect, LinkTexts::PortUnavailable,
                          LinkTexts::PortNoAccess}) {
    const QString k = QString::fromUtf8(key);
    if (TextTemplatePattern(k).match(Text).hasMatch() || TextTemplatePattern(LocalLinkText(k)).match(Text).hasMatch())
      return true;
  }
  return false;
}

// The bits of Reg a bit register of Root names (BitNamesOf: its bits run
// over its words, sixteen to a word); every bit when none describes Reg.
uint16_t NamedBitsOf(const IXXMLNode &Root, uint16_t Reg) {
  const IXXMLNodeList regs = Root->SelectNodes(QStringLiteral("param/input-output/param-bitreg"));
  for (int i = 0; regs && i < regs->GetCount(); ++i) {
    const int first = regs->GetItem(i)->GetIntNodeDef(DX_MREG, -1);
    const IXXMLNodeList values = regs->GetItem(i)->SelectNodes(DXQ_VALUE_NODES);
    const int words = ((values ? values->GetCount() : 0) + 15) / 16;
    if (first < 0 || Reg < first || Reg >= first + words)
      continue;
    uint16_t named = 0;
    for (const TBitName &b : BitNamesOf(Root, first))
      if (b.Index / 16 == Reg - first)
        named = uint16_t(named | (1u << (b.Index % 16)));
    return named;
  }
  return 0xFFFF;
}
} // namespace

QString LimitLine(const QString &Name, const TWriteLimit &Limit, int Value) {
  if (Limit.Kind == TWriteLimit::None)
    return QString();
  const auto typed = [&Limit](int W) { return Limit.Signed ? int(int16_t(uint16_t(W))) : W; };
  const int min = typed(Limit.Min), max = typed(Limit.Max), value = typed(Value);
  const auto shown = [&Limit](int At) { return Limit.Show ? Limit.Show(At) : QString::number(At); };
  const auto line = [&](const QString &Text) { return QString("\r\nПомилка \"%1\" %2").arg(Name, Text); };
  if (Limit.Kind == TWriteLimit::Range && min > max)
    return line(MultiLingual().Translate(QString::fromUtf8(InvertedLimitsTemplate)).arg(shown(min), shown(max)));
  if (value < min)
    return line("< " + shown(min));
  if (value > max)
    return line("> " + shown(max));
  return QString();
}

TWriteValue ParamWriteValue(const TParamCodec &Codec, const TRegWrites &Words, const QString &Text) {
  TWriteValue v;
  v.Name = Codec.Name;
  v.Words = Words;
  if (Codec.Kind != TParamKind::Other)
    v.Show = [Codec](const TRegWrites &W) {
      auto image = std::make_unique<TModbus>();
      for (const TRegWrite &w : W)
        if (w.first < TModbus::RegCount)
          image->SetWord(w.first, w.second);
      return Codec.Show(*image);
    };
  switch (Codec.Kind) {
  case TParamKind::Num:
    v.Checked = Words.empty() ? 0 : Words.front().second;
    if (Codec.HasLimits()) {
      v.Limit = {TWriteLimit::Range, Codec.Min, Codec.Max, nullptr};
      v.Limit.Show = [Codec](int W) { return Codec.ShowWord(uint16_t(W)); };
    }
    break;
  case TParamKind::Enum:
    v.Checked = Words.empty() ? 0 : Words.front().second;
    v.Limit = {TWriteLimit::Enum, 0, int(Codec.Items.size()) - 1, ItemText(Codec.Items)};
    break;
  case TParamKind::Char:
    v.Checked = int(TModbus::DecodeChars(Text).size());
    v.Limit = {TWriteLimit::Text, 0, 2 * Codec.WordCount, nullptr};
    break;
  default:
    break;
  }
  return v;
}

TWriteValue UstavWriteValue(const TUstav &U, int Reg, uint16_t Word, bool Primary) {
  TWriteValue v;
  v.Name = U.Name;
  v.Words = {{uint16_t(Reg), Word}};
  v.Checked = Word;
  // A bit set's word is kept when its named positions are: the relay's own
  // bits beside them are not the engineer's.
  v.Compared = U.NamedBits;
  if (const auto *bit = dynamic_cast<const TUstavBit *>(&U)) {
    // One bit of a set: every word is a set of its positions.
    v.Show = [row = std::make_shared<const TUstavBit>(*bit), Primary](const TRegWrites &W) {
      return W.size() == 1 ? row->ValueToText(W.front().second, Primary) : QString();
    };
    return v;
  }
  auto copy = std::make_shared<const TUstav>(U);
  v.Show = [copy, Primary](const TRegWrites &W) {
    return W.size() == 1 ? copy->ValueToText(W.front().second, Primary) : QString();
  };
  if (U.RecordType == '1') {
    v.Limit = {TWriteLimit::Enum, 0, int(U.Strings.size()) - 1, ItemText(U.Strings)};
    return v;
  }
  v.Limit = {TWriteLimit::Range, U.FMinVal, U.FMaxVal, [copy, Primary](int W) { return copy->ValueToText(W, Primary); },
             U.Signed};
  return v;
}

TWriteValue DescribedWriteValue(const IXXMLNode &Root, uint16_t Reg, uint16_t Word, uint16_t Mask) {
  TWriteValue v;
  v.Name = QString::number(Reg);
  v.Words = {{Reg, Word}};
  v.Checked = Word;
  v.Mask = Mask;
  if (!Root)
    return v;
  v.Compared = NamedBitsOf(Root, Reg);
  if (const IXXMLNode p = Root->SelectSingleNode(QString(DXQ_PARAM_ANY_BY_MREG).arg(Reg))) {
    const TParamCodec codec(p);
    if (codec.Kind == TParamKind::Num || codec.Kind == TParamKind::Enum) {
      v = ParamWriteValue(codec, v.Words);
      v.Mask = Mask;
      if (Mask != 0xFFFF)
        v.Limit = {};
      return v;
    }
  }
  if (const IXXMLNode n = Root->SelectSingleNode(QString(SetpointByMreg).arg(Reg))) {
    const TUstav u(n);
    v = UstavWriteValue(u, Reg, Word, false);
    v.Mask = Mask;
    if (Mask != 0xFFFF || u.RecordType == '5')
      v.Limit = {};
  }
  return v;
}

QString TWriteBatch::LimitReport() const {
  QString report;
  for (const TWriteValue &v : FValues)
    report += LimitLine(v.Name, v.Limit, v.Checked);
  return report;
}

std::vector<uint16_t> TWriteBatch::Registers() const {
  std::vector<uint16_t> regs;
  for (const TWriteValue &v : FValues)
    for (const TRegWrite &w : v.Words)
      if (std::find(regs.begin(), regs.end(), w.first) == regs.end())
        regs.push_back(w.first);
  return regs;
}

QString PartialWriteText(int Written, int Total, const QStringList &NotWritten, const QString &Reason) {
  const QString text =
      NotWritten.isEmpty()
          ? MultiLingual().Translate(QString::fromUtf8(CountedWriteTemplate)).arg(Written).arg(Total)
          : MultiLingual()
                .Translate(QString::fromUtf8(PartialWriteTemplate))
                .arg(Written)
                .arg(Total)
                .arg(NotWritten.join(QStringLiteral(", ")));
  return Reason.isEmpty() ? text : text + QStringLiteral("; ") + Reason;
}

QString UnansweredWriteText(const QString &Name) {
  return Name + QStringLiteral(": ") + MultiLingual().Translate(QString::fromUtf8(UnansweredText));
}

QString UnconfirmedWriteText(const QStringList &Names) {
  return MultiLingual().Translate(QString::fromUtf8(UnconfirmedTemplate)).arg(Names.join(QStringLiteral(", ")));
}

QString UnconfirmedMarkText() { return MultiLingual().Translate(QString::fromUtf8(UnconfirmedMark)); }

QString NotKeptText(const QString &Name, const QString &Written, const QString &Held) {
  return MultiLingual().Translate(QString::fromUtf8(NotKeptTemplate)).arg(Name, Written, Held);
}

QString HeldChangedText(const QString &Name, const QString &Held) {
  return MultiLingual().Translate(QString::fromUtf8(HeldChangedTemplate)).arg(Name, Held);
}

QString ShownWords(const TWriteValue &Value, const TRegWrites &Words) {
  // A word the page cannot show (past a list's items, say) is told as it is.
  if (Value.Show && !Words.empty())
    if (const QString shown = Value.Show(Words); !shown.isEmpty() && shown != QStringLiteral("N/D"))
      return shown;
  QStringList w;
  for (const TRegWrite &p : Words)
    w << QString::number(p.second);
  return w.join(QLatin1Char(' '));
}

std::vector<TPlannedWrite> PlanWrites(const TWriteBatch &Batch) {
  std::vector<TPlannedWrite> plan;
  const auto masked = [](const TWriteValue &V) { return V.Mask != 0xFFFF && V.Words.size() == 1; };
  for (int i = 0; i < int(Batch.Values().size()); ++i) {
    const TWriteValue &v = Batch.Values()[size_t(i)];
    if (masked(v)) {
      const uint16_t reg = v.Words.front().first, bits = v.Words.front().second;
      const auto same = std::find_if(plan.begin(), plan.end(), [reg](const TPlannedWrite &W) {
        return W.Mask != 0xFFFF && W.Words.front().first == reg;
      });
      if (same != plan.end()) {
        uint16_t &word = same->Words.front().second;
        word = uint16_t((word & ~v.Mask) | (bits & v.Mask));
        same->Mask |= v.Mask;
        same->Values.push_back(i);
        continue;
      }
      plan.push_back({{{reg, uint16_t(bits & v.Mask)}}, v.Mask, {i}});
      continue;
    }
    plan.push_back({v.Words, 0xFFFF, {i}});
  }
  return plan;
}

namespace {
// The bits of Value's words the read-back is compared on.
uint16_t ComparedBits(const TWriteValue &Value) {
  return Value.Mask != 0xFFFF && Value.Words.size() == 1 ? uint16_t(Value.Compared & Value.Mask) : Value.Compared;
}

// Whether Found holds Value: word by word on its compared bits as it was
// sent; a text also by its characters as its page reads them back (they go
// first-character-low in each word and are read first-character-high; the
// order the relay keeps them in is its own business, see TParamCodec).
bool Holds(const TWriteValue &Value, const TRegWords &Found) {
  const uint16_t bits = ComparedBits(Value);
  const bool asSent = std::all_of(Value.Words.begin(), Value.Words.end(), [&](const TRegWrite &W) {
    const auto f = Found.find(W.first);
    return f != Found.end() && ((f->second ^ W.second) & bits) == 0;
  });
  if (asSent || Value.Limit.Kind != TWriteLimit::Text)
    return asSent;
  QByteArray written, held;
  for (const TRegWrite &w : Value.Words) {
    const auto f = Found.find(w.first);
    if (f == Found.end())
      return false;
    for (const uint8_t c : {uint8_t(w.second & 0xFF), uint8_t(w.second >> 8)})
      if (!written.endsWith('\0'))
        written.append(char(c));
    for (const uint8_t c : {uint8_t(f->second >> 8), uint8_t(f->second & 0xFF)})
      if (!held.endsWith('\0'))
        held.append(char(c));
  }
  return written.left(written.indexOf('\0')) == held.left(held.indexOf('\0'));
}

// The words Found holds of Value's registers; those it lacks are left out.
TRegWrites FoundWords(const TWriteValue &Value, const TRegWords &Found) {
  TRegWrites held;
  for (const TRegWrite &w : Value.Words)
    if (const auto f = Found.find(w.first); f != Found.end())
      held.emplace_back(w.first, f->second);
  return held;
}

// Whether Found holds a word of every register of Value.
bool ReadsAll(const TWriteValue &Value, const TRegWords &Found) {
  return std::all_of(Value.Words.begin(), Value.Words.end(),
                     [&Found](const TRegWrite &W) { return Found.count(W.first) != 0; });
}

// Value's words as Sent carried them (the whole word of a masked write).
TRegWrites SentWords(const TWriteValue &Value, const TRegWrites &Sent) {
  TRegWrites words;
  for (const TRegWrite &w : Value.Words) {
    const auto s = std::find_if(Sent.begin(), Sent.end(), [&w](const TRegWrite &P) { return P.first == w.first; });
    words.push_back(s != Sent.end() ? *s : w);
  }
  return words;
}

// The plan's write that carries value I, or -1.
int PlannedOf(const std::vector<TPlannedWrite> &Plan, int I) {
  for (int k = 0; k < int(Plan.size()); ++k)
    if (std::find(Plan[size_t(k)].Values.begin(), Plan[size_t(k)].Values.end(), I) != Plan[size_t(k)].Values.end())
      return k;
  return -1;
}
} // namespace

std::vector<TValueOutcome> ValueOutcomes(const TWriteBatch &Batch, const std::vector<TPlannedWrite> &Plan,
                                         const TWriteTrack &Track) {
  std::vector<TValueOutcome> outcomes;
  for (int i = 0; i < int(Batch.Values().size()); ++i) {
    const TWriteValue &v = Batch.Values()[size_t(i)];
    TValueOutcome o;
    o.Tag = v.Tag;
    o.Name = v.Name;
    const int k = PlannedOf(Plan, i);
    const TWriteStage stage = k >= 0 && k < int(Track.Stages.size()) ? Track.Stages[size_t(k)] : TWriteStage::Pending;
    if (Track.Back)
      o.Held = FoundWords(v, *Track.Back);
    switch (stage) {
    case TWriteStage::Held:
      // Held when the relay was read before the check: named too when the
      // read-back finds it otherwise. Never sent, it stays held unread.
      o.Fate = TWriteFate::Held;
      if (!Track.Back)
        o.Held = FoundWords(v, Track.Before);
      else if (Track.Compare && ReadsAll(v, *Track.Back) && !Holds(v, *Track.Back))
        o.Fate = TWriteFate::NotKept;
      break;
    case TWriteStage::Answered:
      // A command is not compared; a value the read-back did not reach may
      // hold or not: the engineer's, unconfirmed.
      if (!Track.Compare)
        o.Fate = TWriteFate::Kept;
      else if (!Track.Back || !ReadsAll(v, *Track.Back))
        o.Fate = TWriteFate::Unconfirmed;
      else
        o.Fate = Holds(v, *Track.Back) ? TWriteFate::Kept : TWriteFate::NotKept;
      break;
    case TWriteStage::Sent:
      // A request the relay refused did nothing; one whose answer never
      // came may have been done.
      o.Fate = Track.Refused ? TWriteFate::NotSent : TWriteFate::Unanswered;
      break;
    case TWriteStage::Pending:
      o.Fate = TWriteFate::NotSent;
      break;
    }
    outcomes.push_back(std::move(o));
  }
  return outcomes;
}

QString NotKeptReport(const TWriteBatch &Batch, const std::vector<TPlannedWrite> &Plan, const TWriteTrack &Track,
                      const std::vector<TValueOutcome> &Outcomes) {
  QStringList texts;
  for (int i = 0; i < int(Outcomes.size()) && i < int(Batch.Values().size()); ++i) {
    if (Outcomes[size_t(i)].Fate != TWriteFate::NotKept)
      continue;
    const int k = PlannedOf(Plan, i);
    const TWriteValue &v = Batch.Values()[size_t(i)];
    const QString held = ShownWords(v, Outcomes[size_t(i)].Held);
    // A value found held was never sent: nothing of it was written.
    if (k >= 0 && k < int(Track.Stages.size()) && Track.Stages[size_t(k)] == TWriteStage::Held) {
      texts << HeldChangedText(v.Name, held);
      continue;
    }
    const TRegWrites sent = k >= 0 && k < int(Track.Sent.size()) ? Track.Sent[size_t(k)] : TRegWrites();
    texts << NotKeptText(v.Name, ShownWords(v, SentWords(v, sent)), held);
  }
  return texts.join(QStringLiteral("; "));
}

QString ShortWriteReport(const std::vector<TValueOutcome> &Outcomes, const QString &Reason) {
  int written = 0, total = 0;
  QStringList unanswered, missing, unconfirmed;
  for (const TValueOutcome &o : Outcomes) {
    if (o.Fate == TWriteFate::Held)
      continue;
    ++total;
    switch (o.Fate) {
    case TWriteFate::Kept:
    case TWriteFate::NotKept:
      ++written;
      break;
    case TWriteFate::Unconfirmed:
      ++written;
      unconfirmed << o.Name;
      break;
    case TWriteFate::Unanswered:
      unanswered << o.Name;
      break;
    default:
      missing << o.Name;
    }
  }
  // A write sent whose answer never came (lost, garbled, or dropped by an
  // abort) may have been done: the user is to look, not to write again.
  QStringList parts;
  QString reason = unanswered.isEmpty() ? Reason : QString();
  if (!unanswered.isEmpty())
    parts << UnansweredWriteText(unanswered.join(QStringLiteral(", ")));
  if (!missing.isEmpty() || (unanswered.isEmpty() && unconfirmed.isEmpty()))
    parts << PartialWriteText(written, total, missing, std::exchange(reason, QString()));
  if (!unconfirmed.isEmpty()) {
    parts << UnconfirmedWriteText(unconfirmed);
    if (!reason.isEmpty())
      parts << reason;
  }
  return parts.join(QStringLiteral("; "));
}

namespace {
// What a write's steps and handlers share: the batch, its plan, how far the
// writes went and what the relay was found holding.
struct TWriteState {
  TWriteBatch Batch;
  std::vector<TPlannedWrite> Plan;
  TWriteTrack Track;
  // Not empty while no value was found not kept: Done and DoneText follow.
  TAddrList Done{1};
  bool Whole = false;
  bool Told = false;
  // The failed answer as the front put it, taken as the write stopped.
  QString Reason;
  std::function<void(const std::vector<TValueOutcome> &)> Outcome;

  void Tell() {
    if (std::exchange(Told, true))
      return;
    if (Outcome)
      Outcome(ValueOutcomes(Batch, Plan, Track));
  }
  std::vector<TValueOutcome> Outcomes() const { return ValueOutcomes(Batch, Plan, Track); }
};

std::shared_ptr<TWriteState> NewState(const TWriteBatch &Batch, const TWriteRun &Run) {
  auto state = std::make_shared<TWriteState>();
  state->Batch = Batch;
  state->Plan = PlanWrites(Batch);
  state->Track.Stages.assign(state->Plan.size(), TWriteStage::Pending);
  state->Track.Sent.resize(state->Plan.size());
  state->Track.Compare = Run.Compare;
  state->Outcome = Run.Outcome;
  return state;
}

// Kept by a write's chain: a chain refused (at the check, as another write
// runs, prepared for another relay) or cancelled tells none of its handlers,
// so its outcome is told as it goes, every value not sent. Told from the
// event loop, never from inside the generator's bookkeeping; a generator
// that goes meanwhile takes the call with it.
struct TOutcomeAtRefusal {
  TOutcomeAtRefusal(TIOChainGen *AGen, std::shared_ptr<TWriteState> AState)
      : Gen(AGen), State(std::move(AState)) {}
  ~TOutcomeAtRefusal() {
    if (!Gen || !State || State->Told)
      return;
    QMetaObject::invokeMethod(
        Gen.data(),
        [S = State] {
          S->Track.Stages.assign(S->Plan.size(), TWriteStage::Pending);
          S->Track.Back.reset();
          S->Tell();
        },
        Qt::QueuedConnection);
  }
  QPointer<TIOChainGen> Gen;
  std::shared_ptr<TWriteState> State;
};

QString BatchNames(const TWriteBatch &Batch) {
  QStringList names;
  for (const TWriteValue &v : Batch.Values())
    names << v.Name;
  return names.join(QStringLiteral(", "));
}

void CheckBatchLimits(const TWriteBatch &Batch, const TWriteRun &Run) {
  if (Run.CheckLimits)
    if (const QString report = Batch.LimitReport(); !report.isEmpty())
      throw EKvError(report);
}

// The chain of a write, named, prepared for and owned as Run says.
TIOChainList3 &NewWriteChain(TIOChainGen &Gen, const QString &Writes, const TWriteRun &Run,
                             const std::shared_ptr<TWriteState> &State) {
  TIOChainList3 &chain = Gen.newList();
  chain.writes(Writes);
  if (Run.PreparedFor)
    chain.preparedFor(*Run.PreparedFor);
  if (!Run.MadeFor.IsEmpty())
    chain.MadeFor(Run.MadeFor);
  if (Run.Owner)
    chain.ownedBy(Run.Owner);
  chain.Keep<TOutcomeAtRefusal>(&Gen, State);
  return chain;
}

// Planned write K from Pairs (empty: a place the relay needs nothing in).
void AppendPlannedWrite(TIOChainList3 &Steps, QBuffer &Pairs, const std::shared_ptr<TWriteState> &State, int K) {
  Steps
      .exec([State, K, &Pairs] {
        TWriteTrack &t = State->Track;
        if (K < int(t.Stages.size()) && t.Stages[size_t(K)] == TWriteStage::Pending && Pairs.size() > 0) {
          t.Stages[size_t(K)] = TWriteStage::Sent;
          t.Sent[size_t(K)] = ReadPairs(Pairs);
        }
      })
      .writeReg(Pairs)
      .exec([State, K] {
        TWriteTrack &t = State->Track;
        if (K < int(t.Stages.size()) && t.Stages[size_t(K)] == TWriteStage::Sent)
          t.Stages[size_t(K)] = TWriteStage::Answered;
      });
}

// The read-back after whole writes, compared with what was written: a value
// not kept is the write's report, and the write ends short without Done.
void AppendReadBack(TIOChainGen &Gen, TIOChainList3 &Chain, TIOChainList3 &Steps, QBuffer &List, QBuffer &Data,
                    const std::shared_ptr<TWriteState> &State, const TWriteRun &Run) {
  if (!Run.ReadAfter)
    return;
  if (!Run.ReadingText.isEmpty())
    Steps.msg(Run.ReadingText);
  Steps.readReg(List, Data)
      .execStream([](QIODevice *D) { Modbus().LoadRegValues(*D); }, &Data)
      .exec([&Gen, &Chain, &Data, State] {
        State->Track.Back = ReadWords(Data);
        const QString text = NotKeptReport(State->Batch, State->Plan, State->Track, State->Outcomes());
        if (text.isEmpty())
          return;
        State->Done.clear();
        Chain.MarkShort(text);
        Gen.WriteReport(text);
        Chain.Log().Error(text);
      });
}

// The failure of the last answer the front delivered ("" when it came whole).
QString FailedAnswerText(const TIOChainGen &Gen) {
  const TDeviceFront *front = Gen.DeviceFront();
  return front ? front->DeliveryText() : QString();
}

// The read-back inside a write that stopped after it began: what the relay
// holds of every register the write meant, for the page and the report. Not
// after a link that failed: the connection made anew may reach another
// relay, unchecked, and the identity check cuts whatever runs on it.
void AppendAfterFailure(TIOChainGen &Gen, TIOChainList3 &Chain, QBuffer &List,
                        const std::shared_ptr<TWriteState> &State) {
  QBuffer &data = Chain.Buffer();
  auto &reading = Chain.Keep<TAddrList>();
  TIOChainList3 &read = Gen.newList();
  read.readReg(List, data)
      .execStream([](QIODevice *D) { Modbus().LoadRegValues(*D); }, &data)
      .exec([State, &data] { State->Track.Back = ReadWords(data); });
  TIOChainList3 &back = Gen.newList();
  // Before the read-back's own answers: the front still tells the failed one.
  back.exec([&Gen, &Chain, &reading, State] {
        State->Reason = FailedAnswerText(Gen);
        const QString failure = Chain.Failure().isEmpty() ? State->Reason : Chain.Failure();
        reading = IsLinkLossText(failure) ? TAddrList{} : TAddrList{1};
      })
      .predicatIfList(ptIf, reading, &read, nullptr);
  Chain.afterFailure(back);
}

// The end of a whole write: Shown, then Done's steps unless a value was not kept.
void AppendWhole(TIOChainGen &Gen, TIOChainList3 &Steps, const std::shared_ptr<TWriteState> &State,
                 const TWriteRun &Run) {
  Steps.exec([State, Shown = Run.Shown] {
    State->Whole = true;
    if (Shown)
      Shown();
  });
  if (Run.Done) {
    TIOChainList3 &done = Gen.newList();
    Run.Done(done);
    Steps.predicatIfList(ptIf, State->Done, &done, nullptr);
  }
}

void AppendDoneText(TIOChainGen &Gen, TIOChainList3 &Chain, const std::shared_ptr<TWriteState> &State,
                    const TWriteRun &Run) {
  if (Run.DoneText.isEmpty())
    return;
  TIOChainList3 &text = Gen.newList();
  text.msg(Run.DoneText);
  Chain.predicatIfList(ptIf, State->Done, &text, nullptr);
}

// How the write ended, told once: a failed read before the identity check
// is refused as the check refuses (nothing went, nothing read entered the
// image); a write that stopped after it began shows what the relay holds
// and says what went and what did not. Then the outcome.
void SetWriteEnd(TIOChainGen &Gen, TIOChainList3 &Chain, const std::shared_ptr<TWriteState> &State,
                 const std::function<void()> &Shown) {
  Chain.setOnEnd([&Gen, &Chain, State, Shown] {
    if (!State->Whole) {
      QString failure = Chain.Failure();
      if (failure.isEmpty())
        failure = State->Reason.isEmpty() ? FailedAnswerText(Gen) : State->Reason;
      if (!Chain.WriteBegan()) {
        // As a refusal at the check: a link that failed is the status
        // line's (the link's own report), any other failure the box's.
        if (IsLinkLossText(failure))
          Gen.WriteReport(failure);
        else if (!failure.isEmpty())
          Gen.WriteBox(Chain.Writes(), failure);
      } else {
        State->Track.Refused = IsRefusedOrUnsent(failure);
        if (Shown)
          Shown();
        const std::vector<TValueOutcome> outcomes = State->Outcomes();
        QString text = ShortWriteReport(outcomes, failure);
        if (const QString notKept = NotKeptReport(State->Batch, State->Plan, State->Track, outcomes);
            !notKept.isEmpty())
          text += QStringLiteral("; ") + notKept;
        // The report stays until the engineer's next command: a check or
        // refresh that follows says nothing over it.
        Gen.WriteReport(text);
        Chain.Log().Error(text);
      }
    }
    State->Tell();
  });
}

// Whether Image (the relay as last read) lacks Value: a masked value on its bits.
bool Unheld(const TWriteValue &Value, const TModbus &Image) {
  for (const TRegWrite &w : Value.Words) {
    const uint16_t held = Image.GetWord(w.first);
    const uint16_t mask = Value.Words.size() == 1 ? Value.Mask : 0xFFFF;
    if (!Image.IsValid(w.first) || ((held ^ w.second) & mask) != 0)
      return true;
  }
  return false;
}
} // namespace

void RunWriteBatch(TIOChainGen &Gen, const TWriteBatch &Batch, const TWriteRun &Run) {
  CheckBatchLimits(Batch, Run);
  const auto state = NewState(Batch, Run);
  TIOChainList3 &chain = NewWriteChain(Gen, BatchNames(Batch), Run, state);
  if (!Run.WritingText.isEmpty())
    chain.msg(Run.WritingText);
  // Nothing changed: no register is written or read (a read of no register
  // would be a request the device refuses).
  if (!Batch.IsEmpty()) {
    // Nothing but the first write (or the read its merge needs) after the check.
    chain.checkBefore();
    for (int k = 0; k < int(state->Plan.size()); ++k) {
      const TPlannedWrite &w = state->Plan[size_t(k)];
      QBuffer &pairs = chain.Buffer(Pairs(w.Words));
      if (w.Mask != 0xFFFF) {
        // The other bits are the device's, as they stand just before the write.
        QBuffer &list = chain.Buffer(RegisterList({w.Words.front().first}));
        chain.readReg(list, pairs)
            .execStream([Mask = w.Mask, Value = w.Words.front().second](
                            QIODevice *S) { MergeBitsStream(*S, Mask, Value); },
                        &pairs);
      }
      AppendPlannedWrite(chain, pairs, state, k);
    }
    QBuffer &back = chain.Buffer(SortedRegisterList(Batch.Registers()));
    AppendReadBack(Gen, chain, chain, back, chain.Buffer(), state, Run);
    AppendAfterFailure(Gen, chain, back, state);
  }
  AppendWhole(Gen, chain, state, Run);
  AppendDoneText(Gen, chain, state, Run);
  SetWriteEnd(Gen, chain, state, Run.Shown);
  chain.run(Run.Progress);
}

void RunRelayWrite(TIOChainGen &Gen, const TWriteBatch &Candidates, const TRelayWrite &Relay, const TWriteRun &Run) {
  CheckBatchLimits(Candidates, Run);
  std::vector<uint16_t> read = Relay.Read;
  for (uint16_t r : Candidates.Registers())
    read.push_back(r);
  // Named before the read by what differs from the values read last: what a
  // refusal at the identity check says was not written.
  TWriteBatch guess;
  for (const TWriteValue &v : Candidates.Values())
    if (Unheld(v, Modbus()))
      guess.Add(v);
  const auto state = NewState(Candidates, Run);
  TIOChainList3 &chain = NewWriteChain(Gen, BatchNames(guess), Run, state);
  // One place per planned write, so that the chain is a write from its start
  // (the identity check comes whatever the relay holds); the decision after
  // the check fills those the relay needs.
  const int places = std::max(1, int(state->Plan.size()));
  std::vector<QBuffer *> pairs;
  for (int i = 0; i < places; ++i)
    pairs.push_back(&chain.Buffer());
  // Every register of the set is read back: a value held at the read before
  // the check and lost since is named too.
  QBuffer &back = chain.Buffer(SortedRegisterList(Candidates.Registers()));
  auto &writing = chain.Keep<TAddrList>();
  // Per place: its word is to be read and merged right before its write.
  std::vector<TAddrList *> merging;
  for (int i = 0; i < places; ++i)
    merging.push_back(&chain.Keep<TAddrList>());
  if (!Run.ReadingText.isEmpty())
    chain.msg(Run.ReadingText);
  // Read before the check, into the chain's own buffer, in ascending order:
  // the check then stands right before the decision and the writes.
  QBuffer &readData = chain.Buffer();
  // A read of no register would be a request the device refuses.
  if (!read.empty())
    chain.readReg(chain.Buffer(SortedRegisterList(read)), readData)
        .exec([state, &readData] { state->Track.Before = ReadWords(readData); });
  chain.checkBefore();
  chain.exec([&chain, &writing, &readData, pairs, merging, state, Fetched = Relay.Fetched] {
    // The identity confirmed: what was read is the relay's.
    Modbus().LoadRegValues(readData);
    TWriteTrack &t = state->Track;
    TWriteBatch going;
    for (size_t k = 0; k < state->Plan.size(); ++k) {
      const TPlannedWrite &w = state->Plan[k];
      TRegWrites words = w.Words;
      bool differs = false;
      for (TRegWrite &p : words) {
        const auto held = t.Before.find(p.first);
        if (held != t.Before.end() && w.Mask != 0xFFFF)
          p.second = uint16_t((held->second & ~w.Mask) | (p.second & w.Mask));
        differs = differs || held == t.Before.end() || held->second != p.second;
      }
      if (!differs) {
        t.Stages[k] = TWriteStage::Held;
        continue;
      }
      // The bits not written are the relay's as they stand at the write,
      // not as they stood before the check.
      if (w.Mask != 0xFFFF)
        *merging[k] = TAddrList{1};
      Refill(*pairs[k], Pairs(words));
      for (int i : w.Values)
        going.Add(state->Batch.Values()[size_t(i)]);
    }
    writing = going.IsEmpty() ? TAddrList{} : TAddrList{1};
    if (!going.IsEmpty())
      chain.writes(BatchNames(going));
    if (Fetched)
      Fetched();
  });
  TIOChainList3 &write = Gen.newList();
  if (!Run.WritingText.isEmpty())
    write.msg(Run.WritingText);
  for (int k = 0; k < places; ++k) {
    if (k < int(state->Plan.size()) && state->Plan[size_t(k)].Mask != 0xFFFF) {
      const TPlannedWrite &w = state->Plan[size_t(k)];
      TIOChainList3 &merge = Gen.newList();
      merge.readReg(chain.Buffer(RegisterList({w.Words.front().first})), *pairs[size_t(k)])
          .execStream([Mask = w.Mask, Value = w.Words.front().second](QIODevice *S) { MergeBitsStream(*S, Mask, Value); },
                      pairs[size_t(k)]);
      write.predicatIfList(ptIf, *merging[size_t(k)], &merge, nullptr);
    }
    AppendPlannedWrite(write, *pairs[size_t(k)], state, k);
  }
  AppendReadBack(Gen, chain, write, back, chain.Buffer(), state, Run);
  AppendWhole(Gen, write, state, Run);
  TIOChainList3 &same = Gen.newList();
  same.exec([state] { state->Whole = true; });
  if (Relay.Same)
    Relay.Same(same);
  chain.predicatIfList(ptIf, writing, &write, &same);
  AppendAfterFailure(Gen, chain, back, state);
  AppendDoneText(Gen, chain, state, Run);
  SetWriteEnd(Gen, chain, state, Run.Shown);
  chain.run(Run.Progress);
}
