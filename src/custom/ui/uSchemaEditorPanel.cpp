#include "uSchemaEditorPanel.h"

#include "uSchemaEditor.h"
#include "uSchemaModule.h"

#include <QAction>
#include <QKeyEvent>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

TSchemaEditorPanel::TSchemaEditorPanel(QWidget *Parent) : QWidget(Parent) {
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  // The editor's window, without a frame, filling the panel.
  FEditor = new TSchemaEditor(this);
  FEditor->setWindowFlags(Qt::Widget);
  layout->addWidget(FEditor);
  // Inside the main window the editor's keys only act where it has the
  // focus, and the program's "Обновить" keeps Ctrl+R: the editor's own
  // repaint stays in its menu.
  for (QAction *a : FEditor->findChildren<QAction *>()) {
    if (a->shortcut() == QKeySequence(QStringLiteral("Ctrl+R")))
      a->setShortcut({});
    a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    FEditor->addAction(a);
  }
}

TModule &TSchemaEditorPanel::Module() { return *FEditor->Module(); }

TSchemaEditorState &TSchemaEditorPanel::State() { return FEditor->State(); }

void TSchemaEditorPanel::LoadFromFile(const QString &FileName) { FEditor->LoadFromFile(FileName); }

void TSchemaEditorPanel::SetConfigurator(TConfigurator *Configurator) { FEditor->SetConfigurator(Configurator); }

void TSchemaEditorPanel::ClearLibraryTree() { FEditor->ClearLibraryTree(); }

void TSchemaEditorPanel::ClearUndo() { FEditor->State().SetModule(FEditor->Module()); }

void TSchemaEditorPanel::ZoomBy(int Delta) {
  FEditor->State().ZoomBy(Delta);
  FEditor->SyncView();
}

void TSchemaEditorPanel::SetShowGrid(bool Value) {
  FEditor->SetShowGrid(Value);
  FEditor->SyncView();
}

void TSchemaEditorPanel::Print() { FEditor->Print(); }

void TSchemaEditorPanel::SetInterfaceButtonsVisible(bool Value) {
  for (const char *name : {"sbInputInterface", "sbOutputInterface"})
    if (auto *b = FEditor->findChild<QToolButton *>(QString::fromLatin1(name)))
      b->setVisible(Value);
}

bool TSchemaEditorPanel::FormKeyDown(QKeyEvent *Event) { return FEditor->FormKeyDown(Event->key(), Event->modifiers()); }

bool TSchemaEditorPanel::FormMouseWheel(QWheelEvent *Event) {
  FEditor->FormMouseWheel(Event->angleDelta().y() < 0, Event->modifiers());
  return true;
}
