#pragma once
// The schema editor window: canvas in a scroll area, palette, module tree,
// the "Журнал" tab and the "Модуль" and "Вид" menus. Mouse work, commands
// and undo live in TSchemaEditorState; this window forwards its events there,
// opens the block dialogs and paints.
#include "uSchemaEditorState.h"

#include <QMainWindow>
#include <functional>
#include <map>
#include <memory>

class QAction;
class QMenu;
class QPlainTextEdit;
class QPrinter;
class QScrollArea;
class QTabWidget;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class TCommentEditForm;
class TConfigurator;
class TFunctionEditForm;
class TLabelEditForm;
class TLabelRefEditForm;
class TModuleItem;
class TModuleProtertyForm;
class TParamListForm;
class TUstavListForm;
class TDDUstavBitForm;
class TSchemaEditor;

// The paint box: the whole schema at the present scale.
class TSchemaCanvas : public QWidget {
  Q_OBJECT
public:
  TSchemaCanvas(TSchemaEditorState &State, TSchemaEditor *Editor);

protected:
  void paintEvent(QPaintEvent *) override;
  void mousePressEvent(QMouseEvent *Event) override;
  void mouseMoveEvent(QMouseEvent *Event) override;
  void mouseReleaseEvent(QMouseEvent *Event) override;
  void mouseDoubleClickEvent(QMouseEvent *Event) override;
  // Taken here, before the scroll area would only scroll.
  void wheelEvent(QWheelEvent *Event) override;

private:
  TSchemaEditorState &FState;
  TSchemaEditor *FEditor;
};

class TSchemaEditor : public QMainWindow, public TSchemaEditorHost {
  Q_OBJECT
public:
  explicit TSchemaEditor(QWidget *Parent = nullptr);
  ~TSchemaEditor() override;

  TSchemaEditorState &State() { return FState; }
  TModule *Module() const { return FState.Module(); }
  // A root module read from the file; "Журнал" gets its caption and counts.
  void LoadFromFile(const QString &FileName);
  // A module owned elsewhere (a child module, or the page's schema).
  void SetModule(TModule *Module);
  // The function library from "config.xml" in the present folder (the
  // argument is not used): insert menu and tree follow.
  void SetConfigurator(TConfigurator *Configurator);
  // Tests and the stand-alone window hand over a library they own.
  void UseConfigurator(TConfigurator *Configurator);
  void SetShowGrid(bool Value) { FState.ShowGrid = Value; }
  void ClearUndo() { FState.ClearUndo(); }
  void ClearLibraryTree();
  void FillLibraryTree();
  // The three top nodes of the tree in the interface's language.
  void TranslateTreeTops();
  void BuildInsertMenu();
  // The print dialog (the application's opener), then the module on the
  // printer, the view's width across the page.
  void Print();
  // Prints without asking (the page's printer, or a test's PDF).
  void PrintTo(QPrinter &Printer);
  void FindDialogFind(const QString &Text);
  // The first open editor of Module, nullptr when none.
  static TSchemaEditor *FindEditorForModule(const TModule *Module);
  // The main window's handlers for the embedded editor.
  void FormMouseWheel(bool Down, Qt::KeyboardModifiers Mods);
  bool FormKeyDown(int Key, Qt::KeyboardModifiers Mods);
  void ImportDDF();
  void InsertExternalModule();
  void SaveModuleToFile();
  void ShowProperties();
  // Placing from the tree: a node carrying a function or a module item arms it.
  void TreeNodeToScheme(QTreeWidgetItem *Node);
  // Under "Локальные модули" (root module only): a module item read from a file.
  QTreeWidgetItem *AddModuleNode(QTreeWidgetItem *Parent, const QString &FileName);
  void DeleteTreeNode(QTreeWidgetItem *Node);
  // The tree's pop-up menu for Node, its items enabled by where Node stands.
  std::unique_ptr<QMenu> TreeMenu(QTreeWidgetItem *Node);

  // TSchemaEditorHost
  bool EditComment(TComment &Comment) override;
  bool EditLabel(TElement &Element) override;
  bool EditLabelRef(TElement &Element) override;
  bool EditFunction(TElement &Element) override;
  void OpenModule(TModule &Module) override;

  QTabWidget *PageControl;
  QScrollArea *ScrollBox;
  TSchemaCanvas *PaintBox;
  QWidget *PanelPaletta;
  QTreeWidget *TreeView;
  QPlainTextEdit *Memo;
  QToolButton *sbPointer, *sbLink;
  QAction *mModuleInsertExternal, *mModuleInsertNew, *mSaveToFile, *mImportDDF, *mDDFEdit, *mDDUstavEdit,
      *mProperties, *mScaleBySize, *mScaleBySelected, *mScale100pc, *mShowIds, *mShowGroupIndex, *mShowErrors,
      *mRefresh;
  QMenu *menuInsert;
  TCommentEditForm *FCommentForm;
  TLabelEditForm *FLabelForm;
  TLabelRefEditForm *FLabelRefForm;
  TFunctionEditForm *FFunctionForm;

  // Runs Action and shows its failure in the application's error box.
  void Guard(const std::function<void()> &Action);
  // Repaints, sizes the canvas to the scroll range and follows the scroll position.
  void SyncView();

protected:
  void closeEvent(QCloseEvent *Event) override;
  void changeEvent(QEvent *Event) override;
  bool eventFilter(QObject *Watched, QEvent *Event) override;
  void keyPressEvent(QKeyEvent *Event) override;
  void wheelEvent(QWheelEvent *Event) override;
  void resizeEvent(QResizeEvent *Event) override;

private:
  TSchemaEditorState FState;
  TSystemClipboard FClipboard;
  std::unique_ptr<TConfigurator> FOwnConfigurator;
  TConfigurator *FConfigurator = nullptr;
  TModuleProtertyForm *FModulePropertyForm = nullptr;
  TUstavListForm *FUstavList;
  TParamListForm *FParamList;
  TDDUstavBitForm *FBitForm;
  QTreeWidgetItem *FCopySource = nullptr;
  // Module items of the tree, by the node that carries them.
  std::map<QTreeWidgetItem *, std::unique_ptr<TModuleItem>> FModuleItems;
  bool FSyncing = false;
  void BuildMenus();
  void BuildPalette();
  void BuildTree();
  void TreePopup(const QPoint &Pos);
  QTreeWidgetItem *TopOf(QTreeWidgetItem *Node) const;
  void CloseOrphanEditors();
};
