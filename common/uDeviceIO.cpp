#include "uDeviceIO.h"
#include "uErrors.h"

#include <QSerialPortInfo>
#include <algorithm>

namespace {

uint8_t Hi(uint16_t V) { return uint8_t(V >> 8); }
uint8_t Lo(uint16_t V) { return uint8_t(V & 0xFF); }

// The device keeps two-digit years; both directions place them in the
// century of the PC's clock.
int CurrentCentury() { return QDate::currentDate().year() / 100; }

} // namespace

TDeviceIO::TDeviceIO(const QString &TraceFileName) : FOI(TraceFileName) {}

bool TDeviceIO::ReadRegisters(uint16_t Start, uint16_t *Dest, uint16_t Count) {
  const uint8_t frame[] = {FDeviceAddr, FReadCode, Hi(Start), Lo(Start), Hi(Count), Lo(Count)};
  FOI.SetRequest(frame, int(sizeof frame), Count * 2 + 5);
  // A device address's busy answer is asked again like a lost one; a read
  // sent to no particular device is not.
  const bool known = FDeviceAddr >= 1 && FDeviceAddr <= MaxDeviceAddr;
  if (!FOI.TransactRepeatable(false, known ? TOI::rrBusy : TOI::rrLostAnswer)) {
    NoteRegisterSigns();
    return false;
  }
  const uint8_t *a = FOI.GetAnswer();
  // Every read code answers the byte count of its registers, as long as it
  // fits the byte (the device's own codes read up to 127 registers); a
  // device that counts otherwise has answered some other request.
  if (Count * 2 <= 0xFF && a[2] != Count * 2) {
    FOI.SetStatus(oisProtocolError);
    return false;
  }
  for (int i = 0; i < Count; ++i)
    Dest[i] = uint16_t((a[3 + 2 * i] << 8) | a[4 + 2 * i]);
  return true;
}

bool TDeviceIO::WriteRegister(uint16_t Reg, uint16_t Value) {
  const uint8_t frame[] = {FDeviceAddr, FWriteCode, Hi(Reg), Lo(Reg), Hi(Value), Lo(Value)};
  FOI.SetRequest(frame, int(sizeof frame), 8);
  // The standard single-register write and the SRAM write answer with an
  // echo of register and value.
  if (FOI.Transact())
    return FOI.CheckEcho(2, 4);
  NoteRegisterSigns();
  return false;
}

void TDeviceIO::NoteRegisterSigns() {
  // The program asks only for registers of the map it has loaded: one
  // refused as absent says the device answering may have another map.
  if (GetStatus() == MB_EXCEPTION_ILLEGAL_ADDRESS)
    FOI.NoteSign(TForeignSign::IllegalAddress);
}

bool TDeviceIO::Poll(uint8_t Addr, uint8_t &Answered, uint8_t &DevStatus) {
  const uint8_t frame[] = {Addr, FN_READ_EXCEPTION_STATUS};
  FOI.SetRequest(frame, int(sizeof frame), 5);
  // A poll of a device address is answered from it and is a read worth
  // repeating; a poll of 255 (whoever is there) is answered from the
  // device's own address and is a search, which stays quick.
  const bool known = Addr >= 1 && Addr <= MaxDeviceAddr;
  if (!(known ? FOI.TransactRepeatable() : FOI.Transact(true)))
    return false;
  const uint8_t *a = FOI.GetAnswer();
  FDeviceAddr = a[0];
  Answered = a[0];
  DevStatus = a[2];
  return true;
}

bool TDeviceIO::ScanStart(uint8_t First, uint8_t Last, int PauseMs) { return FOI.SendScan(First, Last, PauseMs); }

bool TDeviceIO::ScanNext(uint8_t &Addr, uint8_t &DevStatus) {
  if (!FOI.ReceiveScanAnswer(5))
    return false;
  Addr = FOI.GetAnswer()[0];
  DevStatus = FOI.GetAnswer()[2];
  return true;
}

bool TDeviceIO::ReadFileFrame(uint8_t FileNo, uint16_t FrameNo, int Count, QIODevice &ADest) {
  if (Count < 0)
    throw EKvRange("range check error: " + std::to_string(Count));
  const uint8_t frame[] = {FDeviceAddr, FN_READ_FILE_FRAME, FileNo, Hi(FrameNo), Lo(FrameNo)};
  FOI.SetRequest(frame, int(sizeof frame), Count + 7);
  // File and frame number come back in front of the data: a frame of
  // another file or number must not be taken for the one asked, and is
  // asked again on the serial line like any failed try.
  if (!FOI.TransactRepeatable(false, TOI::rrAnyFailure, [this] { return FOI.CheckEcho(2, 3); }))
    return false;
  if (Count > 0)
    ADest.write(reinterpret_cast<const char *>(FOI.GetAnswer() + 5), Count);
  return true;
}

bool TDeviceIO::WriteFileFrame(uint8_t FileNo, uint16_t FrameNo, QIODevice &AData, int Count) {
  const uint8_t frame[] = {FDeviceAddr, FN_WRITE_FILE_FRAME, FileNo, Hi(FrameNo), Lo(FrameNo)};
  FOI.SetRequest(frame, int(sizeof frame), 7);
  FOI.AppendRequest(AData, Count);
  return FOI.Transact() && FOI.CheckEcho(2, 3);
}

bool TDeviceIO::ReadClock(QDateTime &DT) {
  const uint8_t frame[] = {FDeviceAddr, FN_READ_CLOCK};
  FOI.SetRequest(frame, int(sizeof frame), 16);
  if (!FOI.Transact())
    return false;
  const uint8_t *a = FOI.GetAnswer();
  // Six words, the value in each low byte: year in its century, month, day,
  // hour, minute, second.
  const QDate date(100 * CurrentCentury() + a[3], a[5], a[7]);
  const QTime time(a[9], a[11], a[13]);
  if (date.isValid() && time.isValid())
    DT = QDateTime(date, time);
  else
    DT = QDateTime(QDate(2000, 1, 1), QTime(12, 30));
  return true;
}

bool TDeviceIO::WriteClock(const QDateTime &DT) {
  const QDate d = DT.date();
  const QTime t = DT.time();
  const int year = d.year() - 100 * CurrentCentury();
  if (year < 0 || year > 99)
    throw EKvRange("range check error: " + std::to_string(year));
  const uint8_t frame[] = {FDeviceAddr,     FN_WRITE_CLOCK, 0, uint8_t(year),     0, uint8_t(d.month()), 0,
                           uint8_t(d.day()), 0,             uint8_t(t.hour()), 0, uint8_t(t.minute()), 0,
                           uint8_t(t.second())};
  FOI.SetRequest(frame, int(sizeof frame), 16);
  // The device echoes the six words it has set.
  return FOI.Transact() && FOI.CheckEcho(2, 12);
}

bool TDeviceIO::SpecialCommand(uint8_t Code, uint8_t Value) {
  const uint8_t frame[] = {FDeviceAddr, Code, Value, 0};
  FOI.SetRequest(frame, int(sizeof frame), 6);
  return FOI.Transact() && FOI.CheckEcho(2, 2);
}

uint8_t TDeviceIO::GetStatus() const {
  if (FOI.GetStatus() != oisErrorFlag)
    return 0;
  return FOI.GetAnswer()[2];
}

void TDeviceIO::SetMemoryArea(uint8_t Area) {
  FMemoryArea = Area;
  switch (Area) {
  case 1:
    FReadCode = 0x03;
    FWriteCode = 0x06;
    break;
  case 2:
    FReadCode = 0x53;
    FWriteCode = 0x56;
    break;
  case 3:
    FReadCode = 0x54;
    break;
  case 4:
    FReadCode = 0x55;
    break;
  default:
    break;
  }
}

void TDeviceIO::SetMemoryAreaAlone(uint8_t Area) {
  FReadCode = 0x03;
  FWriteCode = 0x06;
  SetMemoryArea(Area);
}

void TDeviceIO::GetComPortList(QStringList &AList) {
  AList.clear();
  const auto ports = QSerialPortInfo::availablePorts();
  for (const QSerialPortInfo &p : ports)
    AList << QStringLiteral("%1 (%2)").arg(p.description(), p.portName()).trimmed();
  SortComPortList(AList);
}

void TDeviceIO::SortComPortList(QStringList &AList) {
  auto key = [](const QString &Caption) {
    qsizetype i = Caption.indexOf(QLatin1String("(COM"));
    if (i < 0)
      i = Caption.lastIndexOf(QLatin1Char('('));
    return i < 0 ? Caption : Caption.mid(i + 1);
  };
  std::stable_sort(AList.begin(), AList.end(), [&](const QString &A, const QString &B) {
    return QString::compare(key(A), key(B), Qt::CaseSensitive) < 0;
  });
}

QString TDeviceIO::PortNameFromCaption(const QString &Caption) {
  const qsizetype open = Caption.lastIndexOf(QLatin1Char('('));
  if (open < 0)
    return QString();
  const qsizetype close = Caption.indexOf(QLatin1Char(')'), open);
  return Caption.mid(open + 1, close < 0 ? -1 : close - open - 1);
}
