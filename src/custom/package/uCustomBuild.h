#pragma once
// Building the custom logic into what the device runs, and the IO chains
// that write it: the whole package (descriptor image with the code, external
// FLASH image), the code and custom logic alone, or the custom logic alone;
// the register writes of setpoints and parameters; the restore of the initial
// custom logic and the logic project file. GUI-free: the page hands in what
// it holds, and the window's parts (header check, sub-file start, message
// box, progress) as callbacks.
#include "ixml.h"
#include "uCustomLogic.h"
#include "uExtFlash.h"
#include "uIOChain3.h"
#include "uLogger.h"

#include <QBuffer>
#include <QByteArray>
#include <QDate>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <vector>

class TConfigurator;
class TDeviceDescriptor;
class TModule;
class TSchemaCompile;

// The work files of the custom-logic page.
namespace CustomFiles {
inline const char *const SchemaCode = "SchemaCode.xml";
inline const char *const Dummy = "dummy.xml";
inline const char *const Internal = "internal.js";
inline const char *const Generated = "generated.bin";
inline const char *const Desc = "desc.bin";
inline const char *const Desc0 = "desc0.bin";
inline const char *const ExtFlash = "extflash.bin";
inline const char *const HeaderList = "header.lst";
inline const char *const Head = "head.bin";
inline const char *const Config = "config.xml";
inline const char *const Identification = "identification.inc";
inline const char *const Logic = "logic.xml";
inline const char *const CustomLogic0 = "custom-logic0.xml";
inline const char *const CustomLogic = "custom-logic.xml";
inline const char *const TempSchema = "temp.xml";
// The files of a logic project, in their order.
QStringList ProjectNames();
} // namespace CustomFiles

namespace CustomTexts {
inline const char *const NotLoaded = "Логика не загружена";
inline const char *const BadIdentFile = "Недопустимый файл идентификаторов";
inline const char *const ErrorsSeeLog = "Обнаружены ошибки - см. журнал";
inline const char *const ErrorsFound = "Обнаружены ошибки:\r\n";
inline const char *const Loading = "Загрузка";
inline const char *const Merging = "Слияние";
inline const char *const CheckIdent = "Проверка файла идентификаторов";
inline const char *const Compiling = "Компиляция";
inline const char *const BuildQuestion = "Внимание! Запись СКЛ изменит логическую схему прибора. Продолжить?";
inline const char *const UndoQuestion = "Подтвердите откат изменений";
inline const char *const SpecOff = "Спецкоманда off";
inline const char *const FlashWrite = "Запись вншней FLASH";
inline const char *const FlashCheck = "Проверка вншней FLASH";
inline const char *const LogicWrite = "Запись логики";
inline const char *const LogicCheck = "Проверка логики";
inline const char *const Pause = "Пауза";
inline const char *const ParamWrite = "Запись уставок и параметров";
inline const char *const SpecOn = "Спецкоманда";
inline const char *const Ready = "Готово";
inline const char *const LogicStopped = "Запись не завершена: логика прибора остановлена, повторите запись";
// A write of the custom logic alone cut once its frames began to go.
inline const char *const WriteCut = "Запись не завершена, повторите запись";
inline const char *const DescDecodeError = "Ошибка при расшифровке дескриптора";
inline const char *const CodeAddrError = "Недопустимый адрес исполняемого кода %1";
inline const char *const CodeTooLong = "Код логики (%1 байт) не помещается в область кода прибора (%2 байт)";
// The question on the values a logic write would change in the device.
inline const char *const ReadingUstavs = "Чтение уставок";
inline const char *const ParamChangedHead = "Значения уставок и параметров в логике отличаются от значений в приборе:";
inline const char *const ParamChangedUstav = "%1, группа %2: %3 -> %4";
inline const char *const ParamChangedParam = "%1: %2 -> %3";
// What a logic write writes, as its refusal box names it.
inline const char *const WritesLogic = "Внешняя логика";
inline const char *const ParamChangedChoice = "Да - записать значения логики; Нет - оставить значения прибора и записать только логику; Отмена - ничего не записывать";
// A register of the stream that the relay's own descriptor does not describe
// as the logic does: the value is refused with its name.
inline const char *const NotInRelay = "регистр %1 не описан в дескрипторе прибора";
inline const char *const OtherInRelay = "регистр %1 описан в дескрипторе прибора иначе";
} // namespace CustomTexts

// Packed date: BCD day, month, century, year in century, least significant
// byte first (5 December 2026 gives the bytes 05 12 20 26).
uint32_t DateToBcd(const QDate &Date);

// "desc.bin": the length word (the file's words, low byte first) and the
// descriptor image built around Code; "header.lst" is saved as HeaderList.
// Throws EKvRange for code of 65536 bytes or more, and every build error.
QByteArray BuildDescBin(TDeviceDescriptor &Desc, const QByteArray &Code, uint32_t CoreDate, uint32_t Today,
                        uint32_t IdentCrc, const QString &HeaderList);

// Pairs (register, value), 16-bit words low byte first: both groups of each
// custom setpoint (every setpoint when All), then, when All, every parameter
// that is not a text. Throws EKvRange naming the record for a register
// outside 0..1023 (a setpoint set without its register).
QByteArray BuildParamStream(const TDeviceDescriptor &Desc, bool All);

// One register of that stream, with what the engineer is shown of it.
struct TParamStreamEntry {
  uint16_t Reg = 0;
  uint16_t Value = 0; // the logic's
  QString Name;
  int Group = 0; // 1 or 2 for a setpoint, 0 for a parameter
  // A word of this register as the engineer reads it; keeps nothing of the
  // descriptor, which a later load may replace.
  std::function<QString(uint16_t)> Show;
  // The bits of its word the read-back after the write is compared on: a
  // bit set's named positions, every bit of any other value.
  uint16_t Compared = 0xFFFF;
};
// The stream's registers in its order; throws as BuildParamStream.
std::vector<TParamStreamEntry> ParamStreamEntries(const TDeviceDescriptor &Desc, bool All);

// The engineer's part in a register write that goes with a logic write.
struct TParamConfirmHooks {
  // The device password, asked as for every setpoint write; false: refused.
  std::function<bool()> RequestUserRights;
  TChainProgressEvent Progress;
  // Makes Chain begin with the write gate's identity check (refused when the
  // device identified is not the one answering, or none is), so that the
  // values the question shows are the identified relay's.
  std::function<void(TIOChainList3 &Chain)> CheckIdentity;
  // The identification epoch the write is prepared for (0: any), and what it
  // writes as the engineer reads it (the refusal box names it).
  uint64_t PreparedFor = 0;
  QString Writes;
  // The page the read works for: its close ends the read silently, and no
  // question is asked for a page that has gone.
  QPointer<QObject> Owner;
};
// Reads the device's value of every register of Entries, after the identity
// check; once that read has ended whole, the registers that hold the logic's
// value already are left out, the others listed in one question (Yes:
// written; No: left out, the logic is written all the same; Cancel or a
// closed box: nothing is written) and, while registers remain, the password
// asked (refused: nothing is written). Write then gets the stream to send,
// possibly empty. A failed read writes nothing. Without entries Write runs at
// once with an empty stream. Whenever the identification is not (or no
// longer, while the question or the password is open) the one of
// PreparedFor, the generator's refusal box says so and nothing is written:
// the engineer's answers apply to nothing.
void ConfirmParamStream(TIOChainGen &Gen, std::vector<TParamStreamEntry> Entries, const TParamConfirmHooks &Hooks,
                        std::function<void(const QByteArray &Stream)> Write);

// The limit report of that stream: one line (LimitLine of the write gate,
// the rule of the pages) per value outside the limits the pages give its
// register: a numeric setpoint's secondary range, compared signed when its
// measure is; a numeric parameter's range (none when both ends are 0); an
// item of an enumeration. Inverted limits refuse every value: they are a
// fault of the descriptor. "" when every value is inside.
QString ParamStreamLimitReport(const TDeviceDescriptor &Desc, bool All);
// The line of Value as a value of Ustav; "" inside its limits.
QString UstavLimitLine(const TDDUstav &Ustav, uint16_t Value);
// The limit report of Entries against the relay's run-time descriptor Root
// (the pages' rule, DescribedWriteValue): a register Root does not describe,
// or describes as another kind (a setpoint as a parameter, a text, a value
// of more than one register), gets a line naming it; a null Root describes
// none. "" when every value may go.
QString RelayLimitReport(const IXXMLNode &Root, const std::vector<TParamStreamEntry> &Entries);

// A logic write, or its question, that did not reach its end: the
// generator's box that stays (What: what was not written), which the log
// keeps once.
void TellNotWritten(TIOChainGen &Gen, const QString &What, const QString &Why);

// Frames 0 .. ceil(size / 128) - 1 of Next's local file; Next must be a file
// write step ("TIOChain3writeFile expected").
void SetDescFrames(TIOChain3 *Next);

// The code area of the device's image Desc0 (its first bytes as read back)
// for a code block of CodeBytes: the first 128-byte frame. Throws
// "Ошибка при расшифровке дескриптора", "Недопустимый адрес исполняемого
// кода XXXX" and, when the code would run past the image's end (its length
// and CRC stay those of the old image), the text CodeTooLong.
int CodeFirstFrame(const QByteArray &Desc0, qint64 CodeBytes);
// Sets the frames of Next (a file read or write step) to the code area.
void SetCodeFrames(TIOChain3 *Next, const QByteArray &Desc0, qint64 CodeBytes);

// What the page holds for a build and a save.
struct TCustomLogicState {
  QString WorkDir;
  TConfigurator *Configurator = nullptr;
  TModule *Module = nullptr;  // the base logic; a build merges the units into it
  IXXMLDocument LogicDoc;     // "logic.xml" as loaded: the base logic a build starts from
  IXXMLDocument CustomDoc;    // "custom-logic.xml"
  QList<TCustomUnit> Units;   // the unit list, in its order
  uint8_t Source = 0;         // 0 nothing loaded, 1 the device, 2 a logic project
};

// What the build needs from the connected device and the settings.
struct TCustomBuildEnv {
  uint32_t DeviceIdentCrc = 0;            // the identifier file checksum the device's descriptor carries
  QByteArray CharMap;                     // 256 display codes; empty: the built-in map
  std::vector<uint16_t> Calibration;      // four words per record
  bool SaveSchema = false;                // debug/SaveSchema
  int BlockSize = 512;                    // device/block
  bool WriteAllSetting = true;            // setup/customWriteAll
  bool ParamUstavWrite = false;           // setup/customParamUstavWrite
  int CustomSetting = 1;                  // setup/custom: where a saved project keeps the edited logic
  bool LimitCheck = true;                 // ustav/limitCheck: the register stream is checked
  // The root of the relay's run-time descriptor (null: none identified): a
  // write that leaves it in place keeps its limits too.
  IXXMLNode RelayDescriptor;
  std::function<void(const QString &)> Status;
};

enum class TCustomWrite { All, Logic };

// Whether the loaded logic may go to the connected device, as every write of
// it checks first: nothing loaded throws "Логика не загружена"; logic of a
// project throws "Недопустимый файл идентификаторов" unless the work
// folder's identifier file is the one the device's descriptor names (status
// "Проверка файла идентификаторов"). Both are shown in a box first.
void CheckLogicTarget(const TCustomLogicState &State, const TCustomBuildEnv &Env);

// Re-reads the base logic, merges the units, checks and compiles into
// "generated.bin" and fills ParamStream; returns the write to run. Throws
// "Логика не загружена", "Недопустимый файл идентификаторов" (both shown in
// a box first), "Обнаружены ошибки:" with the first 2000 characters of the
// error list (after the box "Обнаружены ошибки - см. журнал"), and the merge's
// and compiler's errors, and the limit report of the register stream when it
// is to be written (for a logic-only write, which leaves the relay's
// descriptor in place, against Env.RelayDescriptor as well). Nothing is
// sent to the device. Entries, when given, gets the stream's registers
// (ParamStreamEntries).
TCustomWrite BuildCustomLogic(TCustomLogicState &State, const TCustomBuildEnv &Env, TSchemaCompile &Compiler,
                              QStringList &Errors, QBuffer &ParamStream,
                              std::vector<TParamStreamEntry> *Entries = nullptr);

// Registers a write changed, read back into the register image.
using TRegistersShown = std::function<void(const std::vector<uint16_t> &Regs)>;

// The window's parts a write chain calls. A write's end ("Готово") is its
// report (TIOChainList3::Report), not a box: nothing a step opens holds the
// program open.
struct TCustomWriteHooks {
  TChainProgressEvent Progress;
  // After the register stream was written (whole, or cut once it began):
  // its registers, read back; the pages bound to them show the image.
  TRegistersShown RegistersWritten;
  // Appends the reads that keep the device's identity afresh, for the next
  // write's check: the write changed what the check compares.
  std::function<void(TIOChainList3 &Chain)> RenewIdentity;
  // After a write that replaced the relay's descriptor: the same unit is
  // identified anew (its map read again). Called once the chain has ended.
  std::function<void()> IdentifyAgain;
  // The heads of the custom-logic containers (SubFileHead) the relay may hold
  // for the write to go: the one the logic was read with, and one a write of
  // it sent since; empty for logic not read from the relay. The relay's is
  // read again right after the identity check: another refuses the write
  // with OtherLogic in the box, nothing sent.
  QList<QByteArray> LogicHeads;
  QString OtherLogic;
  // The head of the custom logic the write sends, as its frames begin to go
  // (Confirmed false) and once they are read back equal (true).
  std::function<void(const QByteArray &Head, bool Confirmed)> LogicWritten;
  // The identification epoch the write was prepared for (0: when its chain
  // is made), and what it writes as the engineer reads it.
  uint64_t PreparedFor = 0;
  QString Writes;
  // The page the write works for (TIOChainList3::ownedBy): closed before the
  // write has begun, the chain ends silently; a begun write runs to its end.
  QPointer<QObject> Owner;
  // The register stream's registers as the engineer reads them
  // (ParamStreamEntries); a register none of them names goes by its number.
  std::vector<TParamStreamEntry> Values;
};

// What the write after a build sends, taken when the build has ended.
struct TLogicWriteFiles {
  QByteArray Code;        // "generated.bin"
  QByteArray CustomLogic; // "custom-logic.xml" as the build saved it (logic-only write)
  QByteArray DescBin;     // "desc.bin" and
  QByteArray ExtFlash;    // "extflash.bin" (full write)
};
// The logic-only write's code and custom logic as the build left them in
// the work folder; for the full write "desc.bin" (around the code, with the
// packed dates) and "extflash.bin", built in memory from the merged module
// and the work folder's files and saved there only when both are whole.
TLogicWriteFiles BuiltWriteFiles(TCustomLogicState &State, TCustomWrite Write, const QDate &CoreDate,
                                 const QDate &Today);

// The write chains copy what they send (the files, the register stream) into
// storage of their own when they are made, the files into a folder of the
// chain's own inside WorkDir, and read the device's header and image into it:
// nothing of the page or the work folder is read once they run, and what is
// saved meanwhile goes with the next write. A write that ends short (a failed
// answer, a cut, its logic left stopped) says so in the generator's box and
// its chain's Failure(). The register stream, once written, is read back and
// compared as the pages compare (Hooks.Values name its registers): a value
// the relay did not keep is the write's report and a log line, the write
// ends short and says no "Готово"; the relay's logic is started all the same.
// The full write. WriteParams: setup/customParamUstavWrite.
// The descriptor image's first frame, which names the image (its length,
// identifier and dates), goes last: a write cut before it leaves the relay
// answering the check as before, and the repeat goes. Once that frame is
// written the relay holds another map: the write ends with IdentifyAgain.
void WriteAll(TIOChainGen &Gen, const QString &WorkDir, const TLogicWriteFiles &Files, const QByteArray &ParamStream,
              bool WriteParams, const TCustomWriteHooks &Hooks);
// The code and the custom logic, the device's image kept around the code.
// The device's image is read and its code area checked before anything is
// written: a refused code leaves the custom logic in the device as it was.
// Its end keeps the device's identity afresh too, whatever the device makes
// of its image once its logic runs again.
void WriteLogic(TIOChainGen &Gen, const QString &WorkDir, const TLogicWriteFiles &Files, const QByteArray &ParamStream,
                const TCustomWriteHooks &Hooks);
// The custom logic alone (saved first as "custom-logic.xml", the chain's
// copy taken from there), after the checks of CheckLogicTarget.
// The logic-only write and this one check the relay's custom logic
// (Hooks.LogicHeads) after the identity check.
void WriteCustomLogic(TIOChainGen &Gen, const TCustomLogicState &State, const TCustomBuildEnv &Env,
                      const TCustomWriteHooks &Hooks);

// Stores the name tables of the base logic's descriptor into the custom
// logic and saves it as Name in the work folder.
void StoreCustomLogic(const TCustomLogicState &State, const QString &Name);

// "custom-logic0.xml" over "custom-logic.xml"; the page then loads again.
void RestoreCustomLogic(const QString &WorkDir);

// Nothing without a custom logic document. Saves the custom logic ("custom-logic.xml", or "custom-logic0.xml" when
// CustomSetting is 0) and the base logic as loaded, then packs the project.
void SaveProject(const TCustomLogicState &State, const QString &FileName, int CustomSetting);
// Unpacks the project's files into Folder (all or none); the page gives a
// folder of its own and takes the files over once the logic has loaded.
void LoadProject(const QString &Folder, const QString &FileName);
