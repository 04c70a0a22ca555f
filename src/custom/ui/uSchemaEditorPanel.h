#pragma once
// The schema editor as the custom-logic page embeds it: the calls the page
// makes on the editor of one unit, behind a factory that the program's full
// editor registers. Until one is registered the page shows its unit in a
// read-only view of the module (zoom, scroll, grid).
#include <QWidget>
#include <functional>

class QKeyEvent;
class QWheelEvent;
class TConfigurator;
class TModule;

class TSchemaEditorPanel : public QWidget {
public:
  using QWidget::QWidget;

  // The module shown; owned by the panel, which never frees its parent.
  virtual TModule &Module() = 0;
  // Clears the module (and its parent link) and reads the schema file into it.
  virtual void LoadFromFile(const QString &FileName) = 0;
  // The library the palette and tree offer; null for none.
  virtual void SetConfigurator(TConfigurator *Configurator) = 0;
  virtual void ClearLibraryTree() = 0;
  virtual void ClearUndo() = 0;
  // Zoom level by Delta, clamped to -100..100; 0 re-applies the scale after
  // the module has changed and repaints.
  virtual void ZoomBy(int Delta) = 0;
  virtual void SetShowGrid(bool Value) = 0;
  virtual void Print() = 0;
  // The buttons that add unit inputs and outputs (the page chooses them).
  virtual void SetInterfaceButtonsVisible(bool Value) = 0;
  // Keys and wheel turns the main window forwards while the page is active;
  // true when the panel used the event.
  virtual bool FormKeyDown(QKeyEvent *Event) = 0;
  virtual bool FormMouseWheel(QWheelEvent *Event) = 0;
};

using TSchemaEditorFactory = std::function<TSchemaEditorPanel *(QWidget *Parent)>;
// Registers the program's editor (an empty factory brings back the view).
void SetSchemaEditorFactory(TSchemaEditorFactory Factory);
// The registered editor, or the read-only view, parented to Parent.
TSchemaEditorPanel *CreateSchemaEditorPanel(QWidget *Parent);

// The read-only view: pixels per unit from the zoom level at 96 dots per inch.
int SchemaZoomScale(int Zoom);
