// The compiler's road from a schema to "generated.bin": checks, allocation,
// the generator data, the script run and the assembly.
#include "uSchemaCompile.h"

#include "../compile_test_util.h"
#include "uErrors.h"
#include "uLogger.h"
#include "uScriptHost.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {


QStringList Masked(QStringList Lines) {
  for (QString &l : Lines)
    l.replace(QRegularExpression("\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d|ms \\d+"), "T");
  return Lines;
}

// The functions "b", "A", "a" (one input each) and the project's "one".
void MakeLibrary(TConfigurator &Lib) {
  auto g = std::make_unique<TFunctionGroup>();
  for (const char *id : {"b", "A", "a"}) {
    auto f = std::make_unique<TFunctionDescriptor>();
    f->Id = id;
    f->IMin = f->IMax = f->IDef = 1;
    f->OMin = f->OMax = f->ODef = 0;
    g->Functions.push_back(std::move(f));
  }
  g->Functions.push_back(std::make_unique<TFunctionDescriptor>(*ProjectLibrary().FindFunction("one")));
  Lib.Groups.push_back(std::move(g));
  Lib.InternalCode.Text = ProjectLibrary().InternalCode.Text;
}

// Code: the text of each test function, "%1" standing for its id.
void SetCode(TConfigurator &Lib, const QString &Prepare, const QString &Code) {
  Lib.PrepareCode.Text = Prepare;
  for (int i = 0; i < 3; ++i)
    Lib.Groups[0]->GetFunction(i)->Code.Text = Code.arg(Lib.Groups[0]->GetFunction(i)->Id);
}

} // namespace

TEST(SchemaCompile, GeneratorDataLineByLine) {
  TCompileDevice d;
  TConfigurator lib; // the project's, with an "and" that names no identifier: no lists
  lib.LoadFromFile(ProjectConfigPath());
  lib.FindFunction("and")->ModbusIders.clear();
  auto add = [&](const char *Id, int Left) {
    auto *e = new TElement(d.Root.get(), atDescriptor, 0, 0, nullptr, nullptr, lib.FindFunction(Id));
    e->SetRect({Left, 0, Left + 2, e->Rect.Bottom});
    d.Root->AbstractList.Add(e);
    return e;
  };
  TElement *one = add("one", 0);
  TElement *zero = add("zero", 0);
  zero->MoveBy(0, 4 * 20);
  TElement *andBlock = add("and", 6);
  andBlock->Caption = "say \"hi\" \\ there";
  andBlock->InputPins[1]->Inverted = true;
  TElement *relay = add("relay", 12);
  AddLink(*d.Root, one, 0, andBlock, 0);
  AddLink(*d.Root, zero, 0, andBlock, 1);
  AddLink(*d.Root, andBlock, 0, relay, 0);
  TSchemaCompile c;
  ASSERT_EQ(d.Compile(c, lib), QStringList());
  const QStringList lines = d.File("param.js").split("\r\n");
  const int at = int(lines.indexOf("type: \"and\",")) - 1;
  ASSERT_GT(at, 0);
  // 0x0900: the first SRAM byte after the register image; one, zero: 0x0900, 0x0901; and: 0x0902.
  const QStringList expected = {"{", "type: \"and\",", "caption: \"say \\\"hi\\\" \\\\ there\",", "index: 2,",
                                "groupIndex: 0,", "vara: 0,", "varc: 0,", "inaa: 0,", "modbus: 65535,", "ipina:[",
                                "[2304,0],", "[2305,1]", "],", "opina:[", "[2306,0,0,0]", "]", "},"};
  EXPECT_EQ(lines.mid(at, expected.size()), expected);
  EXPECT_EQ(Masked(lines.mid(0, 4)), QStringList({"// started at T", "data=", "{", "ela:["}));
  EXPECT_TRUE(lines.contains("global.ADR_FLASH=2048"));
  TScriptHost host(d.Dir.path());
  host.AddCode("var global = {};\n" + d.File("param.js"), "param.js");
  EXPECT_EQ(host.Eval("data.ela[2].caption"), andBlock->Caption);
  EXPECT_EQ(c.FunctionIds, QStringList({"and", "one", "relay", "zero"}));
}

TEST(SchemaCompile, AllocationFollowsTheElementOrder) {
  TCompileDevice d;
  TElement *rs = AddFunction(*d.Root, "rs", 0, 0);       // var-count 1
  TElement *timer = AddFunction(*d.Root, "timer", 6, 0); // var-count 2
  TElement *timer2 = AddFunction(*d.Root, "timer", 12, 0);
  AddLink(*d.Root, rs, 0, rs, 0);
  AddLink(*d.Root, rs, 0, rs, 1);
  AddLink(*d.Root, rs, 0, timer, 0);
  AddLink(*d.Root, timer, 0, timer2, 0);
  d.Bind(timer, 1, 0);
  d.Bind(timer2, 0, 1);
  TSchemaCompile c;
  ASSERT_EQ(d.Compile(c), QStringList());
  EXPECT_EQ(QList<int>({rs->FirstVarAddr, timer->FirstVarAddr, timer2->FirstVarAddr}),
            QList<int>({0x0900, 0x0902, 0x0906}));
  const TDDParamCommon &common = d.Device->FParamCommon;
  EXPECT_EQ(common.VarSize, 10);
  EXPECT_EQ(common.BinAddr, 0x090A);
  EXPECT_EQ(rs->OutputPins[0]->Address, 0x090A);
  EXPECT_EQ(timer2->InputPins[0]->Address, timer->OutputPins[0]->Address);
  EXPECT_EQ(d.Ustavs[0]->UseCount, 1);
  EXPECT_TRUE(QFileInfo(d.Dir.filePath("generated.bin")).size() > 0);
}

TEST(SchemaCompile, ChecksCollectTheirMessages) {
  TCompileDevice d;
  TElement *open = AddFunction(*d.Root, "and", 0, 0);
  open->Caption = "И1";
  TSchemaCompile c;
  QStringList errors = d.Compile(c);
  ASSERT_EQ(errors.size(), 2);
  EXPECT_EQ(errors[1], QString("не определена связь: type=descriptor, mod=(1), cap=И1, id=%1, gid=0, pin=1 desc=И")
                           .arg(open->Id));
  EXPECT_FALSE(QFile::exists(d.Dir.filePath("param.js")));

  for (int i = 0; i < 30; ++i)
    AddFunction(*d.Root, "and", 10, 4 * i);
  EXPECT_EQ(d.Compile(c).size(), 52); // the check stops after the element that passed 50

  TCompileDevice t;
  TElement *one = AddFunction(*t.Root, "one", 0, 0);
  TElement *timer = AddFunction(*t.Root, "timer", 6, 0);
  TElement *pulse = AddFunction(*t.Root, "pulse", 12, 0);
  pulse->SetPinCounts(3, 1);
  for (int i = 0; i < 3; ++i)
    AddLink(*t.Root, one, 0, pulse, i);
  AddLink(*t.Root, one, 0, timer, 0);
  t.Bind(pulse, 1, 0);
  pulse->Params = {"Nowhere"};
  errors = t.Compile(c);
  const QString pulseHead = QString("функция: pulse, id: %1").arg(pulse->Id);
  EXPECT_EQ(errors, QStringList({QString("не определена альтернативная уставка, функция: timer, id: %1, группа: 1")
                                     .arg(timer->Id),
                                 "не определена уставка, " + pulseHead + ", уставка: (0) Уставка 1",
                                 "не определена уставка, " + pulseHead + ", уставка: (2) Уставка 3"}));
  t.Bind(timer, 1, 1);
  t.Bind(pulse, 0, 2);
  t.Bind(pulse, 2, 3);
  pulse->SetPinCounts(4, 1);
  AddLink(*t.Root, one, 0, pulse, 3);
  errors = t.Compile(c);
  EXPECT_EQ(errors, QStringList({"не определена уставка, " + pulseHead + ", уставка: (3) Уставка 4"}));
  t.Bind(pulse, 3, 0);
  EXPECT_EQ(t.Compile(c), QStringList({"не найден идентификатор modbus Nowhere, функция: pulse"}));

  TCompileDevice small("$0001");
  AddFunction(*small.Root, "one");
  AddFunction(*small.Root, "one");
  EXPECT_EQ(ErrorOf([&] { small.Compile(c); }), "Размер области SRAM 0001, требуется 0002");
}

TEST(SchemaCompile, ScriptFailuresEndTheCompile) {
  TCompileDevice d;
  TConfigurator lib;
  MakeLibrary(lib);
  auto *one = new TElement(d.Root.get(), atDescriptor, 0, 0, nullptr, nullptr, lib.FindFunction("one"));
  d.Root->AbstractList.Add(one);
  for (const char *id : {"b", "A", "a", "a"}) {
    auto *e = new TElement(d.Root.get(), atDescriptor, 0, 0, nullptr, nullptr, lib.FindFunction(id));
    e->SetRect({6, 4 * d.Root->AbstractList.Count(), 8, 4 * d.Root->AbstractList.Count() + 2});
    d.Root->AbstractList.Add(e);
    AddLink(*d.Root, one, 0, e, 0);
  }
  const QString prepare = ProjectLibrary().PrepareCode.Text;
  SetCode(lib, prepare, "function %1(e) { asm('  LDI 16,1'); }");
  TSchemaCompile c;
  ASSERT_EQ(d.Compile(c, lib), QStringList());
  EXPECT_EQ(c.FunctionIds, QStringList({"A", "a", "b", "one"}));

  // "param.js" sets global.ADR_FLASH: a library without global fails there already.
  SetCode(lib, "", "function %1(e) {}");
  EXPECT_EQ(ErrorOf([&] { d.Compile(c, lib); }), "global is not defined");
  SetCode(lib, prepare + "\nglobal = 1;", "function %1(e) {}");
  EXPECT_EQ(ErrorOf([&] { d.Compile(c, lib); }), "Variable: global, type: number, expected: object");
  SetCode(lib, prepare + "\nfunction epilogue() { throw new Error('late'); }", "function %1(e) {}");
  SaveFileBytes(d.Dir.filePath("generated.bin"), "old");
  EXPECT_EQ(ErrorOf([&] { d.Compile(c, lib); }), "late");
  EXPECT_TRUE(d.File("generated.asm").contains(";;element epilogue"));
  EXPECT_EQ(LoadFileBytes(d.Dir.filePath("generated.bin")), "old");
  SetCode(lib, prepare, "function %1(e) { if ('%1' == 'b') throw new Error('broken'); }");
  EXPECT_TRUE(ErrorOf([&] { d.Compile(c, lib); }).startsWith("unknown oper Exception"));
  EXPECT_TRUE(d.File("generated.asm").contains("Description: broken"));
  SetCode(lib, prepare, "function %1(e) { while (true) {} }");
  c.ScriptTimeoutMs = 300;
  EXPECT_EQ(ErrorOf([&] { d.Compile(c, lib); }), "script time-out 300 ms");
  EXPECT_TRUE(Logger().Lines().filter("Description: script time-out 300 ms").size() > 0);
  SetCode(lib, prepare, "function %1(e) { asm('  LDI 16,1'); }");
  EXPECT_EQ(d.Compile(c, lib), QStringList());
}

TEST(SchemaCompile, EveryLibraryFunctionCompiles) {
  TCompileDevice d;
  TElement *din = AddFunction(*d.Root, "din", 0, 0);
  TElement *vin = AddFunction(*d.Root, "vin", 0, 4);
  TElement *zero = AddFunction(*d.Root, "zero", 0, 8);
  TElement *label = AddElement(*d.Root, atLabel, 0, 4, 0);
  TElement *ref = AddElement(*d.Root, atLabelRef, 0, 8, 0);
  ref->SetLabel(label);
  TElement *andBlock = AddFunction(*d.Root, "and", 12, 0);
  TElement *orBlock = AddFunction(*d.Root, "or", 12, 6);
  TElement *rs = AddFunction(*d.Root, "rs", 18, 0);
  rs->SetPinCounts(2, 2);
  rs->OutputPins[1]->SetEventEdge(1);
  rs->OutputPins[1]->Inverted = true;
  TElement *select = AddFunction(*d.Root, "select", 24, 0);
  TElement *timer = AddFunction(*d.Root, "timer", 30, 0);
  TElement *pulse = AddFunction(*d.Root, "pulse", 30, 6);
  TElement *relay = AddFunction(*d.Root, "relay", 36, 0);
  TElement *led = AddFunction(*d.Root, "led", 36, 4);
  TElement *vout = AddFunction(*d.Root, "vout", 36, 8);
  auto *sub = new TModule(d.Root.get(), 0);
  sub->SetRect({24, 10, 26, 12});
  d.Root->AbstractList.Add(sub);
  TElement *in = AddElement(*sub, atInint, 1);
  TElement *out = AddElement(*sub, atOutint, 1, 10, 0);
  TElement *notBlock = AddFunction(*sub, "not", 4, 0);
  AddLink(*sub, in, 0, notBlock, 0);
  AddLink(*sub, notBlock, 0, out, 0);
  AddLink(*d.Root, din, 0, label, 0);
  AddLink(*d.Root, ref, 0, andBlock, 0);
  AddLink(*d.Root, vin, 0, andBlock, 1);
  AddLink(*d.Root, zero, 0, orBlock, 0);
  AddLink(*d.Root, din, 0, orBlock, 1);
  AddLink(*d.Root, andBlock, 0, rs, 0);
  AddLink(*d.Root, orBlock, 0, rs, 1);
  AddLink(*d.Root, rs, 0, select, 0);
  AddLink(*d.Root, rs, 1, select, 1);
  AddLink(*d.Root, zero, 0, sub, 0);
  AddLink(*d.Root, sub, 0, select, 2);
  AddLink(*d.Root, select, 0, timer, 0);
  AddLink(*d.Root, select, 0, pulse, 0);
  AddLink(*d.Root, timer, 0, relay, 0);
  AddLink(*d.Root, pulse, 0, led, 0);
  AddLink(*d.Root, rs, 1, vout, 0);
  d.Bind(timer, 0, 0);
  d.Bind(pulse, 0, 1);
  pulse->Params = {"UserPar"};
  pulse->Switch = 2;
  d.Device->FEvents.Add(std::make_unique<TDDEvent>(d.Device.get()))->Code = 7;
  rs->OutputPins[1]->SetEvent(d.Device->FindEventByNumber(7));
  TSchemaCompile c;
  ASSERT_EQ(d.Compile(c), QStringList());
  const QByteArray bin = LoadFileBytes(d.Dir.filePath("generated.bin"));
  EXPECT_EQ(bin.size() % 512, 0);
  EXPECT_GT(bin.size(), 0);
  // Every input address of the generator data is read in its element's code.
  const QString asmText = d.File("generated.asm");
  const QStringList blocks = asmText.split(";;element ");
  for (const TElement *e : c.Elements) {
    const QString header = QString("%1 gi=%2 i=%3").arg(e->Func->Id).arg(e->Gid).arg(e->Index);
    const auto block = std::find_if(blocks.begin(), blocks.end(), [&](const QString &b) { return b.startsWith(header); });
    ASSERT_NE(block, blocks.end()) << header.toStdString();
    for (int i = 0; i < e->InputPins.Count(); ++i)
      EXPECT_TRUE(block->contains("," + QString::number(e->InputPins[i]->Address) + " "))
          << header.toStdString() << " pin " << i;
  }
  EXPECT_TRUE(asmText.contains("  STS  " + QString::number(0x0100 + 36) + ",18")); // the event request
  TSchemaCompile again;
  ASSERT_EQ(d.Compile(again), QStringList());
  EXPECT_EQ(LoadFileBytes(d.Dir.filePath("generated.bin")), bin);
}
