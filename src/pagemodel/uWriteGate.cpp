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
#include <algorithm>
#include <memory>

namespace {
// The setpoint with register %1 in one of its groups.
const char *const SetpointByMreg = "ustav/*[mreg=%1]";
const char *const PartialWriteTemplate = "Ошибка записи: записано %1 из %2, не записаны: %3";
const char *const UnansweredText = "ответ не получен: проверьте значение";
const char *const InvertedLimitsTemplate = "ошибка дескриптора: нижний предел %1 больше верхнего %2";

QByteArray RegisterList(const std::vector<uint16_t> &Regs) {
  QBuffer b;
  b.open(QIODevice::WriteOnly);
  for (uint16_t r : Regs)
    StreamWriteWord(b, r);
  return b.data();
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

// Reads the batch's registers again after a write that stopped, shows them
// and says what went and what did not. The text is made as the read ends: by
// then the stopped chain has said how its last answer failed.
void ReadBack(TIOChainGen &Gen, const std::vector<uint16_t> &Regs, const std::function<QString()> &Text,
              const std::function<void()> &Shown) {
  TIOChainList3 &chain = Gen.newList();
  QBuffer &list = chain.Buffer(RegisterList(Regs));
  QBuffer &data = chain.Buffer();
  // Shown and the text come at the end, also when the read fails: what the
  // image still holds of the batch is as good as the page can show.
  chain.setOnEnd([&Gen, &chain, Text, Shown] {
    if (Shown)
      Shown();
    // The report stays until the engineer's next command: a check or refresh
    // that follows says nothing over it.
    const QString text = Text();
    Gen.WriteReport(text);
    chain.Log().Error(text);
  });
  chain.readReg(list, data).execStream([](QIODevice *D) { Modbus().LoadRegValues(*D); }, &data);
  try {
    chain.run();
  } catch (const EKvError &e) {
    // Called as a chain ends, where nothing may throw: the log keeps it.
    Logger().Error(e.Text());
  }
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
  if (dynamic_cast<const TUstavBit *>(&U))
    return v; // one bit of a set: every word is a set of its positions
  if (U.RecordType == '1') {
    v.Limit = {TWriteLimit::Enum, 0, int(U.Strings.size()) - 1, ItemText(U.Strings)};
    return v;
  }
  auto copy = std::make_shared<const TUstav>(U);
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
  const QString text = MultiLingual()
                           .Translate(QString::fromUtf8(PartialWriteTemplate))
                           .arg(Written)
                           .arg(Total)
                           .arg(NotWritten.join(QStringLiteral(", ")));
  return Reason.isEmpty() ? text : text + QStringLiteral("; ") + Reason;
}

QString UnansweredWriteText(const QString &Name) {
  return Name + QStringLiteral(": ") + MultiLingual().Translate(QString::fromUtf8(UnansweredText));
}

namespace {
// How far a batch's writes went, and the batch itself (decided in the chain
// for a write against the relay). Shared by the chain's steps and handlers
// and the read-back after a cut.
struct TWriteProgress {
  TWriteBatch Batch;
  int Written = 0;       // values whose write was answered
  int Sent = 0;          // values whose write request went
  bool Refused = false;  // the last answer said the request did nothing
  QString Reason;        // the failure, as the last answer told it
  bool Whole = false;
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
TIOChainList3 &NewWriteChain(TIOChainGen &Gen, const QString &Writes, const TWriteRun &Run) {
  TIOChainList3 &chain = Gen.newList();
  chain.writes(Writes);
  if (Run.PreparedFor)
    chain.preparedFor(*Run.PreparedFor);
  if (Run.Owner)
    chain.ownedBy(Run.Owner);
  return chain;
}

// The batch's registers read back into the image after its writes.
void AppendReadAfter(TIOChainList3 &Steps, QBuffer &List, QBuffer &Data, const TWriteRun &Run) {
  if (!Run.ReadAfter)
    return;
  if (!Run.ReadingText.isEmpty())
    Steps.msg(Run.ReadingText);
  Steps.readReg(List, Data).execStream([](QIODevice *D) { Modbus().LoadRegValues(*D); }, &Data);
}

// The end of a whole write: Shown, then Done's steps.
void AppendWhole(TIOChainList3 &Steps, const std::shared_ptr<TWriteProgress> &Progress, const TWriteRun &Run) {
  Steps.exec([Progress, Shown = Run.Shown] {
    Progress->Whole = true;
    if (Shown)
      Shown();
  });
  if (Run.Done)
    Run.Done(Steps);
}

// The failure's reason as the answer told it, and after a write that
// stopped part-way, the read-back and the report.
void SetWriteHandlers(TIOChainGen &Gen, TIOChainList3 &Chain, const std::shared_ptr<TWriteProgress> &Progress,
                      const std::function<void()> &Shown) {
  Chain.setEvent(1, [&Gen, Progress](TIOChain3 *, const QList<int> &) {
    const TDeviceFront *front = Gen.DeviceFront();
    Progress->Reason = front ? front->DeliveryText() : QString();
    Progress->Refused = IsRefusedOrUnsent(Progress->Reason);
  });
  Chain.setOnEnd([&Gen, Progress, Shown] {
    const int total = int(Progress->Batch.Values().size());
    if (Progress->Whole || Progress->Written >= total)
      return;
    const auto text = [Progress, total] {
      const TWriteBatch &batch = Progress->Batch;
      // A write sent whose answer never came (lost, garbled, or dropped by
      // an abort) may have been done: the user is to look, not to write again.
      const bool unanswered = Progress->Sent > Progress->Written && !Progress->Refused;
      QStringList missing;
      for (int i = Progress->Written + (unanswered ? 1 : 0); i < total; ++i)
        missing << batch.Values()[size_t(i)].Name;
      if (!unanswered)
        return PartialWriteText(Progress->Written, total, missing, Progress->Reason);
      QString t = UnansweredWriteText(batch.Values()[size_t(Progress->Written)].Name);
      if (!missing.isEmpty())
        t += QStringLiteral("; ") + PartialWriteText(Progress->Written, total, missing);
      return t;
    };
    ReadBack(Gen, Progress->Batch.Registers(), text, Shown);
  });
}

// Value as the relay's image Image should take it: a masked value keeps the
// other bits Image holds. Null when the relay holds it already.
std::optional<TWriteValue> Unheld(const TWriteValue &Value, const TModbus &Image) {
  TWriteValue v = Value;
  bool differs = false;
  for (TRegWrite &w : v.Words) {
    const uint16_t held = Image.GetWord(w.first);
    if (v.Mask != 0xFFFF && v.Words.size() == 1)
      w.second = uint16_t((held & ~v.Mask) | (w.second & v.Mask));
    differs = differs || held != w.second || !Image.IsValid(w.first);
  }
  v.Mask = 0xFFFF;
  return differs ? std::optional<TWriteValue>(v) : std::nullopt;
}
} // namespace

void RunWriteBatch(TIOChainGen &Gen, const TWriteBatch &Batch, const TWriteRun &Run) {
  CheckBatchLimits(Batch, Run);
  auto progress = std::make_shared<TWriteProgress>();
  progress->Batch = Batch;
  TIOChainList3 &chain = NewWriteChain(Gen, BatchNames(Batch), Run);
  if (!Run.WritingText.isEmpty())
    chain.msg(Run.WritingText);
  // Nothing changed: no register is written or read (a read of no register
  // would be a request the device refuses).
  if (!Batch.IsEmpty()) {
    for (int i = 0; i < int(Batch.Values().size()); ++i) {
      const TWriteValue &v = Batch.Values()[size_t(i)];
      QBuffer &pairs = chain.Buffer(Pairs(v.Words));
      if (v.Mask != 0xFFFF && v.Words.size() == 1) {
        // The other bits are the device's, as they stand just before the write.
        QBuffer &list = chain.Buffer(RegisterList({v.Words.front().first}));
        chain.readReg(list, pairs)
            .execStream([Mask = v.Mask, Value = v.Words.front().second](
                            QIODevice *S) { MergeBitsStream(*S, Mask, Value); },
                        &pairs);
      }
      chain.exec([progress, i] { progress->Sent = i + 1; }).writeReg(pairs).exec([progress] { ++progress->Written; });
    }
    AppendReadAfter(chain, chain.Buffer(RegisterList(Batch.Registers())), chain.Buffer(), Run);
  }
  AppendWhole(chain, progress, Run);
  if (!Run.DoneText.isEmpty())
    chain.msg(Run.DoneText);
  SetWriteHandlers(Gen, chain, progress, Run.Shown);
  chain.run(Run.Progress);
}

void RunRelayWrite(TIOChainGen &Gen, const TWriteBatch &Candidates, const TRelayWrite &Relay, const TWriteRun &Run) {
  CheckBatchLimits(Candidates, Run);
  std::vector<uint16_t> read = Relay.Read;
  for (uint16_t r : Candidates.Registers())
    if (std::find(read.begin(), read.end(), r) == read.end())
      read.push_back(r);
  // Named before the read by what differs from the values read last: what a
  // refusal at the identity check says was not written.
  TWriteBatch guess;
  for (const TWriteValue &v : Candidates.Values())
    if (Unheld(v, Modbus()))
      guess.Add(v);
  auto progress = std::make_shared<TWriteProgress>();
  TIOChainList3 &chain = NewWriteChain(Gen, BatchNames(guess), Run);
  // The writes' places are made now, one per candidate, so that the write
  // gate sees the chain as a write and puts the identity check before the
  // read; the step after the read fills those the relay needs.
  const int places = std::max(1, int(Candidates.Values().size()));
  std::vector<QBuffer *> pairs;
  for (int i = 0; i < places; ++i)
    pairs.push_back(&chain.Buffer());
  QBuffer &backList = chain.Buffer(), &backData = chain.Buffer();
  auto &writing = chain.Keep<TAddrList>();
  if (!Run.ReadingText.isEmpty())
    chain.msg(Run.ReadingText);
  // A read of no register would be a request the device refuses.
  if (!read.empty()) {
    QBuffer &readData = chain.Buffer();
    chain.readReg(chain.Buffer(RegisterList(read)), readData)
        .execStream([](QIODevice *D) { Modbus().LoadRegValues(*D); }, &readData);
  }
  // Checked whatever it then writes: what was read is shown as this relay's.
  chain.checkBefore().exec([&chain, &writing, &backList, pairs, progress, Candidates, Fetched = Relay.Fetched] {
        for (const TWriteValue &v : Candidates.Values())
          if (const std::optional<TWriteValue> unheld = Unheld(v, Modbus()))
            progress->Batch.Add(*unheld);
        const TWriteBatch &batch = progress->Batch;
        for (size_t i = 0; i < batch.Values().size(); ++i)
          Refill(*pairs[i], Pairs(batch.Values()[i].Words));
        Refill(backList, RegisterList(batch.Registers()));
        writing = batch.IsEmpty() ? TAddrList{} : TAddrList{1};
        if (!batch.IsEmpty())
          chain.writes(BatchNames(batch));
        if (Fetched)
          Fetched();
      });
  TIOChainList3 &write = Gen.newList();
  if (!Run.WritingText.isEmpty())
    write.msg(Run.WritingText);
  for (int i = 0; i < places; ++i) {
    // A place past the batch holds no pair: its write step sends nothing.
    write.exec([progress, i] {
           if (i < int(progress->Batch.Values().size()))
             progress->Sent = i + 1;
         })
        .writeReg(*pairs[size_t(i)])
        .exec([progress, i] {
          if (i < int(progress->Batch.Values().size()))
            ++progress->Written;
        });
  }
  AppendReadAfter(write, backList, backData, Run);
  AppendWhole(write, progress, Run);
  TIOChainList3 &same = Gen.newList();
  same.exec([progress] { progress->Whole = true; });
  if (Relay.Same)
    Relay.Same(same);
  chain.predicatIfList(ptIf, writing, &write, &same);
  if (!Run.DoneText.isEmpty())
    chain.msg(Run.DoneText);
  SetWriteHandlers(Gen, chain, progress, Run.Shown);
  chain.run(Run.Progress);
}
