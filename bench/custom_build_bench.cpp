// The custom logic's whole build as the page runs it before a full write:
// the units merged into the base logic, the compile to "generated.bin", then
// "desc.bin" and "extflash.bin" built in memory. For the demo terminal's
// package and for a package whose unit holds 2,000 function blocks; mean of
// three runs each, in ms. A build checks the setpoints it would write against
// the connected relay's run-time descriptor, as the page gives it: the demo
// terminal's, decoded from its file 129 as identification decodes it.
#include "custom_logic_test_util.h"
#include "uDemoDevice.h"
#include "uDemoLogic.h"
#include "uDeviceContent.h"
#include "uSimpleDeviceDescriptor.h"

#include <QElapsedTimer>
#include <cstdio>

namespace {

struct TFigures {
  double Build = 0, Images = 0;
};

TFigures Measure(TCustomLogicState &State, const TCustomBuildEnv &Env) {
  TFigures f;
  const int runs = 3;
  for (int i = 0; i < runs; ++i) {
    TSchemaCompile compiler;
    QStringList errors;
    QBuffer params;
    QElapsedTimer t;
    t.start();
    BuildCustomLogic(State, Env, compiler, errors, params);
    f.Build += double(t.nsecsElapsed()) / 1e6 / runs;
    t.restart();
    BuildDescBin(*DeviceOf(State.Module->Descriptor.get()), LoadFileBytes(QDir(State.WorkDir).filePath("generated.bin")),
                 0, 0, 0, QDir(State.WorkDir).filePath("header.lst"));
    BuildExtFlashBytes(State.WorkDir);
    f.Images += double(t.nsecsElapsed()) / 1e6 / runs;
  }
  return f;
}

} // namespace

int main() {
  App();
  // The relay the build is made for, as identification leaves it.
  QByteArray descriptorImage = BuildDeviceImage(DemoTerminalContent()).Bytes;
  QBuffer descriptorFile(&descriptorImage);
  descriptorFile.open(QIODevice::ReadOnly);
  TSimpleDeviceDescriptor relay;
  relay.LoadFromStream(descriptorFile);
  TCustomBuildEnv env;
  env.RelayDescriptor = relay.Root;
  // The demo terminal's package, loaded as the page loads it.
  {
    QTemporaryDir dir;
    const auto package = DemoLogicPackage(DemoTerminalContent());
    for (int k = 0; k < 6; ++k)
      SaveFileBytes(QDir(dir.path()).filePath(QString::fromLatin1(ExtFlash::SourceNames[k])), package[size_t(k)]);
    SaveFileBytes(dir.filePath("internal.js"), ToWin1251(InternalScriptText()));
    if (SchemaCode().Commands.Count() == 0)
      SchemaCode().LoadCommandsXML(TSchemaCode::DefaultText());
    InstallDeviceDescriptorReader();
    ResetModbusIderList();
    EnsureModbusIderList(dir.filePath("identification.inc"));
    TConfigurator library;
    library.LoadFromFile(dir.filePath("config.xml"));
    auto module = std::make_unique<TModule>(nullptr, 1);
    module->Root = true;
    module->SetConfigurator(&library);
    TCustomLogicState s;
    s.WorkDir = dir.path();
    s.Configurator = &library;
    s.Module = module.get();
    s.LogicDoc = NewXMLDocument();
    s.LogicDoc->Load(dir.filePath("logic.xml"));
    module->LoadFromNode(s.LogicDoc->GetDocumentElement());
    s.CustomDoc = NewXMLDocument();
    s.CustomDoc->Load(dir.filePath("custom-logic.xml"));
    s.Units = MergeCustomUnits(*module, s.CustomDoc->GetDocumentElement());
    s.Source = 1;
    const TFigures f = Measure(s, env);
    std::printf("demo logic (%lld units): merge and compile %.1f ms, desc.bin and extflash.bin %.1f ms\n",
                qlonglong(s.Units.size()), f.Build, f.Images);
    ResetModbusIderList();
  }
  {
    TLogicPackage p;
    p.Unit(p.State.CustomDoc, {0, p.Z->Id, 0}, {1, p.M->Id, 0}, 0, 2000);
    // The relay of this package is the one its own descriptor describes.
    TCustomBuildEnv own;
    own.RelayDescriptor = p.RelayRoot();
    const TFigures f = Measure(p.State, own);
    std::printf("2000-block unit: merge and compile %.1f ms, desc.bin and extflash.bin %.1f ms\n", f.Build, f.Images);
  }
  return 0;
}
