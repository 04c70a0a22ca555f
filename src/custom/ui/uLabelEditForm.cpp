#include "uLabelEditForm.h"

#include "uErrors.h"
#include "uMultiLingual.h"
#include "uSchemaCode.h"
#include "uSchemaModule.h"
#include "uTranslateTexts.h"
#include "uUstavListForm.h"

#include <QComboBox>
#include <QFontDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QString Tr(const char *Text) { return MultiLingual().Translate(QString::fromUtf8(Text)); }

// The alignments by index.
const char *const AlignNames[] = {"Влево", "Вправо", "По центру"};

// The OK/Cancel row every block dialog ends with, named as the dialogs name it.
void AddButtons(QDialog *D, QVBoxLayout *Main, QPushButton *&Ok, QPushButton *&Cancel) {
  AddDialogButtons(D, Main, Ok, Cancel);
  Ok->setObjectName("bbOk");
  Cancel->setObjectName("bbCancel");
  TranslateWhenShown(D);
}

TComment &AsComment(TAbstract &A) {
  auto *c = dynamic_cast<TComment *>(&A);
  if (!c)
    throw EKvAssert("a is TComment");
  return *c;
}

TElement &AsElement(TAbstract &A) {
  auto *e = dynamic_cast<TElement *>(&A);
  if (!e)
    throw EKvAssert("a is TElement");
  return *e;
}
} // namespace

QString BlockEditorCaption(const TAbstract &A) {
  const char *keyword = A.Type < 12 ? AbstractTypeNames[A.Type] : "";
  return Tr("Редактор %1").arg(QString::fromLatin1(keyword));
}

TLabelEditForm::TLabelEditForm(QWidget *Parent) : QDialog(Parent) {
  setObjectName("LabelEditForm");
  auto *main = new QVBoxLayout(this);
  auto *form = new QFormLayout;
  eCaption = new QLineEdit;
  form->addRow(QStringLiteral("Наименование"), eCaption);
  main->addLayout(form);
  AddButtons(this, main, bbOk, bbCancel);
}

void TLabelEditForm::SetAbstract(TAbstract *A) {
  FAbstract = A;
  setWindowTitle(BlockEditorCaption(*A));
  eCaption->setText(A->Caption);
}

void TLabelEditForm::Apply() {
  if (FAbstract)
    FAbstract->Caption = eCaption->text();
}

void TLabelRefState::Fill(TAbstract &A) {
  const TElement &ref = AsElement(A);
  Labels.clear();
  Selected = -1;
  if (!ref.Module)
    return;
  for (TAbstract *b : ref.Module->AbstractList.Items())
    if (b->Type == atLabel)
      if (auto *l = dynamic_cast<TElement *>(b)) {
        if (l == ref.LabelRef)
          Selected = int(Labels.size());
        Labels << l;
      }
}

void TLabelRefState::Apply(TAbstract &A) const {
  TElement &ref = AsElement(A);
  if (Selected < 0 || Selected >= Labels.size()) {
    ref.SetLabel(nullptr);
    return;
  }
  ref.Caption = Labels[Selected]->Caption;
  ref.SetLabel(Labels[Selected]);
}

TLabelRefEditForm::TLabelRefEditForm(QWidget *Parent) : QDialog(Parent) {
  setObjectName("LabelRefEditForm");
  auto *main = new QVBoxLayout(this);
  auto *form = new QFormLayout;
  cbLabelList = new QComboBox;
  form->addRow(QStringLiteral("Ссылка на метку"), cbLabelList);
  main->addLayout(form);
  AddButtons(this, main, bbOk, bbCancel);
}

void TLabelRefEditForm::SetAbstract(TAbstract *A) {
  FState.Fill(*A);
  FAbstract = A;
  setWindowTitle(BlockEditorCaption(*A));
  cbLabelList->clear();
  for (const TElement *l : FState.Labels)
    cbLabelList->addItem(l->Caption);
  cbLabelList->setCurrentIndex(FState.Selected);
}

void TLabelRefEditForm::Apply() {
  if (!FAbstract)
    return;
  FState.Selected = cbLabelList->currentIndex();
  FState.Apply(*FAbstract);
}

bool OpenFontDialog(TCommentFont &Font) {
  QFont f(Font.Name);
  // The stored height is negative for a character height in pixels.
  f.setPixelSize(qMax(1, qAbs(Font.Height)));
  f.setBold(Font.Style & 1);
  f.setItalic(Font.Style & 2);
  f.setUnderline(Font.Style & 4);
  f.setStrikeOut(Font.Style & 8);
  bool ok = false;
  const QFont chosen = QFontDialog::getFont(&ok, f);
  if (!ok)
    return false;
  Font.Name = chosen.family();
  if (chosen.pixelSize() > 0)
    Font.Height = -chosen.pixelSize();
  Font.Style = uint8_t((chosen.bold() ? 1 : 0) | (chosen.italic() ? 2 : 0) | (chosen.underline() ? 4 : 0) |
                       (chosen.strikeOut() ? 8 : 0));
  return true;
}

void TCommentState::Fill(TAbstract &A) {
  const TComment &c = AsComment(A);
  Font = {c.FontName, c.FontHeight, c.FontColor, c.FontStyle};
  HorzAlign = c.HorzAlign;
  Text = c.Caption;
}

void TCommentState::Apply(TAbstract &A) const {
  TComment &c = AsComment(A);
  c.FontName = Font.Name;
  c.FontHeight = Font.Height;
  c.FontColor = Font.Color;
  c.FontStyle = Font.Style;
  c.HorzAlign = uint8_t(qBound(0, HorzAlign, 2));
  c.Caption = Text;
}

void TCommentState::ChooseFont(const TFontOpener &Opener) {
  TCommentFont f = Font;
  if (Opener && Opener(f))
    Font = f;
}

TCommentEditForm::TCommentEditForm(QWidget *Parent) : QDialog(Parent) {
  setObjectName("CommentEditForm");
  setWindowTitle(QStringLiteral("Комментарий"));
  auto *main = new QVBoxLayout(this);
  Memo = new QPlainTextEdit;
  Memo->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  main->addWidget(Memo, 1);
  auto *row = new QHBoxLayout;
  row->addWidget(new QLabel(QStringLiteral("Выровнен")));
  ComboBoxAlign = new QComboBox;
  for (const char *name : AlignNames)
    ComboBoxAlign->addItem(QString::fromUtf8(name));
  row->addWidget(ComboBoxAlign);
  bbFont = new QPushButton(QStringLiteral("Шрифт"));
  row->addWidget(bbFont);
  row->addStretch();
  main->addLayout(row);
  AddButtons(this, main, bbOk, bbCancel);
  connect(bbFont, &QPushButton::clicked, this, &TCommentEditForm::bbFontClick);
}

void TCommentEditForm::SetComment(TAbstract *A) {
  FState.Fill(*A);
  for (int i = 0; i < ComboBoxAlign->count(); ++i)
    ComboBoxAlign->setItemText(i, Tr(AlignNames[i]));
  ComboBoxAlign->setCurrentIndex(FState.HorzAlign);
  Memo->setPlainText(FState.Text);
}

void TCommentEditForm::Apply(TAbstract *A) {
  FState.HorzAlign = ComboBoxAlign->currentIndex();
  FState.Text = Memo->toPlainText();
  FState.Apply(*A);
}

void TCommentEditForm::bbFontClick() { FState.ChooseFont(FOpener); }
