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

// The bytes of a batch's streams, kept by the steps that use them.
struct TBatchStreams {
  std::vector<std::unique_ptr<QBuffer>> Buffers;
  QBuffer *Make(const QByteArray &Bytes = QByteArray()) {
    Buffers.push_back(std::make_unique<QBuffer>());
    QBuffer *b = Buffers.back().get();
    b->open(QIODevice::ReadWrite);
    b->write(Bytes);
    b->seek(0);
    return b;
  }
};

QByteArray RegisterList(const std::vector<uint16_t> &Regs) {
  QBuffer b;
  b.open(QIODevice::WriteOnly);
  for (uint16_t r : Regs)
    StreamWriteWord(b, r);
  return b.data();
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
  auto streams = std::make_shared<TBatchStreams>();
  QBuffer *list = streams->Make(RegisterList(Regs));
  QBuffer *data = streams->Make();
  TIOChainList3 &chain = Gen.newList();
  // Shown and the text come at the end, also when the read fails: what the
  // image still holds of the batch is as good as the page can show.
  chain.setOnEnd([&Gen, &chain, Text, Shown, streams] {
    if (Shown)
      Shown();
    // The report stays until the engineer's next command: a check or refresh
    // that follows says nothing over it.
    const QString text = Text();
    Gen.WriteReport(text);
    chain.Log().Error(text);
  });
  chain.readReg(*list, *data).execStream([](QIODevice *D) { Modbus().LoadRegValues(*D); }, data);
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

void RunWriteBatch(TIOChainGen &Gen, const TWriteBatch &Batch, const TWriteRun &Run) {
  if (Run.CheckLimits)
    if (const QString report = Batch.LimitReport(); !report.isEmpty())
      throw EKvError(report);
  struct TProgress {
    int Written = 0; // values whose write was answered
    int Sent = 0;    // values whose write request went
    bool Refused = false; // the last answer said the request did nothing
    QString Reason;       // the failure, as the last answer told it
    bool Whole = false;
  };
  auto streams = std::make_shared<TBatchStreams>();
  auto progress = std::make_shared<TProgress>();
  TIOChainList3 &chain = Gen.newList();
  QStringList names;
  for (const TWriteValue &v : Batch.Values())
    names << v.Name;
  chain.writes(names.join(QStringLiteral(", ")));
  if (Run.PreparedFor)
    chain.preparedFor(*Run.PreparedFor);
  if (!Run.WritingText.isEmpty())
    chain.msg(Run.WritingText);
  // Nothing changed: no register is written or read (a read of no register
  // would be a request the device refuses).
  if (!Batch.IsEmpty()) {
    for (int i = 0; i < int(Batch.Values().size()); ++i) {
      const TWriteValue &v = Batch.Values()[size_t(i)];
      QBuffer *pairs = streams->Make(Pairs(v.Words));
      if (v.Mask != 0xFFFF && v.Words.size() == 1) {
        // The other bits are the device's, as they stand just before the write.
        QBuffer *list = streams->Make(RegisterList({v.Words.front().first}));
        chain.readReg(*list, *pairs)
            .execStream([Mask = v.Mask, Value = v.Words.front().second](
                            QIODevice *S) { MergeBitsStream(*S, Mask, Value); },
                        pairs);
      }
      chain.exec([progress, i] { progress->Sent = i + 1; }).writeReg(*pairs).exec([progress] { ++progress->Written; });
    }
    if (Run.ReadAfter) {
      QBuffer *list = streams->Make(RegisterList(Batch.Registers()));
      QBuffer *data = streams->Make();
      if (!Run.ReadingText.isEmpty())
        chain.msg(Run.ReadingText);
      chain.readReg(*list, *data).execStream([](QIODevice *D) { Modbus().LoadRegValues(*D); }, data);
    }
  }
  // The last steps hold the streams, so they live as long as the chain.
  chain.exec([progress, streams, Shown = Run.Shown] {
    progress->Whole = true;
    if (Shown)
      Shown();
  });
  if (Run.Done)
    Run.Done(chain);
  if (!Run.DoneText.isEmpty())
    chain.msg(Run.DoneText);
  const int total = int(Batch.Values().size());
  chain.setEvent(1, [&Gen, progress](TIOChain3 *, const QList<int> &) {
    const TDeviceFront *front = Gen.DeviceFront();
    progress->Reason = front ? front->DeliveryText() : QString();
    progress->Refused = IsRefusedOrUnsent(progress->Reason);
  });
  chain.setOnEnd([&Gen, progress, total, Batch, Shown = Run.Shown] {
    if (progress->Whole || progress->Written >= total)
      return;
    const auto text = [progress, total, Batch] {
      // A write sent whose answer never came (lost, garbled, or dropped by
      // an abort) may have been done: the user is to look, not to write again.
      const bool unanswered = progress->Sent > progress->Written && !progress->Refused;
      QStringList missing;
      for (int i = progress->Written + (unanswered ? 1 : 0); i < total; ++i)
        missing << Batch.Values()[size_t(i)].Name;
      if (!unanswered)
        return PartialWriteText(progress->Written, total, missing, progress->Reason);
      QString t = UnansweredWriteText(Batch.Values()[size_t(progress->Written)].Name);
      if (!missing.isEmpty())
        t += QStringLiteral("; ") + PartialWriteText(progress->Written, total, missing);
      return t;
    };
    ReadBack(Gen, Batch.Registers(), text, Shown);
  });
  chain.run(Run.Progress);
}
