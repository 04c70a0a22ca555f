#pragma once
// The instruction table of the device's 8-bit processor ("SchemaCode.xml"),
// the parse of one assembly line and its encoding into 16-bit words, and the
// block-type keywords of the logic schema.
#include "ixml.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

// Operand kind codes of a table row ("R", "S", "F", "M", "I").
enum TArgKind : uint8_t { akRegister = 0, akRelative = 1, akF = 2, akMemory = 3, akImmediate = 4 };

// The scatter of one operand into a 16-bit word: the operand's higher bits go
// to the first run of its letter in the pattern, its lower bits to the second.
struct TMask16 {
  uint8_t Len1 = 0;
  uint16_t Mask1 = 0;
  uint8_t Shift1 = 0;
  uint8_t Len2 = 0;
  uint16_t Mask2 = 0;
  uint8_t Shift2 = 0;

  // Built from the first 16 pattern characters (most significant bit first).
  static TMask16 Build(const QString &Bin, QChar Letter);
  // Bits of Value beyond the field are dropped.
  uint16_t Scatter(uint16_t Value) const {
    return uint16_t(((Value & Mask1) << Shift1) | ((Value & Mask2) << Shift2));
  }
};

// One row of the instruction table.
class TCommand {
public:
  QString Op;            // as written in the table
  QString Bin;           // 16 or 32 pattern characters, blanks removed
  uint16_t ByteSize = 0; // 2 or 4
  uint8_t Arg1Kind = 0;
  uint8_t Arg2Kind = 0;
  QChar Arg1Letter;      // null when the instruction has no such operand
  QChar Arg2Letter;
  TMask16 Arg1Mask;
  TMask16 Arg2Mask;
  uint16_t Pattern = 0;  // the fixed "1" bits of the first word
  // Kinds the assembler treats apart, worked out once by Load: by the
  // table's exact spelling (jumps as IsJumpCommand; "RCALL", "RJMP", "JMP")
  // or regardless of letter case (the rest).
  bool IsJump = false, IsRcall = false, IsRjmp = false, IsJmp = false;
  bool IsMovw = false, IsAdiwSbiw = false, IsLdil = false, IsLdih = false;
  int Width1 = 0, Width2 = 0; // FieldWidth(1), FieldWidth(2)

  // Fills the row from its attribute texts. Throws EKvFormat "invalid arg kind"
  // for an unknown kind letter and "invalid attr (bin): <bin>" for a pattern
  // that is not 16 or 32 characters long.
  void Load(const QString &AOp, const QString &AArg1, const QString &AArg2, const QString &ABin);
  // The same from a "cmd" element (attributes op, arg1, arg2, bin; absent = empty).
  void LoadFromNode(const IXXMLNode &Node);

  bool HasArg1() const { return !Arg1Letter.isNull(); }
  bool HasArg2() const { return !Arg2Letter.isNull(); }
  // Number of pattern characters (of all 16 or 32) that carry operand 1 or 2.
  int FieldWidth(int ArgNo) const;

  // The first word. Throws EKvFormat "invalid <Op> arg1"/"arg2" for an odd
  // MOVW register and an ADIW/SBIW register other than 24, 26, 28, 30.
  uint16_t Encode16(uint16_t A1, uint16_t A2) const;
  // The second word of a two-word instruction: its memory or immediate operand.
  // Throws EKvFormat "error while generating: no memory area".
  uint16_t SelectMemoryOperand(uint16_t A1, uint16_t A2) const;
  // Whether operand ArgNo of value V survives the cut into its field.
  bool Fits(int ArgNo, int64_t V) const;
  // Appends the encoded words (low byte first); throws as Encode16 and
  // SelectMemoryOperand do.
  void Emit(uint16_t A1, uint16_t A2, QByteArray &Stream) const;
};

// Operation name -> row; names are looked up regardless of letter case and the
// first row of a name wins.
class TCommandList {
public:
  // False (and the row is dropped) when the name is already present.
  bool Add(std::unique_ptr<TCommand> Command);
  const TCommand *Find(const QString &Op) const;
  // The same for the ASCII bytes of a name.
  const TCommand *Find(const char *Op, qsizetype Length) const;
  int Count() const { return int(FItems.size()); }
  void Clear() {
    FItems.clear();
    FByBytes.clear();
    FShort.clear();
    FShortCount = 0;
  }

private:
  std::map<QString, std::unique_ptr<TCommand>> FItems;
  std::unordered_map<std::string, const TCommand *> FByBytes; // upper-case UTF-8 name -> row
  // Names of 1 to 8 printable ASCII characters, upper case, packed into one
  // word (first character lowest), in an open-addressing table whose size is
  // a power of two; key 0 marks a free slot. The assembler looks up the
  // operation of every line, and hashing a string costs more than the rest.
  std::vector<std::pair<uint64_t, const TCommand *>> FShort;
  size_t FShortCount = 0;
  void AddShort(uint64_t Key, const TCommand *Command);
};

class TSchemaCode {
public:
  TSchemaCode();
  IXXMLDocument Document; // the table last loaded
  TCommandList Commands;

  // Adds the rows of the table file (Windows-1251 XML, root "document", rows
  // "commands/cmd") in document order. Throws EKvError when the file cannot be
  // read, EKvFormat when it cannot be parsed or with the message of the first
  // bad row (earlier rows stay).
  void LoadCommands(const QString &FileName);
  // The same from the text of a table.
  void LoadCommandsXML(const QString &Text);
  // The built-in default table, as written to "SchemaCode.xml" for the device.
  static QString DefaultText();

private:
  void LoadDocument();
};

// The process-wide table that line parsing uses by default; empty until loaded.
TSchemaCode &SchemaCode();

// One parsed assembly line.
class TOper {
public:
  QString Line;
  QString Label;
  QString Op;
  QString Arg1;
  QString Arg2;
  const TCommand *Command = nullptr; // row of Op, not owned; null without an operation

  // Appends the encoded words (low byte first) to Stream. Operands are decimal
  // or "$" hexadecimal, only their low 16 bits used; one that does not convert
  // throws EKvFormat "'<text>' is not a valid integer value". An operand that
  // does not fit its field is cut as the table says and logged as a warning.
  void Generate(QByteArray &Stream) const;
};
using TOperList = std::vector<std::unique_ptr<TOper>>;

// Where the parts of an assembly line stand (offset and length; length 0
// when absent) and whether the whole line has the form below.
struct TAsmLineParts {
  qsizetype LabelAt = 0, LabelLength = 0;
  qsizetype OpAt = 0, OpLength = 0;
  qsizetype Arg1At = 0, Arg1Length = 0;
  qsizetype Arg2At = 0, Arg2Length = 0;
  bool IsWhole = false;
};
// Names are ASCII letters, digits and "_", blanks ASCII white space; where
// the line leaves the form, the parts are those read up to there.
TAsmLineParts ScanAsmLine(const char *Line, qsizetype Length);
TAsmLineParts ScanAsmLine(const QChar *Line, qsizetype Length);

// Parses "[label:] [op [arg1 [, arg2]]] [; comment]". Throws EKvFormat
// "unknown oper <op>" for an operation the table lacks, then "invalid syntax:
// <line>" for text the line form does not take.
std::unique_ptr<TOper> ParseAsmLine(const TSchemaCode &Code, const QString &Line);
inline std::unique_ptr<TOper> ParseAsmLine(const QString &Line) { return ParseAsmLine(SchemaCode(), Line); }

// Branches ("BR..."), "RJMP" and "JMP", by the table's exact spelling.
bool IsJumpCommand(const TCommand &Command);

// An operand text as the encoder reads it: optional sign, decimal or "$" hex.
// Throws EKvFormat "'<text>' is not a valid integer value" (also on 32-bit overflow).
int32_t AsmStrToInt(const QString &Text);

// Block-type codes of the logic schema: 0 "module", 1 "comment", 2 "lab",
// 3 "labr", 4 "descriptor", 8 "inint", 9 "outint"; 5..7, 10, 11 have no keyword.
extern const char *const AbstractTypeNames[12];
// Index of the first keyword equal to the lower-cased Name; 11 when none (an
// empty name matches the first empty entry, 5).
uint8_t StrToAbstractType(const QString &Name);
// Types 5 to 7 need a group id from the user.
bool IsGidAbstractType(uint8_t Code);
// Types 8 and 9 (interface elements) get their group id automatically.
bool IsAutoGidAbstractType(uint8_t Code);
