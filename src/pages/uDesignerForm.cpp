#include "uDesignerForm.h"

#include "uControlPlacer.h"
#include "uControls.h"
#include "uErrors.h"
#include "uMessageSink.h"
#include "uPropertyFormX.h"

#include <QAction>
#include <QActionGroup>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollArea>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>

TDesignerForm::TDesignerForm(QWidget *Parent, const QList<TTool> &Tools)
    : QDialog(Parent), ToolBar(new QToolBar(this)), EditCaption(new QLineEdit(this)), ScrollBox(new QScrollArea),
      PanelContainer(new QWidget), FPlacer(new TControlPlacer(this)), FTools(new QActionGroup(this)) {
  setWindowTitle(QStringLiteral("Настройка"));
  ToolBar->setObjectName("ToolBar");
  ToolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
  for (const TTool &t : Tools) {
    auto *a = new QAction(QString::fromUtf8(t.Hint), FTools);
    a->setObjectName(t.Name);
    a->setToolTip(QString::fromUtf8(t.Hint));
    a->setCheckable(true);
    a->setVisible(t.Visible);
    if (QString(t.Name) == "apHome")
      a->setText(QStringLiteral("↖"));
    ToolBar->addAction(a);
    FToolClasses.append({a, QString::fromLatin1(t.ClassName)});
    connect(a, &QAction::triggered, this, [this, a] { ChooseTool(a->objectName()); });
  }
  ToolBar->addSeparator();
  EditCaption->setObjectName("EditCaption");
  EditCaption->setFixedWidth(175);
  ToolBar->addWidget(EditCaption)->setVisible(false);

  PanelContainer->setObjectName("PanelContainer");
  PanelContainer->setAutoFillBackground(true);
  PanelContainer->installEventFilter(this);
  ScrollBox->setObjectName("ScrollBox");
  ScrollBox->setWidget(PanelContainer);
  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->setObjectName("PanelBottom");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(ToolBar);
  FBody = new QHBoxLayout;
  FBody->addWidget(ScrollBox, 1);
  layout->addLayout(FBody, 1);
  layout->addWidget(buttons);
  resize(1100, 700);

  FPlacer->SetOwnerForm(this);
  FPlacer->OnMouseDown = [this](QWidget *Sender, const QPoint &Pos) { PlaceNew(Sender, Pos); };
  FPlacer->OnSelect = [this](QWidget *Control) {
    try {
      SelectControl(Control);
    } catch (const EKvError &e) {
      ShowErrorText(e.Text());
    }
  };
  FPlacer->SetEnabled(true);
  ChooseTool(QStringLiteral("apHome"));
}

void TDesignerForm::SetPropertyForm(TPropertyForm *Form) { FPropertyForm = Form; }

void TDesignerForm::ChooseTool(const QString &ActionName) {
  FNextClass.clear();
  for (const auto &t : FToolClasses)
    if (t.first->objectName() == ActionName) {
      t.first->setChecked(true);
      FNextClass = t.second;
    }
}

void TDesignerForm::PlaceNew(QWidget *Sender, const QPoint &Pos) {
  if (FNextClass.isEmpty())
    return;
  // Controls go on the surface or into a plain group box; anywhere else the tool stays chosen.
  if (Sender != PanelContainer && !qobject_cast<TGroupBoxA *>(Sender))
    return;
  QWidget *control = CreateControl(Sender, FNextClass);
  control->move(Pos);
  if (auto *c = dynamic_cast<TKvControl *>(control))
    c->SetDeviceDescriptor(FDesc);
  ChooseTool(QStringLiteral("apHome"));
  Prepared(control);
  FPlacer->SetDragging(false);
}

void TDesignerForm::Prepared(QWidget *Control) {
  FPlacer->Attach(Control);
  if (auto *u = qobject_cast<TUstavPanel *>(Control))
    u->DisableChange(true);
  // Keys belong to the designer (Delete, F11), not to the controls' editors.
  Control->setFocusPolicy(Qt::NoFocus);
  for (QWidget *w : Control->findChildren<QWidget *>())
    w->setFocusPolicy(Qt::NoFocus);
  Control->installEventFilter(this);
  FitSurface();
}

void TDesignerForm::FitSurface() {
  // The surface grows to hold every control on it: one dragged past its
  // bottom or right edge stays in sight, as it stays in the saved page.
  QSize need = FSurfaceBase;
  for (QWidget *w : ControlsOf(PanelContainer, false))
    need = need.expandedTo(QSize(w->geometry().right() + 1, w->geometry().bottom() + 1));
  if (need != PanelContainer->size())
    PanelContainer->resize(need);
}

void TDesignerForm::SelectControl(QWidget *Control) {
  FSelected = Control;
  const QString cls = QString::fromLatin1(Control->metaObject()->className());
  if (!HasStoredProperties(cls))
    throw EKvError("controls: no " + cls);
  if (FPropertyForm) {
    FPropertyForm->SetControl(Control);
    FPropertyForm->show();
  }
}

void TDesignerForm::LoadControls(QWidget *Source, bool AllDepths) {
  FPlacer->ShowNodes(false);
  FSelected = nullptr;
  if (FPropertyForm)
    FPropertyForm->SetControl(nullptr);
  FSurfaceBase = Source->size().expandedTo(QSize(800, 500));
  PanelContainer->resize(FSurfaceBase);
  CopyControls(Source, PanelContainer);
  for (QWidget *w : ControlsOf(PanelContainer, AllDepths))
    if (HasStoredProperties(QString::fromLatin1(w->metaObject()->className())))
      Prepared(w);
}

void TDesignerForm::StoreControls(QWidget *Target) { CopyControls(PanelContainer, Target); }

void TDesignerForm::keyPressEvent(QKeyEvent *E) {
  if (E->key() == Qt::Key_Delete) {
    if (FSelected && FSelected != PanelContainer) {
      FPlacer->ShowNodes(false);
      if (FPropertyForm)
        FPropertyForm->hide();
      delete FSelected.data();
      FSelected = nullptr;
    }
    return;
  }
  if (E->key() == Qt::Key_F11) {
    TogglePropertyDock();
    return;
  }
  QDialog::keyPressEvent(E);
}

bool TDesignerForm::IsPropertyDocked() const { return FPropertyForm && FPropertyForm->parentWidget() == this; }

void TDesignerForm::DockPropertyForm(bool Docked) {
  if (!FPropertyForm)
    return;
  if (Docked) {
    FPropertyForm->setParent(this, Qt::Widget);
    FPropertyForm->setFixedWidth(320);
    FBody->addWidget(FPropertyForm);
  } else {
    FBody->removeWidget(FPropertyForm);
    FPropertyForm->setParent(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint);
    FPropertyForm->setMinimumWidth(0);
    FPropertyForm->setMaximumWidth(QWIDGETSIZE_MAX);
  }
  FPropertyForm->show();
}

void TDesignerForm::TogglePropertyDock() { DockPropertyForm(!IsPropertyDocked()); }

void TDesignerForm::showEvent(QShowEvent *E) {
  ChooseTool(QStringLiteral("apHome"));
  // The editor is shared by the designers: until a control is picked here it
  // shows nothing, not the one last picked in another designer.
  if (FPropertyForm && FPropertyForm->Control() != FSelected)
    FPropertyForm->SetControl(FSelected);
  if (!IsPropertyDocked())
    DockPropertyForm(true);
  QDialog::showEvent(E);
}

void TDesignerForm::closeEvent(QCloseEvent *E) {
  if (FPropertyForm)
    FPropertyForm->hide();
  QDialog::closeEvent(E);
}

bool TDesignerForm::eventFilter(QObject *Watched, QEvent *E) {
  if (E->type() == QEvent::Move || E->type() == QEvent::Resize) {
    // Above or left of the surface nothing can be shown: a control stops at its edge.
    if (auto *w = qobject_cast<QWidget *>(Watched); w && w->parentWidget() == PanelContainer) {
      if (w->x() < 0 || w->y() < 0)
        w->move(std::max(0, w->x()), std::max(0, w->y()));
      FitSurface();
    }
  }
  if (Watched == PanelContainer && E->type() == QEvent::MouseButtonPress) {
    FPlacer->ShowNodes(false);
    PlaceNew(PanelContainer, static_cast<QMouseEvent *>(E)->position().toPoint());
    return true;
  }
  return QDialog::eventFilter(Watched, E);
}
