#include "uComtradeStream.h"

#include "uDescriptorXml.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uLogger.h"
#include "uModbus.h"

#include <cmath>

namespace {

constexpr int NoRegister = 65535;

// The name as a COMTRADE field: the configuration file is comma-separated.
QString FieldText(QString Text) { return Text.remove(QLatin1Char(',')); }

} // namespace

void TComtradeStream::LoadFromBytes(const QByteArray &Bytes) {
  FBytes = Bytes;
  FPosition = 0;
}

void TComtradeStream::LoadFromFile(const QString &FileName) { LoadFromBytes(LoadFileBytes(FileName)); }

void TComtradeStream::SetPosition(qint64 Value) {
  if (Value < 0 || Value > FBytes.size())
    throw EKvRange("range check error: " + std::to_string(Value));
  FPosition = Value;
}

void TComtradeStream::FillConfig(TComtradeConfig &Config, int Reserved, int DurationMs,
                                 TDateTime FirstTime, TDateTime TriggerTime, double Factor,
                                 QChar ExcludeChar, bool Primary) {
  Q_UNUSED(Reserved);
  if (!FDescriptor)
    throw EKvAssert("FDescriptor assigned (src/uComtradeStream)");
  const TModbus &Image = FImage ? *FImage : Modbus();
  TComtradeConfigTool Tool;
  Tool.SetConfig(&Config);

  const IXXMLNodeList Measures = FDescriptor->SelectNodes(DxPath({DX_OSC, DX_OSC_MEASURE}));
  for (int i = 0; i < Measures->GetCount(); ++i) {
    const int Ider = Measures->GetItem(i)->GetIntNodeDef(DX_MEASURE_IDER);
    // 65535 is the image's "no measure": never look it up as an identifier.
    const IXXMLNode Item =
        Ider == NoRegister
            ? nullptr
            : FDescriptor->SelectSingleNode(QString(DXQ_MEASURE_BY_IDER).arg(Ider));
    if (!Item)
      throw EKvFormat(QStringLiteral("invalid measure-ider %1").arg(Ider));
    TComtradeAnalogChannel Ch;
    Ch.An = i + 1;
    Ch.Id = FieldText(Item->GetStrNodeDef(DX_STRING, QStringLiteral("AC %1").arg(i)));
    const int Mult = Item->GetIntNodeDef(DX_MVP_MULT, 1);
    int Div = Item->GetIntNodeDef(DX_MVS_DIV, 1);
    if (Div == 0) {
      Logger().Error(QStringLiteral("oscillogram channel %1 \"%2\": mvs-div 0 taken as 1").arg(i).arg(Ch.Id));
      Div = 1;
    }
    // The transformer ratio goes into the file whichever values are chosen.
    const int PReg = Item->GetIntNodeDef(DX_MVP_MREG, NoRegister);
    const int SReg = Item->GetIntNodeDef(DX_MVS_MREG, NoRegister);
    const double P = PReg == NoRegister ? 1.0 : Image.GetWord(PReg);
    double S = SReg == NoRegister ? 1.0 : Image.GetWord(SReg);
    if (S == 0.0) {
      if (Primary)
        Logger().Error(QStringLiteral("oscillogram channel %1 \"%2\": secondary value 0 taken as 1")
                           .arg(i).arg(Ch.Id));
      S = 1.0;
    }
    Ch.Primary = P * Mult;
    Ch.Secondary = S;
    Ch.IsPrimary = Primary;
    if (Primary)
      Ch.A = (1.0 / Div) * P / S * Mult * Factor;
    else
      Ch.A = (1.0 / Div) * Factor;
    // The device's calibration angle, in degrees; 10 degrees is one sample at
    // 1800 samples per second and 50 Hz.
    int Angle = Item->GetIntNodeDef(DX_CCVALUE, 0);
    if (Angle > 360)
      Angle = 0;
    else if (Angle > 180)
      Angle -= 360;
    Ch.CalibrationShift = Angle * (-1.0) / 10.0;
    Tool.AddAnalogChannel(Ch);
  }

  FExclude.clear();
  int Base = 0;
  const IXXMLNodeList BitRegs = FDescriptor->SelectNodes(DxPath({DX_OSC, DX_OSC_BITREG}));
  for (int r = 0; r < BitRegs->GetCount(); ++r) {
    const int Type = BitRegs->GetItem(r)->GetIntNodeDef(DX_BITREG_RECORD_TYPE);
    const IXXMLNode Reg = FDescriptor->SelectSingleNode(
        QString(DXQ_BITREG_BY_TYPE).arg(Type));
    if (!Reg)
      throw EKvFormat(QStringLiteral("no bitreg found for record-type %1").arg(Type));
    const IXXMLNodeList Bits = Reg->SelectNodes(DX_STRING);
    int Added = 0;
    for (int j = 0; j < Bits->GetCount(); ++j) {
      // Channel numbers stay consecutive across excluded bits.
      const int Number = Base + Added;
      const QString Name = FieldText(
          Bits->GetItem(j)->GetStrNodeDef(DX_VALUE, QStringLiteral("DC %1").arg(Number)));
      const QChar First = Name.isEmpty() ? QLatin1Char('-') : Name.front();
      const bool Excluded = First == ExcludeChar;
      if (!Excluded) {
        TComtradeDigitalChannel Ch;
        Ch.Dn = Number + 1;
        Ch.Id = Name;
        Tool.AddDigitalChannel(Ch);
        ++Added;
      }
      FExclude.push_back(Excluded);
    }
    // Each bit register starts on a word of its own in the record.
    while (FExclude.size() % 16 != 0)
      FExclude.push_back(true);
    Base += Added;
  }

  Tool.SetRateCount(1);
  Tool.SetRateSamples(0, 1);
  const double Last = std::nearbyint(DurationMs / 1000.0 * SampleRate - 1);
  Tool.SetRateEndSample(0, CheckedCast<int>(qint64(Last)));
  Tool.SetFirstTime(FirstTime);
  Tool.SetTriggerTime(TriggerTime);
}

// Reads the block's discrete words once and appends them as Rows equal rows:
// the device samples its bits once per block. False (nothing read) when the
// record ends before the words.
bool TComtradeStream::ReadDiscreteRows(TComtradeDataTool &Tool, int Rows) {
  const qint64 Bytes = qint64(FExclude.size() / 16) * 2;
  if (FPosition + Bytes > FBytes.size())
    return false;
  const auto *P = reinterpret_cast<const uint8_t *>(FBytes.constData() + FPosition);
  std::vector<uint8_t> Row;
  Row.reserve(FExclude.size());
  uint16_t Word = 0;
  for (size_t k = 0; k < FExclude.size(); ++k) {
    if (k % 16 == 0) {
      Word = uint16_t((P[0] << 8) | P[1]);
      P += 2;
    }
    if (!FExclude[k])
      Row.push_back(Word & 1);
    Word >>= 1;
  }
  for (int r = 0; r < Rows; ++r)
    for (uint8_t V : Row)
      Tool.AddDigital(V);
  FPosition += Bytes;
  return true;
}

void TComtradeStream::FillData(TComtradeData &Data, bool CalcSpread, QChar ExcludeChar) {
  Q_UNUSED(ExcludeChar);
  TComtradeConfig *Config = Data.Config();
  if (!Config)
    throw EKvAssert("FComtradeConfig assigned (src/uComtradeStream)");
  TComtradeDataTool Tool;
  Tool.SetData(&Data);
  const int Last = Config->Rate(0).LastSample;
  const int Analog = Config->AnalogCount();
  const qint64 RowBytes = 2 * qint64(Analog);
  std::vector<int> Min(Analog), Max(Analog);

  int Sample = 0;
  bool Ended = false;
  while (FPosition < FBytes.size() && Sample <= Last) {
    // A row cut by the end of the record is not a sample.
    if (FPosition + RowBytes > FBytes.size()) {
      Ended = true;
      break;
    }
    // The standard numbers samples from 1.
    Tool.AddSampleNumber(Sample + 1);
    Tool.AddTimeStamp(int(std::nearbyint(Sample * 1.0e6 / BlockSamples / 100)));
    const auto *P = reinterpret_cast<const uint8_t *>(FBytes.constData() + FPosition);
    for (int c = 0; c < Analog; ++c, P += 2) {
      const int V = int16_t(uint16_t(P[0] | (P[1] << 8)));
      Tool.AddRaw(V);
      if (Sample == 0 || V < Min[c])
        Min[c] = V;
      if (Sample == 0 || V > Max[c])
        Max[c] = V;
    }
    FPosition += RowBytes;
    ++Sample;
    if (Sample % BlockSamples == 0 && !ReadDiscreteRows(Tool, BlockSamples)) {
      Ended = true;
      break;
    }
  }
  // The planned length ended inside a block the record holds whole: its
  // discrete words still belong to the samples read.
  const int InBlock = Sample % BlockSamples;
  if (!Ended && InBlock != 0 && Sample > Last) {
    const qint64 Skip = RowBytes * (BlockSamples - InBlock);
    if (FPosition + Skip <= FBytes.size()) {
      const qint64 Keep = FPosition;
      FPosition += Skip;
      if (!ReadDiscreteRows(Tool, InBlock))
        FPosition = Keep;
    }
  }

  for (int c = 0; c < Analog && Sample > 0; ++c) {
    Tool.SetAnalogMin(c, Min[c]);
    Tool.SetAnalogMax(c, Max[c]);
  }
  Tool.SetRate(0, TComtradeRate{double(SampleRate), Sample - 1});

  Logger().Debug(QStringLiteral("CalculateAnalogOffsets"));
  Tool.CalculateAnalogOffsets();
  Logger().Debug(QStringLiteral("ApplyCalibration"));
  Tool.ApplyCalibration();
  if (CalcSpread) {
    Logger().Debug(QStringLiteral("calcSpread ()"));
    Tool.CalculateSpread();
  }
}
