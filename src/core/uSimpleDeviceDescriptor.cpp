#include "uSimpleDeviceDescriptor.h"
#include "uCharMap.h"
#include "uDescriptorDecoder.h"
#include "uDescriptorXml.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uModbus.h"
#include "uTextCodec.h"

#include <QBuffer>
#include <QDateTime>
#include <QLocale>
#include <algorithm>
#include <cstdio>

namespace {

QString Hex(qint64 Value, int Digits) {
  return QStringLiteral("%1").arg(Value, Digits, 16, QChar('0')).toUpper();
}

// A text cut to Width characters and right-aligned in Width.
QString Cut(const QString &Text, int Width) { return Text.left(Width).rightJustified(Width, ' '); }

// One entry of a comma text: quoted when it holds a blank, a control
// character, a comma or a double quote (inner quotes doubled).
QString CommaEntry(const QString &S) {
  const bool quote = std::any_of(S.begin(), S.end(), [](QChar c) {
    return (c.unicode() >= 1 && c.unicode() <= 0x20) || c == QLatin1Char(',') || c == QLatin1Char('"');
  });
  if (!quote)
    return S;
  QString q = S;
  q.replace(QLatin1String("\""), QLatin1String("\"\""));
  return QLatin1Char('"') + q + QLatin1Char('"');
}

QString CommaText(const QStringList &L) {
  if (L.size() == 1 && L[0].isEmpty())
    return QStringLiteral("\"\"");
  QStringList out;
  for (const auto &s : L)
    out << CommaEntry(s);
  return out.join(QLatin1Char(','));
}

// General floating-point text with up to 15 significant digits, as stored
// event descriptions have it: "0.25", "1000", "1E-7".
QString GeneralFloat(double V) {
  QString s = QString::number(V, 'g', 15);
  const qsizetype e = s.indexOf(QLatin1Char('e'));
  if (e < 0)
    return s;
  QString mant = s.left(e);
  int exp = s.mid(e + 1).toInt();
  return mant + QLatin1Char('E') + QString::number(exp);
}

[[noreturn]] void AssertFail(const QString &Text) {
  throw EKvAssert(Text + QStringLiteral(" (src/uSimpleDeviceDescriptor)"));
}

} // namespace

TSimpleDeviceDescriptor::TSimpleDeviceDescriptor() {
  LoadCharMap(QStringLiteral("charmap.bin"));
  Document = NewXMLDocument();
  ResetDocument();
}

void TSimpleDeviceDescriptor::ResetDocument() {
  Document->LoadXML(QStringLiteral("<%1/>").arg(DX_ROOT));
  Root = Document->GetDocumentElement();
  Ready = false;
}

void TSimpleDeviceDescriptor::LoadCharMap(const QString &FileName) { ::LoadCharMap(FileName); }

void TSimpleDeviceDescriptor::Trace(const QString &Line) const {
  if (FOnLog)
    FOnLog(Line);
  else if (FConsoleTrace)
    std::fprintf(stderr, "%s\n", Line.toLocal8Bit().constData());
}

void TSimpleDeviceDescriptor::LoadFromBinFile(const QString &FileName) {
  Ready = false;
  QByteArray image = LoadFileBytes(FileName);
  QBuffer buffer(&image);
  buffer.open(QIODevice::ReadOnly);
  LoadFromStream(buffer);
}

void TSimpleDeviceDescriptor::LoadFromStream(QIODevice &Stream) {
  ResetDocument();
  Stream.seek(0);
  const QByteArray image = Stream.readAll();
  // Trace lines are made only for a listener: they cost more than the decoding.
  TDescriptorDecoder::TTrace trace;
  if (FOnLog || FConsoleTrace)
    trace = [this](const QString &Line) { Trace(Line); };
  TDescriptorDecoder decoder(Root, trace);
  const TDecodedHeader h = decoder.Decode(image);
  FModbusTable = h.ModbusTable;
  FUstavGroupRegs = h.UstavGroupRegs;
  FUstavGroupCount = h.UstavGroupCount;
  CoreDate = h.CoreDate;
  DescDate = h.DescDate;
  CalibrAddr = h.CalibrAddr;
  IdentHex = h.IdentHex;
  IdentCache = h.IdentCache;
  Ready = true;
}

bool TSimpleDeviceDescriptor::LoadFromFile(const QString &FileName) {
  Ready = false;
  if (!Document->Load(FileName))
    return false;
  Root = Document->GetDocumentElement();
  if (!Root)
    return false;
  CoreDate = Root->GetStrNodeDef(DxPath({DX_INTERNAL, DX_CORE_DATE}), QStringLiteral("0")).toDouble();
  DescDate = Root->GetStrNodeDef(DxPath({DX_INTERNAL, DX_DESC_DATE}), QStringLiteral("0")).toDouble();
  CalibrAddr = CheckedCast<uint16_t>(Root->GetIntNode(DxPath({DX_INTERNAL, DX_CALIBR_ADDR})));
  // Older files hold the checksum as a signed number.
  IdentCache = uint32_t(Root->GetStrNodeDef(DxPath({DX_INTERNAL, DX_IDENT_CACHE}), QStringLiteral("0")).toLongLong());
  const IXXMLNodeList groups = Root->SelectNodes(DXQ_GROUP_MREG);
  const int count = groups->GetCount();
  if (count > 8)
    throw EKvRange(QStringLiteral("setpoint group count %1 out of range 0..8").arg(count));
  std::array<uint16_t, 8> regs{};
  for (int i = 0; i < count; ++i)
    regs[size_t(i)] = CheckedCast<uint16_t>(Root->GetIntNode(QString(DXQ_GROUP_MREG_N).arg(i + 1)));
  FUstavGroupRegs = regs;
  FUstavGroupCount = count;
  Ready = true;
  return true;
}

void TSimpleDeviceDescriptor::SaveToFile(const QString &FileName) const {
  if (!Ready)
    throw EKvError("not ready");
  Document->Save(FileName);
}

uint16_t TSimpleDeviceDescriptor::GetUstavGroupReg(int Group) const {
  if (Group < 0 || Group >= 8)
    throw EKvRange(QStringLiteral("setpoint group %1 out of range 0..7").arg(Group));
  return FUstavGroupRegs[size_t(Group)];
}

void TSimpleDeviceDescriptor::LoadCalibration(QIODevice &Stream) {
  Stream.seek(0);
  const QByteArray data = Stream.readAll();
  const qsizetype count = data.size() / 16;
  if (count > MaxCalibration)
    throw EKvRange(QStringLiteral("calibration record count %1 out of range 0..32").arg(count));
  const auto *p = reinterpret_cast<const uint8_t *>(data.constData());
  auto field = [&](qsizetype Rec, int Field) {
    const qsizetype off = Rec * 16 + Field * 4 + 2;
    return uint16_t(p[off] | (p[off + 1] << 8));
  };
  for (qsizetype i = 0; i < count; ++i) {
    TCalibrationRecord &r = FCalibration[size_t(i)];
    r.mdir = field(i, 0);
    r.cdir = field(i, 1);
    r.mang = field(i, 2);
    r.cang = field(i, 3);
  }
  FCalibrationCount = int(count);
  const IXXMLNodeList measures = Root->SelectNodes(QStringLiteral("//") + DxPath({DX_MEASURE, DX_MEASURE_ITEM}));
  for (int i = 0; i < measures->GetCount(); ++i) {
    const IXXMLNode m = measures->GetItem(i);
    const int sram = m->GetIntNodeDef(DX_MODBUS_SRAM, 65535);
    if (sram == 65535)
      continue;
    int key = 65535;
    for (int k = 0; k < FCalibrationCount; ++k)
      if (FCalibration[size_t(k)].mdir == sram) {
        key = FCalibration[size_t(k)].cang;
        break;
      }
    m->SetIntNode(DX_CCADDR, key);
  }
}

void TSimpleDeviceDescriptor::LoadCalibrationValues(QIODevice &Stream) {
  Stream.seek(0);
  const QByteArray data = Stream.readAll();
  const auto *p = reinterpret_cast<const uint8_t *>(data.constData());
  for (qsizetype i = 0; i + 4 <= data.size(); i += 4) {
    const uint16_t key = uint16_t(p[i] | (p[i + 1] << 8));
    const uint16_t value = uint16_t(p[i + 2] | (p[i + 3] << 8));
    for (int k = 0; k < FCalibrationCount; ++k)
      if (FCalibration[size_t(k)].cang == key) {
        FCalibration[size_t(k)].val = value;
        break;
      }
  }
}

uint16_t TSimpleDeviceDescriptor::FindCalibrationValue(uint16_t Key) const {
  for (int k = 0; k < FCalibrationCount; ++k)
    if (FCalibration[size_t(k)].cang == Key)
      return FCalibration[size_t(k)].val;
  return 0;
}

int TSimpleDeviceDescriptor::GetCalibrationTable(std::span<uint16_t> Table) const {
  if (Table.size() != 128)
    throw EKvAssert("calibr count");
  for (int i = 0; i < FCalibrationCount; ++i) {
    const TCalibrationRecord &r = FCalibration[size_t(i)];
    Table[size_t(4 * i)] = r.mdir;
    Table[size_t(4 * i + 1)] = r.cdir;
    Table[size_t(4 * i + 2)] = r.mang;
    Table[size_t(4 * i + 3)] = r.cang;
  }
  return FCalibrationCount;
}

void TSimpleDeviceDescriptor::WriteReport(const QString &FileName) const {
  if (!Ready)
    return;
  QStringList lines;
  lines << QStringLiteral("modbus") << QString() << QStringLiteral("mreg tp ac sram eprm flash nodeName caption")
        << QStringLiteral("-------------------------------------------");
  for (int r = 0; r < 1024; ++r) {
    const IXXMLNode e = Root->SelectSingleNode(QString(DXQ_MAPPED_BY_MREG).arg(r));
    if (!e) {
      if (!lines.last().isEmpty())
        lines << QString();
      continue;
    }
    QString line = QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9")
                       .arg(Hex(r, 4), Hex(e->GetIntNodeDef(DX_RECORD_TYPE, 255), 2),
                            Hex(e->GetIntNodeDef(DX_MODBUS_ACC, 255), 2),
                            Hex(e->GetIntNodeDef(DX_MODBUS_SRAM, 65535), 4),
                            Hex(e->GetIntNodeDef(DX_MODBUS_EEPROM, 65535), 4),
                            Hex(e->GetIntNodeDef(DX_MODBUS_FLASH, 65535), 4), e->GetNodeName(),
                            QString::number(e->GetIntNodeDef(DX_BYTE_LEVEL_MASK, 255)),
                            e->GetStrNodeDef(DXQ_NAME_FIRST, QString()));
    const int words = e->GetIntNodeDef(DX_WORD_COUNT, 1);
    if (words != 1)
      line += QStringLiteral("(%1)").arg(words);
    lines << line;
  }

  lines << QString() << QStringLiteral("ustav enum strings");
  QStringList enums;
  const IXXMLNodeList ue = Root->SelectNodes(DxPath({DX_USTAV, DX_USTAV_ENUM}));
  for (int i = 0; i < ue->GetCount(); ++i) {
    const IXXMLNodeList values = ue->GetItem(i)->SelectNodes(DXQ_FIRST_VALUE_TEXTS);
    QStringList texts;
    for (int k = 0; k < values->GetCount(); ++k)
      texts << values->GetItem(k)->GetText();
    enums << CommaText(texts);
  }
  std::stable_sort(enums.begin(), enums.end(),
                   [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
  if (enums.isEmpty()) {
    lines << QStringLiteral("--");
  } else {
    lines << QString() << QStringLiteral("cnt strings") << QStringLiteral("-----------");
    for (qsizetype i = 0; i < enums.size();) {
      qsizetype j = i;
      while (j < enums.size() && enums[j] == enums[i])
        ++j;
      lines << QStringLiteral("%1 %2").arg(j - i, 3).arg(enums[i]);
      i = j;
    }
  }

  lines << QString() << QStringLiteral("discret param") << QStringLiteral("-------------");
  const IXXMLNodeList bitregs = Root->SelectNodes(QStringLiteral("//") + DX_PARAM_BITREG);
  for (int i = 0; i < bitregs->GetCount(); ++i) {
    const IXXMLNode b = bitregs->GetItem(i);
    lines << b->GetStrNode(DX_CAPTION);
    const IXXMLNodeList strings = b->SelectNodes(DX_STRING);
    for (int k = 0; k < strings->GetCount(); ++k) {
      const IXXMLNode s = strings->GetItem(k);
      lines << QStringLiteral("  ") + s->GetStrNode(DX_IDER) + QLatin1Char(' ') +
                   s->GetStrNode(DX_VALUE);
    }
  }

  lines << QString() << QStringLiteral("Калибровка") << QString::number(FCalibrationCount)
        << QStringLiteral("mdir cdir mang cang  val") << QStringLiteral("------------------------");
  for (int i = 0; i < FCalibrationCount; ++i) {
    const TCalibrationRecord &r = FCalibration[size_t(i)];
    lines << QStringLiteral("%1 %2 %3 %4 %5").arg(Hex(r.mdir, 4), Hex(r.cdir, 4), Hex(r.mang, 4), Hex(r.cang, 4), Hex(r.val, 4));
  }

  lines << QString() << QStringLiteral("Измерения") << QString()
        << QStringLiteral("mreg prim           mult sec             div calibr    caption")
        << QStringLiteral("     addr mreg  val      addr mreg  val      addr  val        ")
        << QStringLiteral("--------------------------------------------------------------");
  const IXXMLNodeList measures = Root->SelectNodes(QStringLiteral("//") + DxPath({DX_MEASURE, DX_MEASURE_ITEM}));
  for (int i = 0; i < measures->GetCount(); ++i) {
    const IXXMLNode m = measures->GetItem(i);
    auto value = [&](int Reg) { return Reg == 65535 ? QString() : QString::number(Modbus().GetWord(Reg)); };
    const int mvpReg = m->GetIntNodeDef(DX_MVP_MREG, 65535);
    const int mvsReg = m->GetIntNodeDef(DX_MVS_MREG, 65535);
    lines << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9 ")
                     .arg(Hex(m->GetIntNodeDef(DX_MREG, 0), 4),
                          Hex(m->GetIntNodeDef(DX_MVP_ADDR, 65535), 4), Hex(mvpReg, 4),
                          Cut(value(mvpReg), 4),
                          QStringLiteral("%1").arg(m->GetIntNodeDef(DX_MVP_MULT, 0), 4),
                          Hex(m->GetIntNodeDef(DX_MVS_ADDR, 65535), 4), Hex(mvsReg, 4),
                          Cut(value(mvsReg), 4),
                          QStringLiteral("%1").arg(m->GetIntNodeDef(DX_MVS_DIV, 0), 4)) +
                 QStringLiteral("%1 %2 %3").arg(Hex(m->GetIntNodeDef(DX_CCADDR, 65535), 4),
                                                Hex(m->GetIntNodeDef(DX_CCVALUE, 65535), 4),
                                                m->GetStrNode(DX_STRING));
  }

  QByteArray bytes;
  for (const auto &l : lines)
    bytes += ToWin1251(l) + "\r\n";
  SaveFileBytes(FileName, bytes);
}

void TSimpleDeviceDescriptor::SaveEventDescription(const QString &FileName) {
  const QDateTime now = QDateTime::currentDateTime();
  const QString stamp = QLocale::system().toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                        now.time().toString(QStringLiteral("hh:mm:ss"));
  const IXXMLDocument doc = NewXMLDocument();
  doc->LoadXML(QStringLiteral("<document><!-- generated at ") + stamp + QStringLiteral(" --></document>"));
  const IXXMLNode top = doc->GetDocumentElement();

  FEventGroup = top->AddChild(QStringLiteral("catg"));
  const IXXMLNodeList levels = Root->SelectNodes(DxPath({DX_EVENT, DX_EVENT_LEVEL, DX_STRING}));
  for (int i = 0; i < levels->GetCount(); ++i) {
    const IXXMLNode s = levels->GetItem(i);
    const IXXMLNode item = FEventGroup->AddChild(QStringLiteral("item"));
    item->SetStrAttr(QStringLiteral("catg-code"), s->GetStrNode(DX_IDER));
    item->SetStrAttr(QStringLiteral("name"), s->GetStrNode(DXQ_FIRST_VALUE));
  }

  FEventGroup = top->AddChild(QStringLiteral("type"));
  const IXXMLNodeList events = Root->SelectNodes(DxPath({DX_EVENT, DX_EVENT_ITEM}));
  for (int i = 0; i < events->GetCount(); ++i) {
    const IXXMLNode e = events->GetItem(i);
    const IXXMLNode item = FEventGroup->AddChild(QStringLiteral("item"));
    item->SetStrAttr(QStringLiteral("code"), e->GetStrNode(DX_BYTE_CODE));
    item->SetStrAttr(QStringLiteral("catg-code"), e->GetStrNode(DX_BYTE_LEVEL_MASK));
    item->SetStrAttr(QStringLiteral("alarm"), e->GetStrNode(DX_FAILURE_FLAG));
    item->SetStrAttr(QStringLiteral("name"), e->GetStrNode(DX_STRING));
  }

  FEventGroup = top->AddChild(QStringLiteral("measure"));
  const IXXMLNodeList em = Root->SelectNodes(DxPath({DX_EVENT, DX_EVENT_MEASURE}));
  for (int i = 0; i < em->GetCount(); ++i) {
    const int id = em->GetItem(i)->GetIntNode(DX_MEASURE_IDER);
    const IXXMLNode m = Root->SelectSingleNode(QString(DXQ_MEASURE_BY_IDER).arg(id));
    if (!m)
      AssertFail(QStringLiteral("cannot find measure by id %1").arg(id));
    const double mult = m->GetIntNodeDef(DX_MVP_MULT, 1);
    int div = m->GetIntNodeDef(DX_MVS_DIV, 1);
    if (div == 0)
      div = 1;
    auto word = [&](const char *Path, bool ZeroIsOne) {
      const int reg = m->GetIntNodeDef(QString::fromLatin1(Path), 65535);
      if (reg == 65535)
        return 1.0;
      const uint16_t w = Modbus().GetWord(reg);
      return (ZeroIsOne && w == 0) ? 1.0 : double(w);
    };
    const double p = word(DX_MVP_MREG, false);
    const double s = word(DX_MVS_MREG, true);
    const IXXMLNode item = FEventGroup->AddChild(QStringLiteral("item"));
    item->SetStrAttr(QStringLiteral("addr"), m->GetStrNode(DX_MREG));
    item->SetStrAttr(QStringLiteral("name"), m->GetStrNode(DX_STRING));
    item->SetStrAttr(QStringLiteral("a"), GeneralFloat(mult / div * p / s));
    item->SetStrAttr(QStringLiteral("b"), QStringLiteral("0"));
  }

  FEventGroup = top->AddChild(QStringLiteral("bit-reg"));
  const IXXMLNodeList eb = Root->SelectNodes(DxPath({DX_EVENT, DX_EVENT_BITREG}));
  for (int i = 0; i < eb->GetCount(); ++i) {
    const int rt = eb->GetItem(i)->GetIntNode(DX_BITREG_RECORD_TYPE);
    const IXXMLNode br =
        Root->SelectSingleNode(QString(DXQ_BITREG_BY_TYPE).arg(rt));
    if (!br)
      AssertFail(QStringLiteral("cannot find bitreg by rt %1").arg(rt));
    const int mreg = br->GetIntNode(DX_MREG);
    const IXXMLNodeList bits = br->SelectNodes(DXQ_VALUE_STRINGS);
    for (int k = 0; k < bits->GetCount(); ++k) {
      const IXXMLNode item = FEventGroup->AddChild(QStringLiteral("item"));
      item->SetIntAttr(QStringLiteral("addr"), mreg + k / 16);
      item->SetIntAttr(QStringLiteral("bit"), k % 16);
      item->SetStrAttr(QStringLiteral("name"), bits->GetItem(k)->GetStrNode(DX_VALUE));
    }
  }
  FEventGroup.reset();
  SaveXMLDocument(doc, FileName);
}
