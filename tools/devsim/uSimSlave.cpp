#include "uSimSlave.h"

#include "crc.h"
#include "uSimDevice.h"

namespace {

constexpr uint8_t BroadcastAddress = 0;
constexpr uint8_t ScanAddress = 255;

// Crc16 keeps the wire order in its value: high byte first is the low CRC byte first.
void AppendCrc(QByteArray &Frame) {
  const uint16_t crc = Crc16(Frame);
  Frame.append(char(crc >> 8));
  Frame.append(char(crc & 0xFF));
}

bool CrcMatches(const QByteArray &Frame) {
  if (Frame.size() < 4)
    return false;
  const uint16_t crc = Crc16(Frame.constData(), int(Frame.size() - 2));
  return uint8_t(Frame[Frame.size() - 2]) == (crc >> 8) && uint8_t(Frame[Frame.size() - 1]) == (crc & 0xFF);
}

// Runs the device for one request and returns the answer PDU after the
// exception, silence and function faults; Fault receives the fault drawn so
// that the caller applies the framing ones. Empty when the device stays silent.
QByteArray Serve(TSimDevice &Device, const QByteArray &Pdu, TSimFault &Fault) {
  Device.LogRequest(Pdu);
  const uint8_t fn = uint8_t(Pdu[0]);
  Fault = Device.TakeFault(Pdu);
  const TSimLossy lossy = Device.TakeLossy();
  switch (Fault.Kind) {
  case TSimFaultKind::Silence:
    return QByteArray();
  case TSimFaultKind::Exception:
    return SimExceptionPdu(fn, uint8_t(Fault.Value));
  default:
    break;
  }
  if (Fault.Kind == TSimFaultKind::None && lossy.Kind == TSimFaultKind::Exception)
    return SimExceptionPdu(fn, uint8_t(lossy.Value));
  if (Fault.Kind == TSimFaultKind::Unkept)
    return Pdu; // a single write's answer is its echo; the register is left as it was
  if (Fault.Kind == TSimFaultKind::HeldBits) {
    // The write is done with the held bits as the register has them; the
    // answer echoes the request as the master sent it.
    const TSimArea area = fn == SIM_FN_WRITE_SRAM ? TSimArea::Sram : TSimArea::Holding;
    const uint16_t reg = uint16_t(uint8_t(Pdu[1]) << 8 | uint8_t(Pdu[2]));
    const uint16_t sent = uint16_t(uint8_t(Pdu[3]) << 8 | uint8_t(Pdu[4]));
    const uint16_t mask = uint16_t(Fault.Value);
    const uint16_t kept = uint16_t((sent & ~mask) | (Device.Register(area, reg) & mask));
    QByteArray done = Pdu;
    done[3] = char(kept >> 8);
    done[4] = char(kept & 0xFF);
    const QByteArray answer = Device.Execute(done);
    return answer == done ? Pdu : answer;
  }
  QByteArray answer = Device.Execute(Pdu);
  if (Fault.Kind == TSimFaultKind::LostAnswer)
    return QByteArray(); // done, as a relay whose answer the line lost
  if (Fault.Kind == TSimFaultKind::None && lossy.Kind == TSimFaultKind::Silence)
    return QByteArray(); // executed; the answer is lost on the way back
  if (Fault.Kind == TSimFaultKind::None && lossy.Kind == TSimFaultKind::BadCrc)
    Fault.Kind = TSimFaultKind::BadCrc;
  if (Fault.Kind == TSimFaultKind::OtherFunction)
    answer[0] = char(Fault.Value);
  return answer;
}

void CutShort(QByteArray &Bytes, const TSimFault &Fault, qsizetype Keep) {
  if (Fault.Kind == TSimFaultKind::ShortAnswer)
    Bytes.truncate(std::max(Keep, Bytes.size() - Fault.Value));
}

} // namespace

TSimRtuSlave::TSimRtuSlave(TSimDevice &Device) : FDevice(Device) {}

int TSimRtuSlave::KnownLength() const {
  if (FBuffer.size() < 2)
    return 0;
  switch (uint8_t(FBuffer[1])) {
  case SIM_FN_READ_STATUS:
  case SIM_FN_READ_CLOCK:
    return 4;
  case SIM_FN_SPECIAL:
    return 6;
  case SIM_FN_READ_FILE:
    return 7;
  case SIM_FN_READ_HOLDING:
  case SIM_FN_WRITE_HOLDING:
  case SIM_FN_READ_SRAM:
  case SIM_FN_READ_FLASH:
  case SIM_FN_READ_AREA4:
  case SIM_FN_WRITE_SRAM:
    return 8;
  case SIM_FN_WRITE_CLOCK:
    return 16;
  case SIM_FN_WRITE_FILE: {
    // A whole frame of the file; a shorter last frame ends by silence.
    if (FBuffer.size() < 3)
      return 0;
    const int frame = FDevice.FileFrameBytes(uint8_t(FBuffer[2]));
    return frame > 0 ? 5 + frame + 2 : 0;
  }
  default:
    return 0;
  }
}

int TSimRtuSlave::SilenceToEndMs() const {
  const int length = KnownLength();
  return length > FBuffer.size() ? DueSilenceMs : SilenceMs;
}

std::vector<TSimAnswer> TSimRtuSlave::Feed(const char *Data, size_t Count) {
  std::vector<TSimAnswer> out;
  FBuffer.append(Data, qsizetype(Count));
  for (;;) {
    const int length = KnownLength();
    if (length == 0 || FBuffer.size() < length)
      break;
    const QByteArray frame = FBuffer.left(length);
    // A frame that fails its CRC waits for the silence that ends it and is then dropped.
    if (!CrcMatches(frame))
      break;
    FBuffer.remove(0, length);
    Handle(frame, out);
  }
  if (FBuffer.size() > MaxBufferBytes)
    FBuffer.clear();
  return out;
}

std::vector<TSimAnswer> TSimRtuSlave::EndOfFrame() {
  std::vector<TSimAnswer> out;
  const QByteArray frame = FBuffer;
  FBuffer.clear();
  if (CrcMatches(frame))
    Handle(frame, out);
  return out;
}

void TSimRtuSlave::Handle(const QByteArray &Frame, std::vector<TSimAnswer> &Out) {
  const uint8_t address = uint8_t(Frame[0]);
  const uint8_t own = FDevice.Address();
  const QByteArray pdu = Frame.mid(1, Frame.size() - 3);
  if (address == BroadcastAddress) {
    // Every device executes a broadcast and none answers it.
    FDevice.LogRequest(pdu);
    FDevice.Execute(pdu);
    return;
  }
  const bool isScanPoll = address == ScanAddress && uint8_t(pdu[0]) == SIM_FN_READ_STATUS;
  if (address != own && !isScanPoll)
    return;
  TSimFault fault;
  const QByteArray answer = Serve(FDevice, pdu, fault);
  if (answer.isEmpty())
    return;
  QByteArray adu;
  adu.append(char(fault.Kind == TSimFaultKind::OtherAddress ? uint8_t(fault.Value) : own));
  adu.append(answer);
  AppendCrc(adu);
  if (fault.Kind == TSimFaultKind::BadCrc) {
    adu[adu.size() - 2] = char(~uint8_t(adu[adu.size() - 2]));
    adu[adu.size() - 1] = char(~uint8_t(adu[adu.size() - 1]));
  }
  CutShort(adu, fault, 0);
  Out.push_back(TSimAnswer{adu, fault.Kind == TSimFaultKind::LateAnswer ? fault.Value : 0});
}

TSimTcpSlave::TSimTcpSlave(TSimDevice &Device) : FDevice(Device) {}

std::vector<TSimAnswer> TSimTcpSlave::Feed(const char *Data, size_t Count) {
  std::vector<TSimAnswer> out;
  FBuffer.append(Data, qsizetype(Count));
  while (!FBroken && FBuffer.size() >= 7) {
    const int protocol = (uint8_t(FBuffer[2]) << 8) | uint8_t(FBuffer[3]);
    const int length = (uint8_t(FBuffer[4]) << 8) | uint8_t(FBuffer[5]);
    // The length counts the unit byte and the PDU; the device's file frames
    // make it longer than the 253-byte PDU of the Modbus protocol.
    if (protocol != 0 || length < 2 || length > TSimDevice::MaxFrameBytes + 8) {
      FBroken = true;
      break;
    }
    if (FBuffer.size() < 6 + length)
      break;
    const QByteArray adu = FBuffer.left(6 + length);
    FBuffer.remove(0, 6 + length);
    Handle(adu, out);
  }
  return out;
}

void TSimTcpSlave::Handle(const QByteArray &Adu, std::vector<TSimAnswer> &Out) {
  const uint8_t unit = uint8_t(Adu[6]);
  const uint8_t own = FDevice.Address();
  const QByteArray pdu = Adu.mid(7);
  const uint8_t fn = uint8_t(pdu[0]);
  // Units 0 and 255 name the server itself in Modbus TCP, and the answer
  // echoes the unit, as Modbus TCP servers do; but a poll of 255 is answered
  // from the device's own address, as on the serial line, since that is how
  // a master finds the address the device answers.
  TSimFault fault;
  QByteArray answer;
  if (unit == own || unit == BroadcastAddress || unit == ScanAddress) {
    answer = Serve(FDevice, pdu, fault);
    if (answer.isEmpty())
      return;
  } else if (FDevice.AbsentUnitsSilent()) {
    return;
  } else {
    answer = SimExceptionPdu(fn, SIM_EX_TARGET_FAILED);
  }
  const uint8_t from = unit == ScanAddress && fn == SIM_FN_READ_STATUS ? own : unit;
  QByteArray body;
  body.append(char(fault.Kind == TSimFaultKind::OtherAddress ? uint8_t(fault.Value) : from));
  body.append(answer);
  CutShort(body, fault, 1);
  QByteArray adu = Adu.left(4);
  adu.append(char(body.size() >> 8));
  adu.append(char(body.size() & 0xFF));
  adu.append(body);
  Out.push_back(TSimAnswer{adu, fault.Kind == TSimFaultKind::LateAnswer ? fault.Value : 0});
}
