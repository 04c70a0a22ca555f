// Seed schemas for the schema fuzz target, written by the schema model: the
// empty schema, the library's stored sub-module, and a schema with every block
// kind, inverted pins, captions, events and routed links.
#include "ixml.h"
#include "uConfigurator.h"
#include "uFiles.h"
#include "uSchemaModule.h"

#include <QDir>
#include <cstdio>

namespace {

TElement *Add(TModule &M, TElement *E, int Left, int Top) {
  E->SetRect({Left, Top, Left + 2, Top + E->Rect.Bottom - E->Rect.Top});
  M.AbstractList.Add(E);
  return E;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: schema_seeds FOLDER\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  QDir().mkpath(dir.path());
  TConfigurator lib;
  lib.LoadFromFile(KV_SOURCE_DIR "/tools/devsim/logic/config.xml");
  TModule empty(nullptr, 1);
  const IXXMLDocument dummy = NewXMLDocument();
  dummy->LoadXML(DummySchemaText());
  empty.LoadFromNode(dummy->GetDocumentElement());
  empty.SaveToFile(dir.filePath("dummy.xml"));

  TModule m(nullptr, 1);
  m.Configurator = &lib;
  auto fn = [&](const char *Id) { return new TElement(&m, atDescriptor, 0, 0, nullptr, nullptr, lib.FindFunction(Id)); };
  TElement *one = Add(m, fn("one"), 1, 1);
  TElement *rs = Add(m, fn("rs"), 6, 1);
  rs->SetPinCounts(2, 2);
  rs->InputPins[1]->Inverted = true;
  rs->OutputPins[1]->SetEventEdge(1);
  rs->OutputPins[0]->Caption = "Q";
  TElement *pulse = Add(m, fn("pulse"), 12, 1);
  pulse->Params = {"SysFlags"};
  TElement *label = Add(m, new TElement(&m, atLabel, 0, 0, nullptr, nullptr, nullptr), 18, 1);
  TElement *ref = Add(m, new TElement(&m, atLabelRef, 0, 0, nullptr, nullptr, nullptr), 1, 8);
  ref->SetLabel(label);
  auto *sub = new TModule(&m, 0);
  m.AbstractList.Add(sub);
  Add(*sub, new TElement(sub, atInint, 0, 0, nullptr, nullptr, nullptr), 1, 1);
  auto *note = new TComment(&m, atComment, 0);
  note->Caption = "Комментарий";
  m.AbstractList.Add(note);
  for (auto [from, to, pin] : {std::tuple{(TAbstract *)one, (TAbstract *)rs, 0}, {one, rs, 1}, {rs, pulse, 0},
                               {pulse, label, 0}, {ref, sub, 0}, {rs, rs, 1}}) {
    auto *l = new TLink(&m, from, 0, to, pin);
    l->UpdateRoute();
    m.LinkList.Add(l);
  }
  m.SaveToFile(dir.filePath("schema.xml"));
  lib.Modules[0]->Items[0]->Module->SaveToFile(dir.filePath("module.xml"));
  return 0;
}
