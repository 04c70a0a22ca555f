#pragma once
// The schema compiler: checks of the device descriptor and the schema, SRAM
// allocation, the generator data "param.js", the run of the generator scripts
// and the two-pass assembler that turns their "generated.asm" into
// "generated.bin" and "generated.lst".
#include "uSchemaCode.h"

#include <QList>
#include <memory>

class TConfigurator;
class TModule;
class TElement;
class TScriptHost;
class TDeviceDescriptor;

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <map>
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

class TSchemaCompile {
public:
  // Code is the instruction table used to parse lines; the compiler keeps a reference.
  explicit TSchemaCompile(const TSchemaCode &Code = SchemaCode());
  ~TSchemaCompile();

  TModule *Module = nullptr;
  TConfigurator *Configurator = nullptr;
  QList<TElement *> Elements; // the function blocks, in walk order
  QStringList FunctionIds;    // ids used, each once, in case-insensitive order
  int ScriptTimeoutMs = 100000;
  // Milliseconds spent in the last compile's stages.
  struct TTimings {
    qint64 Checks = 0, Param = 0, Script = 0, Assembly = 0;
  } Timings;

  // The whole road from the root schema to "generated.bin" in WorkFolder
  // (which must be set). Check failures land in Errors and nothing is
  // written; later failures throw ("Не задан дескриптор устройства", the SRAM
  // check, script and assembler errors).
  void Compile(TConfigurator &AConfigurator, TModule &AModule, QStringList &Errors, int Alignment);
  // The generator data, line by line (also used by Compile for "param.js").
  QStringList ParamLines();

  // Script host operations of the run.
  void AddScriptFile(const QString &FileName);
  void AddFunctionCode(const QString &Id);
  // Throws "Variable: <name>, type: <found>, expected: <expected>".
  void CheckType(const QString &Name, const QString &Expected);
  void RunMain(const QString &Procedure, const QString &Argument);

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
  std::unique_ptr<TScriptHost> FScript;
  TDeviceDescriptor *FDevice = nullptr;
  QString OutPath(const QString &Name) const;
  void CheckLinks(QStringList &Errors) const;
  void CheckUstavs(QStringList &Errors) const;
  void CheckIders(QStringList &Errors) const;
  void Allocate();
  void RunScripts();
};

// The framework script "internal.js" the program carries.
QString InternalScriptText();
