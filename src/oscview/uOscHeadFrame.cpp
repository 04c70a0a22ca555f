#include "uOscHeadFrame.h"

#include "uAppIniFile.h"
#include "uComtradeStream.h"
#include "uDescriptorXml.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uIOChain3.h"
#include "uIOChainFile.h"
#include "uLocker.h"
#include "uLogger.h"
#include "uMultiLingual.h"
#include "uOscSideFile.h"
#include "uSimpleDeviceDescriptor.h"
#include "uStringGrid.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const QString DirectoryFile = QStringLiteral("osch.bin");
const QString EventFile = QStringLiteral("osc_event.bin");
const QString RecordFile = QStringLiteral("osc.bin");
const QString LimitedFile = QStringLiteral("osc_limited.bin");
constexpr int EventRingFileNo = 128;

QString Tr(const char *Text) { return MultiLingual().Translate(QString::fromUtf8(Text)); }

} // namespace

TOscHeadFrame::TOscHeadFrame(QWidget *Parent) : QWidget(Parent) {
  setObjectName("OscHeadFrame");
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  auto *panel = new QHBoxLayout;
  cbRead = new QCheckBox(QStringLiteral("Читать"), this);
  cbRead->setObjectName("cbRead");
  cbLimit = new QCheckBox(QStringLiteral("Лимит"), this);
  cbLimit->setObjectName("cbLimit");
  LabelBefore = new QLabel(QStringLiteral("До 0, сек."), this);
  EditBefore0 = new QLineEdit(this);
  EditBefore0->setObjectName("EditBefore0");
  LabelAfter = new QLabel(QStringLiteral("После 0, сек."), this);
  EditAfter0 = new QLineEdit(this);
  EditAfter0->setObjectName("EditAfter0");
  EditFrame = new QLineEdit(this);
  EditFrame->setObjectName("EditFrame");
  cbEvents = new QCheckBox(QStringLiteral("События"), this);
  cbEvents->setObjectName("cbEvents");
  for (QWidget *w : std::initializer_list<QWidget *>{cbRead, cbLimit, LabelBefore, EditBefore0, LabelAfter, EditAfter0,
                                                     EditFrame, cbEvents})
    panel->addWidget(w);
  panel->addStretch(1);
  layout->addLayout(panel);
  sgOscHead = new TStringGrid(7, 2, 0, 1, this);
  sgOscHead->setObjectName("sgOscHead");
  sgOscHead->setSelectionBehavior(QAbstractItemView::SelectRows);
  sgOscHead->setEditTriggers(QAbstractItemView::NoEditTriggers);
  sgOscHead->verticalHeader()->hide();
  sgOscHead->horizontalHeader()->hide();
  layout->addWidget(sgOscHead);
  connect(cbLimit, &QCheckBox::clicked, this, [this] { cbLimitClick(); });
  connect(sgOscHead, &QTableWidget::cellDoubleClicked, this, [this](int Row, int) { sgOscHeadDblClick(Row); });
}

void TOscHeadFrame::Init() {
  FNamePrefix = QStringLiteral("1");
  const QStringList header = {"", "Момент начала", "Всего, сек.", "До 0, сек.", "После 0, сек.", "Сохраненный файл",
                              "Примечание"};
  for (int c = 0; c < 7; ++c)
    sgOscHead->SetCells(c, 0, header[c]);
  Clear();
  FitColumns();
  EditBefore0->clear();
  EditAfter0->clear();
  EditBefore0->setEnabled(false);
  EditAfter0->setEnabled(false);
  const TAppIniFile &ini = AppIni();
  cbEvents->setEnabled(ini.ReadBool("osc", "readEvent", false));
  const bool limit = ini.ReadBool("osc", "limit", false);
  for (QWidget *w : std::initializer_list<QWidget *>{cbLimit, LabelBefore, LabelAfter, EditBefore0, EditAfter0})
    w->setVisible(limit);
  EditFrame->setVisible(ini.ReadBool("debug", "testOsc", false));
}

void TOscHeadFrame::Clear() {
  FHeads.clear();
  sgOscHead->setRowCount(2);
  for (int c = 0; c < 7; ++c)
    sgOscHead->SetCells(c, 1, QString());
}

void TOscHeadFrame::SetDescriptor(TSimpleDeviceDescriptor *Descriptor) { FDescriptor = Descriptor; }

void TOscHeadFrame::UpdateCcValues() {
  if (!FDescriptor || !FDescriptor->Root)
    return;
  const IXXMLNodeList items = FDescriptor->Root->SelectNodes(QString("%1/%2[%3]").arg(DX_MEASURE, DX_MEASURE_ITEM, DX_CCADDR));
  for (int i = 0; i < items->GetCount(); ++i) {
    const IXXMLNode item = items->GetItem(i);
    bool ok = false;
    const uint addr = item->GetStrNode(DX_CCADDR).trimmed().toUInt(&ok);
    // An address that is no 16-bit number finds no calibration record.
    const uint16_t value = ok && addr <= 0xFFFF ? FDescriptor->FindCalibrationValue(uint16_t(addr)) : 0;
    item->SetIntNode(DX_CCVALUE, value);
  }
}

QString TOscHeadFrame::ProgramPath(const QString &Name) const {
  return QDir(FHost.ProgramFolder ? FHost.ProgramFolder() : ProgramFolder()).absoluteFilePath(Name);
}

QString TOscHeadFrame::WorkPath(const QString &Name) const {
  return QDir(FHost.WorkFolder ? FHost.WorkFolder() : QDir::currentPath()).absoluteFilePath(Name);
}

void TOscHeadFrame::Show(const QString &Text) const {
  if (FHost.Status)
    FHost.Status(Text);
}

void TOscHeadFrame::cbLimitClick() {
  const bool on = cbLimit->isChecked();
  for (QLineEdit *e : {EditBefore0, EditAfter0}) {
    e->setEnabled(on);
    QPalette p = e->palette();
    p.setColor(QPalette::Text, on ? palette().color(QPalette::WindowText) : palette().color(QPalette::Disabled, QPalette::Text));
    e->setPalette(p);
  }
}

void TOscHeadFrame::ReRead() {
  TIOChainGen *gen = FHost.ChainGen ? FHost.ChainGen() : nullptr;
  if (!FDescriptor || !FDescriptor->Root || !gen) {
    Show(Tr("Нет дескриптора"));
    return;
  }
  try {
    CalcBlockBytes(FDescriptor->Root);
  } catch (const EKvError &e) {
    Show(e.Text());
    return;
  }
  const QString file = WorkPath(DirectoryFile);
  TIOChainList3 &chain = gen->newList().ownedBy(this).checkedRead();
  AppendDirectoryRead(chain, file);
  chain.exec(Guarded(this, [file](TOscHeadFrame *Page) { Page->ParseDirectory(file); }));
  try {
    chain.run();
  } catch (const EKvError &e) {
    Logger().Error(e.Text());
    Show(e.Text());
  }
}

void TOscHeadFrame::AppendDirectoryRead(TIOChainList3 &Chain, const QString &File) const {
  // No ring is read past the slots the list reads (a wrong setting stays in range).
  const int slotCount = std::clamp(AppIni().ReadInteger("osc", "cyclicBufferCount", 32), 0, 4096);
  const uint16_t lastFrame = uint16_t((16 + 12 * slotCount + 127) / 128);
  // The first frame alone first, as the device has always been asked; its
  // content is not used.
  Chain.setFrameSize(OscFrameBytes)
      .readFile(OscDirectoryFileNo, 0, WorkPath(QStringLiteral("osch0.bin")))
      .execNext([lastFrame](TIOChain3 *Next, const QList<int> &) { CastIOChain3readFile(Next)->setFrameLast(lastFrame); },
                {})
      .readFile(OscDirectoryFileNo, 0, File);
}

TOscDirectoryOptions TOscHeadFrame::DirectoryOptions() const {
  const TAppIniFile &ini = AppIni();
  TOscDirectoryOptions o;
  o.Cyclic = ini.ReadBool("osc", "cyclic", true);
  o.SlotCount = ini.ReadInteger("osc", "cyclicBufferCount", 32);
  o.MaxOscFlag = ini.ReadInteger("osc", "maxOscFlag", 0) == 1;
  o.BlockBytes = CalcBlockBytes(FDescriptor ? FDescriptor->Root : nullptr);
  o.NamePrefix = FNamePrefix;
  return o;
}

void TOscHeadFrame::ParseDirectory(const QString &FileName) {
  std::vector<TOscHead> heads = ParseOscDirectory(LoadFileBytes(FileName), DirectoryOptions(), &FDirHead);
  Clear();
  FHeads = std::move(heads);
  sgOscHead->setRowCount(std::max(2, int(FHeads.size()) + 1));
  RefreshCopies();
}

void TOscHeadFrame::RefreshCopies() {
  const TUnitIdentity unit = Unit();
  const QString folder = ProgramPath(QString());
  FCopies.assign(FHeads.size(), TOscSavedCopy());
  for (size_t i = 0; i < FHeads.size(); ++i) {
    TOscHead &head = FHeads[i];
    // The name of the row's second unless the row has a copy of its own.
    head.FFileName = OscFileName(FNamePrefix, head.FStart);
    FCopies[i] = FindOscCopy(folder, head, unit);
    if (FCopies[i].Kind == TOscSavedCopy::Own)
      head.FFileName = FCopies[i].Name;
    AddRow(int(i) + 1, head, FCopies[i]);
  }
  FitColumns();
}

void TOscHeadFrame::FitColumns() {
  // The form's widths, widened to the longest text of a column in the grid's font.
  static const int Widths[] = {10, 137, 77, 86, 87, 220, 115};
  for (int c = 0; c < 7; ++c)
    sgOscHead->setColumnWidth(c, std::max(Widths[c], static_cast<QAbstractItemView *>(sgOscHead)->sizeHintForColumn(c)));
}

void TOscHeadFrame::AddRow(int Row, const TOscHead &Head, const TOscSavedCopy &Copy) {
  sgOscHead->SetCells(1, Row, FormatDateTime(QStringLiteral("yyyy-mm-dd hh:nn:ss.zzz"), Head.FStart));
  sgOscHead->SetCells(2, Row, QString::number(Head.TotalSeconds()));
  sgOscHead->SetCells(3, Row, QString::number(Head.FBefore * Head.FMultiplier));
  sgOscHead->SetCells(4, Row, QString::number(Head.FAfter * Head.FMultiplier));
  sgOscHead->SetCells(5, Row, QString());
  sgOscHead->SetCells(6, Row, QString());
  if (Copy.Kind == TOscSavedCopy::None)
    return;
  // A copy that names no relay may be another relay's record of this second:
  // it is listed as such, never as this relay's.
  sgOscHead->SetCells(5, Row, Copy.Kind == TOscSavedCopy::Own
                                  ? Copy.Name
                                  : Copy.Name + QStringLiteral(" (") + Tr(OscReadTexts::NoRelayRecorded) + QLatin1Char(')'));
  // "1.25 сек.": the unit in the interface's language.
  QString duration = OscSavedDuration(ProgramPath(Copy.Name + ".cfg"));
  if (duration.endsWith(QStringLiteral(" сек.")))
    duration = duration.chopped(4) + Tr("сек.");
  sgOscHead->SetCells(6, Row, duration);
}

void TOscHeadFrame::sgOscHeadDblClick(int Row) {
  if (Row < 1 || Row > int(FHeads.size()))
    return;
  const TOscHead head = FHeads[size_t(Row - 1)];
  const TOscSavedCopy copy = size_t(Row - 1) < FCopies.size() ? FCopies[size_t(Row - 1)] : TOscSavedCopy();
  // Only the relay's own copy of this entry opens; it is looked for again,
  // as a read may have saved or another program removed files since the list.
  const bool own = copy.Kind == TOscSavedCopy::Own && QFile::exists(ProgramPath(copy.Name + ".dat"));
  if (!cbRead->isChecked() && own)
    OpenTab(head);
  else
    ReadOscillogram(head);
}

// What one record read owns: the entry as the row listed it and as the slot
// holds it, the window, and what the end tells.
struct TOscHeadFrame::TReadState {
  TOscHead Row, Actual;
  TUnitIdentity Unit;
  TOscDirectoryOptions Options;
  bool Limited = false, Events = false;
  QString BeforeText, AfterText;
  TOscLimit Limit;
  std::shared_ptr<const TEventLayout> Layout;
  bool Anew = false, Relist = false;
  QString Kept;
};

void TOscHeadFrame::ReadOscillogram(const TOscHead &Head) {
  if (FHost.IsLinkIdle && !FHost.IsLinkIdle())
    return;
  TIOChainGen *gen = FHost.ChainGen ? FHost.ChainGen() : nullptr;
  if (!FDescriptor || !FDescriptor->Root || !gen) {
    Show(Tr("Нет дескриптора"));
    return;
  }
  // Everything the chain's steps need is taken now: they touch nothing of the page.
  TReadState state;
  state.Row = Head;
  state.Unit = Unit();
  state.Limited = cbLimit->isChecked();
  state.Events = cbEvents->isChecked();
  state.BeforeText = EditBefore0->text();
  state.AfterText = EditAfter0->text();
  state.Layout = FHost.EventLayout ? FHost.EventLayout() : nullptr;
  try {
    state.Options = DirectoryOptions();
    // The window is checked now, so that a wrong one sends nothing.
    if (state.Limited)
      state.Limit.Setup(Head, state.Options.BlockBytes, state.BeforeText, state.AfterText);
    if (state.Events && (!state.Layout || state.Layout->RecordLength() == 0))
      throw EKvError(Tr("Нет дескриптора"));
  } catch (const EKvError &e) {
    Show(e.Text());
    return;
  }
  const QString eventFile = WorkPath(EventFile), recordFile = WorkPath(RecordFile);
  const QString dirBefore = WorkPath(QStringLiteral("osch_before.bin")), dirAfter = WorkPath(QStringLiteral("osch_after.bin"));
  for (const QString &f : {eventFile, recordFile, dirBefore, dirAfter})
    QFile::remove(f);

  TIOChainList3 &chain = gen->newList().ownedBy(this).checkedRead();
  TReadState &st = chain.Keep<TReadState>(std::move(state));
  if (st.Events) {
    const int ring = std::clamp(AppIni().ReadInteger("event", "eventLogCount", 256), 1, 65535);
    // The events of the oscillogram come from the whole ring, read as the journal reads it.
    chain.msg(Tr("Чтение событий"))
        .setFrameSize(st.Layout->RecordLength())
        .execNext([ring](TIOChain3 *Next, const QList<int> &) { CastIOChain3readFile(Next)->setFrameLimit(uint16_t(ring)); },
                  {})
        .readFile(EventRingFileNo, 3, eventFile);
  }
  // The slot's entry right before its record: the relay may have recorded
  // into it since the list was read.
  AppendDirectoryRead(chain, dirBefore);
  chain.exec([&st, dirBefore] {
    const std::vector<TOscHead> heads = ParseOscDirectory(LoadFileBytes(dirBefore), st.Options);
    const auto found = std::find_if(heads.begin(), heads.end(),
                                    [&st](const TOscHead &H) { return H.FFileNo == st.Row.FFileNo; });
    if (found == heads.end()) {
      st.Relist = true;
      throw EKvError(Tr(OscReadTexts::Gone));
    }
    st.Actual = *found;
    st.Anew = !st.Actual.SameEntry(st.Row);
    st.Relist = st.Anew;
    if (st.Limited)
      st.Limit.Setup(st.Actual, st.Options.BlockBytes, st.BeforeText, st.AfterText);
  });
  chain.setFrameSize(OscFrameBytes)
      .msg(Tr("Чтение осциллограммы"))
      .execNext(
          [&st](TIOChain3 *Next, const QList<int> &) {
            TIOChain3readFile *read = CastIOChain3readFile(Next);
            read->setFrameFirst(st.Limited ? st.Limit.FFrameFirst : 0);
            read->setFrameLast(st.Limited ? st.Limit.FFrameLast : st.Actual.FFrameCount);
          },
          {})
      .readFile(Head.FFileNo, 0, recordFile);
  // And right after it: a slot rewritten during the read holds no one record.
  AppendDirectoryRead(chain, dirAfter);
  chain.exec([&st, dirAfter] {
         const std::vector<TOscHead> heads = ParseOscDirectory(LoadFileBytes(dirAfter), st.Options);
         const auto found = std::find_if(heads.begin(), heads.end(),
                                         [&st](const TOscHead &H) { return H.FFileNo == st.Actual.FFileNo; });
         if (found == heads.end() || !found->SameEntry(st.Actual)) {
           st.Relist = true;
           throw EKvError(Tr(OscReadTexts::RewrittenDuringRead));
         }
       })
      .exec(Guarded(this, [&st](TOscHeadFrame *Page) { Page->OscReadDone(st); }))
      .msg(Tr("Готово"))
      // Said last, so that no later status hides it.
      .exec(Guarded(this, [&st](TOscHeadFrame *Page) {
        if (!st.Kept.isEmpty())
          Page->Show(Tr(DamagedSideFileKeptText).arg(st.Kept));
        if (st.Anew)
          Page->Show(Tr(OscReadTexts::RecordedAnew));
      }));
  // However the chain ends, the boxes come back; a slot found changed lists
  // the directory again once this chain is over.
  chain.setOnEnd(Guarded(this, [&st](TOscHeadFrame *Page) {
    Page->cbLimit->setEnabled(true);
    Page->cbEvents->setEnabled(true);
    if (st.Relist)
      QTimer::singleShot(0, Page, [Page] { Page->ReRead(); });
  }));
  try {
    chain.run(FHost.Progress);
  } catch (const EKvError &e) {
    Logger().Error(e.Text());
    Show(e.Text());
    return;
  }
  if (!chain.IsEnded()) {
    cbLimit->setEnabled(false);
    cbEvents->setEnabled(false);
  }
}

QString OscWriteSideFile(const TOscHead &Head, const TOscSource &Source, const QString &EventFile,
                         const QString &SideFile, const std::shared_ptr<const TEventLayout> &Layout) {
  QDir().mkpath(QFileInfo(SideFile).absolutePath());
  // The viewer keeps its notes and channel settings in the same file: only
  // the source and the events are replaced. A file that does not parse is
  // kept whole beside the new one first; one that cannot be kept is not replaced.
  IXXMLDocument doc = NewXMLDocument();
  QString kept;
  if (QFile::exists(SideFile) && !doc->Load(SideFile)) {
    Logger().Error(SideFile + ": " + doc->GetParseError());
    kept = KeepDamagedSideFile(SideFile);
    Logger().Info(QString::fromUtf8(DamagedSideFileKeptText).arg(kept));
    doc = NewXMLDocument();
  }
  if (!doc->GetDocumentElement())
    doc->LoadXML(QStringLiteral("<root/>"));
  SetOscSource(doc, Source);
  if (!EventFile.isEmpty() && QFile::exists(EventFile))
    OscEventsToXml(doc, Head, DecodeEventRecords(LoadFileBytes(EventFile), Layout));
  SaveXMLDocument(doc, SideFile);
  return kept;
}

void TOscHeadFrame::OscReadDone(TReadState &State) {
  const QByteArray record = LoadFileBytes(WorkPath(RecordFile));
  // The record as the slot holds it, under the name its relay and entry get:
  // a copy of another relay, of another entry or naming no relay is never
  // replaced; the same relay's copy of the same entry is, its side file kept.
  TOscHead head = State.Actual;
  head.FFileName = OscCopyName(ProgramPath(QString()), head, State.Unit);
  if (State.Limited) {
    const QByteArray window = record.mid(State.Limit.FFirstOffset);
    SaveFileBytes(ProgramPath(LimitedFile), window);
    TOscHead h;
    h.FFileNo = head.FFileNo;
    h.FFileName = head.FFileName;
    h.FStart = State.Limit.FStart;
    h.FMoment = State.Limit.FTrigger;
    h.FMultiplier = head.FMultiplier;
    h.FLimited = true;
    ConvertToComtrade(h, window, State.Limit.FDurationMs);
  } else {
    ConvertToComtrade(head, record, head.TotalSeconds() * 1000);
  }
  // The side file after the pair: a pair that could not be saved leaves no new file.
  State.Kept = OscWriteSideFile(head, OscSourceOf(head, State.Unit),
                                State.Events ? WorkPath(EventFile) : QString(), ProgramPath(head.FFileName + ".xml"),
                                State.Layout);
  OpenTab(head);
  if (AppIni().ReadBool("osc", "autoSaveAs", false) && FHost.SaveAs)
    FHost.SaveAs();
  // The rows show the copy just saved.
  if (!State.Relist)
    RefreshCopies();
}

void TOscHeadFrame::ConvertToComtrade(const TOscHead &Head, const QByteArray &Record, int DurationMs) {
  const TAppIniFile &ini = AppIni();
  const QString exclude = ini.ReadString("osc", "excludeChar", "-");
  const QChar excludeChar = exclude.isEmpty() ? QLatin1Char('-') : exclude[0];
  TComtradeStream stream;
  stream.LoadFromBytes(Record);
  stream.SetDescriptor(FDescriptor->Root);
  TComtradeConfig config;
  TComtradeData data;
  Logger().Debug("FillConfig");
  stream.FillConfig(config, Head.FFileNo, DurationMs, Head.FStart, Head.FMoment, ini.ReadFloat("comtrade", "factor", 1.0),
                    excludeChar, FHost.PrimaryValues && FHost.PrimaryValues());
  Logger().Debug("FillConfig ready");
  data.SetConfig(&config);
  Logger().Debug("FillData");
  stream.FillData(data, ini.ReadBool("osc", "calcSpread", false), excludeChar);
  Logger().Debug("FillData ready");
  const QString base = ProgramPath(Head.FFileName);
  const QString folder = QFileInfo(base).absolutePath();
  QDir().mkpath(folder);
  if (const QString problem = FolderProblem(folder); !problem.isEmpty())
    throw EKvError(Tr("Папка недоступна для записи") + ": " + folder + ": " + problem);
  config.SavePair(base + ".cfg", data);
}

void TOscHeadFrame::OpenTab(const TOscHead &Head) {
  if (!FHost.OpenOscTab)
    return;
  const QString name = QFileInfo(Head.FFileName).fileName();
  FHost.OpenOscTab(ProgramPath(Head.FFileName + ".dat"), name.mid(13, 6) + QString(6, QLatin1Char(' ')), Head.FFileNo,
                   Head.FFileName, QStringLiteral("OscFrame%1").arg(++FFrameCounter));
}

void TOscHeadFrame::ExportOscDescription(const QString &FileName) {
  if (!FDescriptor || !FDescriptor->Root)
    throw EKvError(Tr("Нет дескриптора"));
  SaveXMLDocument(OscDescription(FDescriptor->Root), FileName);
}
