#include "uPreferenceForm.h"

#include "uPlacement.h"

#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(PreferenceForm, KeepsTheLastCheckedFileAndSkipsOneThatIsGone) {
  QTemporaryDir Dir;
  RegUseStoreFile(Dir.filePath("user.conf"));
  const QString A = Dir.filePath("a.dat"), B = Dir.filePath("b.dat");
  for (const QString &Name : {A, B})
    QFile(Name).open(QIODevice::WriteOnly);
  {
    TPreferenceForm Form;
    EXPECT_EQ(Form.clbOsc->count(), 0);
    Form.OpenFiles = [&] { return QStringList{A, B}; };
    Form.show();
    Form.AddFiles({A}); // listed once
    ASSERT_EQ(Form.clbOsc->count(), 2);
    for (int i = 0; i < 2; ++i)
      Form.clbOsc->item(i)->setCheckState(Qt::Checked);
    Form.hide();
  }
  QStringList Opened;
  auto Open = [&](const QString &Name) { Opened << Name; };
  {
    TPreferenceForm Form; // the next start
    ASSERT_EQ(Form.clbOsc->count(), 1);
    EXPECT_EQ(Form.clbOsc->item(0)->checkState(), Qt::Checked);
    Form.ReopenAll(Open);
    EXPECT_EQ(Opened, QStringList{B});
  }
  QFile::remove(B);
  TPreferenceForm Form;
  Form.ReopenAll(Open);
  EXPECT_EQ(Opened, QStringList{B});
}
