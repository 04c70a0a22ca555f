#include "uOscHead.h"

#include "uComtrade.h"
#include "uDescriptorXml.h"
#include "uErrors.h"
#include "uLogger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <map>

namespace {

constexpr int HeadBytes = 16, EntryBytes = 12;
constexpr double SecondsPerDay = 86400.0;

struct TEntry {
  bool Empty = false; // never written: year byte 255, or every stamp byte 0
  bool Valid = false;
  TDateTime Moment = 0;
  uint8_t Before = 0, After = 0;
};

// The entry at Offset; bytes past the file read as zeros (an invalid stamp).
TEntry EntryAt(const QByteArray &Bytes, qsizetype Offset) {
  QByteArray e = Offset >= 0 ? Bytes.mid(Offset, EntryBytes) : QByteArray();
  e.resize(EntryBytes, '\0');
  TEntry out;
  const uint8_t *stamp = reinterpret_cast<const uint8_t *>(e.constData()) + 3;
  out.Valid = DecodeDeviceTime7(stamp, out.Moment);
  out.Empty = stamp[0] == 0xFF || std::all_of(stamp, stamp + 7, [](uint8_t B) { return B == 0; });
  out.Before = uint8_t(e[10]);
  out.After = uint8_t(e[11]);
  return out;
}

TOscHead MakeHead(const TEntry &E, int FileNo, const TOscDirectoryHead &Head, const TOscDirectoryOptions &Options) {
  TOscHead h;
  h.FFileNo = CheckedCast<uint8_t>(FileNo);
  h.FMoment = E.Moment;
  h.FBefore = E.Before;
  h.FAfter = E.After;
  h.FMultiplier = Head.TimeUnit;
  h.FStart = E.Moment - E.Before * Head.TimeUnit / SecondsPerDay;
  h.FFrameCount = OscFrameCount(Options.BlockBytes, h.TotalSeconds());
  h.FFileName = OscFileName(Options.NamePrefix, h.FStart);
  return h;
}

std::vector<TOscHead> ParseCyclic(const QByteArray &Bytes, const TOscDirectoryHead &Head,
                                  const TOscDirectoryOptions &Options) {
  std::vector<TOscHead> out;
  // File numbers are bytes: a ring past them is a wrong setting, read no further.
  const int n = std::min(Options.SlotCount, 4096);
  if (n < 1)
    return out;
  std::vector<TEntry> ring;
  for (int slot = 0; slot < n; ++slot)
    ring.push_back(EntryAt(Bytes, qsizetype(HeadBytes) + qsizetype(EntryBytes) * slot));
  const auto later = [](const TEntry &A, const TEntry &B) { return A.Valid && (!B.Valid || A.Moment > B.Moment); };
  int newest = -1;
  if (std::any_of(ring.begin(), ring.end(), [](const TEntry &E) { return E.Empty; })) {
    // Not full yet: written in slot order, so a backward step of the clock
    // (summer time ending, a date corrected) moves nothing.
    for (int slot = 0; slot < n; ++slot)
      if (!ring[size_t(slot)].Empty && ring[size_t((slot + 1) % n)].Empty &&
          (newest < 0 || later(ring[size_t(slot)], ring[size_t(newest)])))
        newest = slot;
  } else {
    for (int slot = 0; slot < n; ++slot) {
      const TEntry &e = ring[size_t(slot)];
      if (!e.Valid)
        continue;
      if (newest >= 0 && e.Moment <= ring[size_t(newest)].Moment)
        break;
      newest = slot;
    }
  }
  if (newest < 0)
    return out;
  for (int k = 0, slot = newest; k < n; ++k, slot = (slot + n - 1) % n)
    if (ring[size_t(slot)].Valid)
      out.push_back(MakeHead(ring[size_t(slot)], slot + 1, Head, Options));
  return out;
}

std::vector<TOscHead> ParseLinear(const QByteArray &Bytes, const TOscDirectoryHead &Head,
                                  const TOscDirectoryOptions &Options) {
  std::vector<TOscHead> out;
  for (int k = 1; k <= Head.Count; ++k) {
    const qsizetype offset = Options.MaxOscFlag ? HeadBytes + qsizetype(Head.LastIndex - k) * Head.EntrySize
                                                : HeadBytes + qsizetype(EntryBytes) * (k - 1);
    if (offset < HeadBytes || offset > Bytes.size() - EntryBytes) {
      Logger().ErrorFmt("osch.bin: entry %d at offset %d lies outside the file of %d bytes", k, int(offset),
                        int(Bytes.size()));
      break;
    }
    TEntry e = EntryAt(Bytes, offset);
    if (!e.Valid)
      e.Moment = EncodeDateTime(2000, 1, 1, 0, 30);
    out.push_back(MakeHead(e, k, Head, Options));
  }
  return out;
}

// The bit register an `osc/osc-bitreg` node names; throws when it is missing.
IXXMLNode OscBitRegister(const IXXMLNode &Root, const IXXMLNode &Ref) {
  const int type = Ref->GetIntNodeDef(DX_BITREG_RECORD_TYPE, -1);
  const IXXMLNode reg = Root->SelectSingleNode(QString(DXQ_BITREG_BY_TYPE).arg(type));
  if (!reg)
    throw EKvError(QStringLiteral("no bitreg found for record-type %1").arg(type));
  return reg;
}

QString StartText(TDateTime T) { return FormatDateTime(QStringLiteral("yyyy-mm-dd hh:nn:ss.zzz"), T); }

// The names of Head's second taken in Folder, the plain one first, then by
// their number: base, base_2, base_3, ... (older copies named base_N by their file).
QStringList NamesOfSecond(const QString &Folder, const TOscHead &Head) {
  const QFileInfo base(QDir(Folder).filePath(Head.FFileName));
  const QRegularExpression own(QStringLiteral("^%1(_(\\d{1,6}))?\\.(cfg|dat|xml)$")
                                   .arg(QRegularExpression::escape(base.fileName())),
                               QRegularExpression::CaseInsensitiveOption);
  std::map<int, QString> found;
  for (const QString &f : base.dir().entryList(QDir::Files)) {
    const QRegularExpressionMatch m = own.match(f);
    if (m.hasMatch())
      found.emplace(m.capturedView(2).isEmpty() ? 0 : m.capturedView(2).toInt(), f.left(f.lastIndexOf('.')));
  }
  QStringList out;
  const QString folder = QFileInfo(Head.FFileName).path();
  for (const auto &[n, name] : found)
    out << (folder == QStringLiteral(".") ? name : folder + QLatin1Char('/') + name);
  return out;
}

} // namespace

TDateTime TOscHead::End() const { return FStart + TotalSeconds() / SecondsPerDay; }

bool TOscHead::SameEntry(const TOscHead &Other) const {
  return StartText(FStart) == StartText(Other.FStart) && FBefore * FMultiplier == Other.FBefore * Other.FMultiplier &&
         FAfter * FMultiplier == Other.FAfter * Other.FMultiplier;
}

std::vector<TOscHead> ParseOscDirectory(const QByteArray &Bytes, const TOscDirectoryOptions &Options,
                                        TOscDirectoryHead *Head) {
  QByteArray h = Bytes.left(5);
  h.resize(5, '\0');
  TOscDirectoryHead head{uint8_t(h[0]), uint8_t(h[1]), uint8_t(h[2]), uint8_t(h[4])};
  if (Head)
    *Head = head;
  return Options.Cyclic ? ParseCyclic(Bytes, head, Options) : ParseLinear(Bytes, head, Options);
}

int CalcBlockBytes(const IXXMLNode &Root) {
  if (!Root)
    return 0;
  int bytes = 36 * Root->SelectNodes(DxPath({DX_OSC, DX_OSC_MEASURE}))->GetCount();
  const IXXMLNodeList regs = Root->SelectNodes(DxPath({DX_OSC, DX_OSC_BITREG}));
  for (int i = 0; i < regs->GetCount(); ++i) {
    const IXXMLNode reg = OscBitRegister(Root, regs->GetItem(i));
    bytes += 2 * ((reg->SelectNodes(DX_STRING)->GetCount() + 15) / 16);
  }
  return bytes;
}

uint16_t OscFrameCount(int BlockBytes, int Seconds) {
  return CheckedCast<uint16_t>(std::llround(double(BlockBytes) * Seconds * OscBlocksPerSecond) / OscFrameBytes);
}

QString OscFileName(const QString &Prefix, TDateTime Start) {
  return QStringLiteral("osc/") + Prefix + QLatin1Char('_') + FormatDateTime(QStringLiteral("yyyy-mm-dd_hhnnss"), Start);
}

TOscSource OscSourceOf(const TOscHead &Head, const TUnitIdentity &Unit) {
  TOscSource s;
  s.Unit = Unit;
  s.Start = StartText(Head.FStart);
  s.BeforeSeconds = Head.FBefore * Head.FMultiplier;
  s.AfterSeconds = Head.FAfter * Head.FMultiplier;
  s.FileNo = Head.FFileNo;
  return s;
}

TOscSavedCopy FindOscCopy(const QString &ProgramFolder, const TOscHead &Head, const TUnitIdentity &Unit) {
  const TOscSource wanted = OscSourceOf(Head, Unit);
  const QDir folder(ProgramFolder);
  TOscSavedCopy out;
  for (const QString &name : NamesOfSecond(ProgramFolder, Head)) {
    if (!QFileInfo::exists(folder.filePath(name + ".dat")))
      continue;
    const TOscSource source = ReadOscSource(folder.filePath(name + ".xml"));
    if (!source.IsEmpty() && source.SameRecord(wanted))
      return {TOscSavedCopy::Own, name};
    if (source.IsEmpty() && out.Kind == TOscSavedCopy::None)
      out = {TOscSavedCopy::Unrecorded, name};
  }
  return out;
}

QString OscCopyName(const QString &ProgramFolder, const TOscHead &Head, const TUnitIdentity &Unit) {
  const TOscSource wanted = OscSourceOf(Head, Unit);
  const QDir folder(ProgramFolder);
  const QStringList taken = NamesOfSecond(ProgramFolder, Head);
  for (const QString &name : taken) {
    const TOscSource source = ReadOscSource(folder.filePath(name + ".xml"));
    if (!source.IsEmpty() && source.SameRecord(wanted))
      return name;
  }
  const auto isTaken = [&](const QString &Name) {
    return std::any_of(taken.begin(), taken.end(), [&](const QString &T) { return T.compare(Name, Qt::CaseInsensitive) == 0; });
  };
  if (!isTaken(Head.FFileName))
    return Head.FFileName;
  for (int n = 2; n <= 999; ++n) {
    const QString name = Head.FFileName + QStringLiteral("_%1").arg(n);
    if (!isTaken(name))
      return name;
  }
  throw EKvError(QStringLiteral("%1: no free name for another copy").arg(folder.filePath(Head.FFileName)));
}

QString OscSavedDuration(const QString &CfgFileName) {
  try {
    TComtradeConfig cfg;
    QString warning;
    cfg.LoadFromFile(CfgFileName, warning);
    if (cfg.RateCount() < 1)
      return QString();
    const TComtradeRate &rate = cfg.Rate(0);
    if (rate.Samples <= 0)
      return QString();
    // The reader gives the last sample as an index from 0 in every revision.
    return QString::asprintf("%.2f ", rate.LastSample / rate.Samples) + QStringLiteral("сек.");
  } catch (const EKvError &e) {
    Logger().Error(e.Text());
    return QString();
  }
}

void TOscLimit::Setup(const TOscHead &Head, int BlockBytes, const QString &BeforeText, const QString &AfterText) {
  auto number = [](QString Text, bool &Ok) {
    Text.replace(QLatin1Char(','), QLatin1Char('.'));
    const qsizetype dot = Text.indexOf(QLatin1Char('.'));
    if (dot >= 0)
      Text = Text.left(dot + 3);
    const double v = Text.trimmed().toDouble(&Ok);
    return Ok ? std::max(0.0, v) : 0.0;
  };
  const double beforeSeconds = Head.FBefore * Head.FMultiplier;
  const double afterSeconds = Head.FAfter * Head.FMultiplier;
  bool ok = false;
  double skip = 0;
  const double b = number(BeforeText, ok);
  if (ok)
    skip = std::max(0.0, beforeSeconds - std::min(b, beforeSeconds));
  FStart = Head.FStart + std::llround(skip * 1000) / 1000.0 / SecondsPerDay;
  FTrigger = Head.FMoment;
  double a = number(AfterText, ok);
  a = ok ? std::min(a, afterSeconds) : afterSeconds;
  const double len = beforeSeconds + a - skip;
  FDurationMs = int(std::llround(len * 1000));
  if (FDurationMs <= 0)
    throw EKvError(QStringLiteral("Пустое окно"));
  const double perSecond = double(OscSamplesPerSecond) / 18 * BlockBytes;
  const qint64 first = std::llround(skip * perSecond);
  const qint64 last = std::llround((skip + len) * perSecond);
  FFrameFirst = CheckedCast<uint16_t>(first / OscFrameBytes);
  FFrameLast = CheckedCast<uint16_t>(last / OscFrameBytes + 1);
  FFirstOffset = int(first % OscFrameBytes);
  FLastOffset = int(last % OscFrameBytes);
}

void OscEventsToXml(const IXXMLDocument &Doc, const TOscHead &Head, const TEventLogItems &Records) {
  IXXMLNode root = Doc->GetDocumentElement();
  if (!root) {
    Doc->LoadXML(QStringLiteral("<root/>"));
    root = Doc->GetDocumentElement();
  }
  const IXXMLNodeList old = root->SelectNodes(DX_EVENT);
  for (int i = 0; i < old->GetCount(); ++i)
    old->GetItem(i)->Remove();
  // Compared in whole milliseconds, so that the ends are included exactly.
  const auto ms = [](TDateTime T) { return std::llround(T * SecondsPerDay * 1000); };
  const qint64 from = ms(Head.FStart), to = ms(Head.End());
  for (const TEventLogItemPtr &r : Records) {
    if (r->IsEmpty() || ms(r->FMoment) < from || ms(r->FMoment) > to)
      continue;
    const IXXMLNode e = root->AddChild(QStringLiteral("event"));
    e->SetStrAttr(QStringLiteral("moment"), FormatDateTime(QStringLiteral("yy/mm/dd,hh:nn:ss.zzz"), r->FMoment));
    e->SetStrAttr(QStringLiteral("caption"), r->GetEventName());
  }
}

IXXMLDocument OscDescription(const IXXMLNode &Root) {
  IXXMLDocument doc = NewXMLDocument();
  doc->LoadXML(QStringLiteral("<?xml version=\"1.0\" encoding=\"windows-1251\"?><Osci/>"));
  const IXXMLNode out = doc->GetDocumentElement();
  const IXXMLNodeList measures = Root->SelectNodes(DxPath({DX_OSC, DX_OSC_MEASURE}));
  for (int i = 0; i < measures->GetCount(); ++i) {
    const int ider = measures->GetItem(i)->GetIntNodeDef(DX_MEASURE_IDER, -1);
    const IXXMLNode m = Root->SelectSingleNode(QString(DXQ_MEASURE_BY_IDER).arg(ider));
    const IXXMLNode a = out->AddChild(QStringLiteral("analog"));
    a->SetStrAttr(QStringLiteral("name"), m ? m->GetStrNodeDef(DX_STRING, QString()) : QString());
    a->SetIntAttr(QStringLiteral("reg"), m ? m->GetIntNodeDef(DX_CCADDR, 65535) : 65535);
    a->SetStrAttr(QStringLiteral("divider"), m ? m->GetStrNodeDef(DX_MVS_DIV, QStringLiteral("1"))
                                               : QStringLiteral("1"));
  }
  const IXXMLNodeList regs = Root->SelectNodes(DxPath({DX_OSC, DX_OSC_BITREG}));
  for (int i = 0; i < regs->GetCount(); ++i) {
    const IXXMLNode reg = OscBitRegister(Root, regs->GetItem(i));
    const int words = reg->GetIntNodeDef(DX_WORD_COUNT, 1);
    const int mreg = reg->GetIntNodeDef(DX_MREG, 65535);
    const IXXMLNodeList names = reg->SelectNodes(DXQ_VALUE_STRINGS);
    for (int w = 0; w < words; ++w) {
      const IXXMLNode d = out->AddChild(QStringLiteral("discrete"));
      d->SetStrAttr(QStringLiteral("name"), reg->GetStrNodeDef(DX_CAPTION, QString()));
      d->SetIntAttr(QStringLiteral("reg"), mreg + w);
      for (int b = 16 * w; b < std::min(16 * w + 16, names->GetCount()); ++b) {
        const IXXMLNode item = d->AddChild(QStringLiteral("item"));
        item->SetIntAttr(QStringLiteral("bit"), b - 16 * w);
        item->SetStrAttr(QStringLiteral("name"), names->GetItem(b)->GetStrNodeDef(DX_VALUE, QString()));
      }
    }
  }
  return doc;
}
