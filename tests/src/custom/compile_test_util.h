#pragma once
// A device for the compiler tests: a firmware listing, a descriptor bound to
// it (every bit group, setpoint and common record), the generator framework
// in a work folder, and a root schema of the project's library on it.
#include "schema_test_util.h"
#include "uDeviceDescriptor.h"
#include "uFiles.h"
#include "uModbusIderList.h"
#include "uSchemaCompile.h"
#include "uSchemaDeviceDescriptor.h"
#include "uTextCodec.h"

#include <QCoreApplication>

inline QCoreApplication &App() {
  static int argc = 1;
  static char name[] = "compile_test";
  static char *argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  return app;
}

struct TCompileDevice {
  QTemporaryDir Dir;
  std::shared_ptr<TDeviceDescriptor> Device;
  std::unique_ptr<TModule> Root;
  QList<TDDUstav *> Ustavs;

  explicit TCompileDevice(const QString &SramSize = "$1000") {
    App();
    // The page loads the program's table before compiling.
    if (SchemaCode().Commands.Count() == 0)
      SchemaCode().LoadCommandsXML(TSchemaCode::DefaultText());
    const QStringList listing = {
        ".EQU ADR_FLASH_B = $1000", ".EQU DIM_FLASH_B = $00080000", ".EQU ADR_SRAM = $0100",
        ".EQU DIM_SRAM = " + SramSize, ".EQU ADR_EEPROM = $0000", ".EQU DIM_EEPROM = $0400",
        ".EQU ADR_UST = $0500", ".EQU DIM_UST = $0200", ".EQU ADR_DATE = $0710", ".EQU DIM_DATE = $0008",
        ".EQU ADR_CALIBR = $0720", "MODBUSMASS:", "DI: .BYTE 2 ; inputs", "DO: .BYTE 2 ; relays",
        "LE: .BYTE 2 ; leds", "VI: .BYTE 2 ; virtual inputs", "VO: .BYTE 2 ; virtual outputs",
        "DATE: .BYTE 8 ; date", "STATUS: .BYTE 2 ; status", "UST1: .BYTE 8 ; setpoints",
        "UST2: .BYTE 8 ; setpoints", "SysEvent: .BYTE 2 ; event request", "SysTickMs: .BYTE 2 ; tick",
        "SysFlags: .BYTE 2 ; flags", "UserPar: .BYTE 2 ; user parameter", "END_MODBUS:"};
    SaveFileBytes(Dir.filePath("identification.inc"), ToWin1251(listing.join("\r\n")));
    ResetModbusIderList();
    const TModbusIderList &ids = EnsureModbusIderList(Dir.filePath("identification.inc"));
    Device = std::make_shared<TDeviceDescriptor>();
    auto bind = [&](TDDObject &R, const char *Name, int Acc) {
      R.FModbusObject.Ider = *ids.FindByName(Name);
      R.FModbusObject.Acc = uint8_t(Acc);
    };
    const char *groups[] = {"DI", "DO", "LE", "VI", "VO"};
    for (int kind = 1; kind <= 5; ++kind) {
      bind(*Device->GetBitReg(16 + kind), groups[kind - 1], 1);
      for (int bit = 1; bit <= 12; ++bit)
        Device->GetBitReg(16 + kind)->Bits.Add(bit, QString("%1 %2").arg(groups[kind - 1]).arg(bit), "");
    }
    bind(Device->FParamCommon.Date, "DATE", 1);
    bind(Device->FParamCommon.Status, "STATUS", 1);
    bind(Device->FParamCommon.Ustav1, "UST1", 7);
    bind(Device->FParamCommon.Ustav2, "UST2", 7);
    for (int i = 1; i <= 4; ++i) {
      TDDUstav *u = Device->FUstavs.Add(std::make_unique<TDDUstav>(Device.get(), TDDUstav::ukNumeric));
      u->Ider = i;
      u->String = QString("U%1").arg(i);
      Ustavs << u;
    }
    SaveFileBytes(Dir.filePath("internal.js"), ToWin1251(InternalScriptText()));
    Root = NewRoot();
    Root->Root = true;
    Root->SetDescriptor(std::make_shared<TSchemaDeviceDescriptor>(Device));
  }
  ~TCompileDevice() {
    Root.reset();
    ResetModbusIderList();
  }
  // Binds setpoint slot Slot of E to the device's setpoint number I.
  void Bind(TElement *E, int Slot, int I) { E->SetRef(Slot, E->MakeRef(nullptr, Ustavs.at(I))); }
  QString File(const QString &Name) const { return FromWin1251(LoadFileBytes(Dir.filePath(Name))); }
  QStringList Compile(TSchemaCompile &C, TConfigurator &Library = ProjectLibrary()) {
    C.WorkFolder = Dir.path();
    QStringList errors;
    C.Compile(Library, *Root, errors, 512);
    return errors;
  }
};
