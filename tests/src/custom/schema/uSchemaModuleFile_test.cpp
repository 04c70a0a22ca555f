#include "uSchemaModule.h"

#include "../schema_test_util.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uTextCodec.h"
#include "uDeviceDescriptor.h"
#include "uSchemaDeviceDescriptor.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

// Every block kind and attribute the file carries.
std::unique_ptr<TModule> FullSchema() {
  auto root = NewRoot();
  root->Root = true;
  root->SetDescriptor(std::make_shared<TFakeDescriptor>());
  auto *note = new TComment(root.get(), atComment, 0);
  note->Caption = "Комментарий";
  note->FontName = "Arial";
  note->FontHeight = -13;
  note->FontColor = 255;
  note->FontStyle = 3;
  note->HorzAlign = 1;
  note->SetRect({1, 1, 11, 4});
  root->AbstractList.Add(note);
  TElement *din = AddFunction(*root, "din", 2, 6);
  TElement *andBlock = AddFunction(*root, "and", 8, 6);
  andBlock->SetPinCounts(3, 1);
  andBlock->InputPins[0]->Inverted = true;
  andBlock->InputPins[0]->Caption = "a";
  andBlock->InputPins[2]->Caption = "c";
  andBlock->PenColor = 0x0000FF;
  andBlock->Custom = true;
  andBlock->OrgId = 7;
  andBlock->OrgPin = 2;
  TElement *rs = AddFunction(*root, "rs", 14, 6);
  rs->SetPinCounts(2, 2);
  rs->OutputPins[1]->SetEventEdge(2);
  rs->OutputPins[1]->SetEvent(root->Descriptor->FindEventByNumber(9));
  rs->OutputPins[1]->Inverted = true;
  rs->OutputPins[0]->Caption = "Q";
  TElement *pulse = AddFunction(*root, "pulse", 20, 6);
  pulse->SetRef(0, pulse->MakeRef(root->Descriptor->FindParamById(3), root->Descriptor->FindUstavById(5)));
  pulse->Switch = 2;
  pulse->Params = {"SysFlags", "Параметр с пробелом"};
  TElement *relay = AddFunction(*root, "relay", 26, 6);
  TElement *label = AddElement(*root, atLabel, 0, 20, 14);
  label->Caption = "Метка";
  TElement *ref = AddElement(*root, atLabelRef, 0, 26, 14);
  ref->SetLabel(label);
  auto *sub = new TModule(root.get(), 0);
  sub->Caption = "Насосы";
  sub->SetRect({8, 14, 10, 16});
  root->AbstractList.Add(sub);
  TElement *in = AddElement(*sub, atInint, 1, 2, 2);
  in->Caption = "Вход";
  TElement *out = AddElement(*sub, atOutint, 1, 14, 2);
  out->Caption = "Выход";
  sub->RebuildInterface(atInint);
  sub->RebuildInterface(atOutint);
  AddLink(*sub, in, 0, AddFunction(*sub, "not", 8, 2), 0);
  AddLink(*sub, sub->AbstractList[2], 0, out, 0);
  sub->OutputPins[0]->Inverted = true;
  AddLink(*root, din, 0, andBlock, 0);
  AddLink(*root, andBlock, 0, rs, 1);
  AddLink(*root, rs, 0, pulse, 0);
  AddLink(*root, rs, 0, relay, 0);
  AddLink(*root, din, 0, sub, 0);
  AddLink(*root, sub, 0, label, 0);
  auto *noRoute = new TLink(root.get(), ref, 0, andBlock, 1);
  noRoute->HasRoute = false;
  root->LinkList.Add(noRoute);
  auto node = std::make_unique<TModuleItem>();
  node->Caption = "Узел";
  auto item = std::make_unique<TModuleItem>();
  item->Type = TModuleItem::mtModule;
  item->Caption = "Модуль";
  item->Path = "lib\\m.xml";
  item->Enabled = false;
  auto stored = std::make_unique<TModule>(nullptr, 1);
  stored->Configurator = &ProjectLibrary();
  stored->Assign(*sub);
  item->SetModule(std::move(stored));
  node->Items.push_back(std::move(item));
  root->ModuleList.push_back(std::move(node));
  return root;
}

std::unique_ptr<TModule> LoadText(const QString &Text, bool Root = true) {
  const IXXMLDocument doc = NewXMLDocument();
  EXPECT_TRUE(doc->LoadXML(Text)) << doc->GetParseError().toStdString();
  auto m = NewRoot();
  m->Root = Root;
  m->LoadFromNode(doc->GetDocumentElement());
  return m;
}

QString Wrap(const QString &Implementation) {
  return "<module><implementation>" + Implementation + "</implementation></module>";
}

} // namespace

TEST(SchemaFile, SaveLoadSaveIsByteEqual) {
  TFakeDescriptorReader reader;
  QTemporaryDir dir;
  auto first = FullSchema();
  first->SaveToFile(dir.filePath("a.xml"));
  auto second = NewRoot();
  second->Root = true;
  second->LoadFromFile(dir.filePath("a.xml"));
  second->SaveToFile(dir.filePath("b.xml"));
  const QByteArray a = LoadFileBytes(dir.filePath("a.xml")), b = LoadFileBytes(dir.filePath("b.xml"));
  EXPECT_EQ(a, b);
  // What was read, not only what was written.
  EXPECT_EQ(second->AbstractList.Count(), first->AbstractList.Count());
  EXPECT_EQ(second->LinkList.Count(), 7);
  const auto *sub = dynamic_cast<TModule *>(second->AbstractList.FindById(first->AbstractList[8]->Id));
  ASSERT_NE(sub, nullptr);
  EXPECT_TRUE(sub->OutputPins[0]->Inverted);
  EXPECT_EQ(sub->InputPins[0]->Caption, "Вход");
  const auto *ref = static_cast<TElement *>(second->AbstractList[7]);
  EXPECT_EQ(ref->LabelRef, second->AbstractList[6]);
  const auto *pulse = static_cast<TElement *>(second->AbstractList[4]);
  EXPECT_EQ(pulse->Refs[0].UstavId, 5);
  EXPECT_NE(pulse->Refs[0].Ustav, nullptr);
  EXPECT_EQ(pulse->Params, QStringList({"SysFlags", "Параметр с пробелом"}));
  EXPECT_EQ(static_cast<TElement *>(second->AbstractList[3])->OutputPins[1]->GetEventCode(), 9);
  EXPECT_TRUE(a.contains("icap=\"a,,c\""));
  ASSERT_EQ(second->ModuleList.size(), 1u);
  EXPECT_EQ(second->ModuleList[0]->Items[0]->Module->AbstractList.Count(), 3);
}

TEST(SchemaFile, HandWrittenAttributesLoad) {
  TFakeDescriptorReader reader;
  auto m = LoadText(
      "<module><implementation>"
      "<abstract id=\"3\" type=\"comment\" rect=\" 1, 2,,4\" caption=\"x\"/>"
      "<element id=\"4\" type=\"descriptor\" FunctionId=\"or\" rect=\"5,6,2,2\" ipin=\"3\" iinv=\"5\" "
      "icap=\"p,q\" oinv=\"1\" ocap=\"o\" oecode=\"x,4\" oeedge=\"2\" penc=\"16\" custom=\"2\" orgid=\"8\" "
      "orgpin=\"9\"/>"
      "<element id=\"5\" type=\"descriptor\" FunctionId=\"timer\" ustavref=\"5,-1\" paramref=\"7\"/>"
      "<element id=\"6\" type=\"inint\" gid=\"1\"/><element id=\"7\" type=\"inint\"/>"
      "</implementation><device-descriptor relays=\"2\"/></module>");
  ASSERT_EQ(m->AbstractList.Count(), 5);
  const TAbstract *c = m->AbstractList[0];
  EXPECT_EQ(c->Rect, (TUnitRect{1, 2, 1, 6}));
  const auto *f = static_cast<TElement *>(m->AbstractList[1]);
  EXPECT_EQ(f->Rect, (TUnitRect{5, 6, 7, 12}));
  EXPECT_TRUE(f->InputPins[0]->Inverted && !f->InputPins[1]->Inverted && f->InputPins[2]->Inverted);
  EXPECT_EQ(f->InputPins[1]->Caption, "q");
  EXPECT_TRUE(f->OutputPins[0]->Inverted);
  EXPECT_EQ(f->OutputPins[0]->GetEventCode(), 0);
  EXPECT_EQ(f->OutputPins[0]->GetEventEdge(), 2);
  EXPECT_EQ(f->PenColor, 16u);
  EXPECT_FALSE(f->Custom);
  EXPECT_EQ(f->OrgId * 10 + f->OrgPin, 89);
  const auto *timer = static_cast<TElement *>(m->AbstractList[2]);
  EXPECT_EQ(timer->Refs[0].UstavId, 5);
  EXPECT_EQ(timer->Refs[1].UstavId, -1);
  EXPECT_EQ(timer->Refs[0].ParamId, 7);
  EXPECT_EQ(static_cast<TElement *>(m->AbstractList[4])->Gid, 2);
  EXPECT_EQ(static_cast<TFakeDescriptor *>(m->Descriptor.get())->Channels[2], 2);
}

TEST(SchemaFile, ReadingRulesOfTheFormat) {
  // A caption holding "," comes back as two entries.
  TModule m(nullptr, 1);
  auto *b = new TComment(&m, atComment, 0);
  m.AbstractList.Add(b);
  b->SetPinCount(0, 2);
  b->OutputPins[0]->Caption = "a,b";
  const IXXMLDocument doc = NewXMLDocument();
  doc->LoadXML("<abstract/>");
  b->WriteXml(doc->GetDocumentElement());
  TComment back(nullptr, atComment, 1);
  back.SetPinCount(0, 2);
  back.ReadXml(doc->GetDocumentElement());
  EXPECT_EQ(back.OutputPins[1]->Caption, "b");

  // The empty schema.
  auto dummy = LoadText(DummySchemaText(), false);
  ASSERT_EQ(dummy->AbstractList.Count(), 1);
  EXPECT_EQ(dummy->AbstractList[0]->Id, -1);
  EXPECT_EQ(dummy->AbstractList[0]->Caption, "Не выбран блок");
  EXPECT_EQ(dummy->InputPins.Count() + dummy->OutputPins.Count(), 0);

  // Hardware channels: a taken one moves to the lowest free, or to 0.
  TFakeDescriptorReader reader;
  auto hw = LoadText("<module><device-descriptor relays=\"2\"/><implementation>"
                     "<element id=\"1\" type=\"descriptor\" FunctionId=\"relay\" gid=\"2\"/>"
                     "<element id=\"2\" type=\"descriptor\" FunctionId=\"relay\" gid=\"2\"/>"
                     "<element id=\"3\" type=\"descriptor\" FunctionId=\"relay\" gid=\"9\"/>"
                     "<element id=\"4\" type=\"descriptor\" FunctionId=\"relay\" gid=\"1\"/>"
                     "<element id=\"5\" type=\"descriptor\" FunctionId=\"relay\" gid=\"1\"/>"
                     "</implementation></module>");
  QList<int> gids;
  for (const TAbstract *a : hw->AbstractList.Items())
    gids << static_cast<const TElement *>(a)->Gid;
  EXPECT_EQ(gids, QList<int>({2, 1, 0, 0, 0}));
  auto noDescriptor = LoadText(Wrap("<element id=\"1\" type=\"descriptor\" FunctionId=\"relay\" gid=\"9\"/>"), false);
  EXPECT_EQ(static_cast<TElement *>(noDescriptor->AbstractList[0])->Gid, 9);

  // A link before its blocks is dropped; a target pin out of range becomes 0.
  auto links = LoadText(Wrap("<link fr=\"1\" frp=\"0\" to=\"2\" top=\"0\"/>"
                             "<element id=\"1\" type=\"lab\"/><element id=\"2\" type=\"labr\"/>"
                             "<element id=\"3\" type=\"descriptor\" FunctionId=\"not\"/>"
                             "<link fr=\"2\" frp=\"0\" to=\"3\" top=\"4\" line=\"2,1,3,1,4\"/>"));
  ASSERT_EQ(links->LinkList.Count(), 1);
  EXPECT_EQ(links->LinkList[0]->ToPin, 0);
}

TEST(SchemaFile, ReadingIntoAFilledModuleRenumbers) {
  auto m = NewRoot();
  for (int id = 1; id <= 3; ++id)
    m->AbstractList.Add(new TComment(m.get(), atComment, id));
  const IXXMLDocument doc = NewXMLDocument();
  doc->LoadXML(Wrap("<element id=\"1\" type=\"descriptor\" FunctionId=\"not\" rect=\"2,3,2,2\"/>"
                    "<element id=\"2\" type=\"descriptor\" FunctionId=\"not\" rect=\"8,3,2,2\"/>"
                    "<link fr=\"1\" frp=\"0\" to=\"2\" top=\"0\" line=\"4,4,6,4,8\"/>"));
  m->LoadFromNode(doc->GetDocumentElement());
  ASSERT_EQ(m->AbstractList.Count(), 5);
  EXPECT_EQ(m->AbstractList[3]->Id, 4);
  EXPECT_EQ(m->AbstractList[4]->Id, 5);
  EXPECT_EQ(m->AbstractList[3]->Rect, (TUnitRect{3, 4, 5, 6}));
  ASSERT_EQ(m->LinkList.Count(), 1);
  EXPECT_EQ(m->LinkList[0]->From->Id * 10 + m->LinkList[0]->To->Id, 45);
  EXPECT_EQ(m->LinkList[0]->GetLine(), "5,5,7,5,9");
}

TEST(SchemaFile, SavingKeepsTheFileBeforeTheFirstSave) {
  TFakeDescriptorReader reader;
  QTemporaryDir dir;
  const QString path = dir.filePath("s.xml"), bak = dir.filePath("s.bak");
  SaveFileBytes(path, ToWin1251(DummySchemaText()));
  const QByteArray original = LoadFileBytes(path);
  auto m = NewRoot();
  m->LoadFromFile(path);
  m->Caption = "1";
  m->SaveToFile();
  m->Caption = "2";
  m->SaveToFile();
  EXPECT_EQ(LoadFileBytes(bak), original);
  EXPECT_TRUE(LoadFileBytes(path).contains("caption=\"2\""));

  EXPECT_EQ(ErrorOf([] { TModule(nullptr, 1).SaveToFile(); }), "file name is empty");
  m->Root = true;
  EXPECT_EQ(ErrorOf([&] { m->SaveToFile(dir.filePath("n.xml")); }), "Не задан дескриптор устройства");
  EXPECT_FALSE(QFile::exists(dir.filePath("n.xml")));

  // Nothing writable: the file and its ".bak" stay as they were.
  m->Root = false;
  m->FileName = path;
  m->BackupMade = false;
  const QByteArray saved = LoadFileBytes(path), savedBak = LoadFileBytes(bak);
  QFile::setPermissions(path, QFile::ReadOwner);
  QFile::setPermissions(bak, QFile::ReadOwner);
  TMessageRecorder messages;
  const QString error = ErrorOf([&] { m->SaveToFile(); });
  EXPECT_TRUE(error.startsWith("Не удалось сохранить " + path)) << error.toStdString();
  EXPECT_EQ(messages.Texts, QStringList{"Cannot delete " + bak});
  EXPECT_EQ(LoadFileBytes(path), saved);
  EXPECT_EQ(LoadFileBytes(bak), savedBak);
}

TEST(SchemaFile, LoadErrorsNameTheirCause) {
  const struct {
    QString Text, Error;
  } cases[] = {
      {Wrap("<block/>"), "invalid NodeName: block"},
      {Wrap("<element id=\"1\" type=\"lab\"/><element id=\"2\" type=\"lab\"/><link fr=\"1\" frp=\"1\" to=\"2\"/>"),
       "internal error"},
      {Wrap("<element id=\"1\" type=\"descriptor\" FunctionId=\"zz\"/>"), "В конфигураторе не найдена функция zz"},
      {Wrap("<element id=\"1\" type=\"lab\"/><abstract id=\"1\" type=\"comment\"/>"), "nonunique id detected"},
      {Wrap("<link fr=\"1\" to=\"1\"/><element id=\"1\" type=\"lab\"/><element id=\"2\" type=\"labr\"/>"
            "<link fr=\"2\" to=\"1\" line=\"1,2,3,4,5,6,7,8,9,10,11,12\"/>"),
       "invalid link route: 1,2,3,4,5,6,7,8,9,10,11,12"},
      {Wrap("<element id=\"1\" type=\"descriptor\" FunctionId=\"and\" ipin=\"100000\"/>"), "invalid pin count: 100000"},
  };
  for (const auto &c : cases) {
    const IXXMLDocument doc = NewXMLDocument();
    ASSERT_TRUE(doc->LoadXML(c.Text));
    auto m = NewRoot();
    EXPECT_EQ(ErrorOf([&] { m->LoadFromNode(doc->GetDocumentElement()); }), c.Error);
  }
}

TEST(SchemaClipboard, CopiesTheSelectionAndPastesFreshLinkedBlocks) {
  auto m = NewRoot();
  TElement *a = AddFunction(*m, "not", 2, 2);
  TElement *b = AddFunction(*m, "not", 8, 2);
  TElement *c = AddFunction(*m, "not", 14, 2);
  TElement *in = AddElement(*m, atInint, 1, 0, 8);
  AddLink(*m, a, 0, b, 0);
  AddLink(*m, b, 0, c, 0);
  AddLink(*m, in, 0, a, 0);
  TAbstractRefList selection;
  for (TAbstract *x : {(TAbstract *)a, (TAbstract *)b, (TAbstract *)in})
    selection.Add(x);
  TMemoryClipboard clipboard;
  m->CopyToClipboard(clipboard);
  const IXXMLDocument doc = NewXMLDocument();
  ASSERT_TRUE(doc->LoadXML(clipboard.Text()));
  EXPECT_EQ(doc->GetDocumentElement()->SelectNodes("implementation/element")->GetCount(), 2);
  EXPECT_EQ(doc->GetDocumentElement()->SelectNodes("implementation/link")->GetCount(), 1);
  selection.Clear();
  for (int round = 1; round <= 2; ++round) {
    m->PasteFromClipboard(clipboard);
    QList<TAbstract *> fresh;
    for (TAbstract *x : m->AbstractList.Items())
      if (x->IsNew)
        fresh << x;
    ASSERT_EQ(fresh.size(), 2);
    EXPECT_EQ(fresh[0]->Rect.Left, a->Rect.Left + 1);
    EXPECT_EQ(fresh[1]->Rect.Top, b->Rect.Top + 1);
    const TLink *l = m->LinkList.Items().last();
    EXPECT_EQ(l->From, fresh[0]);
    EXPECT_EQ(l->To, fresh[1]);
  }
  EXPECT_EQ(m->AbstractList.Count(), 8);
  EXPECT_EQ(m->LinkList.Count(), 5);

  // A failing paste leaves the module as it was.
  clipboard.SetText(Wrap("<element id=\"1\" type=\"lab\"/><element id=\"2\" type=\"labr\"/>"
                         "<link fr=\"2\" frp=\"0\" to=\"1\"/><element id=\"3\" type=\"descriptor\" FunctionId=\"?\"/>"));
  const QList<TAbstract *> blocks = m->AbstractList.Items();
  const QList<TLink *> links = m->LinkList.Items();
  EXPECT_EQ(ErrorOf([&] { m->PasteFromClipboard(clipboard); }), "В конфигураторе не найдена функция ?");
  EXPECT_EQ(m->AbstractList.Items(), blocks);
  EXPECT_EQ(m->LinkList.Items(), links);

  // Into the empty schema, links kept; a sub-module comes back as a module.
  auto empty = LoadText(DummySchemaText(), false);
  auto *sub = new TModule(m.get(), 0);
  m->AbstractList.Add(sub);
  AddElement(*sub, atInint);
  selection.Add(a);
  selection.Add(b);
  selection.Add(sub);
  m->CopyToClipboard(clipboard);
  empty->PasteFromClipboard(clipboard);
  EXPECT_EQ(empty->AbstractList.Count(), 4);
  EXPECT_EQ(empty->LinkList.Count(), 1);
  const auto *pasted = dynamic_cast<TModule *>(empty->AbstractList[3]);
  ASSERT_NE(pasted, nullptr);
  EXPECT_EQ(pasted->InputPins.Count(), 1);
}

TEST(SchemaWalks, SourcesResolveThroughLabelsAndSubModules) {
  auto m = NewRoot();
  TElement *a = AddFunction(*m, "one", 0, 0);
  TElement *label = AddElement(*m, atLabel, 0, 4, 0);
  TElement *ref = AddElement(*m, atLabelRef, 0, 8, 0);
  ref->SetLabel(label);
  TElement *b = AddFunction(*m, "not", 12, 0);
  auto *sub = new TModule(m.get(), 0);
  sub->Caption = "Pumps";
  sub->SetRect({16, 0, 18, 2});
  m->AbstractList.Add(sub);
  AddElement(*sub, atInint, 1);
  TElement *second = AddElement(*sub, atInint, 2);
  TElement *c = AddFunction(*sub, "relay", 4, 0);
  AddLink(*m, a, 0, label, 0);
  AddLink(*m, ref, 0, b, 0);
  AddLink(*m, b, 0, sub, 1);
  AddLink(*sub, second, 0, c, 0);
  m->SortByPosition();
  m->ResetSources();
  EXPECT_EQ(m->NumberElements(10), 3);
  EXPECT_EQ(QList<int>({a->Index, b->Index, c->Index}), QList<int>({10, 11, 12}));
  for (TElement *unnumbered : {label, ref, second})
    EXPECT_EQ(unnumbered->Index, -1);
  EXPECT_EQ(m->ResolveSources(), 5);
  EXPECT_EQ(b->InputPins[0]->SrcIndex, a->Index);
  EXPECT_EQ(c->InputPins[0]->SrcIndex, b->Index);
  int visited = 0;
  m->ForEachElement([](void *Data, TElement *, void *) { ++*static_cast<int *>(Data); }, nullptr, &visited);
  EXPECT_EQ(visited, 7);
  EXPECT_EQ(m->FunctionPath(ekRele, c->Gid), "<>.Pumps");
  EXPECT_EQ(m->ElementPath(atInint, 2), "<>.Pumps");
  EXPECT_EQ(m->FunctionPath(ekRele, 99), "");
  EXPECT_TRUE(m->HasFreeInputs()); // the sub-module's first slot
  AddLink(*m, ref, 0, sub, 0);
  EXPECT_FALSE(m->HasFreeInputs());

  ref->SetLabel(nullptr);
  m->ResetSources();
  m->NumberElements(0);
  EXPECT_EQ(ErrorOf([&] { m->ResolveSources(); }), "invalid label reference");
  auto *note = new TComment(m.get(), atComment, 0);
  note->SetPinCount(0, 1);
  m->AbstractList.Add(note);
  AddLink(*m, note, 0, b, 0);
  EXPECT_EQ(ErrorOf([&] { m->PropagateLinks(); }), "invalid from abstract");
}

TEST(SchemaFile, DeviceDescriptorTravelsInTheSchema) {
  const TSchemaDescriptorReader previous = SetSchemaDescriptorReader(nullptr);
  InstallDeviceDescriptorReader();
  TMessageRecorder messages;
  QTemporaryDir dir;
  auto device = std::make_shared<TDeviceDescriptor>();
  for (int ider : {1, 2})
    device->GetBitReg(18)->Bits.Add(ider, QString("Реле %1").arg(ider), QString("Р%1").arg(ider));
  auto m = NewRoot();
  m->Root = true;
  m->SetDescriptor(std::make_shared<TSchemaDeviceDescriptor>(device));
  EXPECT_EQ(AddFunction(*m, "relay")->Gid, 1);
  EXPECT_EQ(AddFunction(*m, "relay")->Gid, 2);
  EXPECT_EQ(AddFunction(*m, "relay")->Gid, 0);
  m->SaveToFile(dir.filePath("d.xml"));
  auto back = NewRoot();
  back->Root = true;
  back->LoadFromFile(dir.filePath("d.xml"));
  const TDeviceDescriptor *read = DeviceOf(back->Descriptor.get());
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->GetBitReg(18)->Bits.size(), 2u);
  EXPECT_EQ(read->FHostModule, back.get());
  EXPECT_EQ(static_cast<TElement *>(back->AbstractList[1])->Gid, 2);
  SetSchemaDescriptorReader(previous);
}
