// The demo terminal's logic package read by the program's schema model:
// both units merged into the base logic as a build merges them compile.
#include "uDemoLogic.h"

#include "uConfigurator.h"
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

namespace {
// Each unit as a module of the base logic: its inputs fed from the labels
// through label references, its outputs in place of the constants' links.
void MergeUnits(TModule &Root, TConfigurator &Library, const IXXMLNode &Custom) {
  const IXXMLNodeList units = Custom->SelectNodes("module");
  for (int i = 0; i < units->GetCount(); ++i) {
    const IXXMLNode n = units->GetItem(i);
    auto *u = new TModule(&Root, 0);
    u->SetConfigurator(&Library);
    u->SetDescriptor(Root.Descriptor);
    u->Root = true;
    u->LoadFromNode(n);
    const QStringList r = n->GetStrAttr("rect", {}).split(',');
    u->SetRect({r[0].toInt(), r[1].toInt(), r[0].toInt() + r[2].toInt(), r[1].toInt() + r[3].toInt()});
    Root.AbstractList.Add(u);
    for (TAbstract *b : QList<TAbstract *>(u->AbstractList.Items())) {
      if (b->Type != atInint && b->Type != atOutint)
        continue;
      const IXXMLNode e = n->SelectSingleNode(QString("implementation/element[@id=%1]").arg(b->Id));
      ASSERT_TRUE(e);
      const int org = e->GetIntAttr("orgid", 0), pin = e->GetIntAttr("orgpin", 0), gid = e->GetIntAttr("gid", 0);
      TAbstract *target = Root.AbstractList.FindById(org);
      ASSERT_TRUE(target) << org;
      if (b->Type == atInint) {
        auto *ref = new TElement(&Root, atLabelRef, 0, 0, &Library, Root.Descriptor.get(), nullptr);
        Root.AbstractList.Add(ref);
        ref->SetLabel(static_cast<TElement *>(target));
        Root.LinkList.Add(new TLink(&Root, ref, 0, u, gid - 1));
      } else {
        TLink *tied = Root.LinkList.FindInput(org, pin);
        ASSERT_TRUE(tied) << org << "/" << pin;
        Root.LinkList.Remove(tied);
        Root.LinkList.Add(new TLink(&Root, u, gid - 1, target, pin));
      }
    }
  }
}
} // namespace

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
    MergeUnits(merged, library, custom->GetDocumentElement());
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
