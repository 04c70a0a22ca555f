#include "uDemoDevice.h"

#include "crc.h"
#include "uCharMap.h"
#include "uDemoLogic.h"
#include "uDevSimFiles.h"
#include "uErrors.h"
#include "uSimDevice.h"
#include "uTextCodec.h"

#include <QDateTime>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>

using namespace DemoDevice;

namespace {

// Registers of the objects the demo serves beyond the measures (taken over
// from the generic relay of the content library).
constexpr int InputsReg = 20, RelaysReg = 21, LedsReg = 22, VirtInReg = 23, VirtOutReg = 24;
constexpr int ModeReg = 30, AddrReg = 31, DateReg = 44, StatusReg = 48;
constexpr int Group1Reg = UstavReg1, Group2Reg = UstavReg2;
constexpr int MeasureCount = 11;

// A text as the device keeps it in registers: display codes, two per
// register, high byte first, zero-padded.
std::vector<uint16_t> TextWords(const QString &Text, int Words) {
  const QByteArray codes = EncodeDisplayString(Text, BuiltInCharMap());
  std::vector<uint16_t> w(size_t(Words), 0);
  for (int i = 0; i < Words * 2 && i < codes.size(); ++i)
    w[size_t(i / 2)] |= uint16_t(uint8_t(codes[i]) << (i % 2 ? 0 : 8));
  return w;
}

// The raw value of measure Index at Tick: three-phase currents and voltages
// that breathe a little, a frequency near 50 Hz, a slow temperature.
uint16_t MeasureValue(int Index, int Tick) {
  const double t = Tick * 0.5;
  const double swing = std::sin(t / 3.0);
  const double phase = 2.0 * std::numbers::pi / 3.0;
  switch (Index) {
  case 0: case 1: case 2: // Ia, Ib, Ic: secondary amperes x 1000 of a 5 A CT
    return uint16_t(std::lround(3200 + 250 * swing + 40 * std::sin(t + Index * phase)));
  case 3: // 3I0
    return uint16_t(std::lround(60 + 30 * std::fabs(swing)));
  case 4: case 5: case 6: // Ua, Ub, Uc: volts x 10
    return uint16_t(std::lround(577 + 6 * std::sin(t / 5.0 + Index * phase)));
  case 7: // 3U0
    return uint16_t(std::lround(4 + 2 * std::fabs(swing)));
  case 8: // F: hertz x 100
    return uint16_t(std::lround(5000 + 3 * std::sin(t / 7.0)));
  case 9: // temperature, signed
    return uint16_t(int16_t(std::lround(31 + 2 * std::sin(t / 40.0))));
  default: // breaker operations, stored with the offset 1000
    return uint16_t(1000 + 17 + Tick / 120);
  }
}

} // namespace

TDeviceContent DemoTerminalContent(int Image) {
  TDeviceContent c = DemoDeviceContent();
  c.CoreDate = QDate(2024, 5, 14);
  c.DescDate = QDate(2024, 6, 3);
  // The first registers carry the device type, as the program shows it.
  for (TDcMeasure &m : c.Measures)
    m.Reg += MeasureReg;
  TDcParam type;
  type.Type = 36, type.Reg = TypeReg, type.Access = 1, type.Sram = 0x0320;
  type.Length = TypeWords, type.ExtraRegs = TypeWords - 1;
  type.Short = QStringLiteral("Тип"), type.Full = QStringLiteral("Тип устройства");
  TDcParam passwd;
  passwd.Type = 36, passwd.Reg = PasswdReg, passwd.Access = 1, passwd.Sram = 0x0340;
  passwd.Length = PasswdWords, passwd.PasswdChar = '*', passwd.ExtraRegs = PasswdWords - 1;
  passwd.Short = QStringLiteral("Пароль"), passwd.Full = QStringLiteral("Пароль доступа");
  TDcParam scaled;
  scaled.Type = 34, scaled.Reg = ScaledReg, scaled.Sram = 0x0348, scaled.Koef = 2;
  scaled.Full = QStringLiteral("Время возврата, с");
  // A bit set of six named positions, in both groups after the other setpoints.
  TDcSetpoint starts;
  starts.Type = 53, starts.Level = 1;
  starts.Full = QStringLiteral("Пуск МТЗ-1 от");
  starts.ValueFull = {QStringLiteral("Ia"), QStringLiteral("Ib"), QStringLiteral("Ic"), QStringLiteral("3I0"),
                      QStringLiteral("ЗМН"), QStringLiteral("Внешний")};
  c.Setpoints.push_back(starts);
  // Group 2 still follows group 1 in EEPROM, as the address generator lays them out.
  c.SetpointGroups[1].Eeprom = uint16_t(c.SetpointGroups[0].Eeprom + 2 * c.Setpoints.size());
  c.Params.insert(c.Params.begin(), type);
  // Plain parameters come before the primary-value ones, as the program builds them.
  const auto firstScaled = std::find_if(c.Params.begin(), c.Params.end(), [](const TDcParam &P) { return P.Type == 38; });
  const auto at = c.Params.insert(firstScaled, scaled);
  c.Params.insert(at + 1, passwd);
  if (Image == 2) {
    c.DescDate = QDate(2025, 2, 17);
    c.SetpointGroups[1].Reg = UstavReg2Other;
    TDcParam reclose;
    reclose.Type = 34, reclose.Reg = OtherParamReg, reclose.Sram = 0x0350, reclose.Koef = 1;
    reclose.Max = 600;
    reclose.Full = QStringLiteral("Время АПВ, с");
    c.Params.insert(std::find_if(c.Params.begin(), c.Params.end(), [](const TDcParam &P) { return P.Type == 38; }),
                    reclose);
  }
  if (Image == 3) {
    c.DescDate = QDate(2025, 9, 1);
    for (TDcParam &p : c.Params)
      if (p.Reg == RatedCurrentReg) {
        p.Type = 34, p.Min = 1, p.Max = 5000, p.Koef = 0;
        p.Short = QStringLiteral("Iном"), p.Full = QStringLiteral("Номинальный ток, А");
        p.ValueShort.clear(), p.ValueFull.clear();
      }
    c.Setpoints[2].ValueFull = {QStringLiteral("откл"), QStringLiteral("вкл")};
    c.Setpoints.pop_back();
    c.SetpointGroups[1].Eeprom = uint16_t(c.SetpointGroups[0].Eeprom + 2 * c.Setpoints.size());
  }
  // The image names the identifier listing it was built with.
  c.IdentCrc = DesignIdentificationCrc(c);
  return c;
}

uint16_t DemoCalibrationValue(int Unit, int Record) {
  // Units of one type differ by a few counts in each factory coefficient.
  return uint16_t(1000 + 7 * Record + 3 * (Unit - 1) * (Record + 1));
}

QByteArray DemoExtFlashImage(int Image, int Unit) {
  return BuildExtFlash(DemoLogicPackage(DemoTerminalContent(Image), Unit));
}

void LoadDemoDevice(TSimDevice &Device, int Image, int Unit) {
  const TDeviceContent content = DemoTerminalContent(Image);
  // The event ring and the oscillograms of the simulator's demo files; the
  // descriptor and the external FLASH are the terminal's own.
  AddDemoFiles(Device);
  Device.SetFile(DescriptorFileNo, BuildDeviceImage(content).Bytes, DescriptorFrameBytes);
  Device.SetFile(FlashFileNo, DemoExtFlashImage(Image, Unit), FlashFrameBytes);

  const TSimArea h = TSimArea::Holding;
  Device.SetRegisters(h, TypeReg,
                      TextWords(QString::fromLatin1(Image == 2   ? OtherTypeText
                                                    : Image == 3 ? ThirdTypeText
                                                                 : TypeText),
                                TypeWords));
  Device.SetRegisters(h, PasswdReg, TextWords(QString::fromLatin1(Password), PasswdWords));
  Device.SetRegisters(h, ModeReg, {1, 1, 600, 5});
  Device.SetRegisters(h, NameReg, TextWords(QStringLiteral("ВВОД 10 КВ"), NameWords));
  Device.SetRegisters(h, DateReg, {0, 0, 0, 0});
  Device.SetRegister(h, StatusReg, 0);
  Device.SetRegister(h, ScaledReg, 1234);
  // A text parameter is written with its first character in the low byte of
  // each word and read with it in the high byte: the terminal exchanges the
  // two bytes of a written text word, so a typed text reads back as typed.
  std::vector<std::pair<int, int>> texts;
  for (const TDcParam &p : content.Params)
    if (p.Type == 36)
      texts.emplace_back(p.Reg, p.Reg + std::max<int>(p.Length, 1));
  Device.SetRegisterWriteHook([texts](uint16_t Reg, uint16_t Value) {
    for (const auto &[first, end] : texts)
      if (Reg >= first && Reg < end)
        return uint16_t(Value << 8 | Value >> 8);
    return Value;
  });
  Device.SetRegisters(h, VirtInReg, {0x0000, 0x0000, 0x0000});
  // Setpoints of both groups: current, time, direction, voltage, start bits.
  if (Image == 3) {
    Device.SetRegister(h, RatedCurrentReg, RatedCurrent);
    Device.SetRegisters(h, Group1Reg, {4800, 500, 1, 7000});
    Device.SetRegisters(h, Group2Reg, {6000, 300, 0, 6500});
  } else {
    Device.SetRegisters(h, Group1Reg, {4800, 500, 1, 7000, 37});
    Device.SetRegisters(h, Image == 2 ? UstavReg2Other : Group2Reg, {6000, 300, 0, 6500, 5});
  }
  if (Image == 2)
    Device.SetRegister(h, OtherParamReg, 150);

  // The calibration table: a pointer at the descriptor's calibration address,
  // the record count, then per record mdir, cdir, mang and cang (the SRAM of
  // the record's current value).
  const TSimArea f = TSimArea::Flash;
  Device.SetRegister(f, content.CalibrAddr, CalibrPtr);
  Device.SetRegister(f, CalibrPtr, CalibrRecords);
  for (int i = 0; i < CalibrRecords; ++i) {
    const int m = i < 3 ? i : 4; // Ia, Ib, Ic, Ua
    const uint16_t valueSram = uint16_t(CalibrValueSram + i);
    Device.SetRegisters(f, uint16_t(CalibrPtr + 1 + 4 * i),
                        {content.Measures[size_t(m)].Sram, uint16_t(0x0800 + i), uint16_t(0x0810 + i), valueSram});
    Device.SetRegister(TSimArea::Sram, valueSram, DemoCalibrationValue(Unit, i));
  }

  Device.SetClock(QDateTime::currentDateTime(), true);
  UpdateDemoValues(Device, 0);
}

void UpdateDemoValues(TSimDevice &Device, int Tick) {
  const TDeviceContent &content = []() -> const TDeviceContent & {
    static const TDeviceContent c = DemoTerminalContent();
    return c;
  }();
  for (int i = 0; i < MeasureCount; ++i) {
    const uint16_t v = MeasureValue(i, Tick);
    Device.SetRegister(TSimArea::Holding, uint16_t(MeasureReg + i), v);
    Device.SetRegister(TSimArea::Sram, content.Measures[size_t(i)].Sram, v);
  }
  // Breaker closed (input 1), the carriage in service (input 3), a blinking
  // "in operation" relay and LED, and a flicker on input 8.
  const uint16_t blink = uint16_t((Tick / 2) % 2);
  Device.SetRegister(TSimArea::Holding, InputsReg, uint16_t(0x0005 | ((Tick / 5) % 2) << 7));
  Device.SetRegister(TSimArea::Holding, RelaysReg, uint16_t(0x0010 | blink << 7));
  Device.SetRegister(TSimArea::Holding, LedsReg, uint16_t(0x0001 | blink << 1));
  Device.SetRegister(TSimArea::Holding, VirtOutReg, uint16_t(blink << 3));
}

TDemoLiveValues::TDemoLiveValues(TSimDevice &Device, int PeriodMs) {
  FThread = std::thread([this, &Device, PeriodMs] {
    int tick = 0;
    std::unique_lock lock(FLock);
    while (!FWake.wait_for(lock, std::chrono::milliseconds(PeriodMs), [this] { return FStop; })) {
      lock.unlock();
      UpdateDemoValues(Device, ++tick);
      lock.lock();
    }
  });
}

TDemoLiveValues::~TDemoLiveValues() {
  {
    std::lock_guard lock(FLock);
    FStop = true;
  }
  FWake.notify_all();
  FThread.join();
}
