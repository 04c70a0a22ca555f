#pragma once
// The function library ("config.xml"): groups of function-block types with
// their pin counts, shapes, parameter, switch and setpoint lists and generator
// code; the tree of reusable sub-modules; the generator's common texts; the
// drawing settings. Loaded, never written back, except its sub-module entries,
// which schema files carry.
#include "ixml.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <vector>

class TModule;
class TConfigurator;

// Element kinds (attribute `reserved` of a function); 1..5 are bound to a
// device channel group.
enum TElementKind : uint8_t {
  ekGeneric = 0, ekDiscretInput, ekRele, ekLed, ekVirtualInput, ekVirtualOutput,
  ekInterfaceInput, ekInterfaceOutput, ekLabel, ekLabelRef
};
extern const char *const ElementKindNames[10];

struct TFunctionCode {
  QString Text;
};

// A picture stored as hexadecimal digits.
struct TFunctionImage {
  QString Text;
  QByteArray Bytes;
  // Blanks and line ends are dropped before decoding.
  void LoadFromNode(const IXXMLNode &Node);
  // Upper-case digits followed by CR LF.
  void SaveToNode(const IXXMLNode &Node) const;
};

class TFunctionDescriptor {
public:
  TFunctionImage Image;
  TFunctionCode Code;
  QString Id;
  QString Caption;
  int IMin = 0, IMax = 0, IDef = 0;
  int OMin = 1, OMax = 1, ODef = 1;
  int VarCount = 0;
  int Shape = 0;
  QString Text1, Text2;
  int Align1 = 0, Align2 = 0;
  bool CaptionShow = false;
  uint8_t Kind = ekGeneric;
  bool Enabled = false, Custom = false;
  QStringList ModbusIders;
  QStringList Params;
  QStringList Switches;
  QStringList Ustavs;
  bool InputArr = false;
  int UstavLimit = 0;

  // Throws EKvError "invalid attr reserved value: <value>" for an unknown kind.
  void LoadFromNode(const IXXMLNode &Node);
  // Alternative group n of setpoint line I ("name (n)"), else 0.
  int UstavGroup(int I) const;
  // The name part of such a line, else the whole line.
  QString UstavName(int I) const;
  bool IsModbusKind() const { return Kind >= 1 && Kind <= 5; }
};

class TFunctionGroup {
public:
  std::vector<std::unique_ptr<TFunctionDescriptor>> Functions;
  QString Id;
  QString Caption;
  bool Enabled = true;
  bool Custom = false;

  void LoadFromNode(const IXXMLNode &Node);
  TFunctionDescriptor *GetFunction(int I) const { return Functions.at(size_t(I)).get(); }
};

// A node of the sub-module tree: a folder ("node") or a stored sub-module ("module").
class TModuleItem {
public:
  enum TType : uint8_t { mtNode = 0, mtModule = 1 };
  TModuleItem();
  ~TModuleItem();
  TModuleItem(const TModuleItem &) = delete;
  TModuleItem &operator=(const TModuleItem &) = delete;

  uint8_t Type = mtNode;
  QString Caption = QStringLiteral("Noname");
  bool Enabled = true;
  std::vector<std::unique_ptr<TModuleItem>> Items;
  std::unique_ptr<TModule> Module;
  QString Path;

  // Configurator resolves the function blocks of a stored module. Throws
  // "invalid attr type value: <value>" for an unknown type.
  void LoadFromNode(const IXXMLNode &Node, TConfigurator *Configurator);
  void SaveToNode(const IXXMLNode &Node) const;
  void SetModule(std::unique_ptr<TModule> Value);
};

using TModuleItems = std::vector<std::unique_ptr<TModuleItem>>;
// Reads the `TModuleItem` children of Node into Items (cleared first). A
// failing item is reported as "Exception caught on node: <name>" and its
// exception goes on; the items read so far stay.
void LoadModuleItems(TModuleItems &Items, const IXXMLNode &Node, TConfigurator *Configurator);
// Appends one `TModuleItem` child per item.
void SaveModuleItems(const TModuleItems &Items, const IXXMLNode &Node);

class TConfigurator {
public:
  IXXMLDocument Document;
  QString FileName;
  std::vector<std::unique_ptr<TFunctionGroup>> Groups;
  TFunctionCode SampleCode, PrepareCode, InternalCode;
  TFunctionImage Image;
  TModuleItems Modules;
  int PenWidth = 1;
  uint32_t BrushColor = 0xFF000005;
  QString FontName = QStringLiteral("MS Sans Serif");
  int FontSize = 8;
  int PenWidthBold = 3;
  int ContPenWidth = 1;
  int ContPenWidthBold = 3;
  int FontAsmSize = 8;
  QString FontAsmName = QStringLiteral("MS Sans Serif");

  TConfigurator();
  ~TConfigurator();
  // Throws on a parse failure, a missing `group`, `module` or `sample`
  // element (naming it) and on a bad item; duplicates are reported, not refused.
  void LoadFromFile(const QString &AFileName);
  // The last function, in group and function order, whose id equals Id exactly.
  TFunctionDescriptor *FindFunction(const QString &Id) const;
  // Every id that occurs more than once (compared exactly), with the functions
  // carrying it: "Duplicate function" and CR LF + id + " " + caption per function.
  QStringList DuplicateMessages() const;
};
