// The demo terminal's logic package read by the program's schema model:
// both units merged into the base logic by the build's merge compile.
#include "uDemoLogic.h"

#include "uConfigurator.h"
#include "uCustomLogic.h"
#include "uDemoDevice.h"
#include "uFiles.h"
#include "uModbusIderList.h"
#include "uSchemaCode.h"
#include "uSchemaCompile.h"
#include "uSchemaDeviceDescriptor.h"
#include "uSchemaModule.h"
#include "uTextCodec.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>


TEST(DemoLogic, MergedUnitsCompileWithEveryInputLinkedAndSetpointBound) {
  // The generator scripts run in a script engine, which wants the application object.
  static int argc = 1;
  static char name[] = "demo_logic";
  static char *argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  QTemporaryDir dir;
  const std::array<QByteArray, 6> package = DemoLogicPackage(DemoTerminalContent());
  const char *names[] = {"SchemaCode.xml", "config.xml", "identification.inc", "logic.xml", "custom-logic0.xml",
                         "custom-logic.xml"};
  for (int k = 0; k < 6; ++k)
    SaveFileBytes(dir.filePath(names[k]), package[size_t(k)]);
  SaveFileBytes(dir.filePath("internal.js"), ToWin1251(InternalScriptText()));
  SchemaCode() = TSchemaCode();
  SchemaCode().LoadCommands(dir.filePath("SchemaCode.xml"));
  InstallDeviceDescriptorReader();
  ResetModbusIderList();
  EnsureModbusIderList(dir.filePath("identification.inc"));

  TConfigurator library;
  library.LoadFromFile(dir.filePath("config.xml"));
  TModule root(nullptr, 1);
  root.Root = true;
  root.SetConfigurator(&library);
  const IXXMLDocument logic = NewXMLDocument(), custom = NewXMLDocument();
  ASSERT_TRUE(logic->Load(dir.filePath("logic.xml")));
  root.LoadFromNode(logic->GetDocumentElement());
  ASSERT_TRUE(DeviceOf(root.Descriptor.get()));
  int units = 0;
  for (const TAbstract *b : root.AbstractList.Items())
    units += b->Custom ? 1 : 0;
  EXPECT_EQ(units, 2);
  for (const char *file : {"custom-logic0.xml", "custom-logic.xml"}) {
    SCOPED_TRACE(file);
    ASSERT_TRUE(custom->Load(dir.filePath(file)));
    TModule merged(nullptr, 1);
    merged.Root = true;
    merged.SetConfigurator(&library);
    merged.LoadFromNode(logic->GetDocumentElement());
    MergeUnits(merged, MergeCustomUnits(merged, custom->GetDocumentElement()));
    TSchemaCompile c;
    c.WorkFolder = dir.path();
    QStringList errors;
    c.Compile(library, merged, errors, 512);
    EXPECT_EQ(errors, QStringList());
    // The units' blocks were compiled, not only the base logic's.
    for (const char *id : {"and", "timer", "not"})
      EXPECT_TRUE(c.FunctionIds.contains(id)) << id;
    EXPECT_GT(LoadFileBytes(dir.filePath("generated.bin")).size(), 0);
  }
  ResetModbusIderList();
}
