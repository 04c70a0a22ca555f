#include "uSchemaEditor.h"

#include "uConfigurator.h"
#include "uDDUstavBitForm.h"
#include "uDeviceDescriptor.h"
#include "uErrors.h"
#include "uFileDialogSink.h"
#include "uFunctionEditForm.h"
#include "uLabelEditForm.h"
#include "uMessageSink.h"
#include "uModuleProtertyForm.h"
#include "uModulePropertyFill.h"
#include "uMultiLingual.h"
#include "uPrintDialog.h"
#include "uSchemaDeviceDescriptor.h"
#include "uTranslateTexts.h"
#include "uUstavListForm.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPrinter>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace {
QString Tr(const char *Text) { return MultiLingual().Translate(QString::fromUtf8(Text)); }

// The tree's three top nodes.
const char *const TreeTops[] = {"Конфигуратор - функции.", "Конфигуратор - модули", "Локальные модули"};

// What a tree node carries.
enum TNodeKind : int { nkNone = 0, nkGroup = 1, nkFunction = 2, nkModuleItem = 3 };
constexpr int KindRole = Qt::UserRole, ObjectRole = Qt::UserRole + 1;

int KindOf(const QTreeWidgetItem *Node) { return Node ? Node->data(0, KindRole).toInt() : nkNone; }
template <typename T> T *ObjectOf(const QTreeWidgetItem *Node) {
  return reinterpret_cast<T *>(Node->data(0, ObjectRole).value<quintptr>());
}
void Carry(QTreeWidgetItem *Node, int Kind, const void *Object) {
  Node->setData(0, KindRole, Kind);
  Node->setData(0, ObjectRole, QVariant::fromValue(quintptr(Object)));
}

// The filter of the module files' open dialogs.
QString XmlFilter() { return Tr("Файлы XML") + QStringLiteral(" (*.xml);;") + Tr("Все файлы") + QStringLiteral(" (*.*)"); }

TSchemaEditorState::TButton ButtonOf(Qt::MouseButton B) {
  return B == Qt::RightButton ? TSchemaEditorState::mbRight
         : B == Qt::MiddleButton ? TSchemaEditorState::mbMiddle : TSchemaEditorState::mbLeft;
}
} // namespace

// ---- canvas ----

TSchemaCanvas::TSchemaCanvas(TSchemaEditorState &State, TSchemaEditor *Editor)
    : FState(State), FEditor(Editor) {
  setObjectName("PaintBox");
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TSchemaCanvas::paintEvent(QPaintEvent *Event) {
  QPainter p(this);
  FState.Paint(p, width(), height(), Event->rect());
}

void TSchemaCanvas::mousePressEvent(QMouseEvent *Event) {
  setFocus();
  const QPoint at = Event->position().toPoint();
  const bool ctrl = Event->modifiers() & Qt::ControlModifier;
  FEditor->Guard([&] { FState.MouseDown(ButtonOf(Event->button()), ctrl, at); });
}

void TSchemaCanvas::mouseMoveEvent(QMouseEvent *Event) {
  const QPoint at = Event->position().toPoint();
  FEditor->Guard([&] { FState.MouseMove(at); });
}

void TSchemaCanvas::mouseReleaseEvent(QMouseEvent *Event) {
  const QPoint at = Event->position().toPoint();
  FEditor->Guard([&] { FState.MouseUp(at); });
}

void TSchemaCanvas::mouseDoubleClickEvent(QMouseEvent *Event) {
  // The system delivers the second press as this event; the editor expects
  // the double-click and then a press it swallows.
  const QPoint at = Event->position().toPoint();
  const QPointer<TSchemaCanvas> self(this);
  FEditor->Guard([&] {
    FState.DblClick(at);
    if (self)
      FState.MouseDown(ButtonOf(Event->button()), false, at);
  });
}

void TSchemaCanvas::wheelEvent(QWheelEvent *Event) {
  FEditor->FormMouseWheel(Event->angleDelta().y() < 0, Event->modifiers());
  Event->accept();
}

// ---- window ----

TSchemaEditor::TSchemaEditor(QWidget *Parent) : QMainWindow(Parent), FState(logicalDpiX()) {
  setObjectName("SchemaEditor");
  setWindowTitle(QStringLiteral("Схема"));
  FState.SetHost(this);
  FState.SetClipboard(&FClipboard);
  FState.OnChanged = [this] { SyncView(); };
  FState.OnFind = [this] {
    bool ok = false;
    const QString text = QInputDialog::getText(this, Tr("Найти"), QString(), QLineEdit::Normal, {}, &ok);
    if (ok)
      FindDialogFind(text);
  };

  PageControl = new QTabWidget;
  PageControl->setTabPosition(QTabWidget::South);
  auto *editorTab = new QWidget;
  auto *row = new QHBoxLayout(editorTab);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  ScrollBox = new QScrollArea;
  ScrollBox->setObjectName("ScrollBox");
  ScrollBox->setBackgroundRole(QPalette::Base);
  PaintBox = new TSchemaCanvas(FState, this);
  ScrollBox->setWidget(PaintBox);
  ScrollBox->setWidgetResizable(false);
  row->addWidget(ScrollBox, 1);
  PanelPaletta = new QWidget;
  PanelPaletta->setObjectName("PanelPaletta");
  PanelPaletta->setFixedWidth(30);
  PanelPaletta->installEventFilter(this);
  row->addWidget(PanelPaletta);
  PageControl->addTab(editorTab, QStringLiteral("Редактор"));
  Memo = new QPlainTextEdit;
  Memo->setReadOnly(true);
  PageControl->addTab(Memo, QStringLiteral("Журнал"));

  TreeView = new QTreeWidget;
  TreeView->setObjectName("TreeView");
  TreeView->setHeaderHidden(true);
  auto *split = new QSplitter;
  split->addWidget(TreeView);
  split->addWidget(PageControl);
  split->setStretchFactor(1, 1);
  split->setSizes({180, 700});
  setCentralWidget(split);

  for (QScrollBar *bar : {ScrollBox->horizontalScrollBar(), ScrollBox->verticalScrollBar()})
    connect(bar, &QScrollBar::valueChanged, this, [this] {
      if (!FSyncing)
        FState.SetScrollPos({ScrollBox->horizontalScrollBar()->value(), ScrollBox->verticalScrollBar()->value()});
    });

  BuildPalette();
  BuildMenus();
  BuildTree();
  FCommentForm = new TCommentEditForm(this);
  FLabelForm = new TLabelEditForm(this);
  FLabelRefForm = new TLabelRefEditForm(this);
  FFunctionForm = new TFunctionEditForm(this);
  FUstavList = new TUstavListForm(this);
  FParamList = new TParamListForm(this);
  FBitForm = new TDDUstavBitForm(this);
  FFunctionForm->SetChoosers(FUstavList, FParamList, FBitForm);
  resize(1000, 700);
  TranslateTexts(this);
  // The main window's walk translates the menus and hints; the tree's own
  // nodes follow it here.
  OnLanguageSwitch(sbPointer, [this] { TranslateTreeTops(); });
}

void TSchemaEditor::TranslateTreeTops() {
  for (int i = 0; i < TreeView->topLevelItemCount() && i < 3; ++i)
    TreeView->topLevelItem(i)->setText(0, MultiLingual().FromRussian(QString::fromUtf8(TreeTops[i])));
}

TSchemaEditor::~TSchemaEditor() {
  // Child module windows first: the modules they show may go with this one.
  qDeleteAll(findChildren<TSchemaEditor *>(Qt::FindDirectChildrenOnly));
  // The other children go after this part of the window: none may call back.
  TreeView->disconnect(this);
  ScrollBox->horizontalScrollBar()->disconnect(this);
  ScrollBox->verticalScrollBar()->disconnect(this);
  FState.OnChanged = nullptr;
  FState.SetModule(nullptr);
}

void TSchemaEditor::Guard(const std::function<void()> &Action) {
  // A block's dialog runs an event loop: the editor may have gone with its
  // page when it returns.
  const QPointer<TSchemaEditor> self(this);
  try {
    Action();
  } catch (const EKvError &e) {
    ShowLogicError(e.Text());
  }
  if (!self)
    return;
  CloseOrphanEditors();
  SyncView();
}

void TSchemaEditor::SyncView() {
  if (FSyncing)
    return;
  FSyncing = true;
  const QSize view = ScrollBox->viewport()->size();
  FState.SetViewSize(view.width(), view.height());
  const QSize range = FState.ScrollRange();
  PaintBox->resize(std::max(range.width(), view.width()), std::max(range.height(), view.height()));
  ScrollBox->horizontalScrollBar()->setValue(FState.ScrollPos.x());
  ScrollBox->verticalScrollBar()->setValue(FState.ScrollPos.y());
  FState.SetScrollPos({ScrollBox->horizontalScrollBar()->value(), ScrollBox->verticalScrollBar()->value()});
  sbPointer->setChecked(FState.Tool() == TSchemaEditorState::tlPointer);
  sbLink->setChecked(FState.Tool() == TSchemaEditorState::tlLink);
  PaintBox->setCursor(FState.DragCursor() ? Qt::DragMoveCursor : Qt::ArrowCursor);
  PaintBox->update();
  FSyncing = false;
}

void TSchemaEditor::BuildPalette() {
  auto *col = new QVBoxLayout(PanelPaletta);
  col->setContentsMargins(1, 1, 1, 1);
  col->setSpacing(1);
  using S = TSchemaEditorState;
  const struct {
    const char *Name, *Text, *Hint;
    S::TPaletteButton Button;
  } buttons[] = {
      {"sbZoomPlus", "+", "Увеличить", S::pbZoomPlus},
      {"sbZoomMinus", "-", "Уменьшить", S::pbZoomMinus},
      {"sbPointer", "↖", "Указатель", S::pbPointer},
      {"sbLink", "╱", "Связь Ctrl+K", S::pbLink},
      {"sbComment", "T", "Комментарий на схеме", S::pbComment},
      {"sbLabel", "▷", "Метка", S::pbLabel},
      {"sbLabelRef", "◁", "Ссылка на метку", S::pbLabelRef},
      {"sbInputInterface", "→", "Входной интефейс", S::pbInint},
      {"sbOutputInterface", "←", "Выходной интерфейс", S::pbOutint},
  };
  for (const auto &b : buttons) {
    auto *tb = new QToolButton;
    tb->setObjectName(b.Name);
    tb->setText(QString::fromUtf8(b.Text));
    tb->setToolTip(QString::fromUtf8(b.Hint));
    tb->setAutoRaise(true);
    tb->setFixedSize(28, 28);
    col->addWidget(tb);
    const S::TPaletteButton which = b.Button;
    connect(tb, &QToolButton::clicked, this, [this, which] {
      const bool shift = QApplication::keyboardModifiers() & Qt::ShiftModifier;
      Guard([&] { FState.PaletteClick(which, shift); });
    });
    if (b.Button == S::pbPointer)
      sbPointer = tb;
    if (b.Button == S::pbLink)
      sbLink = tb;
  }
  sbPointer->setCheckable(true);
  sbLink->setCheckable(true);
  sbPointer->setChecked(true);
  col->addStretch();
}

void TSchemaEditor::BuildMenus() {
  QMenu *module = menuBar()->addMenu(QStringLiteral("Модуль"));
  auto add = [this](QMenu *Menu, const char *Name, const QString &Text, std::function<void()> Run) {
    QAction *a = Menu->addAction(Text);
    a->setObjectName(Name);
    if (Run)
      connect(a, &QAction::triggered, this, [this, Run] { Guard(Run); });
    return a;
  };
  mModuleInsertExternal =
      add(module, "mModuleInsertExternal", QStringLiteral("Вставить внешний модуль"), [this] { InsertExternalModule(); });
  mModuleInsertNew = add(module, "mModuleInsertNew", QStringLiteral("Вставить новый модуль"),
                         [this] { FState.InsertNewModule(); });
  add(module, "mAbstractList", QStringLiteral("Список элементов"), nullptr);
  QAction *editor = add(module, "mEditor", QStringLiteral("Редактор элементов"), nullptr);
  editor->setShortcut(QKeySequence(Qt::Key_F11));
  editor->setEnabled(false);
  module->addSeparator();
  mSaveToFile = add(module, "mSaveToFile", QStringLiteral("Сохранить модуль в файл"), [this] { SaveModuleToFile(); });
  mImportDDF = add(module, "mImportDDF", QStringLiteral("Импорт дескриптора устройства"), [this] { ImportDDF(); });
  mDDFEdit = add(module, "mDDFEdit", QStringLiteral("Редактор Дескриптора устройства"), nullptr);
  mDDUstavEdit = add(module, "mDDUstavEdit", QStringLiteral("Редактор уставок"), nullptr);
  mDDFEdit->setEnabled(false);
  mDDUstavEdit->setEnabled(false);
  module->addSeparator();
  mProperties = add(module, "mProperties", QStringLiteral("Свойства"), [this] { ShowProperties(); });

  QMenu *view = menuBar()->addMenu(QStringLiteral("Вид"));
  mScaleBySize = add(view, "mScaleBySize", QStringLiteral("Масштаб по размеру"), [this] { FState.ScaleToFit(false); });
  mScaleBySelected =
      add(view, "mScaleBySelected", QStringLiteral("Масштаб по выделению"), [this] { FState.ScaleToFit(true); });
  mScale100pc = add(view, "mScale100pc", QStringLiteral("Масштаб 100%"), [this] {
    FState.SetZoom(TSchemaEditorState::DefaultZoom);
    FState.ZoomBy(0);
  });
  QMenu *options = view->addMenu(QStringLiteral("Опции отображения"));
  mShowIds = add(options, "mShowIds", QStringLiteral("Системные номера"), [this] { FState.ShowIds = mShowIds->isChecked(); });
  mShowGroupIndex = add(options, "mShowGroupIndex", QStringLiteral("Групповые номера"),
                        [this] { FState.ShowGroupIndex = mShowGroupIndex->isChecked(); });
  mShowIds->setCheckable(true);
  mShowGroupIndex->setCheckable(true);
  add(options, "mShowInterfaceElements", QStringLiteral("Интерфейс"), nullptr);
  mShowErrors = add(view, "mShowErrors", QStringLiteral("Выделить непривязанные"), [this] { FState.SelectUnbound(); });
  mRefresh = add(view, "mRefresh", QStringLiteral("Перечитать"), [this] { FState.ZoomBy(0); });
  mRefresh->setShortcut(QKeySequence(QStringLiteral("Ctrl+R")));
  menuInsert = menuBar()->addMenu(QStringLiteral("Вставка"));
  menuInsert->setObjectName("menuInsert");
  menuInsert->menuAction()->setVisible(false);
}

void TSchemaEditor::BuildInsertMenu() {
  menuInsert->clear();
  if (FConfigurator)
    for (const auto &g : FConfigurator->Groups) {
      if (!g->Custom)
        continue;
      QMenu *sub = menuInsert->addMenu(g->Caption);
      for (const auto &f : g->Functions) {
        if (!f->Enabled || !f->Custom)
          continue;
        TFunctionDescriptor *func = f.get();
        connect(sub->addAction(f->Caption), &QAction::triggered, this,
                [this, func] { Guard([&] { FState.ArmPlacement(func, nullptr); }); });
      }
    }
  menuInsert->addSeparator();
  menuInsert->addAction(Tr("Конфигуратор"));
}

// ---- tree ----

void TSchemaEditor::BuildTree() {
  TreeView->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(TreeView, &QTreeWidget::customContextMenuRequested, this, &TSchemaEditor::TreePopup);
  connect(TreeView, &QTreeWidget::itemClicked, this,
          [this](QTreeWidgetItem *Node) { Guard([&] { TreeNodeToScheme(Node); }); });
  connect(TreeView, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem *Node) {
    if (KindOf(Node) == nkNone || KindOf(Node) == nkGroup)
      Guard([&] { FState.ArmPlacement(nullptr, nullptr); });
  });
  // Names are edited only below "Локальные модули".
  TreeView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  connect(TreeView, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem *Node) {
    if (TreeView->topLevelItemCount() > 2 && Node != TreeView->topLevelItem(2) &&
        TopOf(Node) == TreeView->topLevelItem(2))
      TreeView->editItem(Node);
  });
  connect(TreeView, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem *Node) {
    auto it = FModuleItems.find(Node);
    if (it != FModuleItems.end())
      it->second->Caption = Node->text(0);
  });
  FillLibraryTree();
}

QTreeWidgetItem *TSchemaEditor::TopOf(QTreeWidgetItem *Node) const {
  while (Node && Node->parent())
    Node = Node->parent();
  return Node;
}

void TSchemaEditor::FillLibraryTree() {
  FCopySource = nullptr;
  FModuleItems.clear();
  TreeView->clear();
  for (const char *text : TreeTops)
    new QTreeWidgetItem(TreeView, {MultiLingual().FromRussian(QString::fromUtf8(text))});
  if (Module() && Module()->Module)
    delete TreeView->takeTopLevelItem(2);
  if (FConfigurator) {
    for (const auto &g : FConfigurator->Groups) {
      if (!g->Enabled || !g->Custom)
        continue;
      QList<TFunctionDescriptor *> funcs;
      for (const auto &f : g->Functions)
        if (f->Enabled && f->Custom)
          funcs << f.get();
      if (funcs.isEmpty())
        continue;
      auto *group = new QTreeWidgetItem(TreeView->topLevelItem(0), {g->Caption});
      Carry(group, nkGroup, g.get());
      for (TFunctionDescriptor *f : funcs)
        Carry(new QTreeWidgetItem(group, {f->Caption}), nkFunction, f);
    }
  }
  for (int i = 0; i < TreeView->topLevelItemCount(); ++i)
    TreeView->topLevelItem(i)->setExpanded(true);
}

void TSchemaEditor::ClearLibraryTree() {
  // The node at absolute position 1 (the second in tree order), while the
  // tree holds 4 nodes or more.
  for (;;) {
    QList<QTreeWidgetItem *> order;
    for (QTreeWidgetItemIterator it(TreeView); *it && order.size() < 4; ++it)
      order << *it;
    if (order.size() < 4)
      return;
    DeleteTreeNode(order[1]);
  }
}

void TSchemaEditor::TreeNodeToScheme(QTreeWidgetItem *Node) {
  FCopySource = nullptr;
  switch (KindOf(Node)) {
  case nkFunction: FState.ArmPlacement(ObjectOf<TFunctionDescriptor>(Node), nullptr); break;
  case nkModuleItem: FState.ArmPlacement(nullptr, ObjectOf<TModuleItem>(Node)->Module.get()); break;
  default: FState.ArmPlacement(nullptr, nullptr);
  }
}

QTreeWidgetItem *TSchemaEditor::AddModuleNode(QTreeWidgetItem *Parent, const QString &FileName) {
  auto item = std::make_unique<TModuleItem>();
  item->Type = TModuleItem::mtModule;
  item->Module = std::make_unique<TModule>(nullptr, 1);
  item->Module->SetConfigurator(FConfigurator);
  item->Module->LoadFromFile(FileName);
  item->Caption = item->Module->Caption.isEmpty() ? FileName : item->Module->Caption;
  item->Path = FileName;
  auto *node = new QTreeWidgetItem(Parent, {item->Caption});
  node->setFlags(node->flags() | Qt::ItemIsEditable);
  Carry(node, nkModuleItem, item.get());
  FModuleItems[node] = std::move(item);
  FCopySource = nullptr;
  return node;
}

void TSchemaEditor::DeleteTreeNode(QTreeWidgetItem *Node) {
  QList<QTreeWidgetItem *> doomed{Node};
  for (int i = 0; i < doomed.size(); ++i)
    for (int k = 0; k < doomed[i]->childCount(); ++k)
      doomed << doomed[i]->child(k);
  for (QTreeWidgetItem *n : doomed) {
    if (n == FCopySource)
      FCopySource = nullptr;
    auto it = FModuleItems.find(n);
    if (it == FModuleItems.end())
      continue;
    // An armed placement or an open editor must not outlive the module.
    FState.ArmPlacement(nullptr, nullptr);
    if (TSchemaEditor *open = FindEditorForModule(it->second->Module.get())) {
      open->FState.SetModule(nullptr);
      open->close();
    }
    FModuleItems.erase(it);
  }
  delete Node;
}

void TSchemaEditor::TreePopup(const QPoint &Pos) {
  if (QTreeWidgetItem *node = TreeView->itemAt(Pos)) {
    const std::unique_ptr<QMenu> menu = TreeMenu(node);
    menu->exec(TreeView->viewport()->mapToGlobal(Pos));
  }
}

std::unique_ptr<QMenu> TSchemaEditor::TreeMenu(QTreeWidgetItem *Node) {
  QTreeWidgetItem *top = TopOf(Node);
  const bool root = Module() && !Module()->Module;
  const bool inModules = root && top == TreeView->topLevelItem(1);
  const bool inLocal = root && TreeView->topLevelItemCount() > 2 && top == TreeView->topLevelItem(2);
  const int kind = KindOf(Node);
  auto menu = std::make_unique<QMenu>();
  auto add = [&](const QString &Text, bool Enabled, std::function<void()> Run) {
    QAction *a = menu->addAction(Text);
    a->setEnabled(Enabled);
    connect(a, &QAction::triggered, this, [this, Run] { Guard(Run); });
  };
  add(QString(), kind == nkFunction || kind == nkModuleItem, [this, Node] { TreeNodeToScheme(Node); });
  add(Tr("Добавить узел"), (inModules || inLocal) && kind == nkNone, [this, Node] {
    auto *n = new QTreeWidgetItem(Node, {Tr("Новый узел")});
    n->setFlags(n->flags() | Qt::ItemIsEditable);
    Node->setExpanded(true);
    FCopySource = nullptr;
  });
  add(Tr("Добавить модуль"), (inModules || inLocal) && kind == nkNone, [this, Node] {
    // The file question runs an event loop: the editor may have gone when it returns.
    const QPointer<TSchemaEditor> self(this);
    const QString name = AskFileName({TFileDialogKind::Open, QString(), QStringLiteral("xml"), XmlFilter(), {}, {}});
    if (!name.isEmpty() && self)
      AddModuleNode(Node, name);
  });
  add(Tr("Свойства"), kind == nkModuleItem, [] {});
  add(Tr("Редактировать модуль"), kind == nkModuleItem, [this, Node] {
    TModule *m = ObjectOf<TModuleItem>(Node)->Module.get();
    auto *w = new TSchemaEditor(this);
    w->setWindowFlag(Qt::Window);
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->UseConfigurator(FConfigurator);
    w->SetModule(m);
    w->setWindowTitle(m->Caption);
    w->FState.SetZoom(0);
    w->FState.ZoomBy(FState.Zoom());
    w->show();
  });
  add(inLocal ? Tr("Вставить") : Tr("Копировать"), (inModules || inLocal) && FCopySource,
      [this, Node, inModules] { FCopySource = inModules ? Node : nullptr; });
  add(Tr("Удалить"), (inModules || inLocal) && Node != top, [this, Node] { DeleteTreeNode(Node); });
  return menu;
}

// ---- calls of the page and the main window ----

void TSchemaEditor::UseConfigurator(TConfigurator *Configurator) {
  FConfigurator = Configurator;
  if (Module())
    Module()->SetConfigurator(Configurator);
  BuildInsertMenu();
  FillLibraryTree();
}

void TSchemaEditor::SetConfigurator(TConfigurator *) {
  auto c = std::make_unique<TConfigurator>();
  c->LoadFromFile(QStringLiteral("config.xml"));
  FOwnConfigurator = std::move(c);
  UseConfigurator(FOwnConfigurator.get());
}

void TSchemaEditor::SetModule(TModule *Module) {
  FState.SetModule(Module);
  FillLibraryTree();
  FState.ZoomBy(0);
}

void TSchemaEditor::LoadFromFile(const QString &FileName) {
  FState.LoadFromFile(FileName, FConfigurator);
  FillLibraryTree();
  TModule *m = Module();
  mDDFEdit->setEnabled(bool(m->Descriptor));
  mDDUstavEdit->setEnabled(bool(m->Descriptor));
  Memo->appendPlainText("Module: " + m->Caption);
  Memo->appendPlainText("AbstractList: " + QString::number(m->AbstractList.Count()));
  Memo->appendPlainText("LinkList: " + QString::number(m->LinkList.Count()));
  FState.ZoomBy(0);
}

void TSchemaEditor::FormMouseWheel(bool Down, Qt::KeyboardModifiers Mods) {
  Guard([&] { FState.Wheel(Down, Mods & Qt::ControlModifier, Mods & Qt::ShiftModifier); });
}

bool TSchemaEditor::FormKeyDown(int Key, Qt::KeyboardModifiers Mods) {
  if (PageControl->currentIndex() != 0)
    return false;
  bool used = false;
  Guard([&] { used = FState.KeyDown(Key, Mods & Qt::ControlModifier, Mods & Qt::ShiftModifier); });
  return used;
}

void TSchemaEditor::keyPressEvent(QKeyEvent *Event) {
  if (!FormKeyDown(Event->key(), Event->modifiers()))
    QMainWindow::keyPressEvent(Event);
}

void TSchemaEditor::wheelEvent(QWheelEvent *Event) {
  FormMouseWheel(Event->angleDelta().y() < 0, Event->modifiers());
  Event->accept();
}

void TSchemaEditor::resizeEvent(QResizeEvent *Event) {
  QMainWindow::resizeEvent(Event);
  SyncView();
}

bool TSchemaEditor::eventFilter(QObject *Watched, QEvent *Event) {
  if (Watched == PanelPaletta && Event->type() == QEvent::MouseButtonPress)
    FState.ResetMouse();
  return QMainWindow::eventFilter(Watched, Event);
}

void TSchemaEditor::changeEvent(QEvent *Event) {
  QMainWindow::changeEvent(Event);
  if (Event->type() != QEvent::ActivationChange || !isActiveWindow() || !Module())
    return;
  // Setpoints and events may have changed in the descriptor meanwhile.
  FState.ResetMouse();
  Module()->RootModule()->RelinkRefs();
  Module()->RootModule()->RelinkEventPins();
}

void TSchemaEditor::closeEvent(QCloseEvent *Event) {
  TModule *m = Module();
  if (m && !m->Module && m->IsChanged() &&
      ShowMessageBox(TMsgKind::Question, Tr("Изменения для %1 будут потеряны, продолжить выход?").arg(windowTitle())) !=
          TMsgResult::Yes) {
    Event->ignore();
    return;
  }
  Event->accept();
}

void TSchemaEditor::FindDialogFind(const QString &Text) {
  Guard([&] { FState.Find(Text); });
}

TSchemaEditor *TSchemaEditor::FindEditorForModule(const TModule *Module) {
  for (QWidget *w : QApplication::topLevelWidgets())
    if (auto *e = qobject_cast<TSchemaEditor *>(w); e && e->Module() == Module)
      return e;
  return nullptr;
}

void TSchemaEditor::CloseOrphanEditors() {
  // A child module taken out of the schema must not be edited on.
  for (TSchemaEditor *child : findChildren<TSchemaEditor *>(Qt::FindDirectChildrenOnly)) {
    const TModule *m = child->Module();
    bool inSchema = m != nullptr;
    for (const TModule *c = m; inSchema && c->Module; c = c->Module)
      inSchema = c->Module->AbstractList.Items().contains(const_cast<TModule *>(c));
    if (!inSchema) {
      child->FState.SetModule(nullptr);
      child->deleteLater();
      child->hide();
    }
  }
}

// ---- menu commands ----

void TSchemaEditor::InsertExternalModule() {
  const QPointer<TSchemaEditor> self(this);
  const QString name = AskFileName({TFileDialogKind::Open, QString(), QStringLiteral("xml"), XmlFilter(), {}, {}});
  if (!name.isEmpty() && self)
    FState.InsertExternalModule(name);
}

void TSchemaEditor::SaveModuleToFile() {
  TModule *m = Module();
  if (!m)
    throw EKvError("FModule is nil");
  const QPointer<TSchemaEditor> self(this);
  const QString name =
      AskFileName({TFileDialogKind::Save, QString(), QStringLiteral("xml"), QStringLiteral("*.xml"), {}, m->Caption});
  if (!name.isEmpty() && self)
    m->SaveToFile(name);
}

void TSchemaEditor::ImportDDF() {
  TModule *m = Module();
  if (!m)
    throw EKvError("FModule is nil");
  const QPointer<TSchemaEditor> self(this);
  const QString name = AskFileName({TFileDialogKind::Open, QStringLiteral("Импорт Дескриптора устройства"),
                                    QStringLiteral("ddf"), Tr("Дескриптор устройства") + QStringLiteral(" (*.ddf)"),
                                    {}, {}});
  if (name.isEmpty() || !self)
    return;
  // Read first: a file that fails leaves the module with its descriptor.
  auto device = std::make_shared<TDeviceDescriptor>();
  device->LoadFromFile(name);
  auto d = std::make_shared<TSchemaDeviceDescriptor>(device);
  m->SetDescriptor(d);
  d->SetHost(m);
  TModule *root = m->RootModule();
  root->PropagateDescriptor();
  root->RelinkRefs();
  root->RelinkEventPins();
  mDDFEdit->setEnabled(true);
}

void TSchemaEditor::ShowProperties() {
  TModule *m = Module();
  if (!m)
    throw EKvError("FModule is nil");
  if (!FModulePropertyForm)
    FModulePropertyForm = new TModuleProtertyForm(this);
  FillPropertyForm(*FModulePropertyForm, *m);
  TranslateTexts(FModulePropertyForm);
  if (FModulePropertyForm->exec() == QDialog::Accepted)
    FState.EditObject(TSchemaEditorState::ekProperties, m);
}

void TSchemaEditor::Print() {
  if (!Module())
    return;
  QPrinter printer;
  if (ExecutePrintDialog(printer, this))
    PrintTo(printer);
}

void TSchemaEditor::PrintTo(QPrinter &Printer) {
  SyncView();
  QPainter p(&Printer);
  FState.PaintPage(p, Printer.pageLayout().paintRectPixels(Printer.resolution()).width());
}

// ---- block dialogs ----

bool TSchemaEditor::EditComment(TComment &Comment) {
  FCommentForm->SetComment(&Comment);
  if (FCommentForm->exec() != QDialog::Accepted)
    return false;
  FCommentForm->Apply(&Comment);
  return true;
}

bool TSchemaEditor::EditLabel(TElement &Element) {
  FLabelForm->SetAbstract(&Element);
  if (FLabelForm->exec() != QDialog::Accepted)
    return false;
  FLabelForm->Apply();
  // An interface point's caption names its module pin.
  if ((Element.Type == atInint || Element.Type == atOutint) && Element.Owner)
    Element.Owner->RebuildInterface(Element.Type);
  return true;
}

bool TSchemaEditor::EditLabelRef(TElement &Element) {
  FLabelRefForm->SetAbstract(&Element);
  if (FLabelRefForm->exec() != QDialog::Accepted)
    return false;
  FLabelRefForm->Apply();
  return true;
}

bool TSchemaEditor::EditFunction(TElement &Element) {
  FFunctionForm->SetDescriptor(Module() ? DeviceOf(Module()->Descriptor.get()) : nullptr);
  FFunctionForm->SetElement(&Element);
  if (FFunctionForm->exec() != QDialog::Accepted)
    return false;
  FFunctionForm->Apply();
  return true;
}

void TSchemaEditor::OpenModule(TModule &Module) {
  if (TSchemaEditor *open = FindEditorForModule(&Module)) {
    open->show();
    open->raise();
    open->activateWindow();
    return;
  }
  auto *w = new TSchemaEditor(this);
  w->setWindowFlag(Qt::Window);
  w->setAttribute(Qt::WA_DeleteOnClose);
  w->SetModule(&Module);
  w->setWindowTitle(Module.Caption);
  w->FState.SetZoom(0);
  w->FState.ZoomBy(FState.Zoom());
  w->show();
}
