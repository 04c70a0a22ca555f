#include "uSchemaAssembler.h"

#include "uErrors.h"
#include "uFiles.h"
#include "uLogger.h"

#include "../../../common/uErrorOf.h"
#include "../../../common/uSyncLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Readable failure output.
inline void PrintTo(const QString &S, std::ostream *Os) { *Os << '"' << S.toStdString() << '"'; }

namespace {

class SchemaAssemblerTest : public ::testing::Test {
protected:
  QTemporaryDir Dir;
  TSchemaCode Code;
  std::unique_ptr<TSchemaAssembler> Compiler;

  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    Code.LoadCommandsXML(TSchemaCode::DefaultText());
    Compiler = std::make_unique<TSchemaAssembler>(Code);
    Compiler->WorkFolder = Dir.path();
  }

  // Assembles; returns the error text, or "" on success.
  QString Run(const QStringList &Lines, int Alignment = 2) {
    SaveFileBytes(Dir.filePath("generated.asm"), (Lines.join('\n') + '\n').toLatin1());
    try {
      Compiler->Assemble(Alignment);
    } catch (const EKvError &e) {
      return e.Text();
    }
    return QString();
  }

  QByteArray Read(const char *Name) {
    QFile f(Dir.filePath(Name));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << Name;
    return f.readAll();
  }

  // The listing without its first line and last two (they hold times).
  QStringList ListingBody() {
    QStringList l = QString::fromLatin1(Read("generated.lst")).split("\r\n");
    EXPECT_EQ(l.takeLast(), ""); // every line ends in CR LF
    EXPECT_GE(l.size(), 3);
    EXPECT_TRUE(l.first().startsWith("started at "));
    EXPECT_TRUE(l.last().startsWith("finished at "));
    EXPECT_TRUE(l[l.size() - 2].startsWith("duration, ms "));
    return l.mid(1, l.size() - 3);
  }

  QString Code16() { return QString::fromLatin1(Read("generated.bin").toHex()); }
};

QStringList Repeat(const QString &Line, int Count) {
  QStringList l;
  for (int i = 0; i < Count; ++i)
    l << Line;
  return l;
}

} // namespace

TEST_F(SchemaAssemblerTest, WritesListingLinesPerBlock) {
  ASSERT_EQ(Run({"; generated",
                 ";;element prologue",
                 "start:  ldi  16,255",
                 "",
                 "  rjmp  start    ;  loop",
                 "  lds  17,256",
                 "tail:",
                 ";;element AND gi=1 i=0",
                 "  ret",
                 ";;element OR gi=2 i=1",
                 "a:",
                 "B:  call  a"},
                2),
            "");
  const QStringList expected = {
      "                start:",
      "0000   EF0F     start:  ldi  16,255",
      "0001   CFFE       rjmp  start    ;  loop",
      "0002   9110 0100  lds  17,256",
      "                tail:",
      ";;element AND gi=1 i=0",
      "0004   9508       ret",
      "",
      ";;element OR gi=2 i=1",
      "                a:",
      "                B:",
      "0005   95FE FFFEB:  call  a", // the second word and the line meet
      "warning: label a taken as a word distance by CALL: B:  call  a",
      "",
  };
  EXPECT_EQ(ListingBody(), expected);
  EXPECT_EQ(Code16(), "0fef" "fecf" "1091" "0001" "0895" "fe95" "feff");
}

TEST_F(SchemaAssemblerTest, ChecksRelativeRanges) {
  struct TCase {
    QStringList Lines;
    QString Error;
  };
  const QStringList far64 = QStringList{";;b", "brne far"} + Repeat("ret", 64) + QStringList{"far:"};
  const QStringList far62 = QStringList{";;b", "brne far"} + Repeat("ret", 62) + QStringList{"far:"};
  const QStringList back63 = QStringList{";;b", "back:"} + Repeat("ret", 62) + QStringList{"breq back"};
  const QStringList back64 = QStringList{";;b", "back:"} + Repeat("ret", 63) + QStringList{"breq back"};
  const QStringList callBack2047 = QStringList{";;b", "top:"} + Repeat("ret", 2046) + QStringList{"rcall top"};
  const QStringList callBack2048 = QStringList{";;b", "top:"} + Repeat("ret", 2047) + QStringList{"rcall top"};
  const QStringList jmpBack2048 = QStringList{";;b", "top:"} + Repeat("ret", 2047) + QStringList{"rjmp top"};
  const TCase cases[] = {
      {far64, "Invalid relative addr: 64, cmd: BRNE, at ip: 0000, line 2"},
      {far62, ""},
      {back63, ""},
      {back64, "Invalid relative addr: -64, cmd: BREQ, at ip: 007E, line 66"},
      {{";;b", "rjmp 2047", "rjmp 2048"}, "Invalid relative addr: 2048, cmd: RJMP, at ip: 0002, line 3"},
      {{";;b", "breq 62", "brcc 63"}, "Invalid relative addr: 63, cmd: BRCC, at ip: 0002, line 3"},
      {{";;b", "rcall 2048"}, "Invalid relative addr: 2048, cmd: RCALL, at ip: 0000, line 2"},
      {callBack2047, ""},
      {callBack2048, "Invalid relative addr: -2048, cmd: RCALL, at ip: 0FFE, line 2050"},
      {jmpBack2048, "Invalid relative addr: -2048, cmd: RJMP, at ip: 0FFE, line 2050"},
  };
  for (const TCase &c : cases)
    EXPECT_EQ(Run(c.Lines), c.Error) << c.Lines.last().toStdString();
}

// Code words of whole sources: CR LF lines, label word addresses for the
// low and high loads, padding to the block size, lines before the first block.
TEST_F(SchemaAssemblerTest, AssemblesSourcesToTheirCode) {
  const struct {
    QStringList Lines;
    int Alignment;
    QString Code;
  } cases[] = {
      // 300 words before the second block: the label lies at word 302 ($012E).
      {QStringList{";;a"} + Repeat("dw 0", 300) + QStringList{";;b", "ldil 16, here", "ldih 17, Here", "here: ret"}, 2,
       QString("0000").repeated(300) + "0ee211e00895"},
      {{";;b", "ldih 16, 4660", "ldil 16, 4660"}, 2, "02e104e3"},
      {QStringList{";;b"} + Repeat("dw 4660", 300), 512, QString("3412").repeated(300) + QString("ff").repeated(424)},
      {QStringList{";;b"} + Repeat("dw 1", 256), 512, QString("0100").repeated(256)}, // a multiple: no padding
      {{"ldi 16, 1", "ret"}, 512, ""},
      {{}, 512, ""},
      {{"junk that is no instruction\r", ";;first\r", "ret\r"}, 2, "0895"}, // CR LF lines
  };
  for (const auto &c : cases) {
    ASSERT_EQ(Run(c.Lines, c.Alignment), "") << c.Lines.join('|').left(60).toStdString();
    EXPECT_EQ(Code16(), c.Code) << c.Lines.join('|').left(60).toStdString();
  }
  EXPECT_EQ(ListingBody(), (QStringList{"0000   9508     ret", ""}));
}

TEST_F(SchemaAssemblerTest, FailureLeavesListingUpToErrorAndEmptyCode) {
  // A good run first, so stale outputs exist.
  ASSERT_EQ(Run({";;a", "ret"}), "");
  ASSERT_EQ(Read("generated.bin").size(), 2);

  const QString error = Run({";;a", "ret", ";;b gi=1", "ldi 16, 1", "ldi 17, nolabel"});
  EXPECT_EQ(error, "'nolabel' is not a valid integer value, line 5");
  EXPECT_EQ(Read("generated.bin").size(), 0);
  QStringList l = QString::fromLatin1(Read("generated.lst")).split("\r\n");
  EXPECT_TRUE(l.takeFirst().startsWith("started at "));
  EXPECT_EQ(l, (QStringList{"0000   9508     ret", "", ";;b gi=1", "0001   E001     ldi 16, 1",
                            "error while compiling ;;b gi=1", "oper 1 ldi 17, nolabel", ""}));
}

// The code and the listing are each written and synced once a run, the
// folder once, whether the run ends well or not.
TEST_F(SchemaAssemblerTest, EachRunSyncsBothOutputsOnceAndTheFolderOnce) {
  const QString folder = "folder " + QFileInfo(Dir.path()).canonicalFilePath();
  for (const QStringList &lines : {QStringList{";;a", "ret"}, QStringList{";;a", "ret", "ldi 17, nolabel"},
                                   QStringList{";;a", "x: ret", "rjmp x"}}) {
    SaveFileBytes(Dir.filePath("generated.asm"), (lines.join('\n') + '\n').toLatin1());
    TSyncLog log;
    const QString error = ErrorOf([&] { Compiler->Assemble(2); });
    EXPECT_EQ(log.Synced(), (QStringList{"file", "file", folder})) << lines.join('|').toStdString() << ": "
                                                                     << error.toStdString();
    EXPECT_EQ(Read("generated.bin").size(), error == "no error" ? 2 * (lines.size() - 1) : 0);
  }
}

TEST_F(SchemaAssemblerTest, WriteProtectedOutputStopsTheRunAndStaysAsItWas) {
  ASSERT_EQ(Run({";;a", "ret"}), "");
  for (const char *name : {"generated.bin", "generated.lst"}) {
    const QByteArray before = Read(name);
    QFile::setPermissions(Dir.filePath(name), QFile::ReadOwner | QFile::ReadGroup);
    EXPECT_EQ(Run({";;a", "ret", "ret"}), "cannot save " + Dir.filePath(name) + ": Permission denied") << name;
    EXPECT_EQ(Read(name), before) << name;
    QFile::setPermissions(Dir.filePath(name), QFile::ReadOwner | QFile::WriteOwner);
  }
  // Writable again: both outputs are the new run's.
  ASSERT_EQ(Run({";;a", "ret", "ret"}), "");
  EXPECT_EQ(Code16(), "08950895");
}

TEST_F(SchemaAssemblerTest, FirstPassFailureEndsTheListingToo) {
  EXPECT_EQ(Run({";;a", "ret", ";;b", "x: ret", "X: ret"}), "Duplicate label X, line 5");
  QStringList l = QString::fromLatin1(Read("generated.lst")).split("\r\n");
  EXPECT_EQ(l.mid(l.size() - 3), (QStringList{"error while compiling ;;b", "line 5 X: ret: Duplicate label X", ""}));
}

TEST_F(SchemaAssemblerTest, ReportsEveryErrorText) {
  struct TCase {
    QStringList Lines;
    int Alignment;
    QString Error;
  };
  const TCase cases[] = {
      // Labels belong to their block.
      {{";;a", "x: ret", ";;b", "x: ret"}, 2, ""},
      {{";;a", "x: ret", "x: ret"}, 2, "Duplicate label x, line 3"},
      {{";;a", "Loop: ret", "LOOP:"}, 2, "Duplicate label LOOP, line 3"},
      {{";;a", "x: ret", ";;b", "rjmp x"}, 2, "'x' is not a valid integer value, line 4"},
      {{";;b", "ret"}, 0, "invalid alignment"},
      {{";;b", "ret"}, -512, "invalid alignment"},
      {{";;b", "Exception catched in function: AND"}, 2, "unknown oper Exception, line 2"},
      {{";;b", "ldi 16, 1, 2"}, 2, "invalid syntax: ldi 16, 1, 2, line 2"},
      {{";;b", "movw 25, 30"}, 2, "invalid MOVW arg1, line 2"},
      {{";;b", "adiw 22, 1"}, 2, "invalid ADIW arg1, line 2"},
      {{";;b", "ldih 16, 4660", "ldih 16, $1234"}, 2, "invalid syntax: ldih 16, $1234, line 3"},
      // A label as second operand only for the address loads.
      {{";;b", "x: ldi 16, x"}, 2, "invalid arg2, line 2"},
      {{";;b", "x: lds 16, x"}, 2, "invalid arg2, line 2"},
  };
  for (const TCase &c : cases)
    EXPECT_EQ(Run(c.Lines, c.Alignment), c.Error) << c.Lines.join('|').toStdString();
  EXPECT_EQ(Read("generated.bin").size(), 0);
}

TEST_F(SchemaAssemblerTest, MissingSourceFails) {
  EXPECT_TRUE(ErrorOf([&] { Compiler->Assemble(512); }).contains("generated.asm"));
}

TEST_F(SchemaAssemblerTest, ReportsProgressEvery500Lines) {
  QStringList lines;
  for (int b = 0; b < 400; ++b)
    lines << QString(";;element %1").arg(b) << "ret" << "ret";
  std::vector<std::pair<int, int>> seen;
  Compiler->OnProgress = [&](int Position, int Max, uint32_t Color) {
    EXPECT_EQ(Color, 0xFFFFFFu);
    seen.emplace_back(Position, Max);
  };
  ASSERT_EQ(Run(lines), "");
  // Blocks start at lines 1, 3, 6...; reported is the first start that enters
  // a new 500 (the end, 1200, stays in the same 500 as 1002).
  const std::vector<std::pair<int, int>> expected = {{501, 1200}, {1002, 1200}};
  EXPECT_EQ(seen, expected);
}

TEST_F(SchemaAssemblerTest, ListsLabelsAtTheEndOfABlock) {
  ASSERT_EQ(Run({";;a", "ret", "end2:", "End1:"}), "");
  EXPECT_EQ(ListingBody(), (QStringList{"0000   9508     ret", "                End1:", "                end2:"}));
}
