#include "uOscNoteForm.h"

#include "uOscDrawer.h"
#include "uMultiLingual.h"
#include "uOscNote.h"
#include "uTranslateForms.h"

#include <QColorDialog>
#include <QComboBox>
#include <QFontDialog>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

namespace {
TOscNoteForm *GInstance = nullptr;
} // namespace

std::function<bool(QWidget *, QFont &, QColor &)> TOscNoteForm::FontDialog = [](QWidget *Parent, QFont &Font,
                                                                                QColor &Color) {
  bool Ok = false;
  const QFont Chosen = QFontDialog::getFont(&Ok, Font, Parent, MultiLingual().Translate(QStringLiteral("Шрифт")));
  if (!Ok)
    return false;
  const QColor Picked = QColorDialog::getColor(Color, Parent);
  Font = Chosen;
  if (Picked.isValid())
    Color = Picked;
  return true;
};

TOscNoteForm::TOscNoteForm(QWidget *Parent) : QDialog(Parent) {
  setObjectName(QStringLiteral("OscNoteForm"));
  setWindowTitle(QString::fromUtf8("Заметка"));
  auto *L = new QVBoxLayout(this);
  auto *Bar = new QHBoxLayout;
  SpeedButton1 = new QToolButton(this);
  SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
  SpeedButton1->setText(QString::fromUtf8("Шрифт"));
  SpeedButton2 = new QToolButton(this);
  SpeedButton2->setObjectName(QStringLiteral("SpeedButton2"));
  SpeedButton2->setText(QString::fromUtf8("Удалить"));
  cbRMS = new QComboBox(this);
  cbRMS->setObjectName(QStringLiteral("cbRMS"));
  AddFixedItems(cbRMS, QString::fromUtf8("нет значения,мгновенное,действующее").split(','));
  cbRMS->setCurrentIndex(TOscNote::vkInstant);
  Bar->addWidget(SpeedButton1);
  Bar->addWidget(SpeedButton2);
  Bar->addWidget(cbRMS, 1);
  L->addLayout(Bar);
  Memo = new QPlainTextEdit(this);
  Memo->setObjectName(QStringLiteral("Memo"));
  L->addWidget(Memo, 1);
  resize(320, 180);
  connect(SpeedButton1, &QToolButton::clicked, this, &TOscNoteForm::ChooseFont);
  connect(SpeedButton2, &QToolButton::clicked, this, [this] {
    FDelete = true;
    close();
  });
  connect(Memo, &QPlainTextEdit::textChanged, this, [this] {
    if (FNote)
      FNote->Text = Memo->toPlainText();
  });
  connect(cbRMS, &QComboBox::activated, this, [this](int Index) {
    if (FNote)
      FNote->CalcValType = Index;
  });
  GInstance = this;
}

TOscNoteForm::~TOscNoteForm() {
  if (GInstance == this)
    GInstance = nullptr;
}

TOscNoteForm *TOscNoteForm::Instance() { return GInstance; }

void TOscNoteForm::SetNote(TOscNote *Note) {
  FNote = nullptr; // the text shown is not an edit
  Memo->setPlainText(Note ? Note->Text : QString());
  FNote = Note;
  FDelete = false;
}

void TOscNoteForm::ChooseFont() {
  if (!FNote || !FontDialog)
    return;
  QFont Font(FNote->FontName);
  Font.setPixelSize(std::max(1, std::abs(FNote->FontHeight)));
  QColor Color = ColorFromStored(FNote->FontColor);
  if (!FontDialog(this, Font, Color))
    return;
  FNote->FontName = Font.family();
  // Stored heights are negative: a character height in pixels.
  const int Pixels = Font.pixelSize() > 0 ? Font.pixelSize() : int(std::lround(Font.pointSizeF() * logicalDpiY() / 72.0));
  FNote->FontHeight = -std::max(1, Pixels);
  FNote->FontColor = ColorToStored(Color);
}
