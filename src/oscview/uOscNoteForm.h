#pragma once
// "Заметка": edits one note of an oscillogram channel, shown modally from the
// plot's right button. Text and value kind change the note at once; "Удалить"
// only raises a flag and closes, and the caller deletes the note once the
// window is closed, so the window never holds a freed note.
#include <QDialog>
#include <functional>

class QComboBox;
class QPlainTextEdit;
class QToolButton;
class TOscNote;

class TOscNoteForm : public QDialog {
  Q_OBJECT
public:
  explicit TOscNoteForm(QWidget *Parent = nullptr);
  ~TOscNoteForm() override;
  // The window the program made (the last one created), or null.
  static TOscNoteForm *Instance();

  // Shows Note's text and clears the delete flag; the value-kind list keeps
  // its choice.
  void SetNote(TOscNote *Note);
  TOscNote *Note() const { return FNote; }
  bool DeleteRequested() const { return FDelete; }

  // "Шрифт": the font dialog with the note's font and colour; true when accepted.
  void ChooseFont();

  // Replaceable: the font dialog (tests answer without a window). Font and
  // Color come in as the note has them and go out as chosen.
  static std::function<bool(QWidget *Parent, QFont &Font, QColor &Color)> FontDialog;

  QToolButton *SpeedButton1 = nullptr, *SpeedButton2 = nullptr;
  QComboBox *cbRMS = nullptr;
  QPlainTextEdit *Memo = nullptr;

private:
  TOscNote *FNote = nullptr;
  bool FDelete = false;
};
