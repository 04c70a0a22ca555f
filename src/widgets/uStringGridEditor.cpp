#include "uStringGridEditor.h"

#include "uErrors.h"
#include "uMessageSink.h"

#include <QComboBox>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QTableWidget>
#include <QTimer>

namespace {
// The popup of a drop-down list closes before its choice is reported; a
// close without a choice cancels the edit once the choice had its chance.
class TEditorComboBox : public QComboBox {
public:
  using QComboBox::QComboBox;
  std::function<void()> OnCloseUp;
  void hidePopup() override {
    QComboBox::hidePopup();
    if (OnCloseUp)
      QTimer::singleShot(0, this, OnCloseUp);
  }
};

// A name for a control made for Grid, unique in the grid's window: the
// grid's name, Suffix and the window's object count.
QString UniqueName(const QWidget *Grid, const char *Suffix) {
  const QObject *owner = Grid->window();
  return Grid->objectName() + Suffix + QString::number(owner->findChildren<QObject *>().size() + 1);
}

bool IsKey(QEvent *Event, std::initializer_list<int> Keys) {
  if (Event->type() != QEvent::KeyPress)
    return false;
  const int key = static_cast<QKeyEvent *>(Event)->key();
  for (int k : Keys)
    if (key == k)
      return true;
  return false;
}
} // namespace

TStringGridEditor::TStringGridEditor(QTableWidget *AGrid) : QObject(AGrid), Grid(AGrid) {
  Grid->installEventFilter(this);
  connect(Grid, &QTableWidget::cellDoubleClicked, this, [this](int, int) { StartEdit(); });

  Edit = new QLineEdit(Grid->viewport());
  Edit->setObjectName(UniqueName(Grid, "_Edit"));
  Edit->setFrame(false);
  Edit->hide();
  Edit->installEventFilter(this);

  // A child of the viewport, as the edit box: a grid placed in a splitter or
  // a layout would otherwise take the list in as a pane of its own.
  auto *combo = new TEditorComboBox(Grid->viewport());
  ComboBox = combo;
  ComboBox->setObjectName(UniqueName(Grid, "_ComboBox"));
  ComboBox->setMaxVisibleItems(8);
  ComboBox->hide();
  ComboBox->installEventFilter(this);
  connect(ComboBox, &QComboBox::activated, this, [this](int) { Finish(true); });
  combo->OnCloseUp = [this] {
    if (FKind == TCellEditorRequest::ekList)
      Finish(false);
  };
}

TStringGridEditor::~TStringGridEditor() = default;

void TStringGridEditor::StartEdit() {
  FKind = TCellEditorRequest::ekNone;
  FCol = Grid->currentColumn();
  FRow = Grid->currentRow();
  if (FCol < 0 || FRow < 0)
    return;
  TCellEditorRequest r;
  r.Text = Grid->item(FRow, FCol) ? Grid->item(FRow, FCol)->text() : QString();
  if (FOnGetCellEditor)
    FOnGetCellEditor(FCol, FRow, r);
  else
    r.Kind = TCellEditorRequest::ekEdit;
  FKind = r.Kind;
  const QRect rect = Grid->visualRect(Grid->model()->index(FRow, FCol));
  switch (FKind) {
  case TCellEditorRequest::ekList: {
    ComboBox->clear();
    ComboBox->addItems(r.Items);
    const QPoint at = Grid->viewport()->mapTo(ComboBox->parentWidget(), rect.topLeft());
    ComboBox->setGeometry(at.x(), at.y(), rect.width() + 3, ComboBox->sizeHint().height());
    ComboBox->setCurrentIndex(int(r.Items.indexOf(r.Text)));
    ComboBox->show();
    ComboBox->raise();
    ComboBox->setFocus();
    ComboBox->showPopup();
    break;
  }
  case TCellEditorRequest::ekEdit:
    if (r.PasswordChar.isNull()) {
      Edit->setEchoMode(QLineEdit::Normal);
      Edit->setStyleSheet(QString());
    } else {
      Edit->setEchoMode(QLineEdit::Password);
      Edit->setStyleSheet(QString("lineedit-password-character: %1").arg(r.PasswordChar.unicode()));
    }
    Edit->setGeometry(rect);
    Edit->setText(r.Text);
    Edit->show();
    Edit->setFocus();
    break;
  case TCellEditorRequest::ekDialog: {
    FKind = TCellEditorRequest::ekNone;
    if (!r.Dialog)
      break;
    r.Dialog->setProperty("strings", r.Items);
    r.Dialog->setProperty("value", r.Text);
    // The dialog runs an event loop: the grid may have gone when it returns.
    const QPointer<TStringGridEditor> self(this);
    if (r.Dialog->exec() != QDialog::Accepted || !self)
      break;
    const QString text = r.Dialog->property("value").toString();
    try {
      if (FOnCellEdited)
        FOnCellEdited(FCol, FRow, text);
      Grid->item(FRow, FCol) ? Grid->item(FRow, FCol)->setText(text) : Grid->setItem(FRow, FCol, new QTableWidgetItem(text));
    } catch (const EKvError &e) {
      ShowErrorText(e.Text());
    }
    break;
  }
  default:
    FKind = TCellEditorRequest::ekNone;
  }
}

void TStringGridEditor::Finish(bool Accept) {
  const int kind = FKind;
  FKind = TCellEditorRequest::ekNone;
  QWidget *control = kind == TCellEditorRequest::ekList ? static_cast<QWidget *>(ComboBox) : Edit;
  const QString text = kind == TCellEditorRequest::ekList ? ComboBox->currentText() : Edit->text();
  control->hide();
  Grid->setFocus();
  if (!Accept || kind == TCellEditorRequest::ekNone)
    return;
  // The editor is closed before the owner hears of the text, so an error box
  // the owner raises never finds it still open.
  try {
    if (FOnCellEdited)
      FOnCellEdited(FCol, FRow, kind == TCellEditorRequest::ekList ? QString::number(ComboBox->currentIndex()) : text);
    if (QTableWidgetItem *i = Grid->item(FRow, FCol))
      i->setText(text);
    else
      Grid->setItem(FRow, FCol, new QTableWidgetItem(text));
  } catch (const EKvError &e) {
    ShowErrorText(e.Text());
  }
}

bool TStringGridEditor::eventFilter(QObject *Watched, QEvent *Event) {
  if (Watched == Grid) {
    if (IsKey(Event, {Qt::Key_F2, Qt::Key_Return, Qt::Key_Enter})) {
      StartEdit();
      return true;
    }
    return false;
  }
  if (Watched == Edit || Watched == ComboBox) {
    if (IsKey(Event, {Qt::Key_Return, Qt::Key_Enter}) && FKind != TCellEditorRequest::ekNone) {
      Finish(true);
      return true;
    }
    if (IsKey(Event, {Qt::Key_Escape})) {
      Finish(false);
      return true;
    }
    if (Event->type() == QEvent::FocusOut && Watched == Edit && Edit->isVisible() &&
        FKind == TCellEditorRequest::ekEdit) {
      FKind = TCellEditorRequest::ekNone;
      Edit->hide();
    }
  }
  return false;
}

TCheckListBoxEditor::TCheckListBoxEditor(QListWidget *AList) : QObject(AList), List(AList) {
  List->installEventFilter(this);
  Edit = new QLineEdit(List->viewport());
  Edit->setObjectName(UniqueName(List, "_Edit"));
  Edit->setFrame(false);
  Edit->hide();
  Edit->installEventFilter(this);
}

void TCheckListBoxEditor::StartEdit() {
  const int index = List->currentRow();
  if (index <= 0)
    return;
  FIndex = index;
  Edit->setGeometry(List->visualItemRect(List->item(index)));
  Edit->setText(List->item(index)->text());
  Edit->show();
  Edit->setFocus();
}

void TCheckListBoxEditor::Finish(bool Accept) {
  const int index = FIndex;
  FIndex = -1;
  Edit->hide();
  List->setFocus();
  if (!Accept || index <= 0 || index >= List->count())
    return;
  List->item(index)->setText(Edit->text());
  if (FOnItemEdited) {
    try {
      FOnItemEdited(index, Edit->text());
    } catch (const EKvError &e) {
      ShowErrorText(e.Text());
    }
  }
}

bool TCheckListBoxEditor::eventFilter(QObject *Watched, QEvent *Event) {
  if (Watched == List) {
    if (IsKey(Event, {Qt::Key_F2})) {
      StartEdit();
      return true;
    }
    return false;
  }
  if (Watched == Edit) {
    if (IsKey(Event, {Qt::Key_Return, Qt::Key_Enter})) {
      Finish(true);
      return true;
    }
    if (IsKey(Event, {Qt::Key_Escape})) {
      Finish(false);
      return true;
    }
    if (Event->type() == QEvent::FocusOut && FIndex > 0) {
      FIndex = -1;
      Edit->hide();
    }
  }
  return false;
}
