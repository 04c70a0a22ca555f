#include "uConfigurator.h"

#include "../schema_test_util.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uTextCodec.h"

#include <gtest/gtest.h>

namespace {

// A library file with the given groups (and module items), in Windows-1251.
QString WriteLibrary(const QTemporaryDir &Dir, const QString &Groups, const QString &Modules = QString(),
                     const QString &Sample = "<TFunctionCodeSample/><TFunctionCodePrepare/><TFunctionCodeInternal/>") {
  const QString path = Dir.filePath("config.xml");
  SaveFileBytes(path, ToWin1251("<?xml version=\"1.0\" encoding=\"windows-1251\"?><config><group>" + Groups +
                                "</group><module>" + Modules + "</module><sample>" + Sample + "</sample></config>"));
  return path;
}

QString Group(const QString &Functions) { return "<TFunctionGroup id=\"g\">" + Functions + "</TFunctionGroup>"; }

} // namespace

TEST(Configurator, ProjectLibraryHoldsWhatTheSchemasUse) {
  const TConfigurator &lib = ProjectLibrary();
  for (const char *id : {"zero", "one", "and", "or", "not", "rs", "timer", "pulse", "select"})
    EXPECT_NE(lib.FindFunction(id), nullptr) << id;
  for (int kind = 1; kind <= 5; ++kind) {
    int found = 0;
    for (const auto &g : lib.Groups)
      for (const auto &f : g->Functions)
        found += f->Kind == kind;
    EXPECT_EQ(found, 1) << kind;
  }
  const TFunctionDescriptor *timer = lib.FindFunction("timer");
  EXPECT_EQ(timer->UstavGroup(0), 1);
  EXPECT_EQ(timer->UstavName(1), "Выдержка на возврат ");
  EXPECT_EQ(lib.FindFunction("pulse")->ModbusIders, QStringList({"SysEvent", "SysTickMs", "SysFlags"}));
  EXPECT_EQ(lib.FindFunction("pulse")->Switches.size(), 2);
  EXPECT_EQ(lib.FindFunction("not")->Shape, 1);
  EXPECT_EQ(lib.FindFunction("select")->Shape, 2);
  ASSERT_EQ(lib.Modules.size(), 1u);
  const TModuleItem &node = *lib.Modules[0];
  ASSERT_EQ(node.Items.size(), 1u);
  ASSERT_TRUE(node.Items[0]->Module);
  EXPECT_EQ(node.Items[0]->Module->InputPins.Count(), 1);
  EXPECT_EQ(node.Items[0]->Module->LinkList.Count(), 2);
  EXPECT_EQ(lib.Image.Bytes.size(), 30);
  EXPECT_EQ(lib.FontAsmSize, 8);
  EXPECT_EQ(lib.BrushColor, 0xFF000005u);
}

TEST(Configurator, AttributeDefaultsAndRules) {
  QTemporaryDir dir;
  TConfigurator lib;
  lib.LoadFromFile(WriteLibrary(dir, Group("<TFunctionDescriptor id=\"a\" imin=\"2\" idef=\"0\" omin=\"0\"/>"
                                           "<TFunctionDescriptor id=\"b\" reserved=\"led\" odef=\"0\" omin=\"3\"/>"
                                           "<TFunctionDescriptor id=\"c\" caption=\"C\" "
                                           "ustav-limit=\"1\"><TStringList_ustav>x (2)\r\ny( 3 )\r\nz"
                                           "</TStringList_ustav></TFunctionDescriptor>")));
  const TFunctionDescriptor *a = lib.FindFunction("a");
  EXPECT_EQ(a->IDef, 2);
  EXPECT_EQ(a->ODef, 1);
  EXPECT_EQ(a->Caption, "a");
  EXPECT_EQ(lib.FindFunction("b")->Kind, ekLed);
  EXPECT_EQ(lib.FindFunction("b")->ODef, 3);
  const TFunctionDescriptor *c = lib.FindFunction("c");
  const struct {
    int Line, Group;
    const char *Name;
  } rows[] = {{0, 2, "x "}, {1, 3, "y"}, {2, 0, "z"}};
  for (const auto &r : rows) {
    EXPECT_EQ(c->UstavGroup(r.Line), r.Group) << r.Line;
    EXPECT_EQ(c->UstavName(r.Line), r.Name) << r.Line;
  }
}

TEST(Configurator, BadItemsStopTheLoadNamingTheNode) {
  const struct {
    QString Groups, Modules, Error, Node;
  } cases[] = {
      {Group("<TFunctionDescriptor id=\"x\" reserved=\"LED\"/>"), "", "invalid attr reserved value: LED",
       "TFunctionDescriptor"},
      {"", "<TModuleItem type=\"folder\"/>", "invalid attr type value: folder", "TModuleItem"},
  };
  for (const auto &c : cases) {
    QTemporaryDir dir;
    TMessageRecorder messages;
    EXPECT_EQ(ErrorOf([&] { TConfigurator().LoadFromFile(WriteLibrary(dir, c.Groups, c.Modules)); }), c.Error);
    ASSERT_FALSE(messages.Texts.isEmpty());
    EXPECT_EQ(messages.Texts.first(), "Exception caught on node: " + c.Node);
  }
  for (const char *missing : {"group", "module", "sample"}) {
    QTemporaryDir dir;
    QString text = "<config><group/><module/><sample/></config>";
    text.remove(QString("<%1/>").arg(missing));
    SaveFileBytes(dir.filePath("c.xml"), text.toUtf8());
    EXPECT_EQ(ErrorOf([&] { TConfigurator().LoadFromFile(dir.filePath("c.xml")); }),
              QString("нет элемента ") + missing);
  }
}

TEST(Configurator, DuplicatesAreReportedExactlyAndTheLastWins) {
  QTemporaryDir dir;
  TMessageRecorder messages;
  TConfigurator lib;
  lib.LoadFromFile(WriteLibrary(dir, Group("<TFunctionDescriptor id=\"t\" caption=\"1\"/>"
                                           "<TFunctionDescriptor id=\"t\" caption=\"2\"/>"
                                           "<TFunctionDescriptor id=\"a\" caption=\"x\"/>"
                                           "<TFunctionDescriptor id=\"A\" caption=\"y\"/>"
                                           "<TFunctionDescriptor id=\"a\" caption=\"z\"/>") +
                                         Group("<TFunctionDescriptor id=\"t\" caption=\"3\"/>")));
  EXPECT_EQ(messages.Texts, QStringList({"Duplicate function\r\na x\r\na z", "Duplicate function\r\nt 1\r\nt 2\r\nt 3"}));
  EXPECT_EQ(lib.FindFunction("t")->Caption, "3");
  EXPECT_EQ(lib.FindFunction("A")->Caption, "y");
  EXPECT_EQ(lib.FindFunction("T"), nullptr);
}
