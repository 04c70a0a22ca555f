// A title panel or boards file that did not load whole is replaced by Save
// only when the user answers yes; Save As is free.
#include "uDashboardFrame.h"

#include "uControls.h"
#include "uDeviceBoardFrame.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uLogger.h"
#include "uMessageSink.h"
#include "uMultiLingual.h"
#include "uTextCodec.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
const QByteArray GoodLabel = "<element><class>TLabelA</class><Caption>A</Caption></element>";
const QByteArray Dropped = "<element><class>TNoSuch</class><Caption>B</Caption></element>";

QByteArray Panel(const QByteArray &Elements) { return "<?xml version=\"1.0\"?>\n<document>" + Elements + "</document>\n"; }
QByteArray Boards(const QByteArray &Elements) { return Panel("<frame caption=\"x\">" + Elements + "</frame>"); }

QByteArray Deep(int Levels) {
  QByteArray open, close;
  for (int i = 0; i < Levels; ++i)
    open += "<element><class>TGroupBoxA</class>", close += "</element>";
  return Panel(open + close);
}

class PageSave : public ::testing::Test {
protected:
  void SetUp() override {
    FOld = SetMessageSink([this](TMsgKind Kind, const QString &Text) {
      const bool question = Kind == TMsgKind::Question || Kind == TMsgKind::NoFirstQuestion;
      (question ? Questions : Shown) << Text;
      return question ? Answer : TMsgResult::Ok;
    });
    File = Dir.filePath("page.xml");
  }
  void TearDown() override { SetMessageSink(FOld); }

  QTemporaryDir Dir;
  QString File;
  QStringList Questions, Shown;
  TMsgResult Answer = TMsgResult::No;

private:
  TMessageSink FOld;
};
} // namespace

TEST_F(PageSave, PanelThatDidNotLoadWholeIsReplacedOnlyOnYes) {
  const struct {
    const char *Case;
    QByteArray File;
    TMsgResult Answer;
    int Questions;
    bool Replaced;
  } cases[] = {
      {"whole", Panel(GoodLabel), TMsgResult::No, 0, true},
      {"dropped, no", Panel(GoodLabel + Dropped), TMsgResult::No, 1, false},
      {"dropped, cancel", Panel(GoodLabel + Dropped), TMsgResult::Cancel, 1, false},
      {"dropped, yes", Panel(GoodLabel + Dropped), TMsgResult::Yes, 1, true},
      {"half-read, no", Panel("<element><class>TLabelA</class><Left>x</Left></element>"), TMsgResult::No, 1, false},
      {"refused, no", Deep(70), TMsgResult::No, 1, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Case);
    SaveFileBytes(File, c.File);
    Questions.clear(), Shown.clear();
    Answer = c.Answer;
    TkvDashboardFrame frame;
    TDashboardHost host;
    host.Report = [](const QString &Text) { ShowErrorText(Text); };
    frame.SetHost(host);
    frame.Init(File);
    EXPECT_EQ(Shown.size(), c.Questions); // each damaged load reported once
    EXPECT_EQ(frame.Save(QString()), c.Replaced);
    EXPECT_EQ(Questions.size(), c.Questions);
    if (c.Questions)
      EXPECT_TRUE(Questions.value(0).contains(File)) << Questions.value(0).toStdString();
    EXPECT_EQ(LoadFileBytes(File) == c.File, !c.Replaced);
    // Save As to another file never asks, and the new file is whole.
    const QString other = Dir.filePath("other.xml");
    EXPECT_TRUE(frame.Save(other));
    EXPECT_FALSE(frame.IsIncomplete());
    EXPECT_TRUE(frame.Save(QString()));
    EXPECT_EQ(Questions.size(), c.Questions);
  }
}

TEST_F(PageSave, ValuesNotUnderstoodAreReportedWithTheirLinesOncePerLoad) {
  const QByteArray bytes = "<?xml version=\"1.0\"?>\n<document>\n"
                           "<element><class>TMeasureLabeledEdit</class>\n"
                           "<LabelPosition>lpBogus</LabelPosition>\n"
                           "<Font><Style>fsBold,fsBogus</Style></Font>\n"
                           "<Color>255</Color></element>\n"
                           "<element><class>TDateTimeEdit</class>\n"
                           "<Kind>dtBogus</Kind></element>\n"
                           "<element><class>TLabelA</class><Caption>A</Caption></element>\n"
                           "</document>\n";
  SaveFileBytes(File, bytes);
  TkvDashboardFrame frame;
  TDashboardHost host;
  host.Report = [](const QString &Text) { ShowErrorText(Text); };
  frame.SetHost(host);
  frame.Init(File);
  // A missing property (the label's position) keeps its default without a word.
  EXPECT_EQ(Shown, QStringList{File + "\nline 4: 'lpBogus' is not a valid LabelPosition value"
                                      "\nline 5: 'fsBold,fsBogus' is not a valid Style value"
                                      "\nline 8: 'dtBogus' is not a valid Kind value"});
  const QList<QWidget *> controls = ControlsOf(frame.Panel, false);
  ASSERT_EQ(controls.size(), 3);
  EXPECT_EQ(PropertyText(controls[0], "Color"), "255"); // read past the bad values
  EXPECT_EQ(PropertyText(controls[0], "LabelPosition"), "lpAbove");
  // Identification loads the same file again: nothing new to say.
  frame.Init(File);
  EXPECT_EQ(Shown.size(), 1);
  frame.LoadFromFile(File);
  EXPECT_EQ(Shown.size(), 2);
  EXPECT_FALSE(frame.Save(QString()));
  EXPECT_EQ(Questions.size(), 1);
  EXPECT_EQ(LoadFileBytes(File), bytes);
}

TEST_F(PageSave, BoardsWithADroppedElementAreReplacedOnlyOnYes) {
  for (const TMsgResult answer : {TMsgResult::No, TMsgResult::Yes}) {
    const QByteArray bytes = Boards(GoodLabel + Dropped);
    SaveFileBytes(File, bytes);
    Questions.clear(), Shown.clear();
    Answer = answer;
    TkvDeviceBoardFrame frame;
    frame.Init(File);
    ASSERT_EQ(Shown.size(), 1);
    EXPECT_TRUE(Shown[0].startsWith(File + "\nline 2: Class TNoSuch not found")) << Shown[0].toStdString();
    EXPECT_EQ(frame.Save(QString()), answer == TMsgResult::Yes);
    EXPECT_EQ(Questions.size(), 1);
    EXPECT_EQ(LoadFileBytes(File) == bytes, answer != TMsgResult::Yes);
  }
}

// A file that does not open, or a save as one that cannot be written,
// leaves the panel on the file it shows: the next save goes there, and the
// broken file is never replaced.
TEST_F(PageSave, PanelOpenedFromABrokenFileDoesNotReplaceItUnasked) {
  const QString good = Dir.filePath("good.xml");
  SaveFileBytes(good, Panel(GoodLabel));
  const QByteArray broken = Panel("<element><class>TLabelA</class>\n<Left>1</Top></element>");
  SaveFileBytes(File, broken);
  TkvDashboardFrame frame;
  frame.LoadFromFile(good);
  EXPECT_THROW(frame.LoadFromFile(File), EKvError);
  EXPECT_EQ(frame.FileName(), good);
  EXPECT_THROW(frame.Save(Dir.filePath("no-such-folder/other.xml")), EKvError);
  EXPECT_EQ(frame.FileName(), good);
  EXPECT_TRUE(frame.Save(QString()));
  EXPECT_EQ(Questions.size(), 0);
  EXPECT_EQ(LoadFileBytes(File), broken);
  EXPECT_TRUE(LoadFileBytes(good).contains("<Caption>A</Caption>"));
}

// A title panel or boards file not made yet is no fault: it is said once,
// however often a page is made from it, with the reason in the language the
// program speaks once its start-up is done (the title panel is made before).
TEST_F(PageSave, MissingFileIsReportedOnceInTheInterfacesLanguage) {
  QStringList logged, reported;
  Logger().SetSink([this, &logged](const QString &Line, int) {
    if (Line.contains("cannot open " + Dir.path()))
      logged << Line.section(' ', 2);
  });
  TPageHost host;
  host.Report = [&reported](const QString &Text) { reported << Text; };
  const QString panel = Dir.filePath("dashboard.XML"), boards = Dir.filePath("deviceFrame.xml");
  TkvDashboardFrame dashboard;
  dashboard.SetHost(host);
  dashboard.Init(panel);
  InstallQtTranslation(lnRussian);
  QCoreApplication::processEvents();
  dashboard.Init(panel); // identified
  QCoreApplication::processEvents();
  for (int tab = 0; tab < 2; ++tab) {
    TkvDeviceBoardFrame page;
    page.SetHost(host);
    page.Init(boards);
  }
  QCoreApplication::processEvents();
  InstallQtTranslation(lnEnglish);
  Logger().SetSink(nullptr);
  const QString reason = QString::fromUtf8(": Файл или каталог не существует");
  EXPECT_EQ(logged, QStringList{"cannot open " + panel + reason});
  EXPECT_EQ(reported, QStringList{"cannot open " + boards + reason});
}
