#pragma once
// The two-pass assembler that turns the generator's "generated.asm" into the
// code block "generated.bin" and the listing "generated.lst", through the
// instruction table. The schema compiler runs it as its last stage; kvasm runs
// it alone, so it needs neither the schema nor the script host.
#include "uSchemaCode.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Labels of one block, in the order defined (so by offset, which only
// grows): ASCII names, letter case ignored. The names are views into the
// source, which must outlive the list.
class TLabelList {
public:
  void Clear();
  // False when the name (in any letter case) is already there.
  bool Add(std::string_view Name, int Offset);
  // The offset of Name, or -1.
  int Find(std::string_view Name) const;
  int Count() const { return int(FItems.size()); }
  std::string_view Name(int Index) const { return FItems[size_t(Index)].Name; }
  int Offset(int Index) const { return FItems[size_t(Index)].Offset; }

private:
  struct TItem {
    std::string_view Name;
    int Offset;
  };
  std::vector<TItem> FItems;
  // Built once a block holds many labels: lower-case name -> index.
  mutable std::unordered_map<std::string, int> FIndex;
};

class TSchemaAssembler {
public:
  // Code is the instruction table used to parse lines; the assembler keeps a reference.
  explicit TSchemaAssembler(const TSchemaCode &Code = SchemaCode());

  QByteArray CodeStream;
  QByteArray Listing;   // "generated.lst" as written: Windows-1251 lines, each ending in CR LF
  uint32_t Ip = 0;      // running byte address in the code

  // Folder of "generated.asm", "generated.bin" and "generated.lst"; empty means
  // the current folder.
  QString WorkFolder;
  // The source; a relative name lies in WorkFolder.
  QString AsmFileName = QStringLiteral("generated.asm");
  // Progress (line number, line count, colour), at most once per 500 lines.
  std::function<void(int Position, int Max, uint32_t Color)> OnProgress;

  // Assembles the source into the two output files, padding the code with $FF
  // to a multiple of Alignment bytes. Throws on the first error (EKvFormat with
  // the message, EKvError "invalid alignment" for Alignment <= 0); then
  // "generated.bin" is empty and "generated.lst" holds the listing up to the error.
  void Assemble(int Alignment);
  // The word Delta bytes from the end of CodeStream (Delta negative), low byte first.
  uint16_t ReadWord(int Delta) const;

protected:
  // Name in WorkFolder (letter case ignored); an absolute name as it is.
  QString OutPath(const QString &Name) const;

private:
  // One source line, a span of FSource; one instruction of the current block.
  struct TSpan {
    qsizetype At = 0, Length = 0;
  };
  struct TInstr {
    const TCommand *Command;
    int LineIndex;
    TSpan Arg1, Arg2;
  };
  // The source in Windows-1251, as the listing repeats it, and its lines.
  QByteArray FRaw;    // the file as read
  QByteArray FSource;
  std::vector<TSpan> FLines;
  QStringList FLineTexts; // the lines as text, read again for messages only
  TLabelList FLabels;     // of the current block
  std::vector<TInstr> FInstrs;
  int FLabelCursor = 0;   // the first label of the block not yet listed

  void LoadSource(const QString &FileName);
  std::string_view Bytes(TSpan Span) const { return {FSource.constData() + Span.At, size_t(Span.Length)}; }
  QString LineText(int Index);
  void ListLine(std::string_view Text);
  void ListLine(std::string_view Head, std::string_view Text);
  void ListLine(const QString &Text);
  // Assembles source lines First..Last (inclusive) as one block with its own labels.
  void AssembleBlock(int First, int Last);
  // Adds a listing line for each label of the block at Offset; returns how many.
  int ListLabels(int Offset);
  // Operand text as a number: decimal digits only (the line form has no sign
  // or "$"). Throws EKvFormat "'<text>' is not a valid integer value".
  int32_t OperandValue(TSpan Span) const;
  void Emit(const TInstr &Instr, int32_t V1, int32_t V2);

  const TSchemaCode &FCode;
};
