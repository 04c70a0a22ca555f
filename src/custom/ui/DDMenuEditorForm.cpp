#include "DDMenuEditorForm.h"

#include "uDeviceDescriptor.h"
#include "uErrors.h"
#include "uFileDialogSink.h"
#include "uFiles.h"
#include "uLogicTexts.h"
#include "uMessageSink.h"
#include "uMultiLingual.h"
#include "uTranslateTexts.h"

#include <QCloseEvent>
#include <QStyle>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
QString U(const char *S) { return QString::fromUtf8(S); }
QString Tr(const char *Text) { return MultiLingual().Translate(QString::fromUtf8(Text)); }
const int NodeRole = Qt::UserRole;
} // namespace

TMenuEditor::TMenuEditor(QWidget *Parent) : QDialog(Parent) {
  setObjectName("MenuEditor");
  setWindowTitle(U("Редактор меню"));
  resize(709, 374);

  TreeViewMenu = new QTreeWidget(this);
  TreeViewMenu->setObjectName("TreeViewMenu");
  TreeViewMenu->setHeaderHidden(true);
  TreeViewMenu->setSelectionMode(QAbstractItemView::ExtendedSelection);
  TreeViewMenu->setEditTriggers(QAbstractItemView::NoEditTriggers);
  TreeViewDescriptor = new QTreeWidget(this);
  TreeViewDescriptor->setObjectName("TreeViewDescriptor");
  TreeViewDescriptor->setHeaderHidden(true);
  TreeViewDescriptor->setSelectionMode(QAbstractItemView::ExtendedSelection);
  TreeViewDescriptor->setEditTriggers(QAbstractItemView::NoEditTriggers);
  LabelTemp = new QLabel("-", this);
  LabelTemp->setObjectName("LabelTemp");

  ActionFileSave = MakeAction(U("Сохранить файл меню"), QStyle::SP_DialogSaveButton, {}, &TMenuEditor::FileSave);
  ActionInsertBlank = MakeAction(U("Новый пункт меню"), QStyle::SP_FileIcon, Qt::Key_Insert, &TMenuEditor::InsertBlank);
  ActionInsert = MakeAction(U("Вставить"), QStyle::SP_ArrowLeft, QKeySequence(Qt::CTRL | Qt::Key_Insert), &TMenuEditor::Insert);
  ActionInsertUstavGroup = MakeAction(U("Группа уставок"), U("У"), {}, &TMenuEditor::InsertUstavGroup);
  ActionInsertEvent = MakeAction(U("Список события"), U("Е"), {}, &TMenuEditor::InsertEvent);
  ActionInsertAlarm = MakeAction(U("Авария"), U("А"), {}, &TMenuEditor::InsertAlarm);
  ActionEdit = MakeAction(U("Редактировать"), QStyle::SP_FileDialogDetailedView, Qt::Key_F2, &TMenuEditor::Edit);
  ActionDelete = MakeAction(U("Удалить"), QStyle::SP_DialogDiscardButton, QKeySequence(Qt::CTRL | Qt::Key_D), &TMenuEditor::Delete);
  ActionMoveUp = MakeAction(U("Передвинуть вверх"), QStyle::SP_ArrowUp, QKeySequence(Qt::CTRL | Qt::Key_U), &TMenuEditor::MoveUp);
  // No shortcut: Ctrl+D stays with Delete (one key on two actions makes Qt fire neither).
  ActionMoveDown = MakeAction(U("Передвинуть вниз"), QStyle::SP_ArrowDown, {}, &TMenuEditor::MoveDown);
  ActionCheck = MakeAction(U("Проверить"), QStyle::SP_DialogApplyButton, {}, &TMenuEditor::Check);
  ActionLink = MakeAction(U("Фиксированный переход"), QStyle::SP_ArrowRight, {}, &TMenuEditor::Link);

  auto *buttons = new QVBoxLayout;
  for (QAction *a : {ActionFileSave, ActionInsertBlank, ActionInsert, ActionInsertUstavGroup, ActionInsertEvent,
                     ActionInsertAlarm, ActionEdit, ActionDelete, ActionMoveUp, ActionMoveDown, ActionCheck,
                     ActionLink}) {
    auto *b = new QToolButton(this);
    b->setDefaultAction(a);
    b->setFixedWidth(40);
    b->setVisible(a != ActionLink);
    buttons->addWidget(b);
  }
  buttons->addStretch();

  StringGridEvent = new QTableWidget(0, 5, this);
  StringGridEvent->setObjectName("StringGridEvent");
  StringGridEvent->setHorizontalHeaderLabels({U("Тип"), U("Код"), U("Действие"), U("Переход"), QString()});
  for (int c = 0; c < 5; ++c)
    StringGridEvent->setColumnWidth(c, QList<int>{84, 95, 125, 138, 135}[c]);
  StringGridEvent->hide();

  auto *grid = new QGridLayout(this);
  grid->addWidget(new QLabel(U("Меню"), this), 0, 0);
  grid->addWidget(new QLabel(U("Дескриптор"), this), 0, 2);
  grid->addWidget(TreeViewMenu, 1, 0);
  grid->addLayout(buttons, 1, 1);
  grid->addWidget(TreeViewDescriptor, 1, 2);
  grid->addWidget(LabelTemp, 2, 0, 1, 3);
  grid->addWidget(StringGridEvent, 3, 0, 1, 3);

  connect(TreeViewMenu, &QTreeWidget::itemSelectionChanged, this, [this] {
    const IXXMLNode n = SingleSelected();
    LabelTemp->setText(n ? GetAttrStr(n, "caption", "-") : "-");
    UpdateActions();
  });
  connect(TreeViewMenu, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem *Item, int) {
    if (FUpdating)
      return;
    const IXXMLNode n = NodeOf(Item);
    const QString path = TMenuEditorCore::NodePath(n);
    Guarded([&] { FCore.EndEdit(n, Item->text(0)); });
    // Refilled after the signal: the edited item must outlive its own notification.
    QMetaObject::invokeMethod(this, [this, path] { FillMenuTree(path); }, Qt::QueuedConnection);
  });
  connect(TreeViewMenu, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem *Item, int) {
    const IXXMLNode n = NodeOf(Item);
    if (!n || n->GetNodeName() != "item")
      return;
    if (const TDescTreeNode *d = FCore.FindDescNode(n)) {
      TreeViewDescriptor->clearSelection();
      FDescItems[d]->setSelected(true);
      TreeViewDescriptor->scrollToItem(FDescItems[d]);
    }
  });
  UpdateActions();
  TranslateWhenShown(this);
}

QAction *TMenuEditor::MakeAction(const QString &Hint, QStyle::StandardPixmap Icon, const QKeySequence &Key,
                                 void (TMenuEditor::*Slot)()) {
  auto *a = MakeAction(Hint, QString(), Key, Slot);
  a->setIcon(style()->standardIcon(Icon));
  return a;
}

QAction *TMenuEditor::MakeAction(const QString &Hint, const QString &Text, const QKeySequence &Key,
                                 void (TMenuEditor::*Slot)()) {
  auto *a = new QAction(Text, this);
  a->setToolTip(Hint);
  a->setStatusTip(Hint);
  a->setShortcut(Key);
  a->setShortcutContext(Qt::WindowShortcut);
  addAction(a);
  connect(a, &QAction::triggered, this, Slot);
  return a;
}

void TMenuEditor::Guarded(const std::function<void()> &Command) {
  try {
    Command();
  } catch (const EKvError &e) {
    ShowLogicError(e.Text());
  }
}

void TMenuEditor::LoadFromFile(const QString &FileName) {
  Guarded([&] { FCore.LoadFromFile(FileName); });
  if (!FCore.FMenu)
    FCore.FMenu = std::make_unique<TDeviceMenu>();
}

void TMenuEditor::SetDescriptor(TDeviceDescriptor *Descriptor) {
  FCore.SetDescriptor(Descriptor);
  FillMenuTree();
  FillDescriptorTree();
  FillEventGrid();
}

IXXMLNode TMenuEditor::NodeOf(QTreeWidgetItem *Item) const {
  if (!Item)
    return nullptr;
  const int i = Item->data(0, NodeRole).toInt();
  return i >= 0 && size_t(i) < FNodes.size() ? FNodes[size_t(i)] : nullptr;
}

QList<IXXMLNode> TMenuEditor::SelectedNodes() const {
  QList<IXXMLNode> out;
  for (QTreeWidgetItem *i : TreeViewMenu->selectedItems())
    out << NodeOf(i);
  return out;
}

IXXMLNode TMenuEditor::SingleSelected() const {
  const QList<IXXMLNode> s = SelectedNodes();
  return s.size() == 1 ? s.front() : nullptr;
}

const TDescTreeNode *TMenuEditor::DescOf(QTreeWidgetItem *Item) const {
  for (const auto &[node, item] : FDescItems)
    if (item == Item)
      return node;
  return nullptr;
}

void TMenuEditor::AddMenuItems(QTreeWidgetItem *Parent, const IXXMLNode &Node) {
  for (const IXXMLNode &k : FCore.TreeChildren(Node)) {
    auto *item = new QTreeWidgetItem(Parent, {FCore.TreeText(k)});
    item->setData(0, NodeRole, int(FNodes.size()));
    FNodes.push_back(k);
    // The hint's mark tells the item's kind: both groups, a level, an alarm, not found.
    static const char *const marks[] = {"", "", "[1/2] ", "[ур] ", "[!] ", "[?] "};
    const int image = FCore.TreeImage(k);
    item->setToolTip(0, MultiLingual().FromRussian(QString::fromUtf8(marks[image]).trimmed()) +
                            (image >= 2 ? QStringLiteral(" ") : QString()) + item->text(0));
    if (image == 5)
      item->setForeground(0, Qt::red);
    if (FCore.CanEditText(k))
      item->setFlags(item->flags() | Qt::ItemIsEditable);
    AddMenuItems(item, k);
  }
}

void TMenuEditor::FillMenuTree(const QString &Select) {
  FUpdating = true;
  TreeViewMenu->clear();
  FNodes.clear();
  const IXXMLNode root = FCore.FMenu ? FCore.Menu().MenuRoot() : nullptr;
  if (root) {
    // The root's text is the editor's own ("Старт"), not the device's.
    auto *start = new QTreeWidgetItem(TreeViewMenu, {MultiLingual().FromRussian(FCore.TreeText(root))});
    start->setData(0, NodeRole, 0);
    FNodes.push_back(root);
    Guarded([&] { AddMenuItems(start, root); });
    TreeViewMenu->expandAll();
    for (QTreeWidgetItemIterator it(TreeViewMenu); *it; ++it)
      if (!Select.isEmpty() && TMenuEditorCore::NodePath(NodeOf(*it)) == Select)
        (*it)->setSelected(true), TreeViewMenu->setCurrentItem(*it);
  }
  FUpdating = false;
  UpdateActions();
}

void TMenuEditor::FillDescriptorTree() {
  TreeViewDescriptor->clear();
  FDescItems.clear();
  for (const TDescTreeNode &top : FCore.FDescTree) {
    // The headings are the editor's own; the records under them are the descriptor's names.
    auto *t = new QTreeWidgetItem(TreeViewDescriptor, {MultiLingual().FromRussian(top.Text)});
    FDescItems[&top] = t;
    for (const TDescTreeNode &c : top.Children)
      FDescItems[&c] = new QTreeWidgetItem(t, {c.Text});
  }
}

void TMenuEditor::FillEventGrid() {
  const std::vector<TMenuEventRow> rows = FCore.EventRows();
  StringGridEvent->setRowCount(int(rows.size()));
  for (size_t r = 0; r < rows.size(); ++r) {
    const QStringList cells = {rows[r].Type, rows[r].Code, rows[r].Action, rows[r].Target};
    for (int c = 0; c < cells.size(); ++c)
      StringGridEvent->setItem(int(r), c, new QTableWidgetItem(cells[c]));
  }
}

void TMenuEditor::UpdateActions() {
  const QList<IXXMLNode> sel = SelectedNodes();
  const IXXMLNode one = sel.size() == 1 ? sel.front() : nullptr;
  auto sibling = [&](const char *Axis) {
    return one && FCore.Level(one) > 0 && bool(one->SelectSingleNode(QString::fromLatin1(Axis)));
  };
  const bool anyParent = std::any_of(sel.begin(), sel.end(), [&](const IXXMLNode &n) { return FCore.Level(n) > 0; });
  const bool insertable = !sel.isEmpty() && std::none_of(sel.begin(), sel.end(), [](const IXXMLNode &n) {
    return n->GetNodeName() == "item" && GetAttrStr(n, "desc-type", "") == "event";
  });
  ActionMoveUp->setEnabled(sibling("preceding-sibling::*"));
  ActionMoveDown->setEnabled(sibling("following-sibling::*"));
  ActionEdit->setEnabled(bool(one));
  ActionDelete->setEnabled(anyParent);
  ActionInsert->setEnabled(insertable);
  ActionInsertBlank->setEnabled(insertable);
  ActionInsertUstavGroup->setEnabled(insertable && one);
  const int row = StringGridEvent->currentRow();
  const std::vector<TMenuEventRow> rows = FCore.EventRows();
  bool linkAction = false;
  if (row >= 0 && size_t(row) < rows.size() && FCore.FMenu)
    for (const TXValue &a : FCore.Menu().Actions)
      linkAction |= a.Number == 14 && a.Text == rows[size_t(row)].Action;
  ActionLink->setEnabled(!sel.isEmpty() && linkAction);
  ActionFileSave->setEnabled(FCore.FMenu && FCore.Menu().Modified);
}

void TMenuEditor::FileSave() {
  TFileDialogRequest r;
  r.Kind = TFileDialogKind::Save;
  r.Caption = U("Сохранить файл меню как");
  r.DefaultExt = "xml";
  r.Filter = Tr("Меню") + U(" (*.xml)");
  r.InitialDir = ProgramFolder();
  r.FileName = "menu.xml";
  const QString path = AskFileName(r);
  if (!path.isEmpty())
    Guarded([&] { FCore.Save(path); });
  UpdateActions();
}

IXXMLNode TMenuEditor::RunInsert(const std::function<IXXMLNode(const IXXMLNode &Target)> &Command) {
  const IXXMLNode target = SingleSelected();
  IXXMLNode made;
  Guarded([&] { made = Command(target); });
  FillMenuTree(made ? TMenuEditorCore::NodePath(made) : QString());
  return made;
}

void TMenuEditor::InsertBlank() {
  if (RunInsert([this](const IXXMLNode &T) { return FCore.InsertBlank(T); }))
    Edit();
}

void TMenuEditor::Insert() {
  const IXXMLNode target = SingleSelected();
  std::vector<const TDescTreeNode *> chosen;
  for (QTreeWidgetItem *i : TreeViewDescriptor->selectedItems())
    if (const TDescTreeNode *d = DescOf(i))
      chosen.push_back(d);
  Guarded([&] { FCore.Insert(target, chosen); });
  FillMenuTree(target ? TMenuEditorCore::NodePath(target) : QString());
}

void TMenuEditor::InsertUstavGroup() {
  RunInsert([this](const IXXMLNode &T) { return FCore.InsertUstavGroup(T); });
}

void TMenuEditor::InsertEvent() {
  RunInsert([this](const IXXMLNode &T) { return FCore.InsertEvent(T); });
}

void TMenuEditor::InsertAlarm() {
  if (RunInsert([this](const IXXMLNode &T) { return FCore.InsertAlarm(T); }))
    Edit();
}

void TMenuEditor::Edit() {
  QTreeWidgetItem *item = TreeViewMenu->currentItem();
  if (item && TreeViewMenu->selectedItems().size() == 1 && (item->flags() & Qt::ItemIsEditable))
    TreeViewMenu->editItem(item, 0);
}

void TMenuEditor::Delete() {
  Guarded([&] { FCore.Delete(SelectedNodes()); });
  FillMenuTree();
}

void TMenuEditor::MoveUp() {
  IXXMLNode n = SingleSelected();
  if (n && FCore.MoveUp(n))
    FillMenuTree(TMenuEditorCore::NodePath(n));
}

void TMenuEditor::MoveDown() {
  IXXMLNode n = SingleSelected();
  if (n && FCore.MoveDown(n))
    FillMenuTree(TMenuEditorCore::NodePath(n));
}

void TMenuEditor::Check() { ShowMessageText(LocalLogicText(FCore.Check())); }

void TMenuEditor::Link() {
  FCore.Link(StringGridEvent->currentRow(), SingleSelected());
  FillEventGrid();
}

bool TMenuEditor::AskClose() {
  if (FCore.FFileName.isEmpty() || !FCore.FMenu || !FCore.Menu().Modified)
    return true;
  return ShowMessageBox(TMsgKind::Question, Tr("Изменения будут потеряны, продолжить выход?")) == TMsgResult::Yes;
}

// Escape while a text is edited ends the edit in the editor and never gets here.
void TMenuEditor::reject() {
  if (AskClose())
    QDialog::reject();
}

void TMenuEditor::closeEvent(QCloseEvent *Event) {
  if (AskClose())
    Event->accept();
  else
    Event->ignore();
}
