#include "uTranslateTexts.h"

#include "uLogger.h"
#include "uLogicTexts.h"
#include "uMessageSink.h"
#include "uMultiLingual.h"

#include <QAbstractButton>
#include <QAction>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QTreeWidget>

namespace {
// A text in the interface's language, from the text it was made with: most
// are Russian; one already translated is found in the column of the language
// shown before, or is in the new language already.
QString InLanguage(const QString &Source) {
  const TMultiLingual &ml = MultiLingual();
  const QString fromRussian = ml.FromRussian(Source);
  return fromRussian != Source ? fromRussian : ml.Translate(Source);
}

// Each translated text keeps, under its slot, the text it was made with and
// the one shown for it. A text the code has set since is a new source.
void Put(QObject *Owner, const char *Slot, const QString &Now, const std::function<void(const QString &)> &Set) {
  if (Now.isEmpty())
    return;
  const QByteArray key = QByteArrayLiteral("kvText.") + Slot;
  const QStringList kept = Owner->property(key.constData()).toStringList();
  // The main window's walk may have translated the shown text on its own,
  // from the language shown before: that is still the kept source, not a new
  // text (its way back from English may pick another Russian row that
  // shares the English).
  const bool ours = kept.size() == 2 && (kept[1] == Now || MultiLingual().Translate(kept[1]) == Now);
  const QString source = ours ? kept[0] : Now;
  const QString shown = InLanguage(source);
  Owner->setProperty(key.constData(), QStringList{source, shown});
  if (shown != Now)
    Set(shown);
}

void Put(QObject *Owner, const QByteArray &Slot, const QString &Now, const std::function<void(const QString &)> &Set) {
  Put(Owner, Slot.constData(), Now, Set);
}

void TranslateHeader(QObject *Owner, const char *Slot, int Count, const std::function<QString(int)> &Get,
                     const std::function<void(int, const QString &)> &Set) {
  for (int i = 0; i < Count; ++i)
    Put(Owner, QByteArray(Slot) + QByteArray::number(i), Get(i), [&](const QString &T) { Set(i, T); });
}

void TranslateOne(QObject *C) {
  if (auto *a = qobject_cast<QAction *>(C)) {
    // A menu's own action mirrors its title, translated with the menu.
    if (auto *owner = qobject_cast<QMenu *>(a->parent()); owner && owner->menuAction() == a)
      return;
    if (a->isSeparator())
      return;
    Put(a, "text", a->text(), [a](const QString &T) { a->setText(T); });
    // A hint of its own (an action shown as a picture), not the text repeated.
    if (const QString tip = a->toolTip(); tip != QString(a->text()).remove(u'&'))
      Put(a, "hint", tip, [a](const QString &T) { a->setToolTip(T); });
    return;
  }
  auto *w = qobject_cast<QWidget *>(C);
  if (!w)
    return;
  if (w->isWindow())
    Put(w, "title", w->windowTitle(), [w](const QString &T) { w->setWindowTitle(T); });
  Put(w, "hint", w->toolTip(), [w](const QString &T) { w->setToolTip(T); });
  if (auto *m = qobject_cast<QMenu *>(w)) {
    Put(m, "menu", m->title(), [m](const QString &T) { m->setTitle(T); });
  } else if (auto *l = qobject_cast<QLabel *>(w)) {
    Put(l, "text", l->text(), [l](const QString &T) { l->setText(T); });
  } else if (auto *b = qobject_cast<QAbstractButton *>(w)) {
    Put(b, "text", b->text(), [b](const QString &T) { b->setText(T); });
  } else if (auto *g = qobject_cast<QGroupBox *>(w)) {
    Put(g, "text", g->title(), [g](const QString &T) { g->setTitle(T); });
  } else if (auto *tabs = qobject_cast<QTabWidget *>(w)) {
    TranslateHeader(
        tabs, "tab", tabs->count(), [tabs](int I) { return tabs->tabText(I); },
        [tabs](int I, const QString &T) { tabs->setTabText(I, T); });
  } else if (auto *table = qobject_cast<QTableWidget *>(w)) {
    TranslateHeader(
        table, "column", table->columnCount(),
        [table](int I) { return table->horizontalHeaderItem(I) ? table->horizontalHeaderItem(I)->text() : QString(); },
        [table](int I, const QString &T) { table->horizontalHeaderItem(I)->setText(T); });
  } else if (auto *tree = qobject_cast<QTreeWidget *>(w)) {
    QTreeWidgetItem *head = tree->headerItem();
    TranslateHeader(
        tree, "column", head ? head->columnCount() : 0, [head](int I) { return head->text(I); },
        [head](int I, const QString &T) { head->setText(I, T); });
  }
}

void Walk(QObject *C) {
  TranslateOne(C);
  for (QObject *child : C->children())
    Walk(child);
}

class TShowTranslator : public QObject {
public:
  explicit TShowTranslator(QWidget *Root) : QObject(Root) { Root->installEventFilter(this); }
  bool eventFilter(QObject *Watched, QEvent *Event) override {
    // A window open while the language is switched follows at once.
    if (Watched == parent() && (Event->type() == QEvent::Show || (Event->type() == QEvent::LanguageChange &&
                                                                  static_cast<QWidget *>(Watched)->isVisible())))
      TranslateTexts(static_cast<QWidget *>(Watched));
    return false;
  }
};

class TSwitchWatcher : public QObject {
public:
  TSwitchWatcher(QWidget *Probe, std::function<void()> Changed) : QObject(Probe), FChanged(std::move(Changed)) {
    Probe->installEventFilter(this);
  }
  bool eventFilter(QObject *Watched, QEvent *Event) override {
    if (Event->type() == QEvent::LanguageChange && Watched == parent() && !FPending) {
      // One switch may bring several of these (a catalogue removed, another
      // installed, the main window's own): act once.
      FPending = true;
      QTimer::singleShot(0, this, [this] {
        FPending = false;
        FChanged();
      });
    }
    return false;
  }

private:
  std::function<void()> FChanged;
  bool FPending = false;
};
} // namespace

void TranslateTexts(QWidget *Root) {
  if (Root)
    Walk(Root);
}

void TranslateWhenShown(QWidget *Root) { new TShowTranslator(Root); }

void OnLanguageSwitch(QWidget *Probe, std::function<void()> Changed) { new TSwitchWatcher(Probe, std::move(Changed)); }

void ShowLogicError(const QString &Text) {
  Logger().Error(Text);
  ShowMessageBox(TMsgKind::Error, LocalLogicText(Text));
}
