#include "uDevSimFiles.h"

#include "crc.h"
#include "uDeviceContent.h"
#include "uErrors.h"
#include "uOscContent.h"
#include "uSimDevice.h"

#include <zlib.h>

#include <algorithm>

namespace {

QByteArray Deflate(const QByteArray &Bytes) {
  uLongf size = compressBound(uLong(Bytes.size()));
  QByteArray out(qsizetype(size), '\0');
  if (compress2(reinterpret_cast<Bytef *>(out.data()), &size, reinterpret_cast<const Bytef *>(Bytes.constData()),
                uLong(Bytes.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
    throw EKvError("zlib compression failed");
  out.resize(qsizetype(size));
  return out;
}

void PadTo(QByteArray &Bytes, int Multiple, char Fill) {
  if (Bytes.size() % Multiple != 0)
    Bytes.append(QByteArray(Multiple - Bytes.size() % Multiple, Fill));
}

} // namespace

QByteArray SimStamp(const QDateTime &Moment) {
  const QDate d = Moment.date();
  const QTime t = Moment.time();
  if (d.year() < 2000 || d.year() > 2254)
    throw EKvRange(QStringLiteral("year outside the device's stamps: %1").arg(d.year()));
  QByteArray out;
  for (int v : {d.year() - 2000, d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec() / 10})
    out.append(char(v));
  return out;
}

QByteArray BuildEventRing(const std::vector<TSimEventRecord> &Records, int RecordBytes, int SlotCount, int FirstSlot) {
  if (RecordBytes < 9 || SlotCount < 1 || int(Records.size()) > SlotCount || FirstSlot < 0 || FirstSlot >= SlotCount)
    throw EKvRange(QStringLiteral("event ring of %1 records of %2 bytes cannot hold %3 from slot %4")
                       .arg(SlotCount).arg(RecordBytes).arg(Records.size()).arg(FirstSlot));
  QByteArray ring(qsizetype(RecordBytes) * SlotCount, char(0xFF));
  for (size_t i = 0; i < Records.size(); ++i) {
    const int slot = (FirstSlot + int(i)) % SlotCount;
    ring.replace(qsizetype(slot) * RecordBytes, RecordBytes, SimEventRecordBytes(Records[i], RecordBytes));
  }
  return ring;
}

QByteArray SimEventRecordBytes(const TSimEventRecord &Record, int RecordBytes) {
  QByteArray rec = SimStamp(Record.Moment);
  rec.append(char(Record.Code)).append(char(Record.Flags));
  for (int w = 0; w < (RecordBytes - 9) / 2; ++w) {
    const uint16_t v = size_t(w) < Record.Values.size() ? Record.Values[size_t(w)] : 0;
    rec.append(char(v >> 8)).append(char(v & 0xFF));
  }
  rec.resize(RecordBytes, '\0');
  return rec;
}

std::vector<TSimEventRecord> SimEventSeries(const TSimEventSeries &Plan, const QDateTime &Last) {
  std::vector<TSimEventRecord> out;
  for (int i = 0; i < Plan.Count; ++i) {
    QDateTime at = Last.addSecs(60 * qint64(i - (Plan.Count - 1)));
    if (Plan.StepAt >= 0 && i < Plan.StepAt)
      at = at.addSecs(60 * qint64(Plan.StepBackMinutes));
    const uint8_t code = Plan.Codes.empty() ? 0 : Plan.Codes[size_t(i / 2) % Plan.Codes.size()];
    out.push_back({at, code, uint8_t(i % 2 == 0 ? 1 : 0), {}});
  }
  return out;
}

QByteArray WriteEventRing(const std::vector<TSimEventRecord> &Records, int RecordBytes, int SlotCount) {
  if (SlotCount < 1)
    return BuildEventRing({}, RecordBytes, SlotCount, 0);
  // Only the last SlotCount survive, the oldest of them where the relay writes next.
  const size_t kept = std::min(Records.size(), size_t(SlotCount));
  const std::vector<TSimEventRecord> last(Records.end() - std::ptrdiff_t(kept), Records.end());
  const int first = Records.size() > kept ? int(Records.size() % size_t(SlotCount)) : 0;
  return BuildEventRing(last, RecordBytes, SlotCount, first);
}

void TSimEventLog::Log(uint8_t Code, bool On, const std::vector<uint16_t> &Values) {
  const int recordBytes = FDevice.FileFrameBytes(SimFileEventRing);
  QByteArray ring = FDevice.FileBytes(SimFileEventRing);
  const int slotCount = recordBytes > 0 ? int(ring.size() / recordBytes) : 0;
  if (slotCount == 0)
    throw EKvRange(QStringLiteral("the device has no event ring to log into"));
  FNext %= slotCount;
  const TSimEventRecord r{FDevice.Clock(), Code, uint8_t(On ? 1 : 0), Values};
  ring.replace(qsizetype(FNext) * recordBytes, recordBytes, SimEventRecordBytes(r, recordBytes));
  FDevice.SetFile(SimFileEventRing, ring, recordBytes);
  FNext = (FNext + 1) % slotCount;
}

QByteArray BuildOscDirectory(const std::vector<TSimOscEntry> &Entries, const TSimOscDirectoryPlan &Plan) {
  const int slotCount = Plan.SlotCount;
  if (slotCount < 1 || slotCount > 255 || int(Entries.size()) > slotCount || Plan.FirstSlot < 0 || Plan.FirstSlot >= slotCount)
    throw EKvRange(QStringLiteral("directory of %1 slotCount cannot hold %2 entries from slot %3")
                       .arg(slotCount).arg(Entries.size()).arg(Plan.FirstSlot));
  QByteArray out(16, '\0');
  out[0] = char(Entries.size());
  out[1] = char(12);
  out[2] = char(Plan.TimeUnit);
  const int lastSlot = (Plan.FirstSlot + int(Entries.size()) - 1) % slotCount;
  out[4] = char(Entries.empty() ? 0 : lastSlot + 1);
  out += QByteArray(12 * slotCount, char(0xFF));
  for (size_t i = 0; i < Entries.size(); ++i) {
    const TSimOscEntry &e = Entries[i];
    const int slot = (Plan.FirstSlot + int(i)) % slotCount;
    QByteArray entry = QByteArray(3, '\0') + SimStamp(e.Trigger);
    entry.append(char(e.Before)).append(char(e.After));
    out.replace(16 + 12 * slot, 12, entry);
  }
  for (int slot : Plan.InvalidSlots) {
    if (slot < 0 || slot >= slotCount)
      throw EKvRange(QStringLiteral("no slot %1 in a directory of %2").arg(slot).arg(slotCount));
    out.replace(16 + 12 * slot + 3, 7, QByteArray::fromHex("18021E0A000000"));
  }
  PadTo(out, SimOscFrameBytes, '\0');
  return out;
}

QByteArray BuildOscDirectory(const std::vector<TSimOscEntry> &Entries, int SlotCount, uint8_t TimeUnit) {
  TSimOscDirectoryPlan plan;
  plan.SlotCount = SlotCount;
  plan.TimeUnit = TimeUnit;
  return BuildOscDirectory(Entries, plan);
}

QByteArray BuildFlashSubFile(const QByteArray &Content) {
  const QByteArray z = Deflate(Content);
  QByteArray out;
  const uint32_t n = uint32_t(z.size());
  for (int i = 0; i < 4; ++i)
    out.append(char(n >> (8 * i)));
  out += BytesMD5(z) + z;
  PadTo(out, SimFlashFrameBytes, '\0');
  return out;
}

QByteArray BuildFlashHead(const std::array<uint16_t, 6> &FirstBlocks) {
  QByteArray head(SimFlashFrameBytes, '\0');
  head[0] = 1;
  head[1] = 6;
  for (int k = 0; k < 6; ++k) {
    head[2 + 2 * k] = char(FirstBlocks[size_t(k)] & 0xFF);
    head[3 + 2 * k] = char(FirstBlocks[size_t(k)] >> 8);
  }
  // Crc16 returns the CRC with its bytes swapped (the wire order of an RTU
  // frame); the header keeps the CRC's high byte first, the other way round.
  const uint16_t swapped = Crc16(head.constData(), 14);
  head[14] = char(swapped & 0xFF);
  head[15] = char(swapped >> 8);
  return head;
}

QByteArray BuildExtFlash(const std::array<QByteArray, 6> &Contents) {
  QByteArray body(SimFlashFrameBytes, '\0');
  std::array<uint16_t, 6> first{};
  for (int k = 0; k < 6; ++k) {
    if (k == 5)
      PadTo(body, 128 * 1024, char(0xFF));
    if (body.size() / SimFlashFrameBytes > 65535)
      throw EKvRange("external FLASH image too large");
    first[size_t(k)] = uint16_t(body.size() / SimFlashFrameBytes);
    body += BuildFlashSubFile(Contents[size_t(k)]);
  }
  body.replace(0, SimFlashFrameBytes, BuildFlashHead(first));
  return body;
}

int EventValueWords(const TDeviceContent &Content) {
  int words = int(Content.EventMeasures.size());
  for (const TDcBitRef &ref : Content.EventBits) {
    if (ref.Type == 0) {
      ++words;
      continue;
    }
    for (const TDcBitGroup &g : Content.BitGroups)
      if (g.Type == ref.Type)
        words += int((g.Full.size() + 15) / 16);
  }
  return words;
}

std::vector<QDateTime> DemoOscTriggers() {
  const QDateTime first(QDate(2026, 3, 5), QTime(14, 15, 2, 250), Qt::UTC);
  return {first, first.addSecs(3600), first.addSecs(7200)};
}

std::vector<TSimEventRecord> DemoEventRecords() {
  // Codes of the demo content: 1 start, 2 trip, 10 voltage circuit failure, 20 setpoints changed.
  enum : uint8_t { Start = 1, Trip = 2, Failure = 10, Setpoints = 20 };
  int serial = 0;
  auto record = [&serial](const QDateTime &At, uint8_t Code, bool On, uint16_t Current, uint16_t Inputs,
                          uint16_t Relays) {
    // Currents and voltage near what the demo serves live (secondary A x 1000, V x 10).
    const int k = serial++;
    TSimEventRecord r{At, Code, uint8_t(On ? 1 : 0), {}};
    for (int phase = 0; phase < 3; ++phase)
      r.Values.push_back(uint16_t(Current + (k * 37 + phase * 53) % 180));
    r.Values.push_back(uint16_t(570 + k % 13));
    r.Values.push_back(Inputs);
    r.Values.push_back(Relays);
    return r;
  };
  std::vector<TSimEventRecord> out;
  const std::vector<QDateTime> triggers = DemoOscTriggers();
  out.push_back(record(triggers[0].addSecs(-1800), Setpoints, true, 3150, 0, 0));
  for (const QDateTime &t : triggers) {
    out.push_back(record(t.addSecs(-720), Failure, true, 3200, 0x0004, 0));
    out.push_back(record(t.addSecs(-660), Failure, false, 3180, 0, 0));
    out.push_back(record(t, Start, true, 9600, 0x0001, 0));
    out.push_back(record(t.addMSecs(400), Trip, true, 9800, 0x0001, 0x0003));
    out.push_back(record(t.addMSecs(800), Start, false, 40, 0, 0));
    for (int m = 10; m <= 30; m += 10)
      out.push_back(record(t.addSecs(60 * m), Setpoints, true, 3200, 0, 0));
  }
  return out;
}

std::vector<TSimOscEntry> DemoOscEntries() {
  std::vector<TSimOscEntry> out;
  for (const QDateTime &t : DemoOscTriggers())
    out.push_back({t, 1, 1});
  return out;
}

TOscRecordPlan DemoOscPlan() {
  TOscRecordPlan plan;
  plan.SampleCount = 2 * 1800;
  // Phases A, B, C lag by 0, 120 and 240 degrees: a positive-sequence set.
  for (size_t c = 0; c < DemoDeviceContent().OscChannels.size(); ++c)
    plan.Analog.push_back({1000.0 + 100.0 * double(c), 50.0, -120.0 * double(c % 3), 0.0});
  plan.BitRegisters.push_back({16, {TOscBit{false, {1800, 1800 + 1800 * 8 / 10}}}});
  return plan;
}

void AddDemoFiles(TSimDevice &Device) {
  const TDeviceContent content = DemoDeviceContent();
  Device.SetFile(SimFileDescriptor, BuildDeviceImage(content).Bytes, SimDescriptorFrameBytes);

  // 256 slots, the journal written across the end of the ring.
  const int recordBytes = 9 + 2 * EventValueWords(content);
  Device.SetFile(SimFileEventRing, BuildEventRing(DemoEventRecords(), recordBytes, 256, DemoEventFirstSlot),
                 recordBytes);

  // Three oscillograms of one second before and one after the trigger.
  const TOscRecordPlan plan = DemoOscPlan();
  const std::vector<TSimOscEntry> entries = DemoOscEntries();
  for (size_t i = 0; i < entries.size(); ++i)
    Device.SetFile((DemoOscFirstSlot + int(i)) % 32 + 1, BuildOscRecord(plan), SimOscFrameBytes);
  TSimOscDirectoryPlan dir;
  dir.FirstSlot = DemoOscFirstSlot;
  Device.SetFile(SimFileOscDirectory, BuildOscDirectory(entries, dir), SimOscFrameBytes);

  const QByteArray logic = QByteArrayLiteral(
      "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<custom-logic><dd-di><item caption=\"DI 1\"/>"
      "<item caption=\"DI 2\"/></dd-di><dd-do><item caption=\"DO 1\"/></dd-do><dd-le/><dd-ustav>"
      "<item ider=\"U1\" caption=\"Setpoint 1\"/></dd-ustav></custom-logic>\r\n");
  Device.SetFile(SimFileExtFlash,
                 BuildExtFlash({QByteArrayLiteral("<schema-code/>\r\n"), QByteArrayLiteral("<config/>\r\n"),
                                QByteArrayLiteral("#define ID_DEMO 1\r\n"), QByteArrayLiteral("<logic/>\r\n"), logic,
                                logic}),
                 SimFlashFrameBytes);
}
