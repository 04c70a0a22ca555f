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
