#include "uModbus.h"
#include "uCharMap.h"
#include "uDescriptorXml.h"
#include "uErrors.h"
#include "uTextCodec.h"

#include <QBuffer>
#include <QFileDevice>

namespace {

void CheckReg(int Reg) {
  if (Reg < 0 || Reg >= TModbus::RegCount)
    throw EKvRange(QStringLiteral("register %1 out of range 0..1023").arg(Reg));
}

} // namespace

TModbus::TModbus() { Clear(); }

void TModbus::Clear() {
  FValues.fill(0xFFFF);
  FValid.fill(0);
  FAccess.fill(0);
}

uint16_t TModbus::GetWord(int Reg) const {
  CheckReg(Reg);
  return FValues[size_t(Reg)];
}

void TModbus::SetWord(int Reg, uint16_t Value) {
  CheckReg(Reg);
  FValues[size_t(Reg)] = Value;
  FValid[size_t(Reg)] = 1;
}

bool TModbus::IsValid(int Reg) const {
  if (Reg < 0 || Reg >= RegCount)
    return false;
  return FValid[size_t(Reg)] != 0;
}

void TModbus::SetValid(int Reg, bool Value) {
  CheckReg(Reg);
  FValid[size_t(Reg)] = Value ? 1 : 0;
}

uint8_t TModbus::GetAccess(int Reg) const {
  CheckReg(Reg);
  return FAccess[size_t(Reg)];
}

uint16_t *TModbus::WordPtr(int Reg) {
  CheckReg(Reg);
  return &FValues[size_t(Reg)];
}

void TModbus::Assign(const TModbus &Source) {
  FValues = Source.FValues;
  FValid = Source.FValid;
  FAccess = Source.FAccess;
}

void TModbus::LoadAccessMap(const IXXMLNode &Root) {
  if (!Root)
    return;
  const IXXMLNodeList items = Root->SelectNodes(DXQ_MAPPED);
  const QString secondGroup = QString(DXQ_MREG_N).arg(2);
  for (int i = 0; i < items->GetCount(); ++i) {
    const IXXMLNode item = items->GetItem(i);
    const int mreg = item->GetIntNodeDef(DX_MREG, 65535);
    if (mreg == 65535)
      continue;
    const int count = item->GetIntNodeDef(DX_WORD_COUNT, 1);
    const int acc = item->GetIntNodeDef(DX_MODBUS_ACC, QVariant());
    for (int r = mreg; r < mreg + count; ++r) {
      CheckReg(r);
      FAccess[size_t(r)] = uint8_t(acc);
    }
    const int second = item->GetIntNodeDef(secondGroup, DX_NONE);
    if (second < 65535) {
      CheckReg(second);
      FAccess[size_t(second)] = uint8_t(acc);
    }
  }
}

void TModbus::SaveRegList(QIODevice &AStream) const {
  if (auto *b = qobject_cast<QBuffer *>(&AStream))
    b->buffer().clear();
  else if (auto *f = qobject_cast<QFileDevice *>(&AStream))
    f->resize(0);
  AStream.seek(0);
  QByteArray out;
  for (int r = 0; r < RegCount; ++r)
    if (FAccess[size_t(r)] & 1) {
      out.append(char(r & 0xFF));
      out.append(char(r >> 8));
    }
  if (!out.isEmpty() && AStream.write(out) != out.size())
    throw EKvError(QStringLiteral("stream write error: %1").arg(AStream.errorString()));
}

void TModbus::LoadRegValues(QIODevice &AStream) const {
  AStream.seek(0);
  const QByteArray data = AStream.readAll();
  TModbus &target = Modbus();
  for (qsizetype i = 0; i + 4 <= data.size(); i += 4) {
    const auto *p = reinterpret_cast<const uint8_t *>(data.constData() + i);
    target.SetWord(p[0] | (p[1] << 8), uint16_t(p[2] | (p[3] << 8)));
  }
}

QString TModbus::GetString(int Reg, int Count) const {
  const TModbus &source = Modbus();
  QByteArray codes;
  for (int i = 0; i < Count; ++i) {
    const uint16_t w = source.GetWord(Reg + i);
    const char hi = char(w >> 8), lo = char(w & 0xFF);
    if (hi == 0)
      break;
    codes.append(hi);
    if (lo == 0)
      break;
    codes.append(lo);
  }
  return DeviceToProgram(codes);
}

QByteArray TModbus::DecodeChars(const QString &S) { return ProgramToDevice(ToWin1251(S)); }

TModbus &Modbus() {
  static TModbus image;
  return image;
}
