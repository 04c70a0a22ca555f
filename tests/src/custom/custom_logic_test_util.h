#pragma once
// A device's logic package made here: the compiler tests' device and a base
// logic on it ("zero" feeding label Z, module M whose input a reference to Z
// feeds, an empty custom block C), one unit for C (its input from Z through
// "not" to M's input), and the work folder's files ("config.xml",
// "identification.inc", "logic.xml", "custom-logic0.xml",
// "custom-logic.xml", "schemaCode.xml").
#include "compile_test_util.h"
#include "uCustomBuild.h"
#include "uCustomLogic.h"
#include "uSimpleDeviceDescriptor.h"

#include <QBuffer>

struct TLogicPackage {
  TCompileDevice D;
  TModule *M = nullptr;
  TElement *Z = nullptr;
  int CustomId = 0;
  std::unique_ptr<TModule> Module; // the page's base logic
  TCustomLogicState State;

  TLogicPackage() {
    InstallDeviceDescriptorReader();
    TModule &r = *D.Root;
    D.Device->FParamCommon.Ustav1.FModbusObject.Reg = 100;
    D.Device->FParamCommon.Ustav2.FModbusObject.Reg = 150;
    D.Ustavs[1]->Custom = true;
    D.Ustavs[1]->Values = {0x1234, 0x5678};
    D.Ustavs[1]->GetNumeric().SecValMax = 0x6000;
    Z = AddElement(r, atLabel, 0, 10, 4);
    Z->Caption = "Z";
    AddLink(r, AddFunction(r, "zero", 4, 4), 0, Z, 0);
    // M: a sub-module passing its input through "not".
    M = new TModule(&r, 0);
    M->Caption = "M";
    r.AbstractList.Add(M);
    TElement *in = AddElement(*M, atInint, 1, 4, 4);
    TElement *n = AddFunction(*M, "not", 10, 4);
    AddLink(*M, in, 0, n, 0);
    M->SetRect({20, 4, 24, 8});
    TElement *zr = AddElement(r, atLabelRef, 0, 14, 4);
    zr->SetLabel(Z);
    AddLink(r, zr, 0, M, 0);
    auto *c = new TModule(&r, 0);
    c->Custom = true;
    c->Caption = "Блок 1";
    c->SetRect({30, 4, 34, 8});
    r.AbstractList.Add(c);
    CustomId = c->Id;

    const IXXMLDocument logic = Doc("<module/>");
    r.SaveToNode(logic->GetDocumentElement(), true);
    Save("logic.xml", logic);
    SaveFileBytes(D.Dir.filePath("config.xml"), LoadFileBytes(ProjectConfigPath()));
    SaveFileBytes(D.Dir.filePath("schemaCode.xml"), "<commands/>");
    const IXXMLDocument custom = Doc("<custom-logic/>");
    Unit(custom, {0, Z->Id, 0}, {1, M->Id, 0});
    Save("custom-logic0.xml", custom);
    Save("custom-logic.xml", custom);
    Load();
  }
  static IXXMLDocument Doc(const char *Xml) {
    const IXXMLDocument d = NewXMLDocument();
    d->LoadXML(QString::fromUtf8(Xml));
    return d;
  }
  void Save(const char *Name, const IXXMLDocument &Doc) { SaveXMLDocument(Doc, D.Dir.filePath(Name)); }
  // The unit's content: In -> Nots "not" blocks in a row -> Out; Extra unlinked "and" blocks.
  void Unit(const IXXMLDocument &Custom, const TOrg &In, const TOrg &Out, int Extra = 0, int Nots = 1) {
    auto base = NewRoot();
    base->AbstractList.Add([&] {
      auto *m = new TModule(base.get(), CustomId);
      m->Custom = true;
      m->SetRect({30, 4, 34, 8});
      return m;
    }());
    const IXXMLNode node = MergeCustomUnits(*base, Custom->GetDocumentElement()).at(0).Node;
    const QString rect = node->GetStrAttr("rect", {});
    auto unit = NewRoot();
    ApplyUnitChoices(*unit, 0, {{"in", In}}, {true});
    ApplyUnitChoices(*unit, 1, {{"out", Out}}, {true});
    TAbstract *last = unit->InintList[0];
    for (int i = 0; i < Nots; ++i) {
      TElement *n = AddFunction(*unit, "not", 14, 4 + 4 * i);
      AddLink(*unit, last, 0, n, 0);
      last = n;
    }
    AddLink(*unit, last, 0, unit->OutintList[0], 0);
    for (int i = 0; i < Extra; ++i)
      AddFunction(*unit, "and", 20, 4 + 4 * i);
    const IXXMLNodeList children = node->SelectNodes("*");
    for (int i = 0; i < children->GetCount(); ++i)
      children->GetItem(i)->Remove();
    unit->SaveToNode(node, true);
    node->SetStrAttr("rect", rect);
    RenumberUnitInterface(node);
  }
  // The page's load: base logic, custom logic and units from the work folder.
  void Load() {
    Module = NewRoot();
    Module->Root = true;
    State.LogicDoc = NewXMLDocument();
    State.LogicDoc->Load(D.Dir.filePath("logic.xml"));
    Module->LoadFromNode(State.LogicDoc->GetDocumentElement());
    State.CustomDoc = NewXMLDocument();
    State.CustomDoc->Load(D.Dir.filePath("custom-logic.xml"));
    State.Units = MergeCustomUnits(*Module, State.CustomDoc->GetDocumentElement());
    State.WorkDir = D.Dir.path();
    State.Configurator = &ProjectLibrary();
    State.Module = Module.get();
    State.Source = 1;
  }
  QByteArray File(const char *Name) const { return LoadFileBytes(D.Dir.filePath(Name)); }

  // The run-time descriptor a relay running this logic holds: the image of
  // the base logic's descriptor decoded as identification decodes it.
  std::unique_ptr<TSimpleDeviceDescriptor> Relay;
  IXXMLNode RelayRoot() {
    if (!Relay) {
      QByteArray image = BuildDescBin(*DeviceOf(Module->Descriptor.get()), QByteArray(4, '\0'), 0, 0, 0,
                                       D.Dir.filePath("header.lst"));
      QBuffer stream(&image);
      stream.open(QIODevice::ReadOnly);
      Relay = std::make_unique<TSimpleDeviceDescriptor>();
      Relay->LoadFromStream(stream);
    }
    return Relay->Root;
  }
};
