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
  const int slotCount = AppIni().ReadInteger("osc", "cyclicBufferCount", 32);
  const uint16_t lastFrame = CheckedCast<uint16_t>((16 + 12 * qint64(std::max(0, slotCount)) + 127) / 128);
  const QString file = WorkPath(DirectoryFile);
  TIOChainList3 &chain = gen->newList().ownedBy(this).checkedRead();
  // The first frame alone first, as the device has always been asked; its
  // content is not used.
  chain.setFrameSize(OscFrameBytes)
      .readFile(OscDirectoryFileNo, 0, WorkPath(QStringLiteral("osch0.bin")))
      .execNext([lastFrame](TIOChain3 *Next, const QList<int> &) { CastIOChain3readFile(Next)->setFrameLast(lastFrame); },
                {})
      .readFile(OscDirectoryFileNo, 0, file)
      .exec(Guarded(this, [file](TOscHeadFrame *Page) { Page->ParseDirectory(file); }));
  try {
    chain.run();
  } catch (const EKvError &e) {
    Logger().Error(e.Text());
    Show(e.Text());
  }
}

void TOscHeadFrame::ParseDirectory(const QString &FileName) {
  const TAppIniFile &ini = AppIni();
  TOscDirectoryOptions o;
  o.Cyclic = ini.ReadBool("osc", "cyclic", true);
  o.SlotCount = ini.ReadInteger("osc", "cyclicBufferCount", 32);
  o.MaxOscFlag = ini.ReadInteger("osc", "maxOscFlag", 0) == 1;
  o.BlockBytes = CalcBlockBytes(FDescriptor ? FDescriptor->Root : nullptr);
  o.NamePrefix = FNamePrefix;
  std::vector<TOscHead> heads = ParseOscDirectory(LoadFileBytes(FileName), o, &FDirHead);
  Clear();
  FHeads = std::move(heads);
  sgOscHead->setRowCount(std::max(2, int(FHeads.size()) + 1));
  for (size_t i = 0; i < FHeads.size(); ++i)
    AddRow(int(i) + 1, FHeads[i]);
  FitColumns();
}

void TOscHeadFrame::FitColumns() {
  // The form's widths, widened to the longest text of a column in the grid's font.
  static const int Widths[] = {10, 137, 77, 86, 87, 220, 115};
  for (int c = 0; c < 7; ++c)
    sgOscHead->setColumnWidth(c, std::max(Widths[c], static_cast<QAbstractItemView *>(sgOscHead)->sizeHintForColumn(c)));
}

void TOscHeadFrame::AddRow(int Row, const TOscHead &Head) {
  sgOscHead->SetCells(1, Row, FormatDateTime(QStringLiteral("yyyy-mm-dd hh:nn:ss.zzz"), Head.FStart));
  sgOscHead->SetCells(2, Row, QString::number(Head.TotalSeconds()));
  sgOscHead->SetCells(3, Row, QString::number(Head.FBefore * Head.FMultiplier));
  sgOscHead->SetCells(4, Row, QString::number(Head.FAfter * Head.FMultiplier));
  if (QFile::exists(ProgramPath(Head.FFileName + ".dat"))) {
    sgOscHead->SetCells(5, Row, Head.FFileName);
    // "1.25 сек.": the unit in the interface's language.
    QString duration = OscSavedDuration(ProgramPath(Head.FFileName + ".cfg"));
    if (duration.endsWith(QStringLiteral(" сек.")))
      duration = duration.chopped(4) + Tr("сек.");
    sgOscHead->SetCells(6, Row, duration);
  }
}

void TOscHeadFrame::sgOscHeadDblClick(int Row) {
  if (Row < 1 || Row > int(FHeads.size()))
    return;
  const TOscHead head = FHeads[size_t(Row - 1)];
  if (!cbRead->isChecked() && QFile::exists(ProgramPath(head.FFileName + ".dat")))
    OpenTab(head);
  else
    ReadOscillogram(head);
}

void TOscHeadFrame::ReadOscillogram(const TOscHead &Head) {
  if (FHost.IsLinkIdle && !FHost.IsLinkIdle())
    return;
  TIOChainGen *gen = FHost.ChainGen ? FHost.ChainGen() : nullptr;
  if (!FDescriptor || !FDescriptor->Root || !gen) {
    Show(Tr("Нет дескриптора"));
    return;
  }
  const bool limited = cbLimit->isChecked();
  const bool events = cbEvents->isChecked();
  TOscLimit limit;
  std::shared_ptr<const TEventLayout> layout = FHost.EventLayout ? FHost.EventLayout() : nullptr;
  try {
    const int blockBytes = CalcBlockBytes(FDescriptor->Root);
    if (limited)
      limit.Setup(Head, blockBytes, EditBefore0->text(), EditAfter0->text());
    if (events && (!layout || layout->RecordLength() == 0))
      throw EKvError(Tr("Нет дескриптора"));
  } catch (const EKvError &e) {
    Show(e.Text());
    return;
  }
  const QString eventFile = WorkPath(EventFile), recordFile = WorkPath(RecordFile);
  QFile::remove(eventFile);
  QFile::remove(recordFile);

  TIOChainList3 &chain = gen->newList().ownedBy(this).checkedRead();
  // What the events step needs is taken now, so that it touches nothing of
  // the page; the copy of a damaged side file it keeps is told at the end.
  const QString side = ProgramPath(Head.FFileName + ".xml");
  QString &kept = chain.Keep<QString>();
  if (events) {
    const int ring = std::clamp(AppIni().ReadInteger("event", "eventLogCount", 256), 1, 65535);
    // The events of the oscillogram come from the whole ring, read as the journal reads it.
    chain.msg(Tr("Чтение событий"))
        .setFrameSize(layout->RecordLength())
        .execNext([ring](TIOChain3 *Next, const QList<int> &) { CastIOChain3readFile(Next)->setFrameLimit(uint16_t(ring)); },
                  {})
        .readFile(EventRingFileNo, 3, eventFile)
        .exec([Head, eventFile, side, layout, &kept] { kept = OscEventsToSideFile(Head, eventFile, side, layout); });
  }
  const uint16_t first = limited ? limit.FFrameFirst : 0;
  const uint16_t last = limited ? limit.FFrameLast : Head.FFrameCount;
  chain.setFrameSize(OscFrameBytes)
      .msg(Tr("Чтение осциллограммы"))
      .execNext(
          [first, last](TIOChain3 *Next, const QList<int> &) {
            TIOChain3readFile *read = CastIOChain3readFile(Next);
            read->setFrameFirst(first);
            read->setFrameLast(last);
          },
          {})
      .readFile(Head.FFileNo, 0, recordFile)
      .exec(Guarded(this, [Head, limit, limited](TOscHeadFrame *Page) { Page->OscReadDone(Head, limit, limited); }))
      .msg(Tr("Готово"))
      // Said last, so that no later status hides it.
      .exec(Guarded(this, [&kept](TOscHeadFrame *Page) {
        if (!kept.isEmpty())
          Page->Show(Tr(DamagedSideFileKeptText).arg(kept));
      }));
  // However the chain ends, the boxes come back.
  chain.setOnEnd(Guarded(this, [](TOscHeadFrame *Page) {
    Page->cbLimit->setEnabled(true);
    Page->cbEvents->setEnabled(true);
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

QString OscEventsToSideFile(const TOscHead &Head, const QString &EventFile, const QString &SideFile,
                            const std::shared_ptr<const TEventLayout> &Layout) {
  if (!QFile::exists(EventFile))
    return {};
  const TEventLogItems records = DecodeEventRecords(LoadFileBytes(EventFile), Layout);
  QDir().mkpath(QFileInfo(SideFile).absolutePath());
  // The viewer keeps its notes and channel settings in the same file: only
  // the events are replaced. A file that does not parse is kept whole beside
  // the new one first; one that cannot be kept is not replaced.
  IXXMLDocument doc = NewXMLDocument();
  QString kept;
  if (QFile::exists(SideFile) && !doc->Load(SideFile)) {
    Logger().Error(SideFile + ": " + doc->GetParseError());
    kept = KeepDamagedSideFile(SideFile);
    Logger().Info(QString::fromUtf8(DamagedSideFileKeptText).arg(kept));
    doc = NewXMLDocument();
  }
  OscEventsToXml(doc, Head, records);
  SaveXMLDocument(doc, SideFile);
  return kept;
}

void TOscHeadFrame::OscReadDone(const TOscHead &Head, const TOscLimit &Limit, bool Limited) {
  const QByteArray record = LoadFileBytes(WorkPath(RecordFile));
  if (Limited) {
    const QByteArray window = record.mid(Limit.FFirstOffset);
    SaveFileBytes(ProgramPath(LimitedFile), window);
    TOscHead h;
    h.FFileNo = Head.FFileNo;
    h.FFileName = Head.FFileName;
    h.FStart = Limit.FStart;
    h.FMoment = Limit.FTrigger;
    h.FMultiplier = Head.FMultiplier;
    h.FLimited = true;
    ConvertToComtrade(h, window, Limit.FDurationMs);
  } else {
    ConvertToComtrade(Head, record, Head.TotalSeconds() * 1000);
  }
  OpenTab(Head);
  if (AppIni().ReadBool("osc", "autoSaveAs", false) && FHost.SaveAs)
    FHost.SaveAs();
  // Refresh the row: the saved copy and its duration.
  for (size_t i = 0; i < FHeads.size(); ++i)
    if (FHeads[i].FFileName == Head.FFileName)
      AddRow(int(i) + 1, FHeads[i]);
  FitColumns();
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
