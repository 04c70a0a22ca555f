#include "uSchemaCode.h"

#include "uErrors.h"
#include "uFiles.h"
#include "uLogger.h"
#include "uTextCodec.h"

#include "../../../common/uErrorOf.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Readable failure output.
inline void PrintTo(const QString &S, std::ostream *Os) { *Os << '"' << S.toStdString() << '"'; }

#include <cstring>
#include <set>

namespace {

const TSchemaCode &Table() {
  static TSchemaCode code = [] {
    TSchemaCode c;
    c.LoadCommandsXML(TSchemaCode::DefaultText());
    return c;
  }();
  return code;
}

QByteArray Encode(const TSchemaCode &Code, const QString &Line) {
  QByteArray out;
  ParseAsmLine(Code, Line)->Generate(out);
  return out;
}
QByteArray Encode(const QString &Line) { return Encode(Table(), Line); }

QString Hex(const QByteArray &Bytes) { return QString::fromLatin1(Bytes.toHex()); }

// Little-endian bytes of the words, as the code file holds them.
QString Words(std::initializer_list<uint16_t> W) {
  QByteArray b;
  for (uint16_t w : W) {
    b.append(char(w & 0xFF));
    b.append(char(w >> 8));
  }
  return Hex(b);
}

} // namespace

// Each word below was worked out by hand from the row's bit pattern, operand
// bits put into the pattern's letters most significant first.
TEST(SchemaCode, EncodesEveryRowOfTheBuiltInTable) {
  struct TCase {
    const char *Line;
    QString Expected;
  };
  const TCase cases[] = {
      {"DW 4660", Words({0x1234})},
      {"LPMP 5", Words({0x9055})},
      {"CALL 291", Words({0x951F, 0x0123})}, // bits 5..1 to 8..4, bit 0 to 0; then the whole operand
      {"RCALL 5", Words({0xD005})},
      {"LDS 16, 256", Words({0x9100, 0x0100})},
      {"STS 256, 17", Words({0x9310, 0x0100})},
      {"LDXP 3", Words({0x903D})},
      {"LDYP 3", Words({0x9039})},
      {"LDZP 3", Words({0x9031})},
      {"STXP 20", Words({0x934D})},
      {"STYP 20", Words({0x9349})},
      {"STZP 20", Words({0x9341})},
      {"COM 7", Words({0x9470})},
      {"AND 17, 18", Words({0x2312})},
      {"ANDI 17, 165", Words({0x7A15})},
      {"OR 1, 2", Words({0x2812})},
      {"EOR 31, 31", Words({0x27FF})},
      {"SBC 0, 16", Words({0x0A00})},
      {"SBR 18, 129", Words({0x6821})},
      {"SBRC 5, 7", Words({0xFC57})},
      {"SBRS 17, 3", Words({0xFF13})},
      {"SUB 4, 5", Words({0x1845})},
      {"SUBI 20, 200", Words({0x5C48})},
      {"RJMP 100", Words({0xC064})},
      {"CP 3, 19", Words({0x1633})},
      {"CPC 24, 25", Words({0x0789})},
      {"CPI 30, 255", Words({0x3FEF})},
      {"BREQ 10", Words({0xF051})},
      {"BRNE 10", Words({0xF451})},
      {"BRCS 10", Words({0xF050})},
      {"BRCC 10", Words({0xF450})},
      {"RET", Words({0x9508})},
      {"LDI 16, 255", Words({0xEF0F})},
      {"LDIL 16, 52", Words({0xE304})},
      {"LDIH 16, 18", Words({0xE102})},
      {"BLD 5, 3", Words({0xF853})},
      {"BST 21, 6", Words({0xFB56})},
      {"MOV 1, 30", Words({0x2E1E})},
      {"MOVW 24, 30", Words({0x01CF})},
      {"MUL 2, 3", Words({0x9C23})},
      {"ADD 16, 17", Words({0x0F01})},
      {"ADC 16, 17", Words({0x1F01})},
      {"ADIW 24, 1", Words({0x9601})},
      {"SBIW 28, 5", Words({0x9725})},
      {"LSL 18, 18", Words({0x0F22})},
      {"LSR 9", Words({0x9496})},
      {"ROL 18, 18", Words({0x1F22})},
      {"ROR 9", Words({0x9497})},
      {"IN 16, 63", Words({0xB70F})},
      {"OUT 16, 61", Words({0xBF0D})},
      {"SWAP 24", Words({0x9582})},
      {"SEI", Words({0x9478})},
      {"CLI", Words({0x94F8})},
      // Operand edges.
      {"ldi 16, 255", Words({0xEF0F})},   // lower case found; register field keeps 16's low 4 bits
      {"RJMP 4095", Words({0xCFFF})},     // -1 as a 12-bit field
      {"BREQ 127", Words({0xF3F9})},      // -1 as a 7-bit field
      {"ADIW 30, 63", Words({0x96FF})},
      {"LDIL 16, 4660", Words({0xE304})}, // the low byte of $1234
      {"DW 65535", Words({0xFFFF})},
      {"RET 5", Words({0x9508})},         // an operand the row does not take is not encoded
  };
  std::set<QString> covered;
  for (const TCase &c : cases) {
    EXPECT_EQ(Hex(Encode(c.Line)), c.Expected) << c.Line;
    covered.insert(QString(c.Line).section(' ', 0, 0).toUpper());
  }
  EXPECT_EQ(Table().Commands.Count(), 53);
  EXPECT_EQ(covered.size(), 53u);
}

TEST(SchemaCode, RejectsBadOperandsAndLinesWithTheirTexts) {
  struct TCase {
    const char *Line;
    const char *Error;
  };
  const TCase cases[] = {
      {"MOVW 25, 30", "invalid MOVW arg1"},
      {"MOVW 24, 31", "invalid MOVW arg2"},
      {"ADIW 22, 1", "invalid ADIW arg1"},
      {"SBIW 25, 1", "invalid SBIW arg1"},
      {"Exception catched in function: x", "unknown oper Exception"},
      {"foo 1, 2, 3", "unknown oper foo"}, // the name is checked before the syntax
      {"ldi 16, 1, 2", "invalid syntax: ldi 16, 1, 2"},
      {"ldi 16, $FF", "invalid syntax: ldi 16, $FF"},
      {"ldi r16 5", "invalid syntax: ldi r16 5"},
      {"ldi 16, here", "'here' is not a valid integer value"},
      {"rjmp", "'' is not a valid integer value"},
  };
  for (const TCase &c : cases)
    EXPECT_EQ(ErrorOf([&] { Encode(c.Line); }), c.Error) << c.Line;
}

// The scanner against the line form written as a regular expression, on
// every line of up to four fragments: the parts found and whether the whole
// line has the form must agree, for the text and for its Windows-1251 bytes.
TEST(SchemaCode, LineScannerReadsAsTheLineForm) {
  const QString name = "[A-Za-z0-9_]+";
  const QString form = QString(R"(\s*((%1)\s*\:)?\s*(%1)?\s*(%1)?\s*(,\s*(%1))?\s*(;.*)?)").arg(name);
  const QRegularExpression head("\\A" + form), whole("\\A" + form + "\\z");
  const QStringList fragments = {" ", "\t\v", "ab", "L1", "_9", ":", ",", "; x:y", "\u0451", "$"};
  QStringList lines = {QString()}, last = lines;
  for (int length = 1; length <= 4; ++length) {
    QStringList longer;
    for (const QString &l : last)
      for (const QString &f : fragments)
        longer << l + f;
    lines += longer;
    last = longer;
  }
  for (const QString &line : lines) {
    const QRegularExpressionMatch m = head.match(line);
    const QByteArray bytes = ToWin1251(line);
    for (const TAsmLineParts &p : {ScanAsmLine(line.constData(), line.size()), ScanAsmLine(bytes.constData(), bytes.size())}) {
      ASSERT_EQ(p.IsWhole, whole.match(line).hasMatch()) << line.toStdString();
      EXPECT_EQ(line.mid(p.LabelAt, p.LabelLength), m.captured(2)) << line.toStdString();
      EXPECT_EQ(line.mid(p.OpAt, p.OpLength), m.captured(3)) << line.toStdString();
      EXPECT_EQ(line.mid(p.Arg1At, p.Arg1Length), m.captured(4)) << line.toStdString();
      EXPECT_EQ(line.mid(p.Arg2At, p.Arg2Length), m.captured(6)) << line.toStdString();
    }
  }
}

TEST(SchemaCode, ConvertsOperandTexts) {
  const std::pair<const char *, int> good[] = {{"4660", 4660}, {"$1234", 0x1234}, {"$ffff", 0xFFFF},
                                               {"-70", -70}, {"$FFFFFFFF", -1}, {"2147483647", 2147483647}};
  for (const auto &[text, value] : good)
    EXPECT_EQ(AsmStrToInt(text), value) << text;
  for (const char *bad : {"2147483648", "$100000000", "12a", "$", "-", " 1", "0x10", "１"})
    EXPECT_THROW(AsmStrToInt(bad), EKvFormat) << bad;
}

TEST(SchemaCode, WarnsWhenOperandIsCut) {
  auto warned = [](const QString &Line) {
    const int before = int(Logger().Lines().size());
    Encode(Line);
    const QStringList after = Logger().Lines().mid(before);
    for (const QString &l : after)
      if (l.contains("warning") && l.contains(Line))
        return true;
    return false;
  };
  // LDI 5 would become r21; LDIL takes the low byte by design.
  for (const char *line : {"LDI 5, 1", "LDI 16, 256", "BREQ 128", "DW 65536", "IN 16, 64"})
    EXPECT_TRUE(warned(line)) << line;
  for (const char *line : {"LDI 31, 255", "LDIL 16, 4660", "MOVW 30, 28", "ADIW 30, 63", "CALL 65535"})
    EXPECT_FALSE(warned(line)) << line;

  TSchemaCode odd; // an operand letter the pattern does not hold
  odd.LoadCommandsXML(R"(<document><commands><cmd op="J" arg1="Sz" bin="11111111 11111111"/></commands></document>)");
  const int before = int(Logger().Lines().size());
  EXPECT_EQ(Hex(Encode(odd, "J 1")), "ffff");
  EXPECT_TRUE(Logger().Lines().mid(before).join('|').contains("warning: operand 1 does not fit its 0-bit field: J 1"));
}

TEST(SchemaCode, LoadsRowsAndRejectsBadOnes) {
  TSchemaCode code;
  code.LoadCommandsXML(R"(<document><commands>
      <cmd op="Nop2" bin="00000000 00000000"/>
      <cmd op="NOP2" arg1="Rd" bin="11111111 11111111"/>
      <cmd op="Short" arg1="R" arg2="I" bin="0000000000000001"/>
    </commands></document>)");
  EXPECT_EQ(code.Commands.Count(), 2);
  const TCommand *nop = code.Commands.Find("nop2");
  ASSERT_NE(nop, nullptr);
  EXPECT_EQ(nop->Pattern, 0); // the first row of a name wins
  const TCommand *s = code.Commands.Find("SHORT");
  ASSERT_NE(s, nullptr);
  EXPECT_FALSE(s->HasArg1()); // fewer than two characters: no operand
  EXPECT_FALSE(s->HasArg2());
  EXPECT_EQ(s->Pattern, 1);

  struct TCase {
    const char *Row;
    const char *Error;
  };
  const TCase cases[] = {
      {R"(<cmd op="A" arg1="Rd" bin="1110 kkkk dddd kkkk"/>)", "invalid attr (bin): 1110 kkkk dddd kkkk"},
      {R"(<cmd op="A" bin="10101010 1010101"/>)", "invalid attr (bin): 10101010 1010101"},
      {R"(<cmd op="A" bin=""/>)", "invalid attr (bin): "},
      {R"(<cmd op="A" arg1="Xk" bin="kkkkkkkk kkkkkkkk"/>)", "invalid arg kind"},
      {R"(<cmd op="A" arg1="Rd" arg2="rk" bin="kkkkkkkk kkkkkkkk"/>)", "invalid arg kind"},
  };
  for (const TCase &c : cases) {
    TSchemaCode t;
    const QString text = QString(R"(<document><commands><cmd op="OK" bin="00000000 00000000"/>%1</commands></document>)")
                             .arg(c.Row);
    EXPECT_EQ(ErrorOf([&] { t.LoadCommandsXML(text); }), c.Error) << c.Row;
    EXPECT_EQ(t.Commands.Count(), 1) << "rows before the bad one stay";
  }
  TSchemaCode none;
  EXPECT_EQ(ErrorOf([&] { none.LoadCommandsXML("<document/>"); }), "element not found: commands");
  // A two-word row without a memory operand loads but cannot generate.
  none.LoadCommandsXML(R"(<document><commands>
      <cmd op="X32" arg1="Rd" bin="1001000d dddd0000 00000000 00000000"/>
    </commands></document>)");
  EXPECT_EQ(ErrorOf([&] { Encode(none, "X32 16"); }), "error while generating: no memory area");
}

// The assembler looks names up by their bytes: short names through a packed
// key, longer ones by their text; either way letter case is ignored and a
// near name is no match.
TEST(SchemaCode, FindsRowsByTheBytesOfAName) {
  QString rows;
  for (int i = 0; i < 100; ++i) // enough rows to outgrow the first table
    rows += QString(R"(<cmd op="op%1" bin="%2"/>)").arg(i).arg(QString::number(i, 2).rightJustified(16, '0'));
  rows += R"(<cmd op="EightChr" bin="1111111100000000"/><cmd op="LongerName" bin="1111111100000001"/>)"
          R"(<cmd op="OP7" bin="1111111111111111"/>)";
  TSchemaCode code;
  code.LoadCommandsXML("<document><commands>" + rows + "</commands></document>");
  const struct {
    const char *Name;
    int Pattern; // -1: not found
  } cases[] = {
      {"op0", 0},         {"OP99", 99},       {"Op7", 7}, // the first row of a name wins
      {"eightchr", 0xFF00}, {"LONGERNAME", 0xFF01}, {"longername", 0xFF01},
      {"op", -1},         {"op100", -1},      {"eightchr1", -1}, {"longernam", -1}, {"longernamex", -1},
      {"", -1},           {"op 1", -1},
  };
  for (const auto &c : cases) {
    const TCommand *row = code.Commands.Find(c.Name, qsizetype(std::strlen(c.Name)));
    EXPECT_EQ(row ? int(row->Pattern) : -1, c.Pattern) << c.Name;
  }
  code.Commands.Clear();
  EXPECT_EQ(code.Commands.Find("op0", 3), nullptr);
}

TEST(SchemaCode, JumpCommandsAreBranchesAndJumps) {
  for (const char *op : {"BREQ", "BRNE", "BRCS", "BRCC", "RJMP"})
    EXPECT_TRUE(IsJumpCommand(*Table().Commands.Find(op))) << op;
  for (const char *op : {"RCALL", "CALL", "RET", "LDI"})
    EXPECT_FALSE(IsJumpCommand(*Table().Commands.Find(op))) << op;
}

TEST(SchemaCode, MapsBlockTypeKeywords) {
  const std::pair<const char *, int> cases[] = {{"module", 0}, {"Comment", 1}, {"LAB", 2},   {"labr", 3},
                                                {"descriptor", 4}, {"", 5},  {"inint", 8}, {"outint", 9},
                                                {"function", 11}};
  for (const auto &[name, code] : cases)
    EXPECT_EQ(StrToAbstractType(name), code) << name;
  for (int t = 3; t <= 10; ++t) {
    EXPECT_EQ(IsGidAbstractType(t), t >= 5 && t <= 7) << t;
    EXPECT_EQ(IsAutoGidAbstractType(t), t == 8 || t == 9) << t;
  }
}

TEST(SchemaCode, LoadsTableFileInWindows1251) {
  QTemporaryDir dir;
  const QString path = dir.filePath("SchemaCode.xml");
  SaveFileBytes(path, ToWin1251(QString::fromUtf8("<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n"
                                                  "<document><commands>\r\n"
                                                  "<cmd op=\"RJMP\" arg1=\"Sk\" bin=\"1100kkkk kkkkkkkk\" "
                                                  "comment=\"Перейти относительно\"/>\r\n"
                                                  "<!-- <cmd op=\"RET\" bin=\"10010101 0XX01000\"/> -->\r\n"
                                                  "</commands></document>\r\n")));
  SaveFileBytes(dir.filePath("bad.xml"), "<document><commands>");
  TSchemaCode code;
  code.LoadCommands(path);
  EXPECT_EQ(code.Commands.Count(), 1); // a commented-out row is no row
  EXPECT_EQ(Hex(Encode(code, "rjmp 1")), "01c0");
  EXPECT_THROW(code.LoadCommands(dir.filePath("none.xml")), EKvError);
  EXPECT_THROW(code.LoadCommands(dir.filePath("bad.xml")), EKvFormat);
}
