#include "uFunctionEditForm.h"

#include "uConfigurator.h"
#include "uDeviceDescriptor.h"
#include "uErrors.h"
#include "uSchemaModule.h"

const QStringList FunctionEdgeNames = {QStringLiteral(" "), QStringLiteral("Передний"), QStringLiteral("Задний"),
                                       QStringLiteral("Оба")};

namespace {
QString RefText(const TDDUstav &U, int Group) {
  const uint16_t v = U.GetValue(Group);
  if (U.Kind == TDDUstav::ukNumeric)
    return U.GetNumeric().ValueToStr(v);
  if (U.RecordType == 49)
    return QString::number(v);
  if (U.RecordType == 53)
    return IntToBinStr(v, 16);
  throw EKvError(QString::asprintf("invalid RecordType %2.2x", U.RecordType));
}

void Resize(QList<TFunctionPinRow> &Rows, int N, const QString &Word) {
  while (Rows.size() > N)
    Rows.removeLast();
  while (Rows.size() < N)
    Rows.append({Word + ' ' + QString::number(Rows.size() + 1)});
}

int CountOf(const QString &Text, int Min, int Max, const char *Error) {
  bool ok = false;
  const int n = Text.trimmed().toInt(&ok);
  if (!ok || n < Min || n > Max)
    throw EKvError(Error);
  return n;
}

// The module holding another function block of the same kind (or block of
// the same type) with that gid, nullptr when none.
TModule *GidHolder(TModule *M, const TElement &Self, int Gid) {
  for (TAbstract *a : M->AbstractList.Items()) {
    if (auto *sub = dynamic_cast<TModule *>(a)) {
      if (TModule *h = GidHolder(sub, Self, Gid))
        return h;
      continue;
    }
    auto *e = dynamic_cast<TElement *>(a);
    if (!e || e == &Self || e->Gid != Gid || e->Type != Self.Type)
      continue;
    if (Self.Type != atDescriptor || (e->Func && Self.Func && e->Func->Kind == Self.Func->Kind))
      return M;
  }
  return nullptr;
}
} // namespace

void TFunctionEditState::Fill(TElement &E, const TDeviceDescriptor *Desc) {
  Element = &E;
  Func = E.Func;
  EventNames.clear();
  if (Desc)
    for (const auto &ev : Desc->FEvents)
      EventNames << ev->String;
  Caption = E.Caption;
  Gid = QString::number(E.Gid);
  GidReadOnly = !Func || Func->Kind == 0;
  InReadOnly = !Func || Func->IMin >= Func->IMax;
  OutReadOnly = !Func || Func->OMin >= Func->OMax;
  InCount = QString::number(E.InputPins.Count());
  OutCount = QString::number(E.OutputPins.Count());
  Inputs.clear();
  Outputs.clear();
  for (int i = 0; i < E.InputPins.Count(); ++i)
    Inputs.append({QStringLiteral("Вход ") + QString::number(i + 1), E.InputPins[i]->Inverted, {}, {},
                   E.InputPins[i]->Caption});
  for (int i = 0; i < E.OutputPins.Count(); ++i) {
    const TPin *p = E.OutputPins[i];
    const TDDEvent *ev = p->GetEvent();
    Outputs.append({QStringLiteral("Выход ") + QString::number(i + 1), p->Inverted,
                    FunctionEdgeNames.value(p->GetEventEdge()), ev ? ev->String : QString(), p->Caption});
  }
  for (int i = 0; i < 16; ++i) {
    TFunctionRefRow &r = Rows[size_t(i)];
    r = {};
    if (!RowInUse(i))
      continue;
    const TElementRef ref = E.GetRef(i);
    if (ref.Ustav) {
      r.Ustav = ref.Ustav;
      r.Values = {RefText(*ref.Ustav, 0), RefText(*ref.Ustav, 1)};
    } else if (ref.Param) {
      r.Param = ref.Param;
      r.Values[0] = QString::number(ref.Param->Value);
    }
  }
  Switch = E.Switch;
  PenColor = E.PenColor;
}

void TFunctionEditState::SetInputCount(const QString &Text) {
  if (!Text.isEmpty())
    Resize(Inputs, qMax(0, Text.toInt()), QStringLiteral("Вход"));
  InCount = Text;
}

void TFunctionEditState::SetOutputCount(const QString &Text) {
  if (!Text.isEmpty())
    Resize(Outputs, qMax(0, Text.toInt()), QStringLiteral("Выход"));
  OutCount = Text;
}

void TFunctionEditState::SetEdge(int OutRow, const QString &Text) {
  TFunctionPinRow &r = Outputs[OutRow];
  r.Edge = Text;
  if (Text.isEmpty())
    r.Event.clear();
}

void TFunctionEditState::SetEvent(int OutRow, const QString &Text) {
  TFunctionPinRow &r = Outputs[OutRow];
  r.Event = Text;
  if (Text.isEmpty())
    r.Edge.clear();
}

bool TFunctionEditState::RowInUse(int Row) const {
  if (!Func || Row >= qMin(int(Func->Ustavs.size()), 16))
    return false;
  switch (Func->UstavLimit) {
  case 0: return true;
  case 1: return Row < Inputs.size();
  case 2: return Row < Outputs.size();
  default: return false;
  }
}

void TFunctionEditState::ChooseUstav(int Row, TDDUstav *Ustav) {
  // An unusable record is refused before the group loses its binding.
  const std::array<QString, 2> values = {RefText(*Ustav, 0), RefText(*Ustav, 1)};
  const int group = Func ? Func->UstavGroup(Row) : 0;
  if (group > 0)
    for (int i = 0; i < qMin(int(Func->Ustavs.size()), 16); ++i)
      if (Func->UstavGroup(i) == group)
        Rows[size_t(i)] = {};
  TFunctionRefRow &r = Rows[size_t(Row)];
  r = {};
  r.Ustav = Ustav;
  r.Values = values;
}

void TFunctionEditState::ChooseParam(int Row, TDDParam *Param) {
  TFunctionRefRow &r = Rows[size_t(Row)];
  r = {};
  r.Param = Param;
  r.Values[0] = QString::number(Param->Value);
}

void TFunctionEditState::Check() const {
  CountOf(InCount, Func ? Func->IMin : 0, Func ? Func->IMax : 0, "invalid input pin count");
  CountOf(OutCount, Func ? Func->OMin : 0, Func ? Func->OMax : 0, "invalid output pin count");
}

void TFunctionEditState::Apply(const TDeviceDescriptor *Desc) {
  Check();
  TElement &e = *Element;
  // Every value is read before anything is written, so a bad number text
  // leaves the block and the descriptor as they were.
  std::array<std::array<uint16_t, 2>, 16> values{};
  for (int i = 0; i < qMin(e.RefCount(), 16); ++i)
    if (const TFunctionRefRow &r = Rows[size_t(i)]; r.Ustav)
      for (int g = 0; g < 2; ++g) {
        if (r.Ustav->Kind == TDDUstav::ukNumeric)
          values[i][g] = r.Ustav->GetNumeric().StrToValue(r.Values[g]);
        else if (r.Ustav->RecordType == 53)
          values[i][g] = uint16_t(BinStrToInt(r.Values[g]));
        else
          values[i][g] = uint16_t(r.Values[g].toInt());
      }
  if (!Gid.isEmpty() && Gid.toInt() != e.Gid) {
    const int gid = Gid.toInt();
    if (e.Module)
      if (TModule *holder = GidHolder(e.Module->RootModule(), e, gid))
        throw EKvError(QStringLiteral("gid занят, модуль ") + holder->Caption);
    e.SetGid(gid);
  }
  e.Caption = Caption;
  const int in = InCount.toInt(), out = OutCount.toInt();
  e.DropInputLinksFrom(in);
  e.DropOutputLinksFrom(out);
  e.SetPinCounts(in, out);
  for (int i = 0; i < in; ++i) {
    e.InputPins[i]->Inverted = Inputs[i].Inverted;
    e.InputPins[i]->Caption = Inputs[i].Name;
  }
  for (int i = 0; i < out; ++i) {
    TPin *p = e.OutputPins[i];
    const TFunctionPinRow &r = Outputs[i];
    p->Inverted = r.Inverted;
    p->SetEventEdge(uint8_t(qMax(0, FunctionEdgeNames.indexOf(r.Edge))));
    TDDEvent *ev = nullptr;
    if (Desc)
      for (const auto &d : Desc->FEvents)
        if (!r.Event.isEmpty() && d->String == r.Event)
          ev = d.get();
    p->SetEvent(ev);
    p->Caption = r.Name;
  }
  for (int i = 0; i < qMin(e.RefCount(), 16); ++i) {
    const TFunctionRefRow &r = Rows[size_t(i)];
    e.SetRef(i, e.MakeRef(r.Param, r.Ustav));
    if (r.Param)
      r.Param->SetValue(uint16_t(r.Values[0].toInt()));
    if (r.Ustav)
      for (int g = 0; g < 2; ++g)
        r.Ustav->SetValue(g, values[i][g]);
  }
  e.Switch = Switch;
  e.PenColor = PenColor;
  e.UpdateGraphic();
}
