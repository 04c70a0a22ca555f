#include "uSchemaCode.h"

#include "uErrors.h"
#include "uLogger.h"
#include "uTextCodec.h"

#include <QFileInfo>
#include <QResource>
#include <algorithm>
#include <type_traits>

// ---------------------------------------------------------------- TMask16

TMask16 TMask16::Build(const QString &Bin, QChar Letter) {
  TMask16 m;
  const int n = std::min<int>(16, int(Bin.size()));
  auto runAt = [&](int From, int &Start, int &Len) {
    Start = -1;
    Len = 0;
    for (int i = From; i < n; ++i)
      if (Bin[i] == Letter) {
        Start = i;
        while (i < n && Bin[i] == Letter) {
          ++Len;
          ++i;
        }
        return;
      }
  };
  if (Letter.isNull())
    return m;
  int s1, len1, s2 = -1, len2 = 0;
  runAt(0, s1, len1);
  if (s1 >= 0)
    runAt(s1 + len1, s2, len2);
  // Positions counted from 1 at the left: position p is bit 16 - p.
  m.Len1 = uint8_t(len1);
  m.Len2 = uint8_t(len2);
  m.Mask2 = uint16_t((1u << len2) - 1);
  m.Mask1 = uint16_t(((1u << len1) - 1) << len2);
  if (len1 > 0)
    m.Shift1 = uint8_t(16 - (s1 + 1) - (len1 + len2) + 1);
  if (len2 > 0)
    m.Shift2 = uint8_t(16 - (s2 + 1) - len2 + 1);
  return m;
}

// ---------------------------------------------------------------- TCommand

static uint8_t ArgKindOf(QChar Letter) {
  switch (Letter.unicode()) {
  case 'R': return akRegister;
  case 'S': return akRelative;
  case 'F': return akF;
  case 'M': return akMemory;
  case 'I': return akImmediate;
  }
  throw EKvFormat("invalid arg kind");
}

void TCommand::Load(const QString &AOp, const QString &AArg1, const QString &AArg2, const QString &ABin) {
  Op = AOp;
  // The table may put one blank after each group of 8 pattern characters.
  Bin = ABin;
  for (int pos : {8, 16, 24})
    if (Bin.size() > pos && Bin[pos] == ' ')
      Bin.remove(pos, 1);
  if (Bin.size() != 16 && Bin.size() != 32)
    throw EKvFormat("invalid attr (bin): " + ABin);
  ByteSize = uint16_t(Bin.size() / 8);
  Arg1Kind = Arg2Kind = 0;
  Arg1Letter = Arg2Letter = QChar();
  if (AArg1.size() >= 2) {
    Arg1Kind = ArgKindOf(AArg1[0]);
    Arg1Letter = AArg1[1];
  }
  if (AArg2.size() >= 2) {
    Arg2Kind = ArgKindOf(AArg2[0]);
    Arg2Letter = AArg2[1];
  }
  Arg1Mask = TMask16::Build(Bin, Arg1Letter);
  Arg2Mask = TMask16::Build(Bin, Arg2Letter);
  Pattern = 0;
  for (int i = 0; i < 16; ++i)
    if (Bin[i] == '1')
      Pattern |= uint16_t(1u << (15 - i));
  const QString up = Op.toUpper();
  IsJump = Op.startsWith(QLatin1String("BR")) || Op == "RJMP" || Op == "JMP";
  IsRcall = Op == "RCALL";
  IsRjmp = Op == "RJMP";
  IsJmp = Op == "JMP";
  IsMovw = up == "MOVW";
  IsAdiwSbiw = up == "ADIW" || up == "SBIW";
  IsLdil = up == "LDIL";
  IsLdih = up == "LDIH";
  Width1 = Arg1Letter.isNull() ? 0 : int(Bin.count(Arg1Letter));
  Width2 = Arg2Letter.isNull() ? 0 : int(Bin.count(Arg2Letter));
}

int TCommand::FieldWidth(int ArgNo) const { return ArgNo == 1 ? Width1 : Width2; }

uint16_t TCommand::Encode16(uint16_t A1, uint16_t A2) const {
  if (IsMovw) {
    // MOVW names register pairs by their even register.
    if (A1 & 1)
      throw EKvFormat("invalid " + Op + " arg1");
    if (A2 & 1)
      throw EKvFormat("invalid " + Op + " arg2");
    A1 /= 2;
    A2 /= 2;
  }
  if (IsAdiwSbiw) {
    // Only the pairs r25:r24, X, Y and Z exist for these.
    switch (A1) {
    case 24: A1 = 0; break;
    case 26: A1 = 1; break;
    case 28: A1 = 2; break;
    case 30: A1 = 3; break;
    default: throw EKvFormat("invalid " + Op + " arg1");
    }
  }
  uint16_t word = Pattern;
  if (HasArg1())
    word |= Arg1Mask.Scatter(A1);
  if (HasArg2())
    word |= Arg2Mask.Scatter(A2);
  return word;
}

uint16_t TCommand::SelectMemoryOperand(uint16_t A1, uint16_t A2) const {
  if (Arg1Kind == akMemory || Arg1Kind == akImmediate)
    return A1;
  if (Arg2Kind == akMemory)
    return A2;
  throw EKvFormat("error while generating: no memory area");
}

// ---------------------------------------------------------------- TCommandList

namespace {
// The packed upper-case form of a short printable ASCII name; false for any
// other name, which is looked up by its text.
bool PackName(const char *Name, qsizetype Length, uint64_t &Key) {
  if (Length < 1 || Length > 8)
    return false;
  Key = 0;
  for (qsizetype i = 0; i < Length; ++i) {
    uint8_t c = uint8_t(Name[i]);
    if (c < 0x21 || c > 0x7E)
      return false;
    if (c >= 'a' && c <= 'z')
      c = uint8_t(c - 'a' + 'A');
    Key |= uint64_t(c) << (8 * i);
  }
  return true;
}

size_t SlotOf(uint64_t Key, size_t Mask) { return size_t((Key * 0x9E3779B97F4A7C15ull) >> 40) & Mask; }
} // namespace

void TCommandList::AddShort(uint64_t Key, const TCommand *Command) {
  // Kept at most half full, so that a search ends soon at a free slot.
  if ((FShortCount + 1) * 2 > FShort.size()) {
    std::vector<std::pair<uint64_t, const TCommand *>> old(std::max<size_t>(64, FShort.size() * 2));
    old.swap(FShort);
    FShortCount = 0;
    for (const auto &[key, command] : old)
      if (key != 0)
        AddShort(key, command);
  }
  const size_t mask = FShort.size() - 1;
  size_t at = SlotOf(Key, mask);
  while (FShort[at].first != 0)
    at = (at + 1) & mask;
  FShort[at] = {Key, Command};
  ++FShortCount;
}

bool TCommandList::Add(std::unique_ptr<TCommand> Command) {
  const QString key = Command->Op.toUpper();
  if (FItems.count(key))
    return false;
  const std::string bytes = key.toStdString();
  FByBytes.emplace(bytes, Command.get());
  uint64_t packed;
  if (PackName(bytes.data(), qsizetype(bytes.size()), packed))
    AddShort(packed, Command.get());
  FItems.emplace(key, std::move(Command));
  return true;
}

const TCommand *TCommandList::Find(const char *Op, qsizetype Length) const {
  uint64_t packed;
  if (PackName(Op, Length, packed)) {
    if (FShort.empty())
      return nullptr;
    const size_t mask = FShort.size() - 1;
    for (size_t at = SlotOf(packed, mask); FShort[at].first != 0; at = (at + 1) & mask)
      if (FShort[at].first == packed)
        return FShort[at].second;
    return nullptr;
  }
  std::string key(Op, size_t(Length));
  for (char &c : key)
    if (c >= 'a' && c <= 'z')
      c = char(c - 'a' + 'A');
  const auto it = FByBytes.find(key);
  return it == FByBytes.end() ? nullptr : it->second;
}

const TCommand *TCommandList::Find(const QString &Op) const {
  const auto it = FItems.find(Op.toUpper());
  return it == FItems.end() ? nullptr : it->second.get();
}

// ---------------------------------------------------------------- TSchemaCode

void TCommand::LoadFromNode(const IXXMLNode &Node) {
  Load(Node->GetStrAttr("op", QString()), Node->GetStrAttr("arg1", QString()), Node->GetStrAttr("arg2", QString()),
       Node->GetStrAttr("bin", QString()));
}

TSchemaCode::TSchemaCode() : Document(NewXMLDocument()) {}

void TSchemaCode::LoadDocument() {
  const IXXMLNode commands = Document->GetDocumentElement()->SelectSingleNode("commands");
  if (!commands)
    throw EKvFormat("element not found: commands");
  const IXXMLNodeList rows = commands->SelectNodes("cmd");
  for (int i = 0; i < rows->GetCount(); ++i) {
    auto cmd = std::make_unique<TCommand>();
    cmd->LoadFromNode(rows->GetItem(i));
    Commands.Add(std::move(cmd));
  }
}

void TSchemaCode::LoadCommandsXML(const QString &Text) {
  if (!Document->LoadXML(Text))
    throw EKvFormat("invalid XML: " + Document->GetParseError());
  LoadDocument();
}

void TSchemaCode::LoadCommands(const QString &FileName) {
  if (!QFileInfo::exists(FileName))
    throw EKvError("cannot open " + FileName + ": file not found");
  if (!Document->Load(FileName))
    throw EKvFormat(FileName + ": " + Document->GetParseError());
  LoadDocument();
}

QString TSchemaCode::DefaultText() {
  // Straight from the resource (stored uncompressed): a file engine for it
  // would cost more than the table, which kvasm reads at every start.
  const QByteArray text = QResource(QStringLiteral(":/custom/SchemaCode.xml")).uncompressedData();
  if (text.isEmpty())
    throw EKvAssert("src/custom/asm/uSchemaCode: built-in SchemaCode.xml missing");
  return QString::fromUtf8(text);
}

TSchemaCode &SchemaCode() {
  static TSchemaCode code;
  return code;
}

// ---------------------------------------------------------------- parsing

int32_t AsmStrToInt(const QString &Text) {
  auto fail = [&]() { return EKvFormat("'" + Text + "' is not a valid integer value"); };
  TIntText parts;
  if (!ReadIntText(Text, false, parts))
    throw fail();
  int64_t v = int64_t(parts.Magnitude);
  if (parts.IsHex)
    v = int32_t(uint32_t(v)); // "$FFFFFFFF" is -1, as a 32-bit word
  if (parts.IsNegative)
    v = -v;
  if (v < INT32_MIN || v > INT32_MAX)
    throw fail();
  return int32_t(v);
}

namespace {
// The line form "\s*((name)\s*:)?\s*(name)?\s*(name)?\s*(,\s*(name))?\s*(;.*)?"
// with names of ASCII letters, digits and "_" and blanks of ASCII white
// space (Cyrillic letters never were name characters). Read greedily from the
// left: no other split of the line matches where this one does not.
template <typename C> int Code(C Ch) {
  if constexpr (std::is_same_v<C, QChar>)
    return Ch.unicode();
  else
    return uint8_t(Ch);
}
template <typename C> bool IsNameChar(C Ch) {
  const int c = Code(Ch);
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}
template <typename C> bool IsBlank(C Ch) {
  const int c = Code(Ch);
  return c == ' ' || (c >= 9 && c <= 13);
}

template <typename C> TAsmLineParts Scan(const C *P, qsizetype N) {
  TAsmLineParts parts;
  qsizetype i = 0;
  auto blanks = [&](qsizetype &At) {
    while (At < N && IsBlank(P[At]))
      ++At;
  };
  auto name = [&](qsizetype From) {
    qsizetype j = From;
    while (j < N && IsNameChar(P[j]))
      ++j;
    return j - From;
  };
  blanks(i);
  if (const qsizetype n = name(i); n > 0) {
    qsizetype k = i + n;
    blanks(k);
    if (k < N && Code(P[k]) == ':') {
      parts.LabelAt = i;
      parts.LabelLength = n;
      i = k + 1;
    }
  }
  blanks(i);
  parts.OpAt = i;
  parts.OpLength = name(i);
  i += parts.OpLength;
  blanks(i);
  parts.Arg1At = i;
  parts.Arg1Length = name(i);
  i += parts.Arg1Length;
  blanks(i);
  if (i < N && Code(P[i]) == ',') {
    qsizetype k = i + 1;
    blanks(k);
    if (const qsizetype n = name(k); n > 0) {
      parts.Arg2At = k;
      parts.Arg2Length = n;
      i = k + n;
    }
  }
  blanks(i);
  if (i < N && Code(P[i]) == ';')
    i = N;
  parts.IsWhole = i == N;
  return parts;
}
} // namespace

TAsmLineParts ScanAsmLine(const char *Line, qsizetype Length) { return Scan(Line, Length); }
TAsmLineParts ScanAsmLine(const QChar *Line, qsizetype Length) { return Scan(Line, Length); }

std::unique_ptr<TOper> ParseAsmLine(const TSchemaCode &Code, const QString &Line) {
  auto oper = std::make_unique<TOper>();
  oper->Line = Line;
  const TAsmLineParts p = ScanAsmLine(Line.constData(), Line.size());
  oper->Label = Line.mid(p.LabelAt, p.LabelLength);
  oper->Op = Line.mid(p.OpAt, p.OpLength);
  oper->Arg1 = Line.mid(p.Arg1At, p.Arg1Length);
  oper->Arg2 = Line.mid(p.Arg2At, p.Arg2Length);
  if (!oper->Op.isEmpty()) {
    oper->Command = Code.Commands.Find(oper->Op);
    if (!oper->Command)
      throw EKvFormat("unknown oper " + oper->Op);
  }
  if (!p.IsWhole)
    throw EKvFormat("invalid syntax: " + Line);
  return oper;
}

bool IsJumpCommand(const TCommand &Command) { return Command.IsJump; }

// ---------------------------------------------------------------- TOper

// Some rows rely on the cut: the 4-bit register fields name r16..r31, LDIL
// keeps the low byte.
bool TCommand::Fits(int ArgNo, int64_t V) const {
  const int kind = ArgNo == 1 ? Arg1Kind : Arg2Kind;
  const int width = ArgNo == 1 ? Width1 : Width2;
  if (ArgNo == 1 && IsAdiwSbiw)
    return true; // Encode16 accepts only the four pairs
  if (ArgNo == 2 && IsLdil)
    return true;
  if (width == 0)
    return V == 0; // a letter the pattern lacks takes no bits at all
  if (IsMovw)
    V /= 2;
  else if (kind == akRegister && width == 4)
    return V >= 16 && V <= 31;
  if (width >= 16)
    return V >= -32768 && V <= 65535;
  if (kind == akRelative || IsRcall)
    return V >= -(int64_t(1) << (width - 1)) && V < (int64_t(1) << (width - 1));
  return V >= 0 && V < (int64_t(1) << width);
}

void TCommand::Emit(uint16_t A1, uint16_t A2, QByteArray &Stream) const {
  char words[4];
  auto put = [&](int At, uint16_t W) {
    words[At] = char(W & 0xFF);
    words[At + 1] = char(W >> 8);
  };
  switch (ByteSize) {
  case 2:
    put(0, Encode16(A1, A2));
    break;
  case 4:
    put(0, Encode16(A1, A2));
    put(2, SelectMemoryOperand(A1, A2));
    break;
  default:
    throw EKvFormat("unknown command");
  }
  Stream.append(words, ByteSize);
}

void TOper::Generate(QByteArray &Stream) const {
  KvCheck(Command != nullptr, "src/custom/asm/uSchemaCode: Generate without a command");
  const int32_t v1 = Command->HasArg1() ? AsmStrToInt(Arg1) : 0;
  const int32_t v2 = Command->HasArg2() ? AsmStrToInt(Arg2) : 0;
  for (int argNo : {1, 2}) {
    const bool has = argNo == 1 ? Command->HasArg1() : Command->HasArg2();
    const int32_t v = argNo == 1 ? v1 : v2;
    if (has && !Command->Fits(argNo, v))
      Logger().Info(QString("warning: operand %1 does not fit its %2-bit field: %3")
                        .arg(v)
                        .arg(Command->FieldWidth(argNo))
                        .arg(Line));
  }
  Command->Emit(uint16_t(v1), uint16_t(v2), Stream);
}

// ---------------------------------------------------------------- block types

const char *const AbstractTypeNames[12] = {"module", "comment", "lab", "labr", "descriptor", "", "", "",
                                           "inint",  "outint",  "",    ""};

uint8_t StrToAbstractType(const QString &Name) {
  const QString lower = Name.toLower();
  for (int i = 0; i < 12; ++i)
    if (lower == QLatin1String(AbstractTypeNames[i]))
      return uint8_t(i);
  return 11;
}

bool IsGidAbstractType(uint8_t Code) { return Code >= 5 && Code <= 7; }
bool IsAutoGidAbstractType(uint8_t Code) { return Code == 8 || Code == 9; }
