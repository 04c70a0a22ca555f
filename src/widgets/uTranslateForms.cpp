#include "uTranslateForms.h"

#include "uMultiLingual.h"
#include "uStringGrid.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QLocale>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QTableWidget>
#include <QTreeWidget>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>

namespace {
// "1.86 КБ": Qt's own size text keeps the units in English whatever the language.
QString SizeText(qint64 Bytes) {
  static const char *const Units[] = {"байт", "КБ", "МБ", "ГБ", "ТБ"};
  double v = double(Bytes);
  int unit = 0;
  while (v >= 1024 && unit < 4)
    v /= 1024, ++unit;
  return QLocale().toString(v, 'f', unit == 0 ? 0 : 2) + u' ' + MultiLingual().Translate(QString::fromUtf8(Units[unit]));
}

class TFileDetailsProxy : public QIdentityProxyModel {
public:
  using QIdentityProxyModel::QIdentityProxyModel;
  QVariant data(const QModelIndex &Index, int Role) const override {
    // Columns of the file system model: 0 name, 1 size, 2 kind, 3 date.
    if (auto *files = qobject_cast<QFileSystemModel *>(sourceModel()); files && Role == Qt::DisplayRole) {
      const QModelIndex source = mapToSource(Index);
      if (Index.column() == 3)
        return QLocale().toString(files->lastModified(source), QLocale::ShortFormat);
      if (Index.column() == 1 && !files->isDir(source))
        return SizeText(files->size(source));
    }
    return QIdentityProxyModel::data(Index, Role);
  }
};

// A caption padded with blanks (the run-time tabs' are) is looked up without
// them and keeps them.
QString TranslatePadded(const TMultiLingual &T, const QString &Text) {
  const QString core = Text.trimmed();
  if (core.isEmpty() || core.size() == Text.size())
    return T.Translate(Text);
  const qsizetype lead = Text.indexOf(core);
  return Text.left(lead) + T.Translate(core) + Text.mid(lead + core.size());
}

// The item data role that marks an item as a text of the program.
constexpr int FixedTextRole = Qt::UserRole + 0x4B56;

void TranslateOne(const TMultiLingual &T, QObject *C) {
  if (auto *a = qobject_cast<QAction *>(C)) {
    // A menu's own action mirrors the menu's title, translated with the menu.
    if (auto *owner = qobject_cast<QMenu *>(a->parent()); owner && owner->menuAction() == a)
      return;
    if (a->isSeparator())
      return;
    // A hint of its own (a tool button showing a sign) is translated with the text.
    // A hint Qt made of the text (without "&" and "...") follows the text.
    const auto bare = [](QString T) { return T.remove(QStringLiteral("...")).remove(u'&'); };
    const QString text = a->text(), tip = a->toolTip();
    a->setText(T.Translate(text));
    if (tip == bare(text))
      a->setToolTip(bare(a->text()));
    else if (!tip.isEmpty())
      a->setToolTip(T.Translate(tip));
    return;
  }
  if (auto *m = qobject_cast<QMenu *>(C)) {
    m->setTitle(T.Translate(m->title()));
    return;
  }
  auto *w = qobject_cast<QWidget *>(C);
  if (!w)
    return;
  if (w->isWindow() && !w->windowTitle().isEmpty())
    w->setWindowTitle(T.Translate(w->windowTitle()));
  if (auto *l = qobject_cast<QLabel *>(w)) {
    l->setText(T.Translate(l->text()));
  } else if (auto *g = qobject_cast<QGroupBox *>(w)) {
    g->setTitle(T.Translate(g->title()));
  } else if (auto *tabs = qobject_cast<QTabWidget *>(w)) {
    for (int i = 0; i < tabs->count(); ++i)
      tabs->setTabText(i, TranslatePadded(T, tabs->tabText(i)));
  } else if (auto *tb = qobject_cast<QToolButton *>(w)) {
    // Tool buttons show pictures; their hint is the text. A button made for an
    // action takes its hint from the action, translated there.
    if (!tb->defaultAction()) {
      tb->setToolTip(T.Translate(tb->toolTip()));
      tb->setText(T.Translate(tb->text()));
    }
  } else if (qobject_cast<QPushButton *>(w) || qobject_cast<QCheckBox *>(w)) {
    auto *b = static_cast<QAbstractButton *>(w);
    b->setText(T.Translate(b->text()));
  } else if (auto *grid = qobject_cast<TStringGrid *>(w)) {
    for (int r = 0; r < grid->rowCount(); ++r)
      for (int c = 0; c < grid->columnCount(); ++c)
        if (!grid->Cells(c, r).isEmpty())
          grid->SetCells(c, r, T.Translate(grid->Cells(c, r)));
  } else if (auto *list = qobject_cast<QListWidget *>(w)) {
    for (int i = 0; i < list->count(); ++i)
      if (QListWidgetItem *item = list->item(i); item->data(FixedTextRole).toBool())
        item->setText(T.Translate(item->text()));
  } else if (auto *combo = qobject_cast<QComboBox *>(w)) {
    for (int i = 0; i < combo->count(); ++i)
      if (combo->itemData(i, FixedTextRole).toBool())
        combo->setItemText(i, T.Translate(combo->itemText(i)));
  }
  // Column headers name what a table shows: never data.
  if (auto *table = qobject_cast<QTableWidget *>(w); table && !qobject_cast<TStringGrid *>(w)) {
    for (int c = 0; c < table->columnCount(); ++c)
      if (QTableWidgetItem *h = table->horizontalHeaderItem(c))
        h->setText(T.Translate(h->text()));
  } else if (auto *tree = qobject_cast<QTreeWidget *>(w)) {
    if (QTreeWidgetItem *h = tree->headerItem())
      for (int c = 0; c < tree->columnCount(); ++c)
        h->setText(c, T.Translate(h->text(c)));
  }
}

void Walk(const TMultiLingual &T, QObject *C) {
  TranslateOne(T, C);
  for (QObject *child : C->children()) {
    // Dialogs parented to a window are forms of their own, translated on their own.
    if (qobject_cast<QDialog *>(child))
      continue;
    Walk(T, child);
  }
}
} // namespace

void TranslateComponent(const TMultiLingual &Translator, QObject *Component) {
  if (Component)
    Walk(Translator, Component);
}

QListWidgetItem *InsertFixedItem(QListWidget *List, int Row, const QString &Text) {
  auto *item = new QListWidgetItem(MultiLingual().Translate(Text));
  item->setData(FixedTextRole, true);
  List->insertItem(Row, item);
  return item;
}

QListWidgetItem *AddFixedItem(QListWidget *List, const QString &Text) {
  return InsertFixedItem(List, List->count(), Text);
}

void AddFixedItems(QComboBox *Combo, const QStringList &Texts) {
  for (const QString &t : Texts) {
    Combo->addItem(MultiLingual().Translate(t));
    Combo->setItemData(Combo->count() - 1, true, FixedTextRole);
  }
}

void LocalizeFileDetails(QFileDialog *Dialog) {
  Dialog->setOption(QFileDialog::DontUseNativeDialog);
  Dialog->setProxyModel(new TFileDetailsProxy(Dialog));
}
