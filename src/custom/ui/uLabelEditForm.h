#pragma once
// The small block dialogs of the schema editor: the caption of a label or an
// interface point, the target of a label reference, a comment. Each keeps its
// fill and write-back in a state struct without widgets; the forms mirror it.
#include <QDialog>
#include <QList>
#include <QString>
#include <functional>

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class TAbstract;
class TComment;
class TElement;

// "Редактор " + the keyword of the block's type.
QString BlockEditorCaption(const TAbstract &A);

class TLabelEditForm : public QDialog {
  Q_OBJECT
public:
  explicit TLabelEditForm(QWidget *Parent = nullptr);
  void SetAbstract(TAbstract *A);
  void Apply();
  QLineEdit *eCaption;
  QPushButton *bbOk, *bbCancel;

private:
  TAbstract *FAbstract = nullptr;
};

struct TLabelRefState {
  // The labels of the reference's module, in block-list order.
  QList<TElement *> Labels;
  int Selected = -1;
  // A must be a label reference (a TElement): EKvAssert "a is TElement".
  void Fill(TAbstract &A);
  // With a label chosen: caption and target from it; with none: no target,
  // the caption stays.
  void Apply(TAbstract &A) const;
};

class TLabelRefEditForm : public QDialog {
  Q_OBJECT
public:
  explicit TLabelRefEditForm(QWidget *Parent = nullptr);
  void SetAbstract(TAbstract *A);
  void Apply();
  QComboBox *cbLabelList;
  QPushButton *bbOk, *bbCancel;

private:
  TAbstract *FAbstract = nullptr;
  TLabelRefState FState;
};

struct TCommentFont {
  QString Name;
  int Height = 0;
  uint32_t Color = 0;
  uint8_t Style = 0;
};

// How the comment dialog asks for a font: false when the user cancels.
// Tests answer in place of the font dialog.
using TFontOpener = std::function<bool(TCommentFont &Font)>;
// The system font dialog (needs the GUI application object).
bool OpenFontDialog(TCommentFont &Font);

struct TCommentState {
  TCommentFont Font;
  int HorzAlign = 0;
  QString Text;
  // A must be a TComment: EKvAssert "a is TComment".
  void Fill(TAbstract &A);
  void Apply(TAbstract &A) const;
  // The font dialog on the working font; a cancelled one leaves it.
  void ChooseFont(const TFontOpener &Opener);
};

class TCommentEditForm : public QDialog {
  Q_OBJECT
public:
  explicit TCommentEditForm(QWidget *Parent = nullptr);
  void SetComment(TAbstract *A);
  void Apply(TAbstract *A);
  void bbFontClick();
  void SetFontOpener(TFontOpener Opener) { FOpener = std::move(Opener); }
  QPlainTextEdit *Memo;
  QComboBox *ComboBoxAlign;
  QPushButton *bbFont, *bbOk, *bbCancel;

private:
  TCommentState FState;
  TFontOpener FOpener = OpenFontDialog;
};
