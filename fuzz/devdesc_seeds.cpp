// Writes seed files for the design-time descriptor fuzz target into the folder
// given as the only argument, through the descriptor's own writer: an empty
// descriptor and one with a record of every kind bound to the fuzz listing.
#include "devdesc_ident.h"
#include "uDeviceDescriptor.h"

#include <QTemporaryDir>
#include <cstdio>

namespace {

void Save(const TDeviceDescriptor &D, const QString &Path) {
  const IXXMLDocument doc = NewXMLDocument();
  doc->LoadXML("<device-descriptor/>");
  D.SaveToXML(doc->GetDocumentElement());
  SaveXMLDocument(doc, Path);
}

template <class T> T *Bound(TDDList<T> &List, std::unique_ptr<T> R, const char *Name, int Reg) {
  R->FModbusObject.Ider = *ModbusIderList()->FindByName(QString::fromLatin1(Name));
  R->FModbusObject.Reg = uint16_t(Reg);
  R->FModbusObject.Acc = 7;
  R->String = QStringLiteral("%1 текст|\\176").arg(QString::fromLatin1(Name));
  R->Ider = int(List.size()) + 1;
  return List.Add(std::move(R));
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: devdesc_seeds FOLDER\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  QDir().mkpath(dir.path());
  QTemporaryDir work;
  InstallDevDescIdent(work.path());
  Save(TDeviceDescriptor(), dir.filePath("empty.xml"));

  TDeviceDescriptor d;
  TDDMeasure *m = Bound(d.FMeasures, std::make_unique<TDDMeasure>(&d), "M1", 0);
  m->Visible = m->OffsetFlag = true;
  m->PrimValMult = 100;
  Bound(d.FMeasures, std::make_unique<TDDMeasure>(&d), "M2", 1);
  const char *groups[] = {"DI", "RL", "LE", "VI", "VO"};
  for (int g = 0; g < 5; ++g) {
    TDDParamBitReg &b = *d.GetBitReg(17 + g);
    b.FModbusObject.Ider = *ModbusIderList()->FindByName(QString::fromLatin1(groups[g]));
    b.FModbusObject.Reg = uint16_t(10 + 2 * g);
    b.Bits.Assign({"a", "b", "c"}, {});
  }
  auto bindCommon = [&](TDDNamedObject &R, const char *Name, int Reg) {
    R.FModbusObject.Ider = *ModbusIderList()->FindByName(QString::fromLatin1(Name));
    R.FModbusObject.Reg = uint16_t(Reg);
    R.FModbusObject.Acc = 7;
  };
  bindCommon(d.FParamCommon.Date, "DATE", 50);
  bindCommon(d.FParamCommon.Status, "STAT", 54);
  bindCommon(d.FParamCommon.Ustav1, "UST1", 100);
  bindCommon(d.FParamCommon.Ustav2, "UST2", 200);
  Bound(d.FParams, std::make_unique<TDDParam>(&d, TDDParam::pkEnum), "PE", 20)->GetEnum().Strings.Assign({"x", "y"}, {});
  Bound(d.FParams, std::make_unique<TDDParam>(&d, TDDParam::pkNumeric), "PN", 22);
  Bound(d.FParams, std::make_unique<TDDParam>(&d, TDDParam::pkChar), "PC", 24)->GetChar().Length = 20;
  Bound(d.FParams, std::make_unique<TDDParam>(&d, TDDParam::pkNumeric), "SP", 45);
  Bound(d.FParamsMvp, std::make_unique<TDDParam>(&d, TDDParam::pkNumericMvp), "XC1", 46);
  Bound(d.FParamsMvs, std::make_unique<TDDParam>(&d, TDDParam::pkNumericMvs), "XD1", 47);
  m->MvpId = "XC1";
  d.FUstavLevels.Add(1, "L1", "");
  TDDUstav *u = d.FUstavs.Add(std::make_unique<TDDUstav>(&d, TDDUstav::ukNumeric));
  u->Ider = 1, u->String = "U1", u->GetNumeric().MeasureIder = 1, u->LevelIder = 1;
  TDDUstav *v = d.FUstavs.Add(std::make_unique<TDDUstav>(&d, TDDUstav::ukEnum));
  v->Ider = 2, v->GetEnum().Strings.Assign({"n", "y"}, {});
  d.FEventMeasures.Add(std::make_unique<TDDMeasureRef>(&d, 65))->MeasureIder = 1;
  d.FEventBitRegs.Add(std::make_unique<TModbusObjectRef>(&d, 66))->ModbusId = "DI";
  TDDEvent *e = d.FEvents.Add(std::make_unique<TDDEvent>(&d));
  e->Ider = 1, e->Code = 1, e->String = "E1";
  d.FOscItems.Add(std::make_unique<TDDMeasureRef>(&d, 81))->MeasureIder = 2;
  d.FOscBitRegs.Add(std::make_unique<TModbusObjectRef>(&d, 82))->ModbusId = "RL";
  d.FIndicatorMenu = QStringLiteral(
      "<item-list><item-list caption=\"A(104)\"><item desc-type=\"measure\" desc-id=\"1\"/></item-list>"
      "<item-list ustav-group=\"1\"><item desc-type=\"ustav\" desc-id=\"1\"/></item-list>"
      "<item-list ustav-group=\"2\"><item desc-type=\"ustav\" desc-id=\"1\"/></item-list>"
      "<item desc-type=\"event\" caption=\"E\"/><item desc-type=\"alarm\" caption=\"x\"/>"
      "<item desc-type=\"paramdate\"/></item-list>");
  Save(d, dir.filePath("full.xml"));
  return 0;
}
