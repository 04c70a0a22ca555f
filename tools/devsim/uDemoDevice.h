#pragma once
// The demo device: a protection terminal that the simulator serves for trying
// the program without hardware (`devsim --demo`, `make run`) and that the
// identification tests talk to. It carries a binary descriptor, the external
// FLASH with its header "head.bin" and the custom logic, a calibration table,
// register values that move and a running clock.
#include "uDemoLogic.h"
#include "uDeviceContent.h"
#include "uDeviceIO.h"

#include <QByteArray>
#include <QList>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class TSimDevice;

// Where the demo device keeps what the program reads at identification.
namespace DemoDevice {
constexpr int DescriptorFileNo = FILE_DESCRIPTOR, DescriptorFrameBytes = DESCRIPTOR_FRAME_BYTES;
constexpr int FlashFileNo = FILE_EXT_FLASH, FlashFrameBytes = FLASH_FRAME_BYTES;
constexpr int TypeReg = 0, TypeWords = 5;       // device type text: "TMV31-DEMO"
constexpr int PasswdReg = 60, PasswdWords = 2;  // device password text
constexpr int ScaledReg = 50;                   // writable numeric parameter, two decimals
constexpr int NameReg = 34, NameWords = 8;      // the station name text, writable
constexpr int UstavReg1 = 100, UstavReg2 = 150; // the setpoints of groups 1 and 2
constexpr int BitsUstav = 4;                    // the six-position bit set, fifth setpoint
constexpr int MeasureReg = 200;                 // first measure register
constexpr int PrimaryCtReg = 32, SecondaryCtReg = 33;
constexpr uint16_t CalibrPtr = 0x1F10;          // FLASH word the calibration pointer points at
constexpr uint16_t CalibrValueSram = 0x0700;    // SRAM of the first calibration value
constexpr int CalibrRecords = 4;
inline const char *const TypeText = "TMV31-DEMO";
inline const char *const Password = "1234";
// The second terminal (image 2): another relay of the family on the same
// line. Its setpoint group 2 lies at UstavReg2Other (register UstavReg2 + 1
// is not in its map), it has one parameter more (its identifier listing
// differs) and its own descriptor date and type text.
constexpr int UstavReg2Other = 170;
constexpr int OtherParamReg = 52;
inline const char *const OtherTypeText = "TMV32-DEMO";
// The third terminal (image 3): a relay of another type. Register 30 is a
// rated current (a number of 1..5000, 200 A) where the demo terminal has its
// two-item mode list, the direction setpoint (register 102) names other
// items, and the bit set, the last setpoint of the demo, is not there.
constexpr int RatedCurrentReg = 30;
constexpr uint16_t RatedCurrent = 200;
inline const char *const ThirdTypeText = "TMV40-DEMO";
} // namespace DemoDevice

// The descriptor of the demo terminal: measures with primary and secondary
// scaling, inputs, relays, LEDs, virtual bits, text, enumerated and numeric
// parameters (the device type and the password among them), setpoints in two
// groups, events and oscillogram channels. Image 2 is the second terminal,
// image 3 the relay of another type.
TDeviceContent DemoTerminalContent(int Image = 1);

// Demo units: unit 2 is a second relay of the same type as unit 1, as a
// line-up of feeder relays has them: the same descriptor and firmware, its
// own factory calibration values in SRAM (the unit datum) and its own
// custom logic (DemoCustomLogicXml).
constexpr int DemoUnits = 2;
// The factory calibration value of record Record of demo unit Unit.
uint16_t DemoCalibrationValue(int Unit, int Record);

// The demo's own FLASH image: its logic package (uDemoLogic) made by
// devsim's image writer, of demo unit Unit.
QByteArray DemoExtFlashImage(int Image = 1, int Unit = 1);

// Gives Device the demo terminal (Image 1), the second one (2) or the relay
// of another type (3): the
// simulator's event ring and oscillograms, its own files 129 and 140, the
// registers of every described object, the calibration table in FLASH and
// its values in SRAM, and a running clock started now. The address is kept,
// so a device served already changes behind its link as a swapped relay does.
// Unit (1..DemoUnits) picks the unit of the type: its calibration values and
// custom logic.
void LoadDemoDevice(TSimDevice &Device, int Image = 1, int Unit = 1);
// Moves the measurements and a few bits to where they stand at Tick (one
// tick per half second when live); the values stay within their limits.
void UpdateDemoValues(TSimDevice &Device, int Tick);

// Keeps calling UpdateDemoValues from a thread of its own every PeriodMs
// until destroyed.
class TDemoLiveValues {
public:
  explicit TDemoLiveValues(TSimDevice &Device, int PeriodMs = 500);
  ~TDemoLiveValues();
  TDemoLiveValues(const TDemoLiveValues &) = delete;
  TDemoLiveValues &operator=(const TDemoLiveValues &) = delete;

private:
  std::mutex FLock;
  std::condition_variable FWake;
  bool FStop = false;
  std::thread FThread;
};
