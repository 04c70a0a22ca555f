#include "uOscNoteForm.h"

#include "uOscNote.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QToolButton>
#include <gtest/gtest.h>

TEST(OscNoteForm, EditsTheNoteAtOnceAndOnlyFlagsADeletion) {
  TOscNoteForm Form;
  TOscNote Note(QStringLiteral("Ia"));
  Form.cbRMS->setCurrentIndex(2);
  Form.SetNote(&Note);
  EXPECT_EQ(Form.Memo->toPlainText(), "Ia");
  EXPECT_EQ(Form.cbRMS->currentIndex(), 2); // the list keeps its choice
  EXPECT_EQ(Note.CalcValType, TOscNote::vkInstant);
  Form.Memo->setPlainText(QStringLiteral("Ib пуск"));
  EXPECT_EQ(Note.Text, "Ib пуск");
  emit Form.cbRMS->activated(0);
  EXPECT_EQ(Note.CalcValType, TOscNote::vkNone);

  const auto Saved = TOscNoteForm::FontDialog;
  TOscNoteForm::FontDialog = [](QWidget *, QFont &Font, QColor &Color) {
    EXPECT_EQ(Font.pixelSize(), 16);
    Font = QFont(QStringLiteral("Courier"));
    Font.setPixelSize(20);
    Color = Qt::red;
    return true;
  };
  Form.SpeedButton1->click();
  TOscNoteForm::FontDialog = Saved;
  EXPECT_EQ(Note.FontName, "Courier");
  EXPECT_EQ(Note.FontHeight, -20);
  EXPECT_EQ(Note.FontColor, 0x0000FFu); // 0x00BBGGRR

  Form.show();
  Form.SpeedButton2->click();
  EXPECT_TRUE(Form.DeleteRequested());
  EXPECT_FALSE(Form.isVisible());
  Form.SetNote(&Note);
  EXPECT_FALSE(Form.DeleteRequested());
}
