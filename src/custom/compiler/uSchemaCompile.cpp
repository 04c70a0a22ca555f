#include "uSchemaCompile.h"

#include "uConfigurator.h"
#include "uDeviceDescriptor.h"
#include "uModbusIderList.h"
#include "uSchemaDeviceDescriptor.h"
#include "uSchemaModule.h"
#include "uScriptHost.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uTextCodec.h"
#include "uLogger.h"
#include "ixml.h"

#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QTime>
#include <algorithm>

static QString Now() { return QTime::currentTime().toString("hh:mm:ss.zzz"); }

static QStringList LoadLines(const QString &FileName) {
  TXStringList l;
  l.LoadFromFile(FileName);
  return l.GetStrings();
}

static void SaveLines(const QString &FileName, const QStringList &Lines) {
  TXStringList l;
  l.GetStrings() = Lines;
  l.SaveToFile(FileName);
}

// ---------------------------------------------------------------- TSchemaCompile

TSchemaCompile::TSchemaCompile(const TSchemaCode &Code) : TSchemaAssembler(Code) {}

TSchemaCompile::~TSchemaCompile() = default;

// ---------------------------------------------------------------- Compile

QString InternalScriptText() {
  QFile f(":/custom/internal.js");
  if (!f.open(QIODevice::ReadOnly))
    throw EKvError("internal error: internal.js");
  return QString::fromUtf8(f.readAll());
}

namespace {

QString U8(const char *S) { return QString::fromUtf8(S); }

// A JavaScript string literal's body: a caption may hold quotes, backslashes
// or control characters without breaking the generator data.
QString JsEscaped(const QString &Text) {
  QString out;
  for (const QChar c : Text) {
    if (c == '\\' || c == '"')
      out += QString('\\') + c;
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else if (c == '\t')
      out += "\\t";
    else if (c.unicode() < 0x20 || c == QChar(0x2028) || c == QChar(0x2029))
      out += QString("\\u%1").arg(c.unicode(), 4, 16, QChar('0'));
    else
      out += c;
  }
  return out;
}

uint16_t Add16(uint32_t A, uint32_t B) {
  if (A + B > 0xFFFF)
    throw EKvRange("integer overflow");
  return uint16_t(A + B);
}

// The line forms of the generator data.
class TParamWriter {
public:
  QStringList Lines;
  void Text(const char *Name, const QString &Value) { Lines << QString("%1: \"%2\",").arg(Name, JsEscaped(Value)); }
  void Number(const char *Name, qint64 Value) { Lines << QString("%1: %2,").arg(Name).arg(Value); }
  void OpenArray(const char *Name) { Lines << QString(Name) + ":["; }
  void Item(const QList<qint64> &Numbers) {
    QStringList n;
    for (qint64 v : Numbers)
      n << QString::number(v);
    Lines << (Numbers.size() == 1 ? n[0] + "," : "[" + n.join(',') + "],");
  }
  void CloseArray(bool Comma = true) {
    if (Lines.last().endsWith(','))
      Lines.last().chop(1);
    Lines << (Comma ? "]," : "]");
  }
  void CloseObject(bool Comma = true) {
    QString &last = Lines.last();
    if (last.count(',') == 1 && last.endsWith(','))
      last.chop(1);
    Lines << (Comma ? "}," : "}");
  }
};

} // namespace

void TSchemaCompile::CheckLinks(QStringList &Errors) const {
  for (const TElement *e : Elements) {
    for (int i = 0; i < e->InputPins.Count(); ++i) {
      if (e->InputPins[i]->SrcIndex != -1)
        continue;
      const TModule *m = e->Module;
      QString line = U8("не определена связь: type=") + AbstractTypeNames[e->Type < 12 ? e->Type : 11] +
                     ", mod=" + (m ? m->Caption : QString()) + "(" + QString::number(m ? m->Id : 0) + ")" +
                     ", cap=" + e->Caption + ", id=" + QString::number(e->Id) + ", gid=" + QString::number(e->Gid) +
                     ", pin=" + QString::number(i);
      if (e->Func)
        line += " desc=" + e->Func->Caption;
      Errors << line;
    }
    if (Errors.size() > 50)
      break;
  }
}

void TSchemaCompile::CheckUstavs(QStringList &Errors) const {
  for (const TElement *e : Elements) {
    const TFunctionDescriptor *f = e->Func;
    if (e->Type != atDescriptor || !f)
      continue;
    const int rows = int(f->Ustavs.size());
    const int used = f->UstavLimit == 0   ? rows
                     : f->UstavLimit == 1 ? e->InputPins.Count()
                     : f->UstavLimit == 2 ? e->OutputPins.Count()
                                          : 0;
    const QString head = f->Id + ", id: " + QString::number(e->Id);
    if (used > std::min(rows, 16))
      Errors << U8("недостаточно строк уставок, функция: ") + head;
    for (int i = 0; i < std::min({used, rows, 16}); ++i)
      if (f->UstavGroup(i) == 0 && !e->Refs[size_t(i)].Ustav && !e->Refs[size_t(i)].Param)
        Errors << U8("не определена уставка, функция: ") + head + U8(", уставка: (") + QString::number(i) + ") " +
                      f->UstavName(i);
    QStringList groups;
    for (int i = 0; i < rows; ++i)
      if (const int g = f->UstavGroup(i); g && !groups.contains(QString::number(g)))
        groups << QString::number(g);
    groups.sort();
    for (const QString &g : groups) {
      bool bound = false;
      for (int i = 0; i < std::min(rows, 16); ++i)
        bound = bound || (f->UstavGroup(i) == g.toInt() && e->Refs[size_t(i)].Ustav);
      if (!bound)
        Errors << U8("не определена альтернативная уставка, функция: ") + head + U8(", группа: ") + g;
    }
  }
}

void TSchemaCompile::CheckIders(QStringList &Errors) const {
  const TModbusIderList *ids = ModbusIderList();
  for (const TElement *e : Elements) {
    if (!e->Func)
      continue;
    QStringList names = e->Func->ModbusIders;
    for (int j = 0; j < e->Func->Params.size() && j < e->Params.size(); ++j)
      names << e->Params[j];
    for (const QString &name : names)
      if (!name.isEmpty() && (!ids || !ids->FindByName(name)))
        Errors << U8("не найден идентификатор modbus ") + name + U8(", функция: ") + e->Func->Id;
  }
}

void TSchemaCompile::Allocate() {
  TDDParamCommon &common = FDevice->FParamCommon;
  uint32_t a = FDevice->FDeviceDescriptorBin.FSRAMFree;
  common.SetVarAddr(uint16_t(a));
  for (TElement *e : Elements)
    if (e->Func && e->Func->VarCount > 0) {
      e->FirstVarAddr = uint16_t(a);
      a = Add16(a, 2u * uint32_t(e->Func->VarCount));
    }
  common.SetVarSize(uint16_t(a - common.VarAddr));
  common.SetBinAddr(Add16(common.VarAddr, common.VarSize));
  a = common.BinAddr;
  for (TElement *e : Elements)
    for (int i = 0; i < e->OutputPins.Count(); ++i) {
      e->OutputPins[i]->Address = uint16_t(a);
      a = Add16(a, 1);
    }
  common.SetBinSize(uint16_t(a - common.BinAddr));
  for (TElement *e : Elements)
    for (int i = 0; i < e->InputPins.Count(); ++i) {
      TPin *p = e->InputPins[i];
      const TElement *src = Elements.value(p->SrcIndex);
      KvCheck(src && p->SrcPin >= 0 && p->SrcPin < src->OutputPins.Count(),
              "src/custom/compiler/uSchemaCompile: unresolved input after the link check");
      p->Address = src->OutputPins[p->SrcPin]->Address;
    }
}

QStringList TSchemaCompile::ParamLines() {
  const TModbusIderList *ids = ModbusIderList();
  const TDeviceDescriptorBin &bin = FDevice->FDeviceDescriptorBin;
  auto iderAddr = [&](const QString &Name) -> qint64 {
    return ids && ids->FindByName(Name) ? qint64(ids->GetAddress(Name)) + ids->FSRAMAddr : 65535;
  };
  QElapsedTimer watch;
  watch.start();
  TParamWriter w;
  w.Lines << "// started at " + Now() << "data=" << "{";
  w.OpenArray("ela");
  for (TElement *e : Elements) {
    const TFunctionDescriptor *f = e->Func;
    w.Lines << "{";
    w.Text("type", f->Id);
    if (!std::any_of(FunctionIds.begin(), FunctionIds.end(), [f](const QString &s) { return s == f->Id; }))
      FunctionIds << f->Id;
    w.Text("caption", e->Caption);
    w.Number("index", e->Index);
    w.Number("groupIndex", e->Gid);
    w.Number("vara", e->FirstVarAddr);
    w.Number("varc", f->VarCount);
    w.Number("inaa", 0);
    w.Number("modbus", f->IsModbusKind() ? FDevice->GetBitReg(16 + f->Kind)->GetModbusSram() : 65535);
    if (e->InputPins.Count() > 0) {
      w.OpenArray("ipina");
      for (int i = 0; i < e->InputPins.Count(); ++i)
        w.Item({e->InputPins[i]->Address, e->InputPins[i]->Inverted ? 1 : 0});
      w.CloseArray();
    }
    if (e->OutputPins.Count() > 0) {
      w.OpenArray("opina");
      for (int i = 0; i < e->OutputPins.Count(); ++i) {
        const TPin *p = e->OutputPins[i];
        const TDDEvent *ev = p->GetEvent();
        w.Item({p->Address, p->Inverted ? 1 : 0, ev ? ev->Code : 0, p->GetEventEdge() & 127});
      }
      w.CloseArray();
    }
    if (!f->Ustavs.isEmpty()) {
      w.OpenArray("ustava");
      for (int i = 0; i < f->Ustavs.size(); ++i) {
        const TElementRef r = i < 16 ? e->Refs[size_t(i)] : TElementRef();
        if (r.Ustav) {
          r.Ustav->IncCounter();
          const uint16_t sram = r.Ustav->GetModbusSram();
          const qint64 value = sram == 0xFFFF ? 65535 : Add16(sram, bin.FWorkingUstavAddr);
          const TDDMeasure *m = r.Ustav->Kind == TDDUstav::ukNumeric ? r.Ustav->GetNumeric().Measure : nullptr;
          w.Item({value, m ? m->GetModbusSram() : 0});
        } else if (r.Param) {
          w.Item({r.Param->GetModbusSram(), 0});
        } else {
          w.Item({65535, 0});
        }
      }
      w.CloseArray();
    }
    if (!f->Params.isEmpty()) {
      w.OpenArray("modbus_usra");
      for (int j = 0; j < f->Params.size(); ++j)
        w.Item({j < e->Params.size() ? iderAddr(e->Params[j]) : 65535});
      w.CloseArray();
    }
    if (!f->ModbusIders.isEmpty()) {
      w.OpenArray("modbus_fixa");
      for (const QString &name : f->ModbusIders)
        w.Item({iderAddr(name)});
      w.CloseArray();
    }
    if (!f->Switches.isEmpty()) {
      w.OpenArray("flaga");
      for (int j = 0; j < f->Switches.size(); ++j)
        w.Item({(e->Switch >> j) & 1});
      w.CloseArray(false);
    }
    w.CloseObject();
  }
  w.CloseArray(false);
  w.CloseObject(false);
  w.Lines << "// duration, ms " + QString::number(watch.elapsed()) << "// finished at " + Now();
  std::stable_sort(FunctionIds.begin(), FunctionIds.end(),
                   [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
  return w.Lines;
}

void TSchemaCompile::AddScriptFile(const QString &FileName) {
  const QString text = LoadLines(OutPath(FileName)).join("\r\n");
  FScript->AddCode(RewriteMultiLineStrings(text), FileName);
}

void TSchemaCompile::AddFunctionCode(const QString &Id) {
  const TFunctionDescriptor *f = Configurator ? Configurator->FindFunction(Id) : nullptr;
  FScript->AddCode(RewriteMultiLineStrings(f ? f->Code.Text : QString()), Id);
}

void TSchemaCompile::CheckType(const QString &Name, const QString &Expected) {
  const QString found = FScript->Eval("typeof " + Name);
  if (found != Expected)
    throw EKvError(QString("Variable: %1, type: %2, expected: %3").arg(Name, found, Expected));
}

void TSchemaCompile::RunMain(const QString &Procedure, const QString &Argument) { FScript->Run(Procedure, Argument); }

void TSchemaCompile::RunScripts() {
  // A fresh engine per run: nothing of an earlier (perhaps stopped) run remains.
  FScript = std::make_unique<TScriptHost>(OutPath("."), ScriptTimeoutMs);
  for (const char *name : {"prepare.js", "internal0.js", "internal.js", "param.js"})
    AddScriptFile(name);
  for (const QString &id : FunctionIds)
    AddFunctionCode(id);
  CheckType("global", "object");
  RunMain("main", "{}");
  FScript.reset();
}

void TSchemaCompile::Compile(TConfigurator &AConfigurator, TModule &AModule, QStringList &Errors, int Alignment) {
  QElapsedTimer watch;
  watch.start();
  Configurator = &AConfigurator;
  Module = &AModule;
  Errors.clear();
  Timings = {};
  FDevice = DeviceOf(AModule.Descriptor.get());
  if (!FDevice)
    throw EKvError(U8("Не задан дескриптор устройства"));
  FDevice->FErrors.clear();
  FDevice->GenerateAddresses(OutPath("."));
  Errors << FDevice->FErrors;
  if (!Errors.isEmpty())
    return;
  FDevice->Validate();
  Errors << FDevice->FErrors;
  if (!Errors.isEmpty())
    return;

  AModule.SortByPosition();
  AModule.NumberElements(0);
  AModule.ResetSources();
  AModule.ResolveSources();
  Elements.clear();
  AModule.ForEachElement(
      [this](void *, TElement *E, void *) {
        if (E->Type != atLabel && E->Type != atLabelRef && E->Type != atInint && E->Type != atOutint)
          Elements << E;
      },
      nullptr, nullptr);
  CheckLinks(Errors);
  if (Errors.isEmpty())
    CheckUstavs(Errors);
  if (Errors.isEmpty())
    CheckIders(Errors);
  if (!Errors.isEmpty())
    return;
  Allocate();
  const TDDParamCommon &common = FDevice->FParamCommon;
  const uint32_t need = uint32_t(common.VarSize) + common.BinSize;
  const uint16_t dim = ModbusIderList() ? ModbusIderList()->FSRAMSize : 0;
  if (dim < need)
    throw EKvError(QString::asprintf("%s %4.4x, %s %4.4x", "Размер области SRAM", dim, "требуется", need));
  Timings.Checks = watch.restart();

  TXStringList text;
  text.SetText(AConfigurator.PrepareCode.Text);
  SaveLines(OutPath("prepare.js"), text.GetStrings());
  text.SetText(AConfigurator.InternalCode.Text);
  SaveLines(OutPath("internal0.js"), text.GetStrings());
  FunctionIds.clear();
  SaveLines(OutPath(AsmFileName), QStringList());
  QStringList param = ParamLines();
  param << "global.ADR_FLASH=" + QString::number(FDevice->FDeviceDescriptorBin.FBaseAddr / 2);
  SaveLines(OutPath("param.js"), param);
  Timings.Param = watch.restart();

  RunScripts();
  Timings.Script = watch.restart();
  Assemble(Alignment);
  Timings.Assembly = watch.restart();
}
