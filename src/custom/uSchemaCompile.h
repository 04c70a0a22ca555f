#pragma once
// The schema compiler; here its last stage: the two-pass assembler that turns
// the generator's "generated.asm" into "generated.bin" and "generated.lst".
#include "uSchemaCode.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <map>

// Labels of one block: name -> byte offset within the block; letter case ignored.
class TLabelList {
public:
  void Clear();
  // False when the name (in any letter case) is already there.
  bool Add(const QString &Name, int Offset);
  // The offset of Name, or -1.
  int Find(const QString &Name) const;
  // The names defined at Offset, in case-insensitive order.
  QStringList At(int Offset) const;

private:
  std::map<QString, std::pair<QString, int>> FByKey;
  std::multimap<int, QString> FByOffset;
};

class TSchemaCompile {
public:
  // Code is the instruction table used to parse lines; the compiler keeps a reference.
  explicit TSchemaCompile(const TSchemaCode &Code = SchemaCode());

  QStringList Lines;    // the assembler's source lines
  QByteArray CodeStream;
  QStringList Listing;
  TLabelList Labels;    // of the current block
  TOperList Opers;      // of the current block
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
  // Assembles source lines First..Last (inclusive) as one block with its own labels.
  void AssembleBlock(int First, int Last);
  // Adds a listing line for each label of the current block at Offset; returns how many.
  int ListLabels(int Offset);
  // The word Delta bytes from the end of CodeStream (Delta negative), low byte first.
  uint16_t ReadWord(int Delta) const;

private:
  const TSchemaCode &FCode;
  QString OutPath(const QString &Name) const;
};
