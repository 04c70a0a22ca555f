#pragma once
// The schema compiler: checks of the device descriptor and the schema, SRAM
// allocation, the generator data "param.js", the run of the generator scripts
// and, last, the assembler that turns their "generated.asm" into
// "generated.bin" and "generated.lst".
#include "uSchemaAssembler.h"

#include <QList>
#include <memory>

class TConfigurator;
class TModule;
class TElement;
class TScriptHost;
class TDeviceDescriptor;

#include <QString>
#include <QStringList>

class TSchemaCompile : public TSchemaAssembler {
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

private:
  std::unique_ptr<TScriptHost> FScript;
  TDeviceDescriptor *FDevice = nullptr;
  void CheckLinks(QStringList &Errors) const;
  void CheckUstavs(QStringList &Errors) const;
  void CheckIders(QStringList &Errors) const;
  void Allocate();
  void RunScripts();
};

// The framework script "internal.js" the program carries.
QString InternalScriptText();
