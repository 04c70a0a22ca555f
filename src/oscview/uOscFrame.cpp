#include "uOscFrame.h"

#include "uAppIniFile.h"
#include "uErrors.h"
#include "uLogger.h"
#include "uOscSetupForm.h"

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
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QSplitter>
#include <QTableWidget>
#include <QToolBar>
#include <QToolButton>
#include <QWheelEvent>

std::function<bool(TkvOscFrame &Frame)> TkvOscFrame::SetupOpener = [](TkvOscFrame &Frame) {
  TOscSetupForm Form(&Frame);
  Form.LoadChannels(Frame.Drawers(), Frame.Events());
  if (Form.exec() != QDialog::Accepted)
    return false;
  Form.ApplyChannels(Frame.Drawers());
  return true;
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
      Dialog.setOption(QFileDialog::DontUseNativeDialog);
      auto *Choice = new QComboBox(&Dialog);
      Choice->addItems({QStringLiteral("OEM"), QStringLiteral("ANSI")});
      Choice->setCurrentIndex(1);
      if (auto *Grid = qobject_cast<QGridLayout *>(Dialog.layout())) {
        const int Row = Grid->rowCount();
        Grid->addWidget(new QLabel(QString::fromUtf8("Кодировка"), &Dialog), Row, 0);
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
  FFrame->PaintBoxPaint();
  QPainter P(this);
  P.drawImage(0, 0, FFrame->PlotImage());
}

void TOscPaintBox::resizeEvent(QResizeEvent *) { FFrame->PanelPaintResize(); }

void TOscPaintBox::wheelEvent(QWheelEvent *Event) {
  const int Step = Event->angleDelta().y() < 0 ? 1 : Event->angleDelta().y() > 0 ? -1 : 0;
  FFrame->ScrollBy(Step, Event->modifiers());
  Event->accept();
}

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
  LabelFileName = new QLabel(QStringLiteral("no name"), this);
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
  });

  Splitter = new QSplitter(Qt::Horizontal, this);
  Layout->addWidget(Splitter, 1);
  auto *PanelImage = new QWidget(Splitter);
  auto *ImageLayout = new QHBoxLayout(PanelImage);
  ImageLayout->setContentsMargins(0, 0, 0, 0);
  ImageLayout->setSpacing(0);
  PanelLeft = new QWidget(PanelImage);
  PanelLeft->setObjectName(QStringLiteral("PanelLeft"));
  PanelLeft->setFixedWidth(169);
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
  PaintBoxCircleDiagram = new QWidget(PanelEast);
  PaintBoxCircleDiagram->setObjectName(QStringLiteral("PaintBoxCircleDiagram"));
  EastLayout->addWidget(PaintBoxCircleDiagram);
  sgDiagram = new QTableWidget(0, 3, PanelEast);
  sgDiagram->setObjectName(QStringLiteral("sgDiagram"));
  sgDiagram->horizontalHeader()->hide();
  sgDiagram->verticalHeader()->hide();
  sgDiagram->setColumnWidth(0, 149);
  sgDiagram->setColumnWidth(1, 41);
  sgDiagram->setColumnWidth(2, 64);
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
}

void TkvOscFrame::LoadComtradeFile(const QString &FileName) {
  if (FLoaded)
    throw EKvError("cannot read more then 1 comtrade file");
  const QFileInfo Info(FileName);
  const QString Base = Info.path() + '/' + Info.completeBaseName();
  QString Warning;
  FConfig.LoadFromFile(Base + QStringLiteral(".cfg"), Warning);
  if (!Warning.isEmpty())
    Logger().Error(Base + QStringLiteral(".cfg: ") + Warning);
  FData.LoadFromFile(Base + QStringLiteral(".dat"), &FConfig);
  if (FData.SampleCount() < 2)
    throw EKvFormat(QStringLiteral("%1: too few samples (%2) to show").arg(Base + ".dat").arg(FData.SampleCount()));
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
  for (TOscDrawer *D : FDrawers) {
    D->BuildCache(FData);
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
  LabelFileName->setToolTip(FFileName);
  LabelFileName->setText(QFileInfo(FFileName).fileName());
}

bool TkvOscFrame::LoadViewSettings() {
  std::vector<TOscChannelSettings *> Channels;
  for (TOscDrawer *D : FDrawers)
    Channels.push_back(&D->Settings);
  int Height = FView.AnalogHeight;
  if (!LoadOscSideFile(OscSideFileName(FFileName), LastSavedSideFile, FConfig, FData.SampleCount(), Height,
                       Channels, FEvents))
    return false;
  FView.AnalogHeight = Height;
  for (TOscDrawer *D : FDrawers)
    D->SetChecked(D->Settings.Checked);
  return true;
}

void TkvOscFrame::SaveViewSettings() {
  std::vector<const TOscChannelSettings *> Channels;
  for (const TOscDrawer *D : FDrawers)
    Channels.push_back(&D->Settings);
  const QString Name = OscSideFileName(FFileName);
  SaveOscSideFile(Name, FView.AnalogHeight, Channels, FEvents);
  LastSavedSideFile = Name;
  if (LastSavedHook)
    LastSavedHook(Name);
}

void TkvOscFrame::SaveComtradeAs(const QString &FileName, const QString &Encoding) {
  FConfig.SaveCopyAs(FileName, Encoding);
  const QFileInfo Info(FileName);
  FData.SaveToFile(Info.path() + '/' + Info.completeBaseName() + QStringLiteral(".dat"));
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
  FView.Relayout();
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

void TkvOscFrame::Repaint() { PaintBox->update(); }

void TkvOscFrame::PanelPaintResize() {
  if (!FLoaded)
    return;
  Rebuild();
  ZoomHeights(0);
}

void TkvOscFrame::PanelEastResize() {
  if (PanelEast->width() <= PanelEast->minimumWidth())
    return;
  PaintBoxCircleDiagram->setFixedHeight(PanelEast->width());
  FPhasorPanelWidth = PanelEast->width();
  if (sgDiagram->rowCount() > 0)
    sgDiagram->setColumnWidth(0, std::max(0, PanelEast->width() - 100));
  PaintBoxCircleDiagram->update();
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
  FView.PlotHeight = PaintBox->height();
  FView.FitChannelHeights(Shown);
}

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
      UpdateScrollBars();
      Repaint();
    }
  }
}

void TkvOscFrame::KeyDown(int Key, Qt::KeyboardModifiers) {
  if (Key == Qt::Key_Escape)
    Repaint();
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
  SaveViewSettings();
  Rebuild();
  FitChannelHeights();
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
  FView.Fit(false);
  Rebuild();
  Repaint();
}

void TkvOscFrame::ActionTime0Execute() {
  FView.PlotWidth = PaintBox->width();
  FView.Time0();
  Rebuild();
  Repaint();
}

void TkvOscFrame::PaintBoxPaint() {
  const QSize Size = PaintBox->size();
  if (FImage.size() != Size)
    FImage = QImage(Size, QImage::Format_RGB32);
  FImage.fill(FCommon.BackColor);
  if (!FLoaded)
    return;
  QPainter P(&FImage);
  FCommon.Canvas = &P;
  const int First = FView.ScrollSample;
  const int N = std::max(0, std::min(FView.VisibleSamples, FView.LastSample() - First));
  if (N >= 1 && First >= 0) {
    const int DX = FView.SampleX(First);
    const bool Dense = FView.TimeScale <= 0.1;
    const int Bottom = Size.height();
    int Y = 0;
    auto DrawAnalog = [&](TOscDrawer *D) {
      if (Dense)
        D->DrawEnvelope(First, N + 1, DX);
      else
        D->DrawCurve(First, N + 1, DX);
    };
    auto DrawDiscrete = [&](TOscDrawer *D) {
      Y += FView.DiscreteHeight / 2;
      D->CenterY = Y;
      D->DrawDiscrete(First, N + 1, DX);
      D->DrawTimeGrid(Y, DX, First, N);
      Y += FView.DiscreteHeight / 2;
    };
    if (!cbSingleAxis->isChecked()) {
      for (size_t i = size_t(std::max(FFirstDrawer, 0)); i < FDrawers.size() && Y <= Bottom; ++i) {
        TOscDrawer *D = FDrawers[i];
        if (!IsDrawn(D))
          continue;
        if (!D->IsAnalog()) {
          DrawDiscrete(D);
          continue;
        }
        Y += FView.AnalogHeight / 2;
        D->CenterY = Y;
        DrawAnalog(D);
        D->DrawTimeGrid(Y, DX, First, N);
        Y += FView.AnalogHeight / 2;
      }
    } else {
      Y = FView.AnalogHeight / 2;
      TOscDrawer *Last = nullptr;
      for (TOscDrawer *D : FDrawers)
        if (D->IsAnalog() && D->Checked()) {
          D->CenterY = Y;
          DrawAnalog(D);
          Last = D;
        }
      if (Last)
        Last->DrawTimeGrid(Y, DX, First, N);
      Y += FView.AnalogHeight / 2;
      for (size_t i = size_t(std::max(FFirstDrawer, 0)); i < FDrawers.size() && Y <= Bottom; ++i)
        if (!FDrawers[i]->IsAnalog() && FDrawers[i]->Checked())
          DrawDiscrete(FDrawers[i]);
    }
    // The trigger line.
    const int TriggerX = FView.PlotX(FView.MsToSample(FView.TriggerOffsetMs()));
    P.setPen(QPen(QColor(255, 0, 0), 1));
    P.drawLine(TriggerX, 0, TriggerX, Bottom);
  }
  FCommon.Canvas = nullptr;
}
