#include "uOscFrame.h"

#include "uAppIniFile.h"
#include "uErrors.h"
#include "uLogger.h"
#include "uMessageSink.h"
#include "uMultiLingual.h"
#include "uNumberFormat.h"
#include "uOscNoteForm.h"
#include "uOscPrint.h"
#include "uOscSetupForm.h"
#include "uOscValueForm.h"
#include "uPrintDialog.h"
#include "uTranslateForms.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QMenu>
#include <QPainter>
#include <QPrinter>
#include <QScrollBar>
#include <QSplitter>
#include <QTableWidget>
#include <QToolBar>
#include <QToolButton>
#include <QWheelEvent>
#include <climits>
#include <cmath>
#include <thread>
#include <tuple>

int TkvOscFrame::PaintBands = 0;

namespace {
// Asked as the title panel's unsaved changes are: yes, no or cancel.
const char *const NotesChangedQuestion = "Заметки осциллограммы %1 не сохранены, сохранить?";
const char *const SideFileSkippedText = "%1: файл настроек не прочитан (%2), взяты настройки по умолчанию";
const char *const SideFileKeptText = "Поврежденный файл сохранен как %1";
} // namespace

std::function<bool(TkvOscFrame &Frame)> TkvOscFrame::SetupOpener = [](TkvOscFrame &Frame) {
  TOscSetupForm Form(&Frame);
  TranslateComponent(MultiLingual(), &Form);
  Form.LoadChannels(Frame.Drawers(), Frame.Events());
  if (Form.exec() != QDialog::Accepted)
    return false;
  Form.ApplyChannels(Frame.Drawers());
  return true;
};
std::function<bool(TkvOscFrame &Frame, TOscNote &Note)> TkvOscFrame::NoteOpener = [](TkvOscFrame &Frame,
                                                                                        TOscNote &Note) {
  TOscNoteForm *Form = TOscNoteForm::Instance();
  std::unique_ptr<TOscNoteForm> Own;
  if (!Form)
    Form = (Own = std::make_unique<TOscNoteForm>(&Frame)).get();
  Form->SetNote(&Note);
  Form->exec();
  // Read before the form forgets the note, which clears the flag.
  const bool Delete = Form->DeleteRequested();
  Form->SetNote(nullptr);
  return Delete;
};
std::function<void(const QString &FileName)> TkvOscFrame::LastSavedHook;

std::function<QString(QWidget *, const QString &, const QString &, const QString &)> TkvOscFrame::OpenDialog =
    [](QWidget *Parent, const QString &Caption, const QString &Folder, const QString &Filter) {
      return QFileDialog::getOpenFileName(Parent, Caption, Folder, Filter);
    };

std::function<QString(QWidget *, const QString &, const QString &, const QString &, QString &)>
    TkvOscFrame::SaveAsDialog = [](QWidget *Parent, const QString &Caption, const QString &Proposed,
                                   const QString &Filter, QString &Encoding) {
      QFileDialog Dialog(Parent, Caption, Proposed, Filter);
      Dialog.setAcceptMode(QFileDialog::AcceptSave);
      Dialog.setDefaultSuffix(QStringLiteral("cfg"));
      Dialog.selectFile(Proposed);
      // The encoding choice sits in the dialog's own grid, below the file type.
      LocalizeFileDetails(&Dialog);
      auto *Choice = new QComboBox(&Dialog);
      Choice->addItems({QStringLiteral("OEM"), QStringLiteral("ANSI")});
      Choice->setCurrentIndex(1);
      if (auto *Grid = qobject_cast<QGridLayout *>(Dialog.layout())) {
        const int Row = Grid->rowCount();
        Grid->addWidget(new QLabel(MultiLingual().Translate(QStringLiteral("Кодировка")), &Dialog), Row, 0);
        Grid->addWidget(Choice, Row, 1);
      }
      if (Dialog.exec() != QDialog::Accepted || Dialog.selectedFiles().isEmpty())
        return QString();
      Encoding = Choice->currentText();
      return Dialog.selectedFiles().first();
    };
QString TkvOscFrame::LastSavedSideFile;

// ---------------------------------------------------------------- TOscPaintBox

TOscPaintBox::TOscPaintBox(TkvOscFrame *Frame, QWidget *Parent) : QWidget(Parent), FFrame(Frame) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TOscPaintBox::paintEvent(QPaintEvent *) {
  // The window has its final size only once it is on the screen: a platform
  // may resize it after showing it, never after its first paint.
  FFrame->PanelPaintShow();
  if (FFrame->IsDirty() || FFrame->PlotImage().size() != size())
    FFrame->PaintBoxPaint();
  QPainter P(this);
  P.drawImage(0, 0, FFrame->PlotImage());
}

void TOscPaintBox::resizeEvent(QResizeEvent *) { FFrame->PanelPaintResize(); }

void TOscPaintBox::mousePressEvent(QMouseEvent *Event) {
  FFrame->PaintBoxMouseDown(Event->button(), Event->modifiers(), Event->position().toPoint());
}

void TOscPaintBox::mouseMoveEvent(QMouseEvent *Event) {
  FFrame->PaintBoxMouseMove(Event->buttons(), Event->position().toPoint());
}

void TOscPaintBox::mouseReleaseEvent(QMouseEvent *Event) {
  if (Event->button() == Qt::LeftButton)
    FFrame->PaintBoxMouseUp(Event->position().toPoint());
}

void TOscPaintBox::wheelEvent(QWheelEvent *Event) {
  const int Step = Event->angleDelta().y() < 0 ? 1 : Event->angleDelta().y() > 0 ? -1 : 0;
  FFrame->ScrollBy(Step, Event->modifiers());
  Event->accept();
}

// ---------------------------------------------------------------- TOscCircleBox

namespace {
// The phasor diagram's square: painted by the frame.
class TOscCircleBox : public QWidget {
public:
  TOscCircleBox(TkvOscFrame *Frame, QWidget *Parent) : QWidget(Parent), FFrame(Frame) {}

protected:
  void paintEvent(QPaintEvent *) override {
    QPainter P(this);
    P.fillRect(rect(), Qt::white);
    FFrame->PaintBoxCircleDiagramPaint(P, std::min(width(), height()));
  }

private:
  TkvOscFrame *FFrame;
};
} // namespace

// ---------------------------------------------------------------- TkvOscFrame

TkvOscFrame::TkvOscFrame(QWidget *Parent) : QFrame(Parent) { BuildControls(); }

TkvOscFrame::~TkvOscFrame() {
  for (TOscDrawer *D : FDrawers)
    delete D;
}

void TkvOscFrame::BuildControls() {
  auto *Layout = new QVBoxLayout(this);
  Layout->setContentsMargins(0, 0, 0, 0);
  Layout->setSpacing(0);
  ToolBar1 = new QToolBar(this);
  ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
  Layout->addWidget(ToolBar1);
  auto Action = [this](const char *Name, const char *Hint, const char *Text) {
    auto *A = new QAction(QString::fromUtf8(Text), this);
    A->setObjectName(QString::fromLatin1(Name));
    A->setToolTip(QString::fromUtf8(Hint));
    return A;
  };
  ActionTimeMinus = Action("ActionTimeMinus", "Уменьшить", "-");
  ActionTimePlus = Action("ActionTimePlus", "Увеличить", "+");
  ActionTimeFit = Action("ActionTimeFit", "По ширине", "<>");
  ActionTime0 = Action("ActionTime0", "Момент 0", "0");
  ActionAmplMinus = Action("ActionAmplMinus", "Уменьшить", "-");
  ActionAmplPlus = Action("ActionAmplPlus", "Увеличить", "+");
  ActionRefresh = Action("ActionRefresh", "Обновить", "F5");
  ActionRefresh->setShortcut(QKeySequence(Qt::Key_F5));
  ActionDuration = Action("ActionDuration", "Замер времени", "|<->|");
  ActionDuration->setEnabled(false);
  connect(ActionTimeMinus, &QAction::triggered, this, &TkvOscFrame::ActionTimeMinusExecute);
  connect(ActionTimePlus, &QAction::triggered, this, &TkvOscFrame::ActionTimePlusExecute);
  connect(ActionTimeFit, &QAction::triggered, this, &TkvOscFrame::ActionTimeFitExecute);
  connect(ActionTime0, &QAction::triggered, this, &TkvOscFrame::ActionTime0Execute);
  connect(ActionAmplMinus, &QAction::triggered, this, &TkvOscFrame::ActionAmplMinusExecute);
  connect(ActionAmplPlus, &QAction::triggered, this, &TkvOscFrame::ActionAmplPlusExecute);
  connect(ActionRefresh, &QAction::triggered, this, &TkvOscFrame::ActionRefreshExecute);
  connect(ActionDuration, &QAction::triggered, this, &TkvOscFrame::ActionDurationExecute);

  auto Label = [this](const char *Text) { ToolBar1->addWidget(new QLabel(QString::fromUtf8(Text), this)); };
  Label("Время");
  ToolBar1->addAction(ActionTimeMinus);
  ToolBar1->addAction(ActionTimePlus);
  auto *Fit = new QToolButton(this);
  Fit->setDefaultAction(ActionTimeFit);
  auto *PopupMenuTime = new QMenu(Fit);
  PopupMenuTime->addActions({ActionTime0, ActionTimeFit});
  Fit->setMenu(PopupMenuTime);
  Fit->setPopupMode(QToolButton::MenuButtonPopup);
  ToolBar1->addWidget(Fit);
  EditTimeInterval = new QLineEdit(this);
  EditTimeInterval->setReadOnly(true);
  EditTimeInterval->setFixedWidth(61);
  ToolBar1->addWidget(EditTimeInterval);
  Label("Амплитуда");
  ToolBar1->addAction(ActionAmplMinus);
  ToolBar1->addAction(ActionAmplPlus);
  EditAmplInterval = new QLineEdit(this);
  EditAmplInterval->setReadOnly(true);
  EditAmplInterval->setFixedWidth(70);
  ToolBar1->addWidget(EditAmplInterval);
  auto *Up = new QToolButton(this), *Down = new QToolButton(this);
  Up->setArrowType(Qt::UpArrow);
  Down->setArrowType(Qt::DownArrow);
  connect(Up, &QToolButton::clicked, this, [this] { ZoomHeights(+1); });
  connect(Down, &QToolButton::clicked, this, [this] { ZoomHeights(-1); });
  ToolBar1->addWidget(Up);
  ToolBar1->addWidget(Down);
  auto Check = [this](const char *Name, const char *Text) {
    auto *C = new QCheckBox(QString::fromUtf8(Text), this);
    C->setObjectName(QString::fromLatin1(Name));
    ToolBar1->addWidget(C);
    return C;
  };
  cbVectorDiagram = Check("cbVectorDiagram", "круговая диаграмма");
  cbSingleAxis = Check("cbSingleAxis", "одна ось");
  cbOscValueForm = Check("cbOscValueForm", "Значения");
  cbSelectedOnly = Check("cbSelectedOnly", "Отмеченные");
  ToolBar1->addAction(ActionDuration);
  LabelFileName = new QLabel(MultiLingual().Translate(QStringLiteral("без имени")), this);
  LabelFileName->setObjectName(QStringLiteral("LabelFileName"));
  ToolBar1->addWidget(LabelFileName);
  cbEqualValue = Check("cbEqualValue", "=");
  connect(cbSingleAxis, &QCheckBox::clicked, this, [this] { Rebuild(), Repaint(); });
  connect(cbSelectedOnly, &QCheckBox::clicked, this, [this] {
    FitChannelHeights();
    Rebuild();
    Repaint();
  });
  connect(cbVectorDiagram, &QCheckBox::clicked, this, [this](bool On) {
    Splitter->setSizes({width() - (On ? FPhasorPanelWidth : 1), On ? FPhasorPanelWidth : 1});
    PanelEastResize();
  });
  connect(cbEqualValue, &QCheckBox::clicked, this, [this] { PaintBoxCircleDiagram->update(); });
  // cbOscValueFormClick: the value window follows the box.
  connect(cbOscValueForm, &QCheckBox::clicked, this, [this](bool On) {
    TOscValueForm *Values = TOscValueForm::Instance();
    if (!Values)
      return;
    if (!On) {
      Values->hide();
      return;
    }
    Values->SetOscFrame(this);
    Values->show();
    TimeReadout();
  });

  Splitter = new QSplitter(Qt::Horizontal, this);
  Layout->addWidget(Splitter, 1);
  auto *PanelImage = new QWidget(Splitter);
  auto *ImageLayout = new QHBoxLayout(PanelImage);
  ImageLayout->setContentsMargins(0, 0, 0, 0);
  ImageLayout->setSpacing(0);
  PanelLeft = new QWidget(PanelImage);
  PanelLeft->setObjectName(QStringLiteral("PanelLeft"));
  PanelLeft->setFixedWidth(TOscDrawer::PanelColumns(PanelLeft->font()).Width);
  ImageLayout->addWidget(PanelLeft);
  auto *PanelPaint = new QWidget(PanelImage);
  auto *PaintLayout = new QVBoxLayout(PanelPaint);
  PaintLayout->setContentsMargins(0, 0, 0, 0);
  PaintLayout->setSpacing(0);
  PaintBox = new TOscPaintBox(this, PanelPaint);
  PaintBox->setObjectName(QStringLiteral("PaintBox"));
  PaintLayout->addWidget(PaintBox, 1);
  ScrollBarHorz = new QScrollBar(Qt::Horizontal, PanelPaint);
  ScrollBarHorz->setObjectName(QStringLiteral("ScrollBarHorz"));
  PaintLayout->addWidget(ScrollBarHorz);
  ImageLayout->addWidget(PanelPaint, 1);
  ScrollBarVert = new QScrollBar(Qt::Vertical, PanelImage);
  ScrollBarVert->setObjectName(QStringLiteral("ScrollBarVert"));
  ImageLayout->addWidget(ScrollBarVert);
  connect(ScrollBarHorz, &QScrollBar::valueChanged, this, [this](int V) {
    if (V == FView.ScrollSample)
      return;
    FView.SetScroll(V);
    TOscRuler::ClearList(LevelCursors, nullptr);
    AmplReadout();
    Repaint();
  });
  connect(ScrollBarVert, &QScrollBar::valueChanged, this, [this](int V) {
    FFirstDrawer = V;
    LayoutLabels();
    Repaint();
  });

  PanelEast = new QWidget(Splitter);
  PanelEast->setObjectName(QStringLiteral("PanelEast"));
  PanelEast->setMinimumWidth(1);
  auto *EastLayout = new QVBoxLayout(PanelEast);
  EastLayout->setContentsMargins(0, 0, 0, 0);
  PaintBoxCircleDiagram = new TOscCircleBox(this, PanelEast);
  PaintBoxCircleDiagram->setObjectName(QStringLiteral("PaintBoxCircleDiagram"));
  EastLayout->addWidget(PaintBoxCircleDiagram);
  sgDiagram = new QTableWidget(0, 3, PanelEast);
  sgDiagram->setObjectName(QStringLiteral("sgDiagram"));
  sgDiagram->horizontalHeader()->hide();
  sgDiagram->verticalHeader()->hide();
  FitDiagramColumns();
  EastLayout->addWidget(sgDiagram, 1);
  Splitter->setStretchFactor(0, 1);
  connect(Splitter, &QSplitter::splitterMoved, this, [this] { PanelEastResize(); });
}

void TkvOscFrame::Initialize() {
  FFileName.clear();
  FCommon.Frame = this;
  FCommon.View = &FView;
  FCommon.Events = &FEvents;
  FCommon.AnalogStrip = QRect(0, 0, PaintBox->width(), 25);
  FCommon.DiscreteStrip = QRect(0, 0, PaintBox->width(), 25);
  FCommon.PlotRect = PaintBox->rect();
  FCommon.PlotRect.setRight(width() - PanelLeft->width());
  FCommon.GridColor = Qt::black;
  FCommon.BackColor = Qt::white;
  FCommon.RmsPeriods = AppIni().ReadInteger(QStringLiteral("osc"), QStringLiteral("rms"), 1);
  FBitmapFrames = AppIni().ReadBool(QStringLiteral("osc"), QStringLiteral("bitmapFrames"), false);
  // The phasor panel starts collapsed.
  Splitter->setSizes({std::max(width(), 100), 1});
  FPhasorPanelWidth = 200;
  if (TOscValueForm *Values = TOscValueForm::Instance())
    Values->SetOscFrame(this);
}

void TkvOscFrame::LoadComtradeFile(const QString &FileName) {
  if (FLoaded)
    throw EKvError("cannot read more then 1 comtrade file");
  struct TLoading {
    bool &Flag;
    ~TLoading() { Flag = false; }
  } Loading{FLoading = true};
  const QFileInfo Info(FileName);
  const QString Base = Info.path() + '/' + Info.completeBaseName();
  QString Warning;
  FConfig.LoadFromFile(Base + QStringLiteral(".cfg"), Warning);
  if (!Warning.isEmpty())
    Logger().Error(Base + QStringLiteral(".cfg: ") + Warning);
  // The channels' caches are made as the samples are read.
  TOscStripBuild Caches;
  FData.LoadFromFile(Base + QStringLiteral(".dat"), &FConfig, &Caches);
  if (FData.SampleCount() < 2)
    throw EKvFormat(QStringLiteral("%1: too few samples (%2) to show").arg(Base + ".dat").arg(FData.SampleCount()));
  // A cut record is still worth seeing, but not without a word.
  if (FData.SampleCount() < FConfig.SampleCount()) {
    const QString Note = MultiLingual()
                             .Translate(QStringLiteral("%1: строк данных %2, объявлено %3"))
                             .arg(Base + QStringLiteral(".dat"))
                             .arg(FData.SampleCount())
                             .arg(FConfig.SampleCount());
    Logger().Error(Note);
    Notice(Note);
  }
  FView.TimeScale = FView.AmplitudeScale = 1.0;
  FFileName = Base + QStringLiteral(".dat");
  FView.SetRecord(FData.SampleCount(), FConfig.Rate(0).Samples, FConfig.GetTriggerOffsetMs());
  setWindowTitle(QStringLiteral("Comtrade ") + FFileName);

  for (int i = 0; i < FConfig.AnalogCount(); ++i)
    FDrawers.push_back(TOscDrawer::CreateWithPanel(PanelLeft, &FCommon, TOscDrawer::dkAnalog,
                                                   FConfig.AnalogChannel(i).Id, i));
  for (int i = 0; i < FConfig.DigitalCount(); ++i)
    FDrawers.push_back(TOscDrawer::CreateWithPanel(PanelLeft, &FCommon, TOscDrawer::dkDiscrete,
                                                   FConfig.DigitalChannel(i).Id, i));
  Caches.Finish(FData);
  for (TOscDrawer *D : FDrawers)
    D->Cache() = std::move(D->IsAnalog() ? Caches.Analog(D->Index) : Caches.Digital(D->Index));
  for (TOscDrawer *D : FDrawers) {
    D->SetData(FData);
    connect(D, &TOscDrawer::PanelClicked, this, [this](TOscDrawer *Clicked) {
      const bool On = !Clicked->Selected;
      for (TOscDrawer *Other : FDrawers)
        Other->SetSelected(Other == Clicked && On);
    });
    connect(D, &TOscDrawer::CheckClicked, this, [this] {
      LayoutLabels();
      Repaint();
    });
  }
  const bool HasSideFile = LoadViewSettings();
  FView.PlotWidth = PaintBox->width();
  FView.PlotHeight = PaintBox->height();
  if (HasSideFile) {
    FitChannelHeights();
    Rebuild();
    ZoomHeights(0);
  }
  FView.ScrollSample = 0;
  Rebuild();
  FLoaded = true;
  if (!HasSideFile) {
    for (TOscDrawer *D : FDrawers)
      D->SetChecked(false);
    cbSelectedOnly->setChecked(true);
    RunSetup();
  } else {
    PanelPaintResize();
  }
  cbSelectedOnly->setChecked(true);
  FitChannelHeights();
  ActionTimeFitExecute();
  // Hidden, the plot has no size of its own yet: what was fitted is fitted again once it is shown.
  FFitWhenShown = !PaintBox->isVisible();
  LabelFileName->setToolTip(FFileName);
  LabelFileName->setText(QFileInfo(FFileName).fileName());
}

bool TkvOscFrame::LoadViewSettings() {
  std::vector<TOscChannelSettings *> Channels;
  for (TOscDrawer *D : FDrawers)
    Channels.push_back(&D->Settings);
  TOscViewSettings View;
  TOscSideFileSkip Skipped;
  const QString Own = OscSideFileName(FFileName);
  if (!LoadOscSideFile(Own, LastSavedSideFile, FConfig, FData.SampleCount(), View, Channels, FEvents, &Skipped)) {
    if (!Skipped.Path.isEmpty())
      Notice(MultiLingual().Translate(QString::fromUtf8(SideFileSkippedText)).arg(Skipped.Path, Skipped.Reason));
    // Only the record's own side file is ever written over.
    if (Skipped.Path == Own)
      FDamagedSideFile = Own;
    return false;
  }
  FView.AnalogHeight = View.AnalogHeight;
  FPhasorPanelWidth = View.PhasorPanelWidth;
  for (TOscDrawer *D : FDrawers)
    D->SetChecked(D->Settings.Checked);
  // A fresh copy's side file names its relay and events only: its channels are chosen as for a new record.
  return View.HasLook;
}

void TkvOscFrame::SaveViewSettings() {
  std::vector<const TOscChannelSettings *> Channels;
  for (const TOscDrawer *D : FDrawers)
    Channels.push_back(&D->Settings);
  const QString Name = OscSideFileName(FFileName);
  QString Kept;
  if (!FDamagedSideFile.isEmpty() && QFileInfo::exists(FDamagedSideFile))
    Kept = KeepDamagedSideFile(FDamagedSideFile);
  SaveOscSideFile(Name, {FView.AnalogHeight, FPhasorPanelWidth}, Channels, FEvents);
  FNotesChanged = false;
  if (!Kept.isEmpty()) {
    const QString Text = MultiLingual().Translate(QString::fromUtf8(SideFileKeptText)).arg(Kept);
    Logger().Info(Text);
    Notice(Text);
  }
  FDamagedSideFile.clear();
  LastSavedSideFile = Name;
  if (LastSavedHook)
    LastSavedHook(Name);
}

bool TkvOscFrame::QueryClose() {
  if (!FNotesChanged)
    return true;
  const QString Text = MultiLingual().Translate(QString::fromUtf8(NotesChangedQuestion)).arg(FFileName);
  return AskSaveBeforeClose(Text, [this] {
    SaveViewSettings();
    return true;
  });
}

void TkvOscFrame::Notice(const QString &Text) {
  if (FLoading)
    FLoadNote = FLoadNote.isEmpty() ? Text : FLoadNote + QStringLiteral("; ") + Text;
  else if (FStatusHook)
    FStatusHook(Text);
}

void TkvOscFrame::SaveComtradeAs(const QString &FileName, const QString &Encoding) {
  FConfig.SavePair(FileName, FData, Encoding);
}

bool TkvOscFrame::SaveComtradeAsDialog() {
  QString Encoding = QStringLiteral("ANSI");
  const QFileInfo Info(FFileName);
  const QString Name = SaveAsDialog(this, QString::fromUtf8("Сохранить файл comtrade как"),
                                    Info.path() + '/' + Info.completeBaseName() + QStringLiteral(".cfg"),
                                    QStringLiteral("*.cfg"), Encoding);
  if (Name.isEmpty())
    return false;
  SaveComtradeAs(Name, Encoding);
  Repaint();
  return true;
}

bool TkvOscFrame::IsDrawn(const TOscDrawer *D) const { return !cbSelectedOnly->isChecked() || D->Checked(); }

void TkvOscFrame::Rebuild() {
  FView.PlotWidth = PaintBox->width();
  FView.PlotHeight = PaintBox->height();
  if (FView.Relayout() && FLoaded) {
    TOscRuler::ClearList(TimeCursors, nullptr);
    TOscRuler::ClearList(LevelCursors, nullptr);
    FUnderMouse = nullptr;
    TimeReadout();
    AmplReadout();
    ActionListUpdate();
  }
  FCommon.AnalogStrip = QRect(0, 0, FView.PlotWidth, FView.AnalogHeight);
  FCommon.DiscreteStrip = QRect(0, 0, FView.PlotWidth, FView.DiscreteHeight);
  FCommon.PlotRect = PaintBox->rect();
  UpdateScrollBars();
  LayoutLabels();
}

void TkvOscFrame::UpdateScrollBars() {
  const QSignalBlocker H(ScrollBarHorz), V(ScrollBarVert);
  ScrollBarHorz->setRange(0, FView.MaxScroll());
  ScrollBarHorz->setPageStep(std::max(1, FView.VisibleSamples));
  ScrollBarHorz->setSingleStep(TOscView::WheelSamples);
  ScrollBarHorz->setValue(FView.ScrollSample);
  ScrollBarVert->setRange(0, std::max(0, int(FDrawers.size()) - 1));
  ScrollBarVert->setValue(FFirstDrawer);
}

void TkvOscFrame::LayoutLabels() {
  int Y = 0;
  const bool Single = cbSingleAxis->isChecked();
  for (size_t i = 0; i < FDrawers.size(); ++i) {
    TOscDrawer *D = FDrawers[i];
    const bool Shown = int(i) >= FFirstDrawer && IsDrawn(D) && (!Single || !D->IsAnalog()) && Y < PaintBox->height();
    D->SetPanelVisible(Shown);
    if (!Shown)
      continue;
    const int H = D->IsAnalog() ? FView.AnalogHeight : FView.DiscreteHeight;
    D->Panel->resize(PanelLeft->width(), std::min(80, H));
    D->SetPanelTop(Y + (Single ? FView.AnalogHeight : 0));
    D->SetLabelRows(D->IsAnalog() ? FView.LabelRows() : 0);
    Y += H;
  }
}

void TkvOscFrame::Repaint() {
  FDirty = true;
  PaintBox->update();
  PaintBoxCircleDiagram->update();
}

void TkvOscFrame::ClearCursors(bool Time, bool Level) {
  QPainter P(&FImage);
  if (Time)
    TOscRuler::ClearList(TimeCursors, FImage.isNull() ? nullptr : &P);
  if (Level)
    TOscRuler::ClearList(LevelCursors, FImage.isNull() ? nullptr : &P);
  FUnderMouse = nullptr;
  PaintBox->update();
  ActionListUpdate();
}

void TkvOscFrame::DrawCursor(TOscRuler &R) {
  if (FImage.isNull())
    return;
  QPainter P(&FImage);
  P.setFont(PaintBox->font());
  R.Draw(P, FView.SampleX(FView.ScrollSample), 0);
  double Value = 0;
  if (!R.IsVertical() && ValueAtY(R.Screen1, Value))
    static_cast<THorzRuler &>(R).DrawLabel(P, Value);
  PaintBox->update();
}

void TkvOscFrame::PaintBoxMouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, QPoint Point) {
  if (!FLoaded || (Button != Qt::LeftButton && Button != Qt::RightButton))
    return;
  FUnderMouse = TOscRuler::HitTest(TimeCursors, Point);
  if (!FUnderMouse)
    FUnderMouse = TOscRuler::HitTest(LevelCursors, Point);
  if (!FUnderMouse && PaintBoxNoteDown(Button, Point))
    return;
  if (!FUnderMouse) {
    if (Shift & Qt::ControlModifier) {
      // A note on the channel under the mouse, named after it; it follows the
      // mouse until the button is released.
      const int Index = DrawerIndexAtY(Point);
      if (Index < 0)
        return;
      TOscDrawer &D = *FDrawers[size_t(Index)];
      auto Note = std::make_unique<TOscNote>(D.Name);
      Note->Moment = FView.ScrollSample + int(std::nearbyint(Point.x() / FView.TimeScale));
      FDragNote = Note.get();
      FDragDrawer = &D;
      FBand = QLine();
      D.Settings.Notes.push_back(std::move(Note));
      FNotesChanged = true;
      Repaint();
      return;
    }
    if (Shift & Qt::ShiftModifier) {
      if (LevelCursors.size() >= 2)
        ClearCursors(false, true);
      auto R = std::make_unique<THorzRuler>(&FCommon);
      R->SetPosition(Point);
      LevelCursors.push_back(std::move(R));
      DrawCursor(*LevelCursors.back());
      FUnderMouse = LevelCursors.back().get();
    } else {
      // A third time cursor replaces the two.
      if (TimeCursors.size() >= 2)
        ClearCursors(true, false);
      auto R = std::make_unique<TVertRuler>(&FCommon);
      R->SetPosition(Point, FView.ScrollSample, FView.TimeScale);
      TimeCursors.push_back(std::move(R));
      DrawCursor(*TimeCursors.back());
      FUnderMouse = TimeCursors.back().get();
    }
  }
  if (FUnderMouse->IsVertical()) {
    TimeReadout();
    PaintBoxCircleDiagram->update();
  }
  else
    AmplReadout();
  ActionListUpdate();
}

void TkvOscFrame::PaintBoxMouseMove(Qt::MouseButtons Buttons, QPoint Point) {
  if (FDragNote && (Buttons & Qt::LeftButton) && !FImage.isNull()) {
    DrawBand(Point);
    return;
  }
  if (!FLoaded || !(Buttons & Qt::LeftButton) || !FUnderMouse || FImage.isNull())
    return;
  {
    QPainter P(&FImage);
    FUnderMouse->Erase(P);
  }
  if (FUnderMouse->IsVertical()) {
    static_cast<TVertRuler *>(FUnderMouse)->SetPosition(Point, FView.ScrollSample, FView.TimeScale);
    DrawCursor(*FUnderMouse);
    TimeReadout();
    PaintBoxCircleDiagram->update();
  } else {
    FUnderMouse->SetPosition(Point);
    DrawCursor(*FUnderMouse);
    AmplReadout();
  }
}

void TkvOscFrame::ActionListUpdate() {
  ActionDuration->setEnabled(TimeCursors.size() == 2 && SelectedDrawer() != nullptr);
}

void TkvOscFrame::ActionDurationExecute() {
  TOscDrawer *D = SelectedDrawer();
  if (TimeCursors.size() != 2 || !D)
    return;
  const auto &A = static_cast<const TVertRuler &>(*TimeCursors[0]);
  const auto &B = static_cast<const TVertRuler &>(*TimeCursors[1]);
  const double Rate = FView.Rate();
  auto Ms = [&](int Sample) { return int(std::nearbyint(Sample * 1000.0 / Rate)) - FView.TriggerOffsetMs(); };
  auto Note = std::make_unique<TOscNote2>(QStringLiteral("%1 ms").arg(Ms(B.Sample) - Ms(A.Sample)));
  Note->Moment = int(std::nearbyint(A.XBefore / FView.TimeScale));
  Note->Moment2 = int(std::nearbyint(B.XBefore / FView.TimeScale));
  Note->Dy = 10;
  D->Settings.Notes.push_back(std::move(Note));
  FNotesChanged = true;
  ClearCursors(true, false);
  TimeReadout();
  Repaint();
}

int TkvOscFrame::DrawerIndexAtY(QPoint Point) const {
  const int H = FView.AnalogHeight / 2;
  for (size_t i = 0; i < FDrawers.size(); ++i) {
    const TOscDrawer *D = FDrawers[i];
    if (D->IsAnalog() && IsDrawn(D) && D->Panel && D->Panel->isVisible() && D->CenterY - H < Point.y() &&
        Point.y() < D->CenterY + H)
      return int(i);
  }
  return -1;
}

bool TkvOscFrame::ValueAtY(QPoint Point, double &Value) const {
  const int Index = DrawerIndexAtY(Point);
  if (Index < 0)
    return false;
  Value = ValueAtOffset(Index, Point.y() - FDrawers[size_t(Index)]->CenterY);
  return true;
}

double TkvOscFrame::ValueAtOffset(int DrawerIndex, int DY) const {
  const TOscDrawer &D = *FDrawers.at(size_t(DrawerIndex));
  const TComtradeAnalogChannel &Ch = FConfig.AnalogChannel(D.Index);
  // The channel's b as every sample has it: a value cursor on a curve reads
  // what a time cursor reads there.
  return (-DY / D.Factor() / FView.AmplitudeScale / D.AmplFactor) * Ch.A + Ch.B;
}

QString TkvOscFrame::TimeText(const TVertRuler &Cursor) const {
  const double Seconds = (FData.GetTimeStamp(Cursor.Sample) * FConfig.TimeMult() / 1000.0 - FView.TriggerOffsetMs()) / 1000.0;
  return QString::asprintf("%5.3f", Seconds);
}

QString TkvOscFrame::DeltaText(const TVertRuler &A, const TVertRuler &B) const {
  const double Ta = FData.GetTimeStamp(A.Sample) * FConfig.TimeMult() / 1e6;
  const double Tb = FData.GetTimeStamp(B.Sample) * FConfig.TimeMult() / 1e6;
  return QString::asprintf("%5.3f", std::abs(Tb - Ta));
}

std::vector<TkvOscFrame::TPhasor> TkvOscFrame::Phasors() const {
  std::vector<TPhasor> Out;
  if (!FLoaded)
    return Out;
  const int S = TimeCursors.size() == 1 ? static_cast<const TVertRuler &>(*TimeCursors[0]).Sample : FView.ScrollSample;
  int Base = 0;
  for (TOscDrawer *D : FDrawers)
    if (D->IsAnalog() && D->Checked()) {
      const int A = D->AngleAt(S);
      if (A >= 0 && D->Settings.BaseVector)
        Base = A;
    }
  const int H = int(std::nearbyint(FView.Rate() * FCommon.RmsPeriods * 1.0 / FConfig.LineFrequency() / 2.0));
  // The same window as the read-outs: inside the record, no gap.
  const bool Inside = S - H + 1 >= 0 && S + H < FView.LastSample();
  std::vector<double> Rms;
  double M = 0.0;
  for (TOscDrawer *D : FDrawers)
    if (D->IsAnalog() && D->Checked()) {
      TPhasor Row;
      Row.Drawer = D;
      Out.push_back(Row);
      Rms.push_back(Inside ? FData.GetRms(D->Index, S - H + 1, S + H) : std::nan(""));
      if (!std::isnan(Rms.back()))
        M = std::max(M, Rms.back());
    }
  for (size_t r = 0; r < Out.size(); ++r) {
    const int A = Out[r].Drawer->AngleAt(S);
    if (A < 0 || M == 0.0 || std::isnan(Rms[r]))
      continue;
    Out[r].HasVector = true;
    Out[r].Angle = A - Base;
    Out[r].Length = (cbEqualValue->isChecked() ? M : Rms[r]) / M;
    Out[r].Value = FormatValue(Rms[r]);
  }
  return Out;
}

void TkvOscFrame::PaintBoxCircleDiagramPaint(QPainter &P, int Side) {
  if (FDrawers.empty() || !cbVectorDiagram->isChecked())
    return;
  const std::vector<TPhasor> Rows = Phasors();
  sgDiagram->setRowCount(int(Rows.size()));
  for (size_t r = 0; r < Rows.size(); ++r) {
    const QString Texts[3] = {Rows[r].Drawer->Name, Rows[r].HasVector ? QString::number(Rows[r].Angle) : QString(),
                              Rows[r].Value};
    for (int c = 0; c < 3; ++c) {
      if (!sgDiagram->item(int(r), c))
        sgDiagram->setItem(int(r), c, new QTableWidgetItem);
      sgDiagram->item(int(r), c)->setText(Texts[c]);
    }
  }
  // The circle leaves room for its axis labels, whole, inside the box.
  const QFontMetrics M(P.font());
  const int Cx = Side / 2, Cy = Side / 2;
  const int R = std::max(10, std::min(Cx - M.horizontalAdvance(QStringLiteral("180")) - 3, Cy - M.height() - 2));
  P.setPen(QPen(QColor(0x80, 0x80, 0x80), 1));
  P.drawEllipse(QPoint(Cx, Cy), R, R);
  P.drawLine(Cx - R, Cy, Cx + R, Cy);
  P.drawLine(Cx, Cy - R, Cx, Cy + R);
  P.drawText(Cx + 2, Cy - R - 1 - M.descent(), QStringLiteral("90"));
  P.drawText(Cx - R - 1 - M.horizontalAdvance(QStringLiteral("180")), Cy + M.ascent() / 2, QStringLiteral("180"));
  P.drawText(Cx + 2, Cy + R + 1 + M.ascent(), QStringLiteral("270"));
  P.drawText(Cx + R + 2, Cy + M.ascent() / 2, QStringLiteral("0"));
  for (const TPhasor &Row : Rows) {
    if (!Row.HasVector)
      continue;
    // Angles grow counter-clockwise from the right and the base vector lies
    // at 180. The angle is the delay to the next rising crossing, so a
    // channel that lags the base by d is drawn d clockwise from it.
    const double Rad = (180 - Row.Angle) * M_PI / 180.0;
    const QPointF Tip(Cx + R * Row.Length * std::cos(Rad), Cy - R * Row.Length * std::sin(Rad));
    QPen Pen(ColorFromStored(Row.Drawer->Settings.Color), std::max(Row.Drawer->Settings.PenWidth, 1));
    P.setPen(Pen);
    P.drawLine(QPointF(Cx, Cy), Tip);
    const double Back = Rad + M_PI;
    for (double Side2 : {-0.35, 0.35})
      P.drawLine(Tip, Tip + QPointF(8 * std::cos(Back + Side2), -8 * std::sin(Back + Side2)));
  }
}

void TkvOscFrame::TimeReadout() {
  const int H = int(std::nearbyint(FView.Rate() * FCommon.RmsPeriods / FConfig.LineFrequency() / 2));
  auto Under = [this](const TOscDrawer &D, const TVertRuler &C) {
    // Between the two samples the cursor lies between, linearly.
    const double V0 = FData.GetAnalogValue(D.Index, C.SampleBefore);
    const double V1 = FData.GetAnalogValue(D.Index, std::min(C.SampleAfter, FView.LastSample()));
    const double T = C.XAfter == C.XBefore ? 0.0 : double(C.P1.x() - C.XBefore) / (C.XAfter - C.XBefore);
    const double V = V0 + (V1 - V0) * T;
    return std::isnan(V) ? QString() : FormatValue(V);
  };
  for (TOscDrawer *D : FDrawers) {
    if (!D->IsAnalog())
      continue;
    QString V1, V2, Rms, Harmonic;
    if (TimeCursors.size() >= 1)
      V1 = Under(*D, static_cast<const TVertRuler &>(*TimeCursors[0]));
    if (TimeCursors.size() >= 2)
      V2 = Under(*D, static_cast<const TVertRuler &>(*TimeCursors[1]));
    if (TimeCursors.size() == 1) {
      const int S = static_cast<const TVertRuler &>(*TimeCursors[0]).Sample;
      if (S - H + 1 >= 0 && S + H < FView.LastSample()) {
        const double R = FData.GetRms(D->Index, S - H + 1, S + H);
        const double F = FData.GetFirstHarmonic(D->Index, S - H + 1, S + H);
        if (!std::isnan(R))
          Rms = FormatValue(R);
        if (!std::isnan(F))
          Harmonic = FormatValue(F);
      }
    }
    D->SetValueTexts(V1, V2, Rms, Harmonic);
    TOscValueForm *Values = TOscValueForm::Instance();
    if (cbOscValueForm->isChecked() && Values && Values->OscFrame() == this)
      Values->SetRow(D->Index + 1, D->Name, V1, V2, Rms);
  }
  if (TimeCursors.size() == 2)
    EditTimeInterval->setText(DeltaText(static_cast<const TVertRuler &>(*TimeCursors[0]),
                                        static_cast<const TVertRuler &>(*TimeCursors[1])));
  else if (TimeCursors.size() == 1)
    EditTimeInterval->setText(TimeText(static_cast<const TVertRuler &>(*TimeCursors[0])));
  else
    EditTimeInterval->clear();
}

void TkvOscFrame::AmplReadout() {
  double A = 0, B = 0;
  if (LevelCursors.size() == 1 && ValueAtY(LevelCursors[0]->Screen1, A)) {
    EditAmplInterval->setText(FormatValue(A));
  } else if (LevelCursors.size() == 2 && DrawerIndexAtY(LevelCursors[0]->Screen1) >= 0 &&
             DrawerIndexAtY(LevelCursors[0]->Screen1) == DrawerIndexAtY(LevelCursors[1]->Screen1) &&
             ValueAtY(LevelCursors[0]->Screen1, A) && ValueAtY(LevelCursors[1]->Screen1, B)) {
    EditAmplInterval->setText(FormatValue(A - B));
  } else {
    EditAmplInterval->clear();
  }
}

void TkvOscFrame::PanelPaintResize() {
  if (!FLoaded)
    return;
  Rebuild();
  ZoomHeights(0);
}

void TkvOscFrame::PanelPaintShow() {
  if (!FLoaded || !FFitWhenShown)
    return;
  FFitWhenShown = false;
  FitChannelHeights();
  ActionTimeFitExecute();
}

void TkvOscFrame::PanelEastResize() {
  if (PanelEast->width() <= PanelEast->minimumWidth())
    return;
  PaintBoxCircleDiagram->setFixedHeight(PanelEast->width());
  FPhasorPanelWidth = PanelEast->width();
  FitDiagramColumns();
  PaintBoxCircleDiagram->update();
}

void TkvOscFrame::FitDiagramColumns() {
  // The angle and the value whole in the table's font, the name in the rest.
  const QFontMetrics M(sgDiagram->font());
  const int Angle = M.horizontalAdvance(QStringLiteral("-360")) + 12;
  const int Value = M.horizontalAdvance(QStringLiteral("10000.00")) + 12;
  sgDiagram->setColumnWidth(1, Angle);
  sgDiagram->setColumnWidth(2, Value);
  sgDiagram->setColumnWidth(0, std::max(40, PanelEast->width() - Angle - Value - 6));
}

void TkvOscFrame::ZoomHeights(int Step) {
  FView.ZoomHeights(Step);
  Rebuild();
  Repaint();
}

void TkvOscFrame::FitChannelHeights() {
  int Shown = 0;
  for (const TOscDrawer *D : FDrawers)
    Shown += IsDrawn(D) ? 1 : 0;
  // The strips share the plot with the row of the axis numbers.
  FView.PlotHeight = PaintBox->height() - TimeLabelHeight();
  FView.FitChannelHeights(Shown);
  FView.PlotHeight = PaintBox->height();
}

int TkvOscFrame::TimeLabelHeight() const { return QFontMetrics(PaintBox->font()).height() + 2; }

void TkvOscFrame::ScrollBy(int Step, Qt::KeyboardModifiers Shift) {
  const bool Ctrl = Shift & Qt::ControlModifier, Sh = Shift & Qt::ShiftModifier;
  if (Ctrl && Sh) {
    ZoomHeights(Step);
  } else if (Ctrl) {
    if (Step > 0)
      ActionTimePlusExecute();
    else if (Step < 0)
      ActionTimeMinusExecute();
  } else if (Sh) {
    Logger().Debug(QString::asprintf("ScrollBarVert %d %d %d %d", ScrollBarVert->value(), Step,
                                     ScrollBarVert->minimum(), ScrollBarVert->maximum()));
    const int Target = ScrollBarVert->value() + Step;
    if (Target >= ScrollBarVert->minimum() && Target <= ScrollBarVert->maximum())
      ScrollBarVert->setValue(Target);
  } else {
    Logger().Debug(QString::asprintf("ScrollBarHorz %d %d %d %d", ScrollBarHorz->value(), Step,
                                     ScrollBarHorz->minimum(), ScrollBarHorz->maximum()));
    if (FView.ScrollBy(Step)) {
      TOscRuler::ClearList(LevelCursors, nullptr);
      AmplReadout();
      UpdateScrollBars();
      Repaint();
    }
  }
}

void TkvOscFrame::KeyDown(int Key, Qt::KeyboardModifiers) {
  if (Key != Qt::Key_Escape)
    return;
  ClearCursors(true, true);
  TimeReadout();
  AmplReadout();
}

TOscDrawer *TkvOscFrame::SelectedDrawer() const {
  for (TOscDrawer *D : FDrawers)
    if (D->Selected)
      return D;
  return nullptr;
}

bool TkvOscFrame::RunSetup() {
  if (!SetupOpener || !SetupOpener(*this))
    return false;
  // The strip heights stay as the user set them.
  SaveViewSettings();
  Rebuild();
  Repaint();
  return true;
}

void TkvOscFrame::ActionTimePlusExecute() {
  if (FView.TimePlus()) {
    Rebuild();
    Repaint();
  }
}

void TkvOscFrame::ActionTimeMinusExecute() {
  if (FView.TimeMinus()) {
    Rebuild();
    Repaint();
  }
}

void TkvOscFrame::ActionAmplPlusExecute() {
  if (TOscDrawer *D = SelectedDrawer())
    D->AmplFactor *= 1.5;
  else
    FView.AmplitudeScale *= 1.5;
  Rebuild();
  Repaint();
}

void TkvOscFrame::ActionAmplMinusExecute() {
  if (TOscDrawer *D = SelectedDrawer())
    D->AmplFactor /= 1.5;
  else
    FView.AmplitudeScale /= 1.5;
  Rebuild();
  Repaint();
}

void TkvOscFrame::ActionRefreshExecute() {
  UpdateScrollBars();
  Repaint();
}

void TkvOscFrame::ActionTimeFitExecute() {
  FView.PlotWidth = PaintBox->width();
  auto SampleOf = [this](size_t i) { return static_cast<const TVertRuler &>(*TimeCursors[i]).Sample; };
  if (TimeCursors.size() == 2)
    FView.Fit(true, SampleOf(0), SampleOf(1));
  else
    FView.Fit(false);
  Rebuild();
  // Cursors the new scale left in place stay on their samples.
  for (auto &R : TimeCursors) {
    auto &V = static_cast<TVertRuler &>(*R);
    const int Sample = V.Sample;
    V.SetPosition(QPoint(FView.PlotX(Sample), 0), FView.ScrollSample, FView.TimeScale);
    V.Sample = Sample;
  }
  Repaint();
}

void TkvOscFrame::ActionTime0Execute() {
  FView.PlotWidth = PaintBox->width();
  FView.Time0();
  Rebuild();
  Repaint();
}

void TkvOscFrame::PaintBoxPaint() {
  if (FPrinting) {
    if (FLoaded && FCommon.Canvas)
      PaintStrips(*FCommon.Canvas, INT_MAX);
    return;
  }
  const QSize Size = PaintBox->size();
  if (FImage.size() != Size)
    FImage = QImage(Size, QImage::Format_RGB32);
  FBand = QLine(); // gone with the old picture
  if (!FLoaded) {
    FImage.fill(FCommon.BackColor);
    return;
  }
  {
    QPainter P(&FImage);
    FCommon.Canvas = &P;
    FCommon.Image = &FImage;
    PaintStrips(P, Size.height());
  }
  FDirty = false;
  FCommon.Canvas = nullptr;
  FCommon.Image = nullptr;
}

void TkvOscFrame::PaintInBands(QPainter &P, const std::function<void(const TOscTarget &)> &Draw) {
  QImage &Image = *FCommon.Image;
  const int H = Image.height();
  const qsizetype Line = Image.bytesPerLine();
  uchar *Bits = Image.bits();
  // A band per core: each draws every strip's columns again, clipped.
  const size_t Cores = std::max(1u, std::thread::hardware_concurrency());
  const size_t Bands = PaintBands > 0 ? size_t(PaintBands) : std::clamp<size_t>(size_t(H / 32), 1, Cores);
  const QFont Font = P.font();
  OscInPieces(Bands, 1, [&](size_t From, size_t To) {
    for (size_t b = From; b < To; ++b) {
      const int Y0 = int(H * b / Bands), Y1 = int(H * (b + 1) / Bands);
      if (Y0 == Y1)
        continue;
      QImage Band(Bits + Y0 * Line, Image.width(), Y1 - Y0, Line, Image.format());
      QPainter On(&Band);
      On.setFont(Font);
      On.translate(0, -Y0);
      Draw(TOscTarget{&On, &Band, Y0});
    }
  });
}

void TkvOscFrame::PaintStrips(QPainter &P, int Bottom) {
  size_t Level = 0;
  const int First = FView.ScrollSample;
  const int N = std::max(0, std::min(FView.VisibleSamples, FView.LastSample() - First));
  if (FCommon.Image && !(N >= 1 && First >= 0))
    FCommon.Image->fill(FCommon.BackColor);
  if (N >= 1 && First >= 0) {
    const int DX = FView.SampleX(First);
    const bool Dense = FView.TimeScale <= 0.1;
    // Every strip has the same axis.
    const std::vector<TOscGridTick> Grid = FView.TimeGrid(First, N, false);
    // Where each strip goes, then the columns of all of them in one pass,
    // then the strips.
    struct TStrip {
      TOscDrawer *Drawer;
      int CenterY;
      bool Axis;
    };
    std::vector<TStrip> Strips;
    int Y = 0;
    auto AddDiscrete = [&](TOscDrawer *D) {
      Y += FView.DiscreteHeight / 2;
      Strips.push_back({D, Y, true});
      Y += FView.DiscreteHeight / 2;
    };
    if (!cbSingleAxis->isChecked()) {
      for (size_t i = size_t(std::max(FFirstDrawer, 0)); i < FDrawers.size() && Y <= Bottom; ++i) {
        TOscDrawer *D = FDrawers[i];
        if (!IsDrawn(D))
          continue;
        if (!D->IsAnalog()) {
          AddDiscrete(D);
          continue;
        }
        Y += FView.AnalogHeight / 2;
        Strips.push_back({D, Y, true});
        Y += FView.AnalogHeight / 2;
      }
    } else {
      Y = FView.AnalogHeight / 2;
      for (TOscDrawer *D : FDrawers)
        if (D->IsAnalog() && D->Checked())
          Strips.push_back({D, Y, false});
      // The shared axis goes with the last curve on it.
      if (!Strips.empty())
        Strips.back().Axis = true;
      Y += FView.AnalogHeight / 2;
      for (size_t i = size_t(std::max(FFirstDrawer, 0)); i < FDrawers.size() && Y <= Bottom; ++i)
        if (!FDrawers[i]->IsAnalog() && FDrawers[i]->Checked())
          AddDiscrete(FDrawers[i]);
    }
    // Analog curves come from their bitmap strips when the setting asks (on
    // the screen; a printer is drawn on directly).
    auto FromStrips = [this](const TOscDrawer *D) { return FBitmapFrames && FCommon.Image && D->IsAnalog(); };
    std::vector<const TOscStripCache *> Caches;
    std::vector<TOscDrawer *> StripDrawers;
    for (const TStrip &S : Strips)
      if (!FromStrips(S.Drawer))
        Caches.push_back(&S.Drawer->Cache());
      else
        StripDrawers.push_back(S.Drawer);
    TOscDrawer::PrepareFrames(StripDrawers);
    // Columns as far beyond the plot's edges as a pen reaches.
    int From = 0, To = -1;
    FView.ColumnRange(int64_t(DX) - TOscView::PenReach, int64_t(DX) + FView.PlotWidth + TOscView::PenReach, From, To);
    const std::vector<std::vector<TOscColumn>> &Columns = FColumns.Columns(Caches, From, To, FView.TimeScale);
    for (const TStrip &S : Strips)
      S.Drawer->CenterY = S.CenterY;
    // The rows each curve may cover: a band leaves out those it does not meet.
    std::vector<std::pair<int, int>> Rows(Strips.size(), {INT_MIN, INT_MAX});
    for (size_t k = 0, c = 0; k < Strips.size(); ++k)
      if (!FromStrips(Strips[k].Drawer))
        Strips[k].Drawer->CurveRows(Columns[c++], Rows[k].first, Rows[k].second);
    auto Draw = [&](const TOscTarget &T) {
      if (FCommon.Image)
        T.Image->fill(FCommon.BackColor);
      const int Y0 = T.OriginY, Y1 = T.Image ? T.OriginY + T.Image->height() - 1 : INT_MAX;
      for (size_t k = 0, c = 0; k < Strips.size(); ++k) {
        TOscDrawer *D = Strips[k].Drawer;
        const bool Meets = Rows[k].first <= Y1 && Rows[k].second >= Y0;
        if (FromStrips(D)) {
          D->PaintFromCache(T, D->CenterY - FView.AnalogHeight / 2);
          D->DrawNotes(T, DX);
        } else if (!Meets) {
          ++c;
          if (D->IsAnalog())
            D->DrawNotes(T, DX);
        } else if (!D->IsAnalog())
          D->DrawDiscrete(T, First, N + 1, DX, &Columns[c++]);
        else if (Dense)
          D->DrawEnvelope(T, First, N + 1, DX, &Columns[c++]);
        else
          D->DrawCurve(T, First, N + 1, DX, &Columns[c++]);
        if (Strips[k].Axis && D->CenterY - 2 <= Y1 && D->CenterY + 2 >= Y0)
          D->DrawTimeGrid(T, D->CenterY, DX, First, N, Grid);
      }
    };
    if (!FCommon.Image)
      Draw(TOscTarget{&P, nullptr, 0});
    else
      PaintInBands(P, Draw);
    // The axis numbers once, outside the curves: on the screen in a row of
    // their own at the plot's bottom, in print below the last strip.
    if (std::any_of(Strips.begin(), Strips.end(), [](const TStrip &S) { return S.Axis; })) {
      const int Top = FPrinting ? Y + 2 : Bottom - TimeLabelHeight();
      if (!FPrinting) {
        P.fillRect(0, Top, FView.PlotWidth, Bottom - Top, FCommon.BackColor);
        P.setPen(QPen(FCommon.GridColor, 1));
        P.drawLine(0, Top, FView.PlotWidth, Top);
      }
      TOscDrawer::WriteTimeLabels(P, FCommon, Top + 1, DX, Grid);
    }
    // The trigger line.
    const int TriggerX = FView.PlotX(FView.MsToSample(FView.TriggerOffsetMs()));
    P.setPen(QPen(QColor(255, 0, 0), 1));
    P.drawLine(TriggerX, 0, TriggerX, FPrinting ? Y : Bottom);
    for (auto *List : {&TimeCursors, &LevelCursors})
      for (auto &R : *List) {
        if (FPrinting) {
          PrintCursor(P, *R, DX, Y, R->IsVertical() || Level >= FLevelPlaces.size() ? nullptr : &FLevelPlaces[Level++]);
          continue;
        }
        R->Drawn = false;
        R->Draw(P, DX, 0);
        double Value = 0;
        if (!R->IsVertical() && ValueAtY(R->Screen1, Value))
          static_cast<THorzRuler &>(*R).DrawLabel(P, Value);
      }
  }
}

// ---------------------------------------------------------------- notes under the mouse

TOscDrawer *TkvOscFrame::DrawerAtY(int Y) const {
  const int H = FView.AnalogHeight;
  int Y0 = 0;
  for (size_t i = size_t(std::max(FFirstDrawer, 0)); i < FDrawers.size(); ++i) {
    TOscDrawer *D = FDrawers[i];
    if (!D->IsAnalog())
      return nullptr;
    if (!IsDrawn(D))
      continue;
    if (Y0 < Y && Y < Y0 + H)
      return D;
    Y0 += H;
  }
  return nullptr;
}

TOscNote *TkvOscFrame::NoteAtX(const TOscDrawer *Drawer, int X) const {
  for (const auto &N : Drawer->Settings.Notes) {
    const int NoteX = FView.PlotX(N->Moment);
    if (NoteX - 4 < X && X < NoteX + 4)
      return N.get();
  }
  return nullptr;
}

TOscNote *TkvOscFrame::NoteTextAt(const TOscDrawer *Drawer, QPoint Point) const {
  for (const auto &N : Drawer->Settings.Notes) {
    const int Height = std::max(1, std::abs(int(std::nearbyint(N->FontHeight * FCommon.PrintScaleY))));
    QFont F(N->FontName);
    F.setPixelSize(Height);
    const QRect Text(FView.PlotX(N->Moment), Drawer->CenterY - FView.AnalogHeight / 2 + N->Dy - 1,
                     QFontMetrics(F).horizontalAdvance(N->Text), Height);
    if (Text.contains(Point))
      return N.get();
  }
  return nullptr;
}

TOscNote *TkvOscFrame::NoteAt(QPoint Point) const {
  // A note's moment counts only on its own strip: a press on another channel
  // at the same time must not grab it, or its drop would move its text there.
  const TOscDrawer *Strip = DrawerAtY(Point.y());
  for (size_t i = size_t(std::max(FFirstDrawer, 0)); i < FDrawers.size(); ++i) {
    const TOscDrawer *D = FDrawers[i];
    if (!D->IsAnalog() || !IsDrawn(D))
      continue;
    if (TOscNote *N = D == Strip ? NoteAtX(D, Point.x()) : nullptr)
      return N;
    if (TOscNote *N = NoteTextAt(D, Point))
      return N;
  }
  return nullptr;
}

TOscDrawer *TkvOscFrame::OwnerOf(const TOscNote *Note) const {
  for (TOscDrawer *D : FDrawers)
    for (const auto &N : D->Settings.Notes)
      if (N.get() == Note)
        return D;
  return nullptr;
}

void TkvOscFrame::DeleteNote(TOscNote *Note) {
  TOscDrawer *D = OwnerOf(Note);
  if (!D)
    return;
  if (FDragNote == Note)
    FDragNote = nullptr, FDragDrawer = nullptr;
  auto &Notes = D->Settings.Notes;
  Notes.erase(std::find_if(Notes.begin(), Notes.end(), [Note](const auto &N) { return N.get() == Note; }));
  FNotesChanged = true;
}

bool TkvOscFrame::PaintBoxNoteDown(Qt::MouseButton Button, QPoint Point) {
  TOscNote *Note = NoteAt(Point);
  if (Button == Qt::RightButton) {
    if (!Note) {
      RunSetup();
    } else if (NoteOpener) {
      // The window edits the note in place: what it showed is compared after.
      const auto Look = [](const TOscNote &N) {
        return std::tuple(N.Text, N.FontName, N.FontHeight, N.FontColor, N.CalcValType);
      };
      const auto Before = Look(*Note);
      if (NoteOpener(*this, *Note))
        DeleteNote(Note);
      else if (Look(*Note) != Before)
        FNotesChanged = true;
    }
    Repaint();
    return true;
  }
  if (!Note)
    return false;
  FDragNote = Note;
  FDragDrawer = OwnerOf(Note);
  FDragNote->GrabOffset = Point.x() - FView.PlotX(Note->Moment);
  FBand = QLine();
  return true;
}

void TkvOscFrame::DrawBand(QPoint Point) {
  QPainter P(&FImage);
  P.setCompositionMode(QPainter::RasterOp_NotSourceXorDestination);
  P.setPen(QPen(Qt::black, 1));
  if (!FBand.isNull())
    P.drawLine(FBand);
  const int X = Point.x() - FDragNote->GrabOffset;
  FBand = QLine(X, FDragDrawer->CenterY, X, FDragDrawer->CenterY - FView.AnalogHeight / 2);
  P.drawLine(FBand);
  PaintBox->update();
}

void TkvOscFrame::PaintBoxMouseUp(QPoint Point) {
  if (!FDragNote)
    return;
  TOscNote &N = *FDragNote;
  const int Span = N.HasMoment2() ? static_cast<TOscNote2 &>(N).Moment2 - N.Moment : 0;
  N.Moment = FView.ScrollSample + int(std::nearbyint((Point.x() - N.GrabOffset) / FView.TimeScale));
  if (N.HasMoment2())
    static_cast<TOscNote2 &>(N).Moment2 = N.Moment + Span;
  N.Dy = Point.y() - (FDragDrawer->CenterY - FView.AnalogHeight / 2);
  N.GrabOffset = 0;
  FDragNote = nullptr;
  FDragDrawer = nullptr;
  FBand = QLine();
  FNotesChanged = true;
  Repaint();
}

// ---------------------------------------------------------------- printing

void TkvOscFrame::Print() {
  QPrinter Printer(QPrinter::HighResolution);
  Printer.setDocName(QFileInfo(FFileName).fileName());
  Printer.setPageOrientation(QPageLayout::Landscape);
  if (!ExecutePrintDialog(Printer, this))
    return;
  TOscPrint(this).Print(Printer);
}

void TkvOscFrame::SetPrinting(bool Value) {
  FPrinting = Value;
  // On paper a value cursor keeps its place on its curve and its screen
  // value: both are taken before the view is scaled for the printer.
  FLevelPlaces.clear();
  if (Value)
    for (const auto &R : LevelCursors) {
      TLevelPlace &L = FLevelPlaces.emplace_back();
      L.Drawer = DrawerIndexAtY(R->Screen1);
      L.Offset = L.Drawer < 0 ? R->Screen1.y() : R->Screen1.y() - FDrawers[size_t(L.Drawer)]->CenterY;
      L.HasValue = ValueAtY(R->Screen1, L.Value);
    }
}

int TkvOscFrame::PrintScaled(double V) const { return int(std::nearbyint(V * FPrintScaleX)); }

QRect TkvOscFrame::ScaleRect(const QRect &R) const {
  return QRect(QPoint(PrintScaled(R.left()), PrintScaled(R.top())),
               QPoint(PrintScaled(R.right()), PrintScaled(R.bottom())));
}

void TkvOscFrame::SetTimeScale(double Value) {
  FView.TimeScale = Value;
  FView.Relayout();
  Repaint();
}

void TkvOscFrame::SetAmplitudeScale(double Value) {
  FView.AmplitudeScale = Value;
  FView.Relayout();
  Repaint();
}

void TkvOscFrame::PaintAll() { PaintBoxPaint(); }

void TkvOscFrame::PaintPhasors() {
  if (!FPrinting || !FCommon.Canvas) {
    PaintBoxCircleDiagram->update();
    return;
  }
  QPainter &P = *FCommon.Canvas;
  const QRect Box = ScaleRect(QRect(PaintBoxCircleDiagram->mapTo(this, QPoint(0, 0)), PaintBoxCircleDiagram->size()));
  P.save();
  P.translate(Box.topLeft());
  PaintBoxCircleDiagramPaint(P, std::min(Box.width(), Box.height()));
  P.restore();
}

void TkvOscFrame::PrintValueGrid() {
  if (!FCommon.Canvas)
    return;
  QPainter &P = *FCommon.Canvas;
  const QPoint East = PanelEast->mapTo(this, QPoint(0, 0));
  int Y = East.y() + PanelEast->width();
  for (int r = 0; r < sgDiagram->rowCount(); ++r) {
    int X = East.x();
    for (int c = 0; c < sgDiagram->columnCount(); ++c) {
      const QRect Cell = ScaleRect(QRect(X, Y, sgDiagram->columnWidth(c), sgDiagram->rowHeight(r)));
      if (const QTableWidgetItem *Item = sgDiagram->item(r, c))
        P.drawText(Cell, Qt::AlignLeft | Qt::AlignVCenter, Item->text());
      X += sgDiagram->columnWidth(c);
    }
    Y += sgDiagram->rowHeight(r);
  }
}

void TkvOscFrame::PrintCursor(QPainter &P, const TOscRuler &R, int DX, int Bottom, const TLevelPlace *Level) {
  // The screen coordinates a cursor keeps for its hit test stay untouched: the
  // printed line is worked out from its sample or its place on its curve.
  P.save();
  P.setPen(QPen(R.Color, std::max(1, PrintScaled(R.PenWidth))));
  if (R.IsVertical()) {
    const int X = FView.SampleX(static_cast<const TVertRuler &>(R).Sample) - DX;
    P.drawLine(X, 0, X, Bottom);
  } else if (Level) {
    const int Offset = int(std::nearbyint(Level->Offset * FCommon.PrintScaleY));
    const int Y = Level->Drawer < 0 ? Offset : FDrawers[size_t(Level->Drawer)]->CenterY + Offset;
    P.drawLine(0, Y, FView.PlotWidth, Y);
    if (Level->HasValue)
      P.drawText(0, Y + 1 + QFontMetrics(P.font()).ascent(), QString::asprintf("%4.3g", Level->Value));
  }
  P.restore();
}
