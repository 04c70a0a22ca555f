#include "uOscSideFile.h"

#include "uComtrade.h"
#include "uDateTime.h"
#include "uErrors.h"
#include "uFiles.h"
#include "ixml.h"
#include "uLogger.h"

#include <QFileInfo>
#include <cmath>

QString OscSideFileName(const QString &DataFile) {
  const QString Suffix = QFileInfo(DataFile).suffix();
  if (Suffix.isEmpty())
    return DataFile + QStringLiteral(".xml");
  return DataFile.left(DataFile.size() - Suffix.size()) + QStringLiteral("xml");
}

namespace {
const QString SourceElement = QStringLiteral("source");
QString Hex(const QByteArray &Bytes) { return QString::fromLatin1(Bytes.toHex()); }
QByteArray Bytes(const QString &Hex) { return QByteArray::fromHex(Hex.toLatin1()); }
} // namespace

bool TOscSource::SameRecord(const TOscSource &Other) const {
  return Unit.SameUnit(Other.Unit) && Start == Other.Start && BeforeSeconds == Other.BeforeSeconds &&
         AfterSeconds == Other.AfterSeconds;
}

TOscSource OscSourceOf(const IXXMLDocument &Doc) {
  TOscSource Out;
  const IXXMLNode Root = Doc ? Doc->GetDocumentElement() : IXXMLNode();
  const IXXMLNode N = Root ? Root->SelectSingleNode(SourceElement) : IXXMLNode();
  if (!N)
    return Out;
  Out.Unit.Route = N->GetStrAttr(QStringLiteral("route"), QString());
  Out.Unit.Address = uint8_t(N->GetIntAttr(QStringLiteral("address"), 0));
  Out.Unit.DescFrame = Bytes(N->GetStrAttr(QStringLiteral("desc-frame"), QString()));
  Out.Unit.UnitDatum = Bytes(N->GetStrAttr(QStringLiteral("unit-datum"), QString()));
  Out.Unit.LogicDigest = Bytes(N->GetStrAttr(QStringLiteral("logic-digest"), QString()));
  Out.Start = N->GetStrAttr(QStringLiteral("start"), QString());
  Out.BeforeSeconds = N->GetIntAttr(QStringLiteral("before"), 0);
  Out.AfterSeconds = N->GetIntAttr(QStringLiteral("after"), 0);
  Out.FileNo = N->GetIntAttr(QStringLiteral("file-no"), 0);
  return Out;
}

void SetOscSource(const IXXMLDocument &Doc, const TOscSource &Source) {
  IXXMLNode Root = Doc->GetDocumentElement();
  if (!Root) {
    Doc->LoadXML(QStringLiteral("<root/>"));
    Root = Doc->GetDocumentElement();
  }
  const IXXMLNodeList Old = Root->SelectNodes(SourceElement);
  for (int i = 0; i < Old->GetCount(); ++i)
    Old->GetItem(i)->Remove();
  const IXXMLNode N = Root->AddChild(SourceElement);
  N->SetStrAttr(QStringLiteral("route"), Source.Unit.Route);
  N->SetIntAttr(QStringLiteral("address"), Source.Unit.Address);
  N->SetStrAttr(QStringLiteral("desc-frame"), Hex(Source.Unit.DescFrame));
  N->SetStrAttr(QStringLiteral("unit-datum"), Hex(Source.Unit.UnitDatum));
  N->SetStrAttr(QStringLiteral("logic-digest"), Hex(Source.Unit.LogicDigest));
  N->SetStrAttr(QStringLiteral("start"), Source.Start);
  N->SetIntAttr(QStringLiteral("before"), Source.BeforeSeconds);
  N->SetIntAttr(QStringLiteral("after"), Source.AfterSeconds);
  N->SetIntAttr(QStringLiteral("file-no"), Source.FileNo);
}

TOscSource ReadOscSource(const QString &FileName) {
  if (FileName.isEmpty() || !QFileInfo::exists(FileName))
    return {};
  IXXMLDocument Doc = NewXMLDocument();
  if (!Doc->Load(FileName))
    return {};
  return OscSourceOf(Doc);
}

double OscEventMoment(const QString &Text) {
  auto Num = [&Text](int Pos, int Len, bool &Ok) {
    bool Good = false;
    const int V = Text.mid(Pos - 1, Len).toInt(&Good);
    Ok = Ok && Good && Text.size() >= Pos - 1 + Len;
    return V;
  };
  bool Ok = true;
  const int Y = Num(1, 2, Ok), Mo = Num(4, 2, Ok), D = Num(7, 2, Ok), H = Num(10, 2, Ok), Mi = Num(13, 2, Ok),
            S = Num(16, 2, Ok), Ms = Num(19, 3, Ok);
  TDateTime Out = 0.0;
  if (Ok && TryEncodeDateTime(2000 + Y, Mo, D, H, Mi, S, Ms, Out))
    return Out;
  return EncodeDateTime(2000, 1, 1, 0, 0, 30, 0);
}

namespace {
// The root of the side file Path; null when there is none. One that does not
// parse (an empty one too) is logged and named in Skipped: the side file only
// dresses the record and never keeps a valid record from opening.
IXXMLNode LoadSideRoot(const QString &Path, IXXMLDocument &Doc, TOscSideFileSkip *Skipped, bool &Broken) {
  Broken = false;
  if (Path.isEmpty() || !QFileInfo::exists(Path))
    return {};
  Doc = NewXMLDocument();
  const bool Parsed = Doc->Load(Path);
  IXXMLNode Root = Parsed ? Doc->GetDocumentElement() : IXXMLNode();
  if (!Root) {
    const QString Reason = Parsed ? QStringLiteral("no root element") : Doc->GetParseError();
    Logger().Error(QStringLiteral("%1: %2; side file ignored, defaults used").arg(Path, Reason));
    if (Skipped)
      *Skipped = {Path, Reason};
    Broken = true;
  }
  return Root;
}

// The viewer has saved its look there: a fresh copy's side file names only
// its relay and maybe its events.
bool HoldsLook(const IXXMLNode &Root) {
  return Root && (Root->SelectSingleNode(QStringLiteral("common")) || Root->SelectSingleNode(QStringLiteral("channel")));
}
} // namespace

bool LoadOscSideFile(const QString &FileName, const QString &Fallback, const TComtradeConfig &Config,
                     int SampleCount, TOscViewSettings &View, const std::vector<TOscChannelSettings *> &Channels,
                     TOscEventList &Events, TOscSideFileSkip *Skipped) {
  IXXMLDocument OwnDoc, LookDoc;
  bool Broken = false;
  const IXXMLNode Own = LoadSideRoot(FileName, OwnDoc, Skipped, Broken);
  if (Broken)
    return false;
  // Another record's side file lends its look only: its notes and events
  // belong to its own samples and are never carried into this record.
  IXXMLNode Root = Own;
  if (!HoldsLook(Own)) {
    const IXXMLNode Lent = LoadSideRoot(Fallback, LookDoc, Skipped, Broken);
    if (Broken && !Own)
      return false;
    Root = HoldsLook(Lent) ? Lent : IXXMLNode();
  }
  if (!Own && !Root)
    return false;
  const bool Borrowed = Root != Own;
  View = TOscViewSettings();
  if (const IXXMLNode Common = Root ? Root->SelectSingleNode(QStringLiteral("common")) : IXXMLNode()) {
    View.AnalogHeight = Common->GetIntAttr(QStringLiteral("analog-height"), View.AnalogHeight);
    const int Width = Common->GetIntAttr(QStringLiteral("phasor-panel-width"), View.PhasorPanelWidth);
    View.PhasorPanelWidth = Width > 0 ? Width : TOscViewSettings().PhasorPanelWidth;
  }

  // Events inside the record only; Kept maps the file's events to the kept ones.
  Events.clear();
  std::vector<bool> Kept;
  const double Rate = Config.RateCount() > 0 ? Config.Rate(0).Samples : 0.0;
  const IXXMLNodeList EventNodes = Own ? Own->SelectNodes(QStringLiteral("event")) : IXXMLNodeList();
  for (int i = 0; EventNodes && i < EventNodes->GetCount(); ++i) {
    const IXXMLNode N = EventNodes->GetItem(i);
    auto E = std::make_unique<TOscEvent>();
    E->MomentText = N->GetStrAttr(QStringLiteral("moment"), QString());
    E->Text = N->GetStrAttr(QStringLiteral("caption"), QString());
    const double Ms = (OscEventMoment(E->MomentText) - Config.FirstTime()) * 86400000.0;
    const double Sample = std::nearbyint(Ms * Rate / 1000.0);
    const bool Inside = Sample >= 0 && Sample < SampleCount;
    Kept.push_back(Inside);
    if (Inside) {
      E->Moment = int(Sample);
      Events.push_back(std::move(E));
    }
  }

  auto Mend = [&](const QString &Stored) {
    QString Out;
    for (size_t i = 0; i < Kept.size(); ++i)
      if (Kept[i])
        Out += i < size_t(Stored.size()) ? Stored[qsizetype(i)] : QLatin1Char('0');
    return Out;
  };
  const IXXMLNodeList ChannelNodes = Root ? Root->SelectNodes(QStringLiteral("channel")) : IXXMLNodeList();
  for (size_t i = 0; i < Channels.size(); ++i) {
    TOscChannelSettings &C = *Channels[i];
    if (!ChannelNodes || int(i) >= ChannelNodes->GetCount()) {
      C.Events = C.Events.leftJustified(qsizetype(Events.size()), QLatin1Char('0'), true);
      continue;
    }
    const IXXMLNode N = ChannelNodes->GetItem(int(i));
    C.Color = uint32_t(N->GetIntAttr(QStringLiteral("pen-color"), 0));
    C.PenWidth = N->GetIntAttr(QStringLiteral("pen-width"), 0);
    C.Checked = N->GetIntAttr(QStringLiteral("checked"), 0) != 0;
    C.BaseVector = N->GetIntAttr(QStringLiteral("base-vector"), 0) != 0;
    if (Borrowed) {
      // The other record's event marks are of its own events.
      C.Events = QString(qsizetype(Events.size()), QLatin1Char('0'));
      continue;
    }
    C.Events = Mend(N->GetStrAttr(QStringLiteral("events"), QString()));
    C.Notes.clear();
    const IXXMLNodeList Notes = N->SelectNodes(QStringLiteral("note"));
    for (int k = 0; k < Notes->GetCount(); ++k) {
      const IXXMLNode M = Notes->GetItem(k);
      const int Moment2 = M->GetIntAttr(QStringLiteral("moment2"), -1);
      std::unique_ptr<TOscNote> Note;
      if (Moment2 != -1) {
        auto Two = std::make_unique<TOscNote2>();
        Two->Moment2 = Moment2;
        Note = std::move(Two);
      } else {
        Note = std::make_unique<TOscNote>();
      }
      Note->Moment = M->GetIntAttr(QStringLiteral("moment"), 0);
      Note->Text = M->GetStrAttr(QStringLiteral("text"), QString());
      Note->FontName = M->GetStrAttr(QStringLiteral("fontName"), QString());
      Note->FontHeight = M->GetIntAttr(QStringLiteral("fontHeight"), 0);
      Note->FontColor = uint32_t(M->GetIntAttr(QStringLiteral("fontColor"), 0));
      Note->CalcValType = M->GetIntAttr(QStringLiteral("calcValType"), 0);
      Note->Dy = M->GetIntAttr(QStringLiteral("dy"), 0);
      C.Notes.push_back(std::move(Note));
    }
  }
  View.HasLook = Root != nullptr;
  return true;
}

void SaveOscSideFile(const QString &FileName, const TOscViewSettings &View,
                     const std::vector<const TOscChannelSettings *> &Channels, const TOscEventList &Events) {
  const TOscSource Source = ReadOscSource(FileName);
  IXXMLDocument Doc = NewXMLDocument();
  Doc->LoadXML(QStringLiteral("<root/>"));
  const IXXMLNode Root = Doc->GetDocumentElement();
  // The relay the copy was read from stays named whatever the view saves.
  if (!Source.IsEmpty())
    SetOscSource(Doc, Source);
  const IXXMLNode Common = Root->AddChild(QStringLiteral("common"));
  Common->SetIntAttr(QStringLiteral("analog-height"), View.AnalogHeight);
  Common->SetIntAttr(QStringLiteral("phasor-panel-width"), View.PhasorPanelWidth);
  for (size_t i = 0; i < Channels.size(); ++i) {
    const TOscChannelSettings &C = *Channels[i];
    const IXXMLNode N = Root->AddChild(QStringLiteral("channel"));
    N->SetIntAttr(QStringLiteral("id"), int(i));
    N->SetIntAttr(QStringLiteral("pen-color"), int(C.Color));
    N->SetIntAttr(QStringLiteral("pen-width"), C.PenWidth);
    N->SetIntAttr(QStringLiteral("checked"), C.Checked ? 1 : 0);
    N->SetIntAttr(QStringLiteral("base-vector"), C.BaseVector ? 1 : 0);
    N->SetStrAttr(QStringLiteral("events"), C.Events);
    for (const auto &Note : C.Notes) {
      const IXXMLNode M = N->AddChild(QStringLiteral("note"));
      M->SetIntAttr(QStringLiteral("moment"), Note->Moment);
      M->SetStrAttr(QStringLiteral("text"), Note->Text);
      M->SetStrAttr(QStringLiteral("fontName"), Note->FontName);
      M->SetIntAttr(QStringLiteral("fontHeight"), Note->FontHeight);
      M->SetIntAttr(QStringLiteral("fontColor"), int(Note->FontColor));
      M->SetIntAttr(QStringLiteral("calcValType"), Note->CalcValType);
      M->SetIntAttr(QStringLiteral("dy"), Note->Dy);
      if (Note->HasMoment2())
        M->SetIntAttr(QStringLiteral("moment2"), static_cast<const TOscNote2 &>(*Note).Moment2);
    }
  }
  for (const auto &E : Events) {
    const IXXMLNode N = Root->AddChild(QStringLiteral("event"));
    N->SetStrAttr(QStringLiteral("moment"), E->MomentText);
    N->SetStrAttr(QStringLiteral("caption"), E->Text);
  }
  SaveXMLDocument(Doc, FileName);
}

QString KeepDamagedSideFile(const QString &FileName) {
  const QByteArray Bytes = LoadFileBytes(FileName);
  QString Kept = FileName + QStringLiteral(".bad");
  // An earlier damaged copy is the engineer's too: it is never replaced.
  for (int n = 1; QFileInfo::exists(Kept); ++n) {
    if (LoadFileBytes(Kept) == Bytes)
      return Kept;
    Kept = FileName + QStringLiteral(".bad.%1").arg(n);
  }
  SaveFileBytes(Kept, Bytes);
  return Kept;
}
