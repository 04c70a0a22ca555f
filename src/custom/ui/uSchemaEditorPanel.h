#pragma once
// The schema editor as the custom-logic page embeds it: the few calls the
// page makes on the editor of one unit, so that the page never reaches into
// the editor's window, state or menus.
#include <QWidget>

class QKeyEvent;
class QWheelEvent;
class TConfigurator;
class TModule;
class TSchemaEditor;
class TSchemaEditorState;

class TSchemaEditorPanel : public QWidget {
public:
  explicit TSchemaEditorPanel(QWidget *Parent);

  // The module shown (the editor's own, made by LoadFromFile).
  TModule &Module();
  // The editor's selection and history, for edits made from the page.
  TSchemaEditorState &State();
  // A fresh module read from the schema file.
  void LoadFromFile(const QString &FileName);
  // The library of the palette and tree: "config.xml" of the current folder.
  void SetConfigurator(TConfigurator *Configurator);
  void ClearLibraryTree();
  // Drops the history, the selection and any drag: call it before the
  // module's blocks are replaced.
  void ClearUndo();
  // Zoom by Delta; 0 re-applies the scale after the module changed.
  void ZoomBy(int Delta);
  void SetShowGrid(bool Value);
  void Print();
  // The palette buttons that add unit inputs and outputs.
  void SetInterfaceButtonsVisible(bool Value);
  // Keys and wheel turns the main window forwards; true when used.
  bool FormKeyDown(QKeyEvent *Event);
  bool FormMouseWheel(QWheelEvent *Event);

  TSchemaEditor *Editor() const { return FEditor; }

private:
  TSchemaEditor *FEditor;
};
