#include "uSimDevice.h"

#include "uErrors.h"

#include <algorithm>

namespace {

uint16_t WordAt(const QByteArray &Pdu, int Index) {
  return uint16_t((uint8_t(Pdu[Index]) << 8) | uint8_t(Pdu[Index + 1]));
}

// Whether a register read or write takes in register Reg (a write one
// register, a read its count from its first).
bool TakesInRegister(const QByteArray &Pdu, int Reg) {
  if (Pdu.size() != 5)
    return false;
  const int first = WordAt(Pdu, 1);
  switch (uint8_t(Pdu[0])) {
  case SIM_FN_WRITE_HOLDING:
  case SIM_FN_WRITE_SRAM:
    return Reg == first;
  case SIM_FN_READ_HOLDING:
  case SIM_FN_READ_SRAM:
  case SIM_FN_READ_FLASH:
  case SIM_FN_READ_AREA4:
    return Reg >= first && Reg < first + WordAt(Pdu, 3);
  default:
    return false;
  }
}

void AppendWord(QByteArray &Out, uint16_t Value) {
  Out.append(char(Value >> 8));
  Out.append(char(Value & 0xFF));
}

// The device keeps wall-clock time without a zone; UTC stands for "no zone"
// so that no daylight-saving rule shifts it.
QDateTime NaiveNow() {
  const QDateTime local = QDateTime::currentDateTime();
  return QDateTime(local.date(), local.time(), Qt::UTC);
}

} // namespace

QByteArray SimExceptionPdu(uint8_t Function, uint8_t Code) {
  QByteArray out;
  out.append(char(Function | 0x80));
  out.append(char(Code));
  return out;
}

TSimDevice::TSimDevice() {
  for (auto &area : FAreas)
    area.assign(AreaWords, 0);
  FClockBase = NaiveNow();
  FClockTimer.start();
}

void TSimDevice::SetAddress(uint8_t Address) {
  std::lock_guard<std::mutex> lock(FLock);
  FAddress = Address;
}

uint8_t TSimDevice::Address() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FAddress;
}

void TSimDevice::SetAbsentUnitsSilent(bool Value) {
  std::lock_guard<std::mutex> lock(FLock);
  FAbsentUnitsSilent = Value;
}

bool TSimDevice::AbsentUnitsSilent() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FAbsentUnitsSilent;
}

void TSimDevice::SetStatusByte(uint8_t Status) {
  std::lock_guard<std::mutex> lock(FLock);
  FStatusByte = Status;
}

std::vector<uint16_t> &TSimDevice::AreaWordsOf(TSimArea Area) {
  return FAreas[size_t(int(Area) - 1)];
}

uint16_t TSimDevice::Register(TSimArea Area, uint16_t Reg) const {
  std::lock_guard<std::mutex> lock(FLock);
  return FAreas[size_t(int(Area) - 1)][Reg];
}

void TSimDevice::SetRegister(TSimArea Area, uint16_t Reg, uint16_t Value) {
  std::lock_guard<std::mutex> lock(FLock);
  AreaWordsOf(Area)[Reg] = Value;
}

void TSimDevice::SetRegisters(TSimArea Area, uint16_t Reg, const std::vector<uint16_t> &Values) {
  if (size_t(Reg) + Values.size() > size_t(AreaWords))
    throw EKvRange(QStringLiteral("registers past the end of the area: %1 + %2").arg(Reg).arg(Values.size()));
  std::lock_guard<std::mutex> lock(FLock);
  std::copy(Values.begin(), Values.end(), AreaWordsOf(Area).begin() + Reg);
}

void TSimDevice::SetFile(int FileNo, const QByteArray &Bytes, int FrameBytes) {
  if (FileNo < 0 || FileNo > 255)
    throw EKvRange(QStringLiteral("invalid file number: %1").arg(FileNo));
  if (FrameBytes < 1 || FrameBytes > MaxFrameBytes)
    throw EKvRange(QStringLiteral("invalid frame size: %1").arg(FrameBytes));
  std::lock_guard<std::mutex> lock(FLock);
  FFiles[FileNo] = TSimFile{Bytes, FrameBytes};
}

void TSimDevice::RemoveFile(int FileNo) {
  std::lock_guard<std::mutex> lock(FLock);
  FFiles.erase(FileNo);
}

bool TSimDevice::HasFile(int FileNo) const {
  std::lock_guard<std::mutex> lock(FLock);
  return FFiles.count(FileNo) != 0;
}

int TSimDevice::FileFrameBytes(int FileNo) const {
  std::lock_guard<std::mutex> lock(FLock);
  const auto it = FFiles.find(FileNo);
  return it == FFiles.end() ? 0 : it->second.FrameBytes;
}

QByteArray TSimDevice::FileBytes(int FileNo) const {
  std::lock_guard<std::mutex> lock(FLock);
  const auto it = FFiles.find(FileNo);
  return it == FFiles.end() ? QByteArray() : it->second.Bytes;
}

void TSimDevice::SetClock(const QDateTime &Time, bool Running) {
  std::lock_guard<std::mutex> lock(FLock);
  FClockBase = QDateTime(Time.date(), Time.time(), Qt::UTC);
  FClockRunning = Running;
  FClockTimer.restart();
}

QDateTime TSimDevice::ClockLocked() const {
  return FClockRunning ? FClockBase.addMSecs(FClockTimer.elapsed()) : FClockBase;
}

QDateTime TSimDevice::Clock() const {
  std::lock_guard<std::mutex> lock(FLock);
  return ClockLocked();
}

std::vector<uint8_t> TSimDevice::SpecialLog() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FSpecialLog;
}

std::vector<QByteArray> TSimDevice::RequestLog() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FRequestLog;
}

void TSimDevice::ClearLogs() {
  std::lock_guard<std::mutex> lock(FLock);
  FSpecialLog.clear();
  FRequestLog.clear();
}

void TSimDevice::SetSpecialHook(std::function<void(uint8_t)> Hook) {
  std::lock_guard<std::mutex> lock(FLock);
  FSpecialHook = std::move(Hook);
}

void TSimDevice::SetRegisterWriteHook(std::function<uint16_t(uint16_t, uint16_t)> Hook) {
  std::lock_guard<std::mutex> lock(FLock);
  FRegisterWriteHook = std::move(Hook);
}

void TSimDevice::SetWriteHook(std::function<void(int, const QByteArray &)> Hook) {
  std::lock_guard<std::mutex> lock(FLock);
  FWriteHook = std::move(Hook);
}

void TSimDevice::SetFault(const TSimFault &Fault) {
  std::lock_guard<std::mutex> lock(FLock);
  FFault = Fault;
  FFaultSeen = 0;
}

TSimFault TSimDevice::Fault() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FFault;
}

TSimFault TSimDevice::TakeFault(const QByteArray &Pdu) {
  std::lock_guard<std::mutex> lock(FLock);
  const uint8_t fn = Pdu.isEmpty() ? 0 : uint8_t(Pdu[0]);
  const bool write = fn == SIM_FN_WRITE_HOLDING || fn == SIM_FN_WRITE_SRAM;
  if (FFault.Kind == TSimFaultKind::None || (FFault.Function >= 0 && FFault.Function != fn) ||
      (FFault.Register >= 0 && !TakesInRegister(Pdu, FFault.Register)) ||
      ((FFault.Kind == TSimFaultKind::Unkept || FFault.Kind == TSimFaultKind::HeldBits) && (!write || Pdu.size() != 5)))
    return TSimFault();
  const int seen = FFaultSeen++;
  if (seen < FFault.After || (FFault.Count >= 0 && seen >= FFault.After + FFault.Count))
    return TSimFault();
  return FFault;
}

void TSimDevice::SetLossy(const TSimLossy &Lossy) {
  std::lock_guard<std::mutex> lock(FLock);
  FLossy = Lossy;
  FLossySeen = 0;
}

TSimLossy TSimDevice::TakeLossy() {
  std::lock_guard<std::mutex> lock(FLock);
  if (FLossy.Every <= 0 || FLossy.Kind == TSimFaultKind::None)
    return TSimLossy();
  return ++FLossySeen % FLossy.Every == 0 ? FLossy : TSimLossy();
}

void TSimDevice::LogRequest(const QByteArray &Pdu) {
  std::function<void(const QByteArray &)> hook;
  {
    std::lock_guard<std::mutex> lock(FLock);
    if (FRequestLog.size() >= MaxLoggedRequests)
      FRequestLog.erase(FRequestLog.begin());
    FRequestLog.push_back(Pdu);
    hook = FRequestHook;
  }
  if (hook)
    hook(Pdu);
}

void TSimDevice::SetRequestHook(std::function<void(const QByteArray &Pdu)> Hook) {
  std::lock_guard<std::mutex> lock(FLock);
  FRequestHook = std::move(Hook);
}

QByteArray TSimDevice::Execute(const QByteArray &Pdu) {
  std::lock_guard<std::mutex> lock(FLock);
  if (Pdu.isEmpty())
    return SimExceptionPdu(0, SIM_EX_ILLEGAL_FUNCTION);
  const uint8_t fn = uint8_t(Pdu[0]);
  switch (fn) {
  case SIM_FN_READ_HOLDING: return ReadArea(TSimArea::Holding, Pdu);
  case SIM_FN_READ_SRAM: return ReadArea(TSimArea::Sram, Pdu);
  case SIM_FN_READ_FLASH: return ReadArea(TSimArea::Flash, Pdu);
  case SIM_FN_READ_AREA4: return ReadArea(TSimArea::Area4, Pdu);
  case SIM_FN_WRITE_HOLDING: return WriteArea(TSimArea::Holding, Pdu);
  case SIM_FN_WRITE_SRAM: return WriteArea(TSimArea::Sram, Pdu);
  case SIM_FN_READ_FILE: return ReadFileFrame(Pdu);
  case SIM_FN_WRITE_FILE: return WriteFileFrame(Pdu);
  case SIM_FN_READ_CLOCK: return ReadClock(Pdu);
  case SIM_FN_WRITE_CLOCK: return WriteClock(Pdu);
  case SIM_FN_READ_STATUS: {
    if (Pdu.size() != 1)
      return SimExceptionPdu(fn, SIM_EX_ILLEGAL_VALUE);
    QByteArray out;
    out.append(char(fn));
    out.append(char(FStatusByte));
    return out;
  }
  case SIM_FN_SPECIAL:
    // Code, value, 0: the device takes the value and echoes the request.
    if (Pdu.size() != 3)
      return SimExceptionPdu(fn, SIM_EX_ILLEGAL_VALUE);
    FSpecialLog.push_back(uint8_t(Pdu[1]));
    if (FSpecialHook)
      FSpecialHook(uint8_t(Pdu[1]));
    return Pdu;
  default:
    return SimExceptionPdu(fn, SIM_EX_ILLEGAL_FUNCTION);
  }
}

QByteArray TSimDevice::ReadArea(TSimArea Area, const QByteArray &Pdu) {
  const uint8_t fn = uint8_t(Pdu[0]);
  if (Pdu.size() != 5)
    return SimExceptionPdu(fn, SIM_EX_ILLEGAL_VALUE);
  const int start = WordAt(Pdu, 1);
  const int count = WordAt(Pdu, 3);
  if (count < 1 || count > MaxReadCount)
    return SimExceptionPdu(fn, SIM_EX_ILLEGAL_VALUE);
  if (start + count > AreaWords)
    return SimExceptionPdu(fn, SIM_EX_ILLEGAL_ADDRESS);
  const std::vector<uint16_t> &words = AreaWordsOf(Area);
  QByteArray out;
  out.append(char(fn));
  out.append(char(count * 2));
  for (int i = 0; i < count; ++i)
    AppendWord(out, words[size_t(start + i)]);
  return out;
}

void TSimDevice::SetWriteLimits(std::map<uint16_t, std::pair<uint16_t, uint16_t>> Limits) {
  const std::lock_guard<std::mutex> g(FLock);
  FWriteLimits = std::move(Limits);
}

QByteArray TSimDevice::WriteArea(TSimArea Area, const QByteArray &Pdu) {
  if (Pdu.size() != 5)
    return SimExceptionPdu(uint8_t(Pdu[0]), SIM_EX_ILLEGAL_VALUE);
  const uint16_t reg = uint16_t(WordAt(Pdu, 1)), value = uint16_t(WordAt(Pdu, 3));
  if (const auto limit = FWriteLimits.find(reg);
      Area == TSimArea::Holding && limit != FWriteLimits.end() &&
      (value < limit->second.first || value > limit->second.second))
    return SimExceptionPdu(uint8_t(Pdu[0]), SIM_EX_ILLEGAL_VALUE);
  AreaWordsOf(Area)[reg] = Area == TSimArea::Holding && FRegisterWriteHook ? FRegisterWriteHook(reg, value) : value;
  return Pdu;
}

QByteArray TSimDevice::ReadFileFrame(const QByteArray &Pdu) {
  const uint8_t fn = uint8_t(Pdu[0]);
  if (Pdu.size() != 4)
    return SimExceptionPdu(fn, SIM_EX_ILLEGAL_VALUE);
  const auto it = FFiles.find(uint8_t(Pdu[1]));
  if (it == FFiles.end())
    return SimExceptionPdu(fn, SIM_EX_ILLEGAL_ADDRESS);
  const TSimFile &file = it->second;
  const qint64 offset = qint64(WordAt(Pdu, 2)) * file.FrameBytes;
  QByteArray out = Pdu;
  const qint64 have = std::clamp<qint64>(file.Bytes.size() - offset, 0, file.FrameBytes);
  if (have > 0)
    out.append(file.Bytes.constData() + offset, have);
  out.append(QByteArray(file.FrameBytes - have, '\0'));
  return out;
}

QByteArray TSimDevice::WriteFileFrame(const QByteArray &Pdu) {
  const uint8_t fn = uint8_t(Pdu[0]);
  if (Pdu.size() < 4)
    return SimExceptionPdu(fn, SIM_EX_ILLEGAL_VALUE);
  const auto it = FFiles.find(uint8_t(Pdu[1]));
  if (it == FFiles.end())
    return SimExceptionPdu(fn, SIM_EX_ILLEGAL_ADDRESS);
  TSimFile &file = it->second;
  const qsizetype count = Pdu.size() - 4;
  // The device buffers one frame: more data than that cannot be taken.
  if (count > file.FrameBytes)
    return SimExceptionPdu(fn, SIM_EX_ILLEGAL_VALUE);
  const qsizetype offset = qsizetype(WordAt(Pdu, 2)) * file.FrameBytes;
  if (offset + count > MaxFileBytes)
    return SimExceptionPdu(fn, SIM_EX_ILLEGAL_ADDRESS);
  if (file.Bytes.size() < offset + count)
    file.Bytes.resize(offset + count, '\0');
  std::copy(Pdu.constBegin() + 4, Pdu.constEnd(), file.Bytes.begin() + offset);
  if (FWriteHook)
    FWriteHook(it->first, file.Bytes);
  return Pdu.left(4);
}

QByteArray TSimDevice::ReadClock(const QByteArray &Pdu) {
  const uint8_t fn = uint8_t(Pdu[0]);
  if (Pdu.size() != 1)
    return SimExceptionPdu(fn, SIM_EX_ILLEGAL_VALUE);
  const QDateTime now = ClockLocked();
  // Six words, high byte 0, low byte: year in its century, month, day, hour, minute, second.
  QByteArray out;
  out.append(char(fn));
  for (int v : {now.date().year() % 100, now.date().month(), now.date().day(), now.time().hour(),
                now.time().minute(), now.time().second()})
    AppendWord(out, uint16_t(v));
  return out;
}

QByteArray TSimDevice::WriteClock(const QByteArray &Pdu) {
  const uint8_t fn = uint8_t(Pdu[0]);
  if (Pdu.size() != 13)
    return SimExceptionPdu(fn, SIM_EX_ILLEGAL_VALUE);
  int v[6];
  for (int i = 0; i < 6; ++i)
    v[i] = WordAt(Pdu, 1 + 2 * i);
  const QDate date(2000 + v[0], v[1], v[2]);
  const QTime time(v[3], v[4], v[5]);
  if (v[0] > 99 || !date.isValid() || !time.isValid())
    return SimExceptionPdu(fn, SIM_EX_ILLEGAL_VALUE);
  FClockBase = QDateTime(date, time, Qt::UTC);
  FClockTimer.restart();
  return Pdu;
}
