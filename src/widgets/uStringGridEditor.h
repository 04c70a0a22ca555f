#pragma once
// In-place editing for the pages' grids and check lists. The grid editor asks
// its owner, when an edit starts (F2, Enter or a double-click), which editor
// the cell gets: none, an edit box (with a password echo), a drop-down list or
// a pop-up dialog; it hands the accepted text back. The owner's errors from
// the done callback are shown in the error box and the cell keeps its text.
// Main thread only.
#include <QObject>
#include <QStringList>
#include <functional>

class QComboBox;
class QDialog;
class QLineEdit;
class QListWidget;
class QTableWidget;

// What the owner answers when an edit starts.
struct TCellEditorRequest {
  enum TKind { ekNone = 0, ekEdit = 1, ekList = 2, ekDialog = 3 };
  int Kind = ekNone;
  QStringList Items;      // the drop-down list's items, or the dialog's "strings"
  QChar PasswordChar;     // edit box echo; null: plain
  QDialog *Dialog = nullptr; // kind 3: has the properties "strings" and "value"
  QString Text;           // the cell text; the owner may change what the editor shows
};

// Asked at the start of an edit of cell (Col, Row); Kind starts at ekNone.
using TGetCellEditor = std::function<void(int Col, int Row, TCellEditorRequest &Request)>;
// An accepted edit: the typed text, or for a drop-down list the chosen item's
// index as decimal text (the cell receives the item's text).
using TCellEdited = std::function<void(int Col, int Row, const QString &Text)>;

class TStringGridEditor : public QObject {
  Q_OBJECT
public:
  // Hooks Grid's keys and double-click and makes the edit box and drop-down
  // list, named after the grid with a number unique in the grid's window.
  explicit TStringGridEditor(QTableWidget *Grid);
  ~TStringGridEditor() override;

  void SetOnGetCellEditor(TGetCellEditor Handler) { FOnGetCellEditor = std::move(Handler); }
  void SetOnCellEdited(TCellEdited Handler) { FOnCellEdited = std::move(Handler); }

  // Starts an edit of the grid's current cell (what F2 does).
  void StartEdit();
  // The kind of the edit in progress (0: none).
  int Kind() const { return FKind; }

  QLineEdit *Edit = nullptr;
  QComboBox *ComboBox = nullptr;
  QTableWidget *const Grid;

protected:
  bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
  void Finish(bool Accept);

  TGetCellEditor FOnGetCellEditor;
  TCellEdited FOnCellEdited;
  int FKind = 0;
  int FCol = -1, FRow = -1;
};

// Renames the items of a check list in place: F2 on any item but the first
// ("Все" on the setpoint pages), Enter takes the text, Escape or leaving the
// box drops it.
class TCheckListBoxEditor : public QObject {
  Q_OBJECT
public:
  explicit TCheckListBoxEditor(QListWidget *List);

  void SetOnItemEdited(std::function<void(int Index, const QString &Text)> Handler) {
    FOnItemEdited = std::move(Handler);
  }
  void StartEdit();

  QListWidget *const List;
  QLineEdit *Edit = nullptr;

protected:
  bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
  void Finish(bool Accept);

  std::function<void(int, const QString &)> FOnItemEdited;
  int FIndex = -1;
};
