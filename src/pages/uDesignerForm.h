#pragma once
// What the title panel designer and the device board designer share: a
// palette of control classes, a design surface with copies of a page's
// controls, the control placer, the property editor docked beside the surface
// and the Delete and F11 keys. Controls are placed on the surface or in a
// TGroupBoxA only. Main thread only.
#include <QDialog>
#include <QList>
#include <QPointer>
#include <QSize>
#include <QString>

class QAction;
class QActionGroup;
class QHBoxLayout;
class QLineEdit;
class QScrollArea;
class QToolBar;
class TControlPlacer;
class TPropertyForm;
class TSimpleDeviceDescriptor;

class TDesignerForm : public QDialog {
  Q_OBJECT
public:
  // Palette: (action name, hint, class placed); the first entry is apHome.
  struct TTool {
    const char *Name, *Hint, *ClassName;
    bool Visible = true;
  };
  TDesignerForm(QWidget *Parent, const QList<TTool> &Tools);

  void SetDescriptor(TSimpleDeviceDescriptor *Descriptor) { FDesc = Descriptor; }
  TSimpleDeviceDescriptor *Descriptor() const { return FDesc; }
  void SetPropertyForm(TPropertyForm *Form);
  // The class the next press places ("" in selection mode).
  QString NextClass() const { return FNextClass; }
  void ChooseTool(const QString &ActionName);
  QWidget *Selected() const { return FSelected; }
  TControlPlacer *Placer() const { return FPlacer; }
  // A press on Sender at Pos (the surface's and the placer's mouse-down).
  void PlaceNew(QWidget *Sender, const QPoint &Pos);
  // The placer selected Control. Throws EKvError "controls: no " + class for
  // a class without stored properties.
  void SelectControl(QWidget *Control);
  // F11: the property editor docked beside the surface, or a window of its own.
  void TogglePropertyDock();
  bool IsPropertyDocked() const;

  QToolBar *ToolBar;
  QLineEdit *EditCaption;
  QScrollArea *ScrollBox;
  QWidget *PanelContainer;

protected:
  // Copies Source's controls onto the surface and attaches them (AllDepths:
  // the controls inside group boxes too); setpoint panels cannot write here.
  void LoadControls(QWidget *Source, bool AllDepths);
  void StoreControls(QWidget *Target);
  void keyPressEvent(QKeyEvent *E) override;
  void showEvent(QShowEvent *E) override;
  void closeEvent(QCloseEvent *E) override;
  bool eventFilter(QObject *Watched, QEvent *E) override;

private:
  void Prepared(QWidget *Control);
  void FitSurface();
  void DockPropertyForm(bool Docked);
  TSimpleDeviceDescriptor *FDesc = nullptr;
  TControlPlacer *FPlacer;
  QActionGroup *FTools;
  QList<QPair<QAction *, QString>> FToolClasses;
  QString FNextClass;
  QPointer<QWidget> FSelected;
  QPointer<TPropertyForm> FPropertyForm;
  QHBoxLayout *FBody;
  QSize FSurfaceBase{800, 500};
};
