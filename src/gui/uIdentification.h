#pragma once
// Identification of the connected device: the IO-chain script that finds the
// device, reads its descriptor (or takes it from the cache), the measure
// factors, the calibration table and the register image, hands the
// descriptor to every page and reads the names of the custom logic from the
// external FLASH; and the re-read of the device password for the password
// dialog. It works on the main window through the window's public members.
// Main thread only.
#include "ixml.h"
#include "uExtFlash.h"
#include "oi.h"
#include "uUnitIdentity.h"

#include <QBuffer>
#include <QByteArray>
#include <QIODevice>
#include <QList>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

class TAppIniFile;
class TIOChain3;
class TIOChainList3;
class TMainForm;
class TUnitPickerForm;

// What one descriptor script reads into and passes from step to step: kept
// by the script's chain.
struct TScriptScratch {
  uint16_t CalibrAddr = 0xFFFF; // from the descriptor, once loaded
  uint16_t CalibrPtr = 0;
  uint8_t CalibrCountByte = 0;
  int CalibrItems = 0;
  QList<int> CalibrGate, SramGate; // non-empty: there is something to read
  // The unit datum as read: the SRAM request of the calibration values and
  // the (address, value) pairs of its answer; both empty without values.
  QByteArray DatumRequest, Datum;
};

// Names of the files the script reads into the work folder.
namespace IdentFiles {
inline const char *const DescriptorBin = "DeviceDescriptor.bin";
inline const char *const DescriptorXml = "DeviceDescriptor.xml";
inline const char *const FlashHead = "head.bin";
inline const char *const CustomLogic = "custom-logic.xml";
inline const char *const CacheFolder = "cache";
// What the identity check reads of the descriptor: its first frame.
inline const char *const CheckDescriptor = "check-desc.bin";
} // namespace IdentFiles

// Status texts of the script.
namespace IdentTexts {
inline const char *const ReadDescriptor = "Чтение дескриптора";
inline const char *const ReadFlash = "Чтение внешней FLASH";
inline const char *const Ready = "Готово";
inline const char *const NoAnswer = "Нет ответа от устройства";
inline const char *const FlashCrcError = FlashCrcErrorText;
inline const char *const FlashFormatError = FlashFormatErrorText;
inline const char *const CalibrationCountError = "Ошибка калибровки: недопустимое число записей ";
inline const char *const DescriptorLoadError = "Ошибка загрузки дескриптора ";
// The relay's descriptor image does not read as one: a write of the logic
// was cut in its frames. The computer that began it keeps the old image.
inline const char *const DescriptorDamaged =
    "Ошибка: дескриптор прибора не читается (запись логики не завершена) - повторите запись проекта логики с "
    "компьютера, с которого она начиналась";
inline const char *const PasswdRangeError = "Ошибка: регистры пароля вне диапазона 0..1023";
inline const char *const DeviceChanged = "Устройство сменилось: идентификация нового";
inline const char *const WriteUnchecked = "Запись не выполнена: после сбоя связи устройство еще не проверено";
// The check's reads failed without naming another device (busy, garbled,
// a device failure): the failure's own text follows. The first refuses a
// write, the second is the log's word for the timer's check, which wrote nothing.
inline const char *const WriteUnconfirmed = "Запись не выполнена: устройство не подтверждено";
inline const char *const CheckUnconfirmed = "Проверка устройства не выполнена: устройство не подтверждено";
inline const char *const WriteNoDevice = "Запись не выполнена: устройство не идентифицировано";
inline const char *const WriteReconnected =
    "Запись прервана: соединение установлено заново, устройство не проверено";
} // namespace IdentTexts

// Rules of the script that need no window (tested on their own).

// The register numbers (16-bit little-endian) of the measures' primary and
// secondary scale parameters, each distinct number once, in document order.
// Throws EKvRange for a number outside 0..65535.
QByteArray MeasureFactorRequest(const IXXMLNode &Root);
// The SRAM request of the calibration values: from each 16-byte record of
// Source, the word at offset 14 when it is not $FFFF and differs from the
// word of the record before it; a trailing partial record is skipped.
QByteArray CalibrationSramRequest(const QByteArray &Source);
// Throws EKvError "Ошибка калибровки: недопустимое число записей N" for a
// count above the descriptor's 32 records; the count of FLASH words to read.
int CalibrationItemCount(int Count);
// Copies the custom-logic names of the document Logic into the descriptor:
// the k-th item of dd-di, dd-do and dd-le names bit k of the inputs, relays
// and LEDs; dd-ustav items name the setpoint of their `ider`.
void ApplyCustomLogicNames(const IXXMLNode &Root, const IXXMLNode &Logic);
// Whether a failed read of the identity check (FailureText as the status
// shows it, Sign the sign its answer carried) says another device answers:
// exception 01, 02 or 03, or an answer from another unit or function.
bool NamesAnotherDevice(const QString &FailureText, std::optional<TForeignSign> Sign);
// True when registers Reg .. Reg + Count - 1 all lie in 0..1023 (Count > 0).
bool IsPasswdRangeValid(int Reg, int Count);

class TIdentification {
public:
  TIdentification(TMainForm &Form, const TAppIniFile &Ini);
  ~TIdentification();
  TIdentification(const TIdentification &) = delete;
  TIdentification &operator=(const TIdentification &) = delete;

  // "Опрос" (also the poll timer): poll or scan, then the descriptor script.
  void aMonitorPollExecute();
  // A number chosen in the device-number box: the descriptor script for it.
  void cbDevNoChange();
  // A network target: Form is shown modally; after OK every running chain is
  // aborted, the link goes to Modbus TCP at the chosen host and port (the
  // port and baud rate menus and the number box disabled), and the descriptor
  // script runs for the chosen unit, without dump files.
  void ConnectToUnit(TUnitPickerForm &Form);

  // The password dialog's validator: re-reads the password registers; the
  // answer goes to the dialog as its expected password.
  void PasswordReread();

  // Used by the custom-logic page as well.
  void CheckFlashHeader();
  void SetFlashSubFileStart(TIOChain3 *Step, const QList<int> &Args);
  void ApplyCustomLogicNames();

  uint8_t DeviceAddr() const { return FDeviceAddr; }
  const QList<int> &FoundAddrs() const { return FFoundAddrs; }
  // A unit was chosen with a network picker and no poll has run since: the
  // device-number box lists nothing that belongs to this link.
  bool IsUnitChosen() const { return FUnitChosen; }
  uint16_t PasswdReg() const { return FPasswdReg; }
  // The unit identified last (empty while none is): the route and address it
  // answers at, its descriptor frame and its own datum (the calibration
  // values read from SRAM). Anything built for a relay keeps this and is
  // compared with the unit answering before it is written.
  const TUnitIdentity &Unit() const { return FUnit; }
  uint16_t PasswdWordCount() const { return FPasswdWordCount; }

  // The identity check. A chain that writes begins with it, right before
  // its first write (GateWrite); the timer runs it on its own after a link
  // failure and after a sign that another device answers (ForeignSign). It
  // reads the descriptor's first frame (128 bytes) and the unit datum (the
  // calibration values' SRAM words, a few bytes) and compares them, with the
  // address asked, with Unit(): the same unit goes on with nothing else
  // read; a unit that answers otherwise is unidentified and identified at
  // the same address. A write made for a unit (TIOChainList3::MadeFor) is
  // refused unless that unit answers. The FLASH header is never read.
  // After a link failure, or a check whose reads failed without naming
  // another device, no write goes until the timer's check has passed.
  void LinkFailed();
  bool IsIdentityUnconfirmed() const;
  // A sign of another device came with an answer: the timer checks at its
  // next tick. A sign already
  // cleared by a passing check is not counted again until the
  // identification changes or the link fails; a reconnect always counts,
  // and ends a write chain whose check has passed.
  void ForeignSign(TForeignSign Sign);
  bool IsIdentitySuspect() const;
  // The timer's check, on an idle link.
  void CheckIdentity();
  // The write gate of the chain generator, asked before a chain that writes starts.
  void GateWrite(TIOChainList3 &Chain);
  // The read gate, asked as a chain marked checkedRead starts: the same
  // check put before its first step (for a poll only when the last passing
  // check, or the identification, is its max age old or older, or a sign or
  // a link failure waits for one). Another relay refuses the read and is
  // identified; a check that fails otherwise fails the read.
  void GateRead(TIOChainList3 &Chain);
  // Ms since the identity was last seen to hold (identified, or a check
  // passed); the clock is steady time in ms, replaceable for tests.
  qint64 SinceConfirmedMs() const { return FClock() - FConfirmedAtMs; }
  void SetClock(std::function<qint64()> Clock) { FClock = std::move(Clock); }
  // Appends to Chain the reads of what the check compares and keeps them as
  // the unit's: for a chain whose own write changed the device's descriptor
  // (a logic write), so that the next write's check passes.
  void RenewIdentity(TIOChainList3 &Chain);
  // The program's own write of the custom logic: the unit identified keeps
  // its identity with the logic of that container head (where it holds one).
  void KeepLogicDigest(const QByteArray &Head);
  // The program's own write replaced the relay's descriptor: the same unit
  // is identified anew at its address, its map read again (by the timer
  // while the link is busy).
  void IdentifySameUnit();
  // Another device answered the check and is not identified yet.
  bool IsIdentifyAgainPending() const { return FIdentifyAgain; }
  // The descriptor script for the address the changed device answered at.
  void IdentifyAgain();

private:
  void Prepare();
  // No device: descriptor not ready, device strip, pages and register image cleared.
  void Unidentify();
  // Runs an identification script; one that does not reach its end unidentifies.
  void RunScript(TIOChainList3 &Chain);
  // The steps go into Chain; what they read into is kept by Store (Chain
  // itself, or the chain it is a branch of), Addrs with it.
  void BuildDescriptorScript(TIOChainList3 &Chain, TIOChainList3 &Store, const QList<int> &Addrs, bool Dumps,
                             bool FillList);
  void Run(TIOChainList3 &Chain);
  // Appends to Steps the reads of the check and the comparison; a device
  // that differs refuses Owner, the chain the steps run in (with the box
  // when it is a write).
  void AppendIdentityCheck(TIOChainList3 &Steps, TIOChainList3 &Owner, bool Write);
  // Puts the check before Chain's step to come (Precede); a check that fails
  // fails Chain as a write (Write) or as a read.
  void PutCheckBefore(TIOChainList3 &Chain, bool Write);
  // The error handler of a check's reads: an exception 01..03 or an answer
  // from another unit or function means another device; any other failure
  // leaves the device unconfirmed (a write refused, nothing dropped).
  void CheckFailed(TIOChainList3 &Owner, bool Write);
  void DeviceChanged(TIOChainList3 &Owner, bool Write);
  // The identity is (again) what identification kept: signs start afresh.
  void ForgetSigns();

  void FillDeviceList();
  void DecodeDescriptorStep();
  void DescriptorReadyStep();
  void MeasureRegValues(QIODevice *Stream);
  void CalibrationCountStep(TScriptScratch &Scratch, QBuffer &Answer);
  void CalibrationStep(QIODevice *Stream);
  void CalibrationValuesStep(QIODevice *Stream);
  void RegListStep(QIODevice *Stream);
  void RegValuesStep(QIODevice *Stream);
  void DumpStream(int N, QBuffer &Stream);

  TMainForm &FForm;
  const TAppIniFile &FIni;
  uint8_t FDeviceAddr = 0;
  // Filled by the poll or scan step as answers come (FoundAddrs): it lives
  // as long as the main window, which owns every identification chain.
  QList<int> FFoundAddrs;
  QList<int> FChosenAddr{0};
  QByteArray FFlashHead; // the FLASH header as identification last read it
  int FCalibrCount = 0;
  uint16_t FPasswdReg = 0xFFFF, FPasswdWordCount = 0xFFFF;
  bool FUnitChosen = false;
  bool FScriptDone = false; // the running script reached its last step
  TUnitIdentity FUnit;
  QByteArray FDatumRequest; // the SRAM words of FUnit.UnitDatum, as the check asks them
  bool FUnconfirmed = false;  // a link failure or a failed check since the identity was last confirmed
  QString FUnconfirmedWhy;    // a failed check's refusal text; empty after a link failure
  uint8_t FPendingSigns = 0;  // bits of sign kinds the next check answers
  uint8_t FClearedSigns = 0;  // bits of sign kinds a passing check has answered
  std::optional<TForeignSign> FLastSign; // of the answer last delivered, for a failing check
  uint64_t FCheckedWrite = 0; // the serial of the write chain whose check passed
  bool FIdentifyAgain = false;
  std::function<qint64()> FClock;
  qint64 FConfirmedAtMs = 0;
  QList<int> FKeptAddr{0};    // the address the changed device answered at
};
