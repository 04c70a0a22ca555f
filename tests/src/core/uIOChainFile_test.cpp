// Device file transfer of the IO chains against a fake device front (records
// captured, answers made here from the answer format); then the device steps
// and a file write end to end: chains, worker and link against the devsim
// program over Modbus TCP and a pseudo-terminal.
#include "chain_test_util.h"
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <zlib.h>

#include "uDateTime.h"
#include "uDevSimProcess.h"
#include "uDeviceIO.h"
#include "uFiles.h"
#include "uIOChainFile.h"
#include "uLogger.h"

namespace {

QByteArray Pattern(int Size, int Seed) {
  QByteArray out(Size, '\0');
  for (int i = 0; i < Size; ++i)
    out[i] = char((i * 7 + Seed) & 0xFF);
  return out;
}

// A zlib stream made here with zlib itself, not with the unit under test.
QByteArray Zlib(const QByteArray &Text) {
  uLongf size = compressBound(uLong(Text.size()));
  QByteArray out(qsizetype(size), '\0');
  compress2(reinterpret_cast<Bytef *>(out.data()), &size, reinterpret_cast<const Bytef *>(Text.constData()),
            uLong(Text.size()), Z_DEFAULT_COMPRESSION);
  out.resize(qsizetype(size));
  return out;
}

QByteArray Md5(const QByteArray &Bytes) { return QCryptographicHash::hash(Bytes, QCryptographicHash::Md5); }

// Container: P (u32 LE), MD5 of the payload, the payload, zeros to the frame size.
QByteArray Container(const QByteArray &Payload, int FrameSize, const QByteArray &Digest = {}) {
  QByteArray out =
      Bytes({int(Payload.size() & 0xFF), int((Payload.size() >> 8) & 0xFF), int((Payload.size() >> 16) & 0xFF), 0});
  out += Digest.isEmpty() ? Md5(Payload) : Digest;
  out += Payload;
  if (out.size() % FrameSize)
    out.append(QByteArray(FrameSize - out.size() % FrameSize, '\0'));
  return out;
}

QByteArray Stamp(int Year, int Month, int Day, int Hour, int Minute, int Second) {
  return Bytes({Year - 2000, Month, Day, Hour, Minute, Second, 0});
}

struct IOChainFile : ::testing::Test {
  IOChainFile() {
    App();
    Saved = QDir::currentPath();
    // Type-2 writes make "temp.z" in the current folder.
    QDir::setCurrent(Dir.path());
    Gen.setDeviceFront(&Front);
    Gen.setWorkDir(Dir.path());
    Gen.setOnMessage([this](const QString &Text) { Messages << Text; });
  }
  ~IOChainFile() override {
    QCoreApplication::processEvents();
    QDir::setCurrent(Saved);
  }
  QString Path(const QString &Name) const { return Dir.filePath(Name); }
  QByteArray Local(const QString &Name) const {
    QFile f(Path(Name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
  }
  void Put(const QString &Name, const QByteArray &Bytes) {
    QDir(Dir.path()).mkpath(QFileInfo(Path(Name)).path());
    SaveFileBytes(Path(Name), Bytes);
  }

  QTemporaryDir Dir;
  QString Saved;
  TFakeFront Front; // declared before the generator: chains unregister from it as they go
  TIOChainGen Gen;
  QStringList Messages;
  std::vector<std::pair<int, int>> Progress;
  TChainProgressEvent OnProgress = [this](int P, int M, uint32_t) { Progress.emplace_back(P, M); };
  bool Done = false;
  std::function<void()> MarkDone = [this] { Done = true; };
};

} // namespace

TEST_F(IOChainFile, PlainReadAsksFrameByFrameAndReportsProgress) {
  const QByteArray device = Pattern(40, 3);
  Gen.newList()
      .setFrameSize(4)
      .execNext([](TIOChain3 *Next, const QList<int> &) { CastIOChain3readFile(Next)->setFrameLast(9); }, {})
      .readFile(7, 0, Path("plain.bin"))
      .exec(MarkDone)
      .run(OnProgress);
  ASSERT_EQ(Front.Command(0), bcSetFrameSize);
  EXPECT_EQ(Front.Payload(0), Bytes({4, 0}));
  Front.Answer({});
  EXPECT_EQ(Front.Payload(1), Bytes({7, 0, 0})) << "file, frame word low byte first";
  const std::vector<int> frames = Front.Serve(7, device, 4);
  EXPECT_EQ(frames, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_TRUE(Done);
  EXPECT_EQ(Local("plain.bin"), device);
  std::vector<std::pair<int, int>> expected;
  for (int f = 0; f < 9; ++f)
    expected.emplace_back(f, 9);
  expected.emplace_back(100, 100);
  EXPECT_EQ(Progress, expected);
}

TEST_F(IOChainFile, StepsFailWithTheirTextsBeforeSendingAFrame) {
  Put("here.bin", Pattern(8, 1));
  struct TCase {
    const char *Name;
    std::function<void(TIOChainList3 &)> Build;
    QString Text;
  };
  const std::vector<TCase> cases = {
      {"no frame size", [&](TIOChainList3 &c) { c.readFile(1, 0, Path("x")); }, "ctSetFrameSize chain not found"},
      {"frame size 0", [&](TIOChainList3 &c) { c.setFrameSize(0).readFile(1, 0, Path("x")); }, "frame size 0"},
      {"read type 4", [&](TIOChainList3 &c) { c.setFrameSize(4).readFile(1, 4, Path("x")); }, "invalid ioc.FFileTtype"},
      {"ring without limit", [&](TIOChainList3 &c) { c.setFrameSize(4).readFile(1, 3, Path("x")); },
       "invalid FFrameLimit"},
      {"descriptor write", [&](TIOChainList3 &c) { c.setFrameSize(4).writeFile(1, 1, Path("here.bin")); },
       "invalid ioc.FFileTtype"},
      {"ring compare", [&](TIOChainList3 &c) { c.setFrameSize(4).compareFile(1, 3, Path("here.bin")); },
       "invalid ioc.FFileTtype"},
      {"missing file", [&](TIOChainList3 &c) { c.setFrameSize(4).writeFile(1, 0, Path("none.bin")); },
       "Файл не найден " + Path("none.bin")},
      {"missing compare", [&](TIOChainList3 &c) { c.setFrameSize(4).compareFile(1, 0, Path("none.bin")); },
       "Файл не найден " + Path("none.bin")},
      {"ring starting outside the ring",
       [&](TIOChainList3 &c) {
         c.setFrameSize(4)
             .execNext(
                 [](TIOChain3 *Next, const QList<int> &) {
                   CastIOChain3readFile(Next)->setFrameLimit(8);
                   CastIOChain3readFile(Next)->setFrameFirst(8);
                 },
                 {})
             .readFile(1, 3, Path("x"));
       },
       "first frame 8 outside the ring of 8"},
  };
  for (const TCase &t : cases) {
    Messages.clear();
    Front.Sent.clear();
    TIOChainList3 &c = Gen.newList();
    try {
      t.Build(c); // arguments that can never work are refused here
      c.run();    // a first step that fails throws to the caller of run
    } catch (const EKvError &e) {
      Messages << e.Text();
    }
    if (!Front.Sent.empty()) {
      EXPECT_EQ(Front.Command(0), bcSetFrameSize) << t.Name;
      Front.Answer({});
    }
    EXPECT_EQ(Messages, QStringList{t.Text}) << t.Name;
    EXPECT_LE(Front.Sent.size(), 1u) << t.Name << ": no frame record";
  }
}

TEST_F(IOChainFile, AnswerForAnotherFileOrFrameEndsTheChain) {
  const struct {
    QByteArray Answer;
    const char *Text;
  } cases[] = {{Bytes({8, 0, 0, 1, 2, 3, 4}), "invalid file no"}, {Bytes({7, 1, 0, 1, 2, 3, 4}), "invalid frame no"}};
  for (const auto &c : cases) {
    Messages.clear();
    Front.Sent.clear();
    Gen.newList().setFrameSize(4).readFile(7, 0, Path("x.bin")).exec(MarkDone).run();
    Front.Answer({});
    Front.Answer(c.Answer);
    EXPECT_EQ(Messages, QStringList{c.Text});
    EXPECT_FALSE(Done);
    EXPECT_FALSE(QFile::exists(Path("x.bin"))) << "nothing saved from a broken transfer";
  }
}

TEST_F(IOChainFile, DescriptorLengthComesFromTheImageHead) {
  struct TCase {
    const char *Name;
    bool Smart;
    QByteArray Head; // the first bytes of the image
    std::vector<int> Frames;
  };
  QByteArray plain(48, '\0');
  plain[0] = char(100); // 100 words: 200 bytes, ceil(200 / 128) = 2 used as the last frame
  QByteArray smart(48, '\0');
  // Image byte 48 at 0x2030: the image starts at 0x2000; 0x2180 - 0x2000 = 384 bytes: last frame 3.
  smart[4] = char(0x30), smart[5] = char(0x20), smart[28] = char(0x80), smart[29] = char(0x21);
  QByteArray exact(48, '\0');
  exact[0] = char(64); // 128 bytes: last frame 1
  const std::vector<TCase> cases = {
      {"word 0", false, plain, {0, 1, 2}},
      {"smart", true, smart, {0, 1, 2, 3}},
      {"one whole frame", false, exact, {0, 1}},
  };
  for (const TCase &t : cases) {
    Front.Sent.clear();
    Gen.useSmartDesc(t.Smart);
    const QByteArray image = t.Head + Pattern(600, 5);
    Gen.newList().setFrameSize(128).readFile(129, 1, Path("DeviceDescriptor.bin")).run();
    Front.Answer({});
    EXPECT_EQ(Front.Serve(129, image, 128), t.Frames) << t.Name;
    EXPECT_EQ(Local("DeviceDescriptor.bin"), image.left(128 * qsizetype(t.Frames.size()))) << t.Name;
  }
  Messages.clear();
  Gen.useSmartDesc(true);
  QByteArray low(48, '\0');
  low[4] = 47;
  Gen.newList().setFrameSize(128).readFile(129, 1, Path("low.bin")).run();
  Front.Answer({});
  Front.Serve(129, low, 128);
  EXPECT_EQ(Messages, QStringList{"descriptor base address below 48: 47"});
}

// An image of 2200 bytes (1100 words in its head) under key AB01C23D, with
// the identifier checksum Check at 2106, and the XML a decoder made of it.
QByteArray CacheImage(int Seed, uint32_t Check) {
  QByteArray image = Pattern(2200, Seed);
  image[0] = char(1100 & 0xFF), image[1] = char(1100 >> 8);
  image[44] = char(0xAB), image[45] = char(0x01), image[46] = char(0xC2), image[47] = char(0x3D);
  for (int i = 0; i < 4; ++i)
    image[2106 + i] = char(Check >> (8 * i));
  return image;
}
// The digest file as sha256sum writes it for the pair of Key.
QByteArray Sha256Sum(const QByteArray &Key, const QByteArray &Bin, const QByteArray &Xml) {
  return QCryptographicHash::hash(Bin, QCryptographicHash::Sha256).toHex() + "  " + Key + ".bin\n" +
         QCryptographicHash::hash(Xml, QCryptographicHash::Sha256).toHex() + "  " + Key + ".xml\n";
}
QByteArray CacheXml(uint32_t Check) {
  return "<device><internal><calibr-addr>0</calibr-addr><ident-cache>" + QByteArray::number(Check) +
         "</ident-cache></internal></device>";
}

TEST_F(IOChainFile, CachedDescriptorEndsTheReadAfterItsFirstFrame) {
  const QByteArray image = CacheImage(5, 0x80000001u);
  // Written by another spelling: the lookup ignores letter case. A read
  // gives frames 0..18 of 128 bytes, more than the 2200 the head asks for.
  Put("Cache/ab01c23d.BIN", image + QByteArray(19 * 128 - 2200, '\0'));
  Put("Cache/ab01c23d.xml", CacheXml(0x80000001u));
  Put("Cache/AB01C23D.sha256", Sha256Sum("AB01C23D", image + QByteArray(19 * 128 - 2200, '\0'), CacheXml(0x80000001u)));
  Gen.newList().setFrameSize(128).readFile(129, 1, Path("DeviceDescriptor.bin")).exec(MarkDone).run(OnProgress);
  Front.Answer({});
  EXPECT_EQ(Front.Serve(129, image, 128), std::vector<int>{0});
  EXPECT_TRUE(Done);
  EXPECT_EQ(Local("DeviceDescriptor.bin").left(2200), image);
  EXPECT_EQ(Local("DeviceDescriptor.xml"), CacheXml(0x80000001u));
  EXPECT_EQ(Progress, (std::vector<std::pair<int, int>>{{100, 100}}));

  // Without either half of the pair the image is read whole.
  for (const char *gone : {"Cache/ab01c23d.BIN", "Cache/ab01c23d.xml"}) {
    Front.Sent.clear();
    QFile::rename(Path(gone), Path(gone) + ".away");
    Gen.newList().setFrameSize(128).readFile(129, 1, Path("DeviceDescriptor.bin")).run();
    Front.Answer({});
    EXPECT_EQ(Front.Serve(129, image, 128).size(), 19u) << gone;
    EXPECT_EQ(Local("DeviceDescriptor.bin").left(2200), image) << gone;
    QFile::rename(Path(gone) + ".away", Path(gone));
  }
  EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
}

TEST_F(IOChainFile, CachedDescriptorThatDoesNotMatchTheDeviceIsRemovedAndTheDeviceRead) {
  const uint32_t check = 0x12345678u;
  const QByteArray image = CacheImage(5, check);
  QByteArray flipped = image;
  flipped[100] = char(flipped[100] ^ 0x01);
  const QByteArray whole = image + QByteArray(19 * 128 - 2200, '\0');
  QByteArray flippedLate = whole;
  flippedLate[1500] = char(flippedLate[1500] ^ 0x01);
  QByteArray widened = CacheXml(check);
  widened.replace("<calibr-addr>0", "<calibr-addr>9");
  const struct {
    const char *Name;
    QByteArray Bin, Xml;
    const char *Why;
    QByteArray Digest = {}; // the digest file; empty: that of Bin and Xml
  } cases[] = {
      {"no digest: an earlier version's pair", whole, CacheXml(check), "no digest beside it", "-"},
      {"image byte past the first frame", flippedLate, CacheXml(check), "do not match their digest",
       Sha256Sum("AB01C23D", whole, CacheXml(check))},
      {"one value of the XML", whole, widened, "do not match their digest",
       Sha256Sum("AB01C23D", whole, CacheXml(check))},
      {"XML of another image with its own digest", whole, CacheXml(check), "do not match their digest",
       Sha256Sum("AB01C23D", whole, CacheXml(77))},
      {"cut XML", image, CacheXml(check).left(40), "ab01c23d.xml: "},
      {"flipped byte in the first frame", flipped, CacheXml(check), "first frame differs"},
      {"another image's pair", CacheImage(9, 77), CacheXml(77), "first frame differs"},
      {"XML of another image", image, CacheXml(77), "ident-cache \"77\" where the image holds 305419896"},
      {"image cut short", image.left(2000), CacheXml(check), "2000 bytes where the image head gives 2200"},
      {"image longer than a read", image + QByteArray(300, '\0'), CacheXml(check), "2500 bytes"},
  };
  for (const auto &t : cases) {
    Front.Sent.clear();
    Logger().Clear();
    Put("cache/ab01c23d.bin", t.Bin);
    Put("cache/ab01c23d.xml", t.Xml);
    if (t.Digest != "-")
      Put("cache/AB01C23D.sha256", t.Digest.isEmpty() ? Sha256Sum("AB01C23D", t.Bin, t.Xml) : t.Digest);
    Gen.newList().setFrameSize(128).readFile(129, 1, Path("DeviceDescriptor.bin")).run();
    Front.Answer({});
    EXPECT_EQ(Front.Serve(129, image, 128).size(), 19u) << t.Name;
    EXPECT_EQ(Local("DeviceDescriptor.bin").left(2200), image) << t.Name;
    EXPECT_FALSE(QFile::exists(Path("DeviceDescriptor.xml"))) << t.Name;
    EXPECT_TRUE(QDir(Path("cache")).entryList(QDir::Files).isEmpty()) << t.Name;
    const QString line = Logger().Lines().filter("descriptor cache").value(0);
    EXPECT_TRUE(line.contains("ERROR descriptor cache " + Path("cache/ab01c23d.bin") + " not used, removed: ") &&
                line.contains(t.Why))
        << t.Name << ": " << line.toStdString();
  }
  EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
}

TEST_F(IOChainFile, ZlibReadTakesTheFramesOfItsPayload) {
  const QByteArray text = "<custom-logic><dd-di/></custom-logic>";
  struct TCase {
    const char *Name;
    int PayloadBytes;
    std::vector<int> Frames;
  };
  // 20 + P bytes of container: P = 108 fills one frame of 128, 120 needs two.
  for (const TCase &t : {TCase{"100", 100, {5}}, TCase{"108", 108, {5}}, TCase{"120", 120, {5, 6}}}) {
    Front.Sent.clear();
    QByteArray payload = Zlib(text);
    ASSERT_LT(payload.size(), t.PayloadBytes);
    // After the stream's end: not inflated.
    payload.append(QByteArray(t.PayloadBytes - payload.size(), '\x5A'));
    const QByteArray device = QByteArray(5 * 128, '\0') + Container(payload, 128);
    QDir(Path("cache")).removeRecursively();
    Gen.newList()
        .setFrameSize(128)
        .execNext([](TIOChain3 *Next, const QList<int> &) { CastIOChain3readFile(Next)->setFrameFirst(5); }, {})
        .readFile(140, 2, Path("custom-logic.xml"))
        .run();
    Front.Answer({});
    EXPECT_EQ(Front.Serve(140, device, 128), t.Frames) << t.Name;
    EXPECT_EQ(Local("custom-logic.xml"), text) << t.Name;
    EXPECT_EQ(Local("custom-logic.xml.z"), payload) << t.Name;
    EXPECT_EQ(Local("cache/" + QString::fromLatin1(Md5(payload).toHex().toUpper())), payload) << t.Name;
  }
}

TEST_F(IOChainFile, ZlibReadWithACachedDigestStopsAfterTheFirstFrame) {
  const QByteArray text(3000, 'q');
  const QByteArray payload = Zlib(text) + Pattern(300, 1);
  Put("cache/" + QString::fromLatin1(Md5(payload).toHex()), payload); // lower-case spelling
  Gen.newList().setFrameSize(128).readFile(140, 2, Path("logic.xml")).exec(MarkDone).run();
  Front.Answer({});
  EXPECT_EQ(Front.Serve(140, Container(payload, 128), 128), std::vector<int>{0});
  EXPECT_TRUE(Done);
  EXPECT_EQ(Local("logic.xml"), text);
  EXPECT_EQ(Local("logic.xml.z"), payload);

  // A cached copy that no longer matches its digest is not used.
  Put("cache/" + QString::fromLatin1(Md5(payload).toHex()), "damaged");
  Gen.newList().setFrameSize(128).readFile(140, 2, Path("logic.xml")).run();
  Front.Answer({});
  EXPECT_EQ(Front.Serve(140, Container(payload, 128), 128).size(), size_t(Container(payload, 128).size() / 128));
  EXPECT_EQ(Local("logic.xml"), text);
}

// Frame numbers are 16-bit on the wire: a container announcing more frames
// than that must end the read, not wrap round to frame 0 and stop early.
TEST_F(IOChainFile, ZlibReadOfMoreFramesThanTheWireCountsIsARangeError) {
  QByteArray head = Container(QByteArray(108, 'z'), 128);
  head[2] = char(0x80); // P = 8 MiB: 65537 frames of 128
  Gen.newList().setFrameSize(128).readFile(140, 2, Path("logic.xml")).exec(MarkDone).run();
  Front.Answer({});
  EXPECT_EQ(Front.Serve(140, head, 128), std::vector<int>{0});
  EXPECT_FALSE(Done);
  EXPECT_EQ(Messages, QStringList{"frame number out of range: 65536"});
}

TEST_F(IOChainFile, ZlibReadWithAWrongDigestKeepsTheEarlierCopyAndCachesNothing) {
  Put("logic.xml", "earlier");
  Put("logic.xml.z", "earlier z");
  const QByteArray payload = Zlib(QByteArray(500, 'w')) + Pattern(200, 9);
  QByteArray device = Container(payload, 128);
  device[150] = char(device[150] ^ 0x01); // in the second frame
  Gen.newList().setFrameSize(128).readFile(140, 2, Path("logic.xml")).exec(MarkDone).run();
  Front.Answer({});
  Front.Serve(140, device, 128);
  EXPECT_FALSE(Done);
  EXPECT_EQ(Messages, QStringList{"Ошибка контрольной суммы файла " + Path("logic.xml")});
  EXPECT_EQ(Local("logic.xml"), "earlier");
  EXPECT_EQ(Local("logic.xml.z"), "earlier z");
  EXPECT_TRUE(QDir(Path("cache")).entryList(QDir::Files).isEmpty());
}

TEST_F(IOChainFile, RingReadStopsAtTheLastFrameOrAtAnOlderStamp) {
  // Eight frames of 8 bytes: stamps of minutes 10..17, frame 3 the newest
  // before the wrap (frame 4 holds the oldest, minute 10).
  QByteArray ring;
  for (int f = 0; f < 8; ++f)
    ring += Stamp(2026, 3, 5, 12, 10 + (f + 4) % 8, 0) + Bytes({f});
  struct TCase {
    const char *Name;
    int First, Last;
    TDateTime LastTime;
    std::vector<int> Asked;
    int Written; // frames written to the local file
  };
  TDateTime minute11 = 0.0;
  ASSERT_TRUE(TryEncodeDateTime(2026, 3, 5, 12, 11, 0, 0, minute11));
  TDateTime minute20 = 0.0;
  ASSERT_TRUE(TryEncodeDateTime(2026, 3, 5, 12, 20, 0, 0, minute20));
  const std::vector<TCase> cases = {
      {"to the last frame", 6, 2, 0.0, {6, 7, 0, 1}, 4},
      {"older frame after the wrap", 6, 6, minute11, {6, 7, 0, 1, 2, 3, 4}, 6},
      {"first frame older than the last time", 6, 2, minute20, {6}, 0},
      {"last frame outside the ring: one turn", 2, 8, 0.0, {2, 3, 4, 5, 6, 7, 0, 1}, 8},
  };
  for (const TCase &t : cases) {
    Front.Sent.clear();
    Put("events.bin", "stale");
    Gen.newList()
        .setFrameSize(8)
        .execNext(
            [&](TIOChain3 *Next, const QList<int> &) {
              TIOChain3readFile *s = CastIOChain3readFile(Next);
              s->setFrameLimit(8);
              s->setFrameFirst(uint16_t(t.First));
              s->setFrameLast(uint16_t(t.Last));
              s->setLastTime(t.LastTime);
            },
            {})
        .readFile(128, 3, Path("events.bin"))
        .run();
    Front.Answer({});
    EXPECT_EQ(Front.Serve(128, ring, 8), t.Asked) << t.Name;
    QByteArray written;
    for (int i = 0; i < t.Written; ++i)
      written += ring.mid(((t.First + i) % 8) * 8, 8);
    EXPECT_EQ(Local("events.bin"), written) << t.Name;
  }
}

TEST_F(IOChainFile, PlainWritePadsItsLastFrameAndCompareFindsAFlippedByte) {
  Put("out.bin", Pattern(6, 1));
  Gen.newList()
      .setFrameSize(4)
      .execNext([](TIOChain3 *Next, const QList<int> &) { static_cast<TIOChain3writeFile *>(Next)->setFrameLast(1); },
                {})
      .writeFile(9, 0, Path("out.bin"))
      .exec(MarkDone)
      .run(OnProgress);
  Front.Answer({});
  ASSERT_EQ(Front.Sent.size(), 2u);
  EXPECT_EQ(Front.Command(1), bcWriteFileFrame);
  EXPECT_EQ(Front.Payload(1), Bytes({9, 0, 0}) + Pattern(6, 1).left(4));
  Front.Answer(Bytes({9, 0, 0}));
  ASSERT_EQ(Front.Sent.size(), 3u);
  EXPECT_EQ(Front.Payload(2), Bytes({9, 1, 0}) + Pattern(6, 1).mid(4) + Bytes({0, 0}));
  Front.Answer(Bytes({9, 1, 0}));
  EXPECT_TRUE(Done);
  EXPECT_EQ(Progress, (std::vector<std::pair<int, int>>{{0, 1}, {100, 100}}));

  const QByteArray device = Pattern(6, 1) + Bytes({0, 0});
  for (int flip : {-1, 5, 7}) {
    Messages.clear();
    Done = false;
    QByteArray d = device;
    if (flip >= 0)
      d[flip] = char(d[flip] ^ 0x40);
    Gen.newList()
        .setFrameSize(4)
        .execNext([](TIOChain3 *Next, const QList<int> &) { static_cast<TIOChain3writeFile *>(Next)->setFrameLast(1); },
                  {})
        .compareFile(9, 0, Path("out.bin"))
        .exec(MarkDone)
        .run();
    Front.Answer({});
    Front.Serve(9, d, 4);
    EXPECT_EQ(Done, flip < 0) << flip;
    EXPECT_EQ(Messages, flip < 0 ? QStringList() : QStringList{"ошиба сравнения"}) << flip;
  }
}

TEST_F(IOChainFile, ZlibWriteSendsTheContainerAndTheCompareReadsTheSameFrames) {
  // 60 bytes that hardly compress: a container of 20 + ~68 bytes, two frames of 64.
  const QByteArray text = Pattern(60, 11).toHex().left(60);
  const QByteArray container = Container(Zlib(text), 64);
  ASSERT_EQ(container.size(), 128) << "the case needs a container of exactly two frames";
  Put("logic.xml", text);
  Gen.newList()
      .setFrameSize(64)
      .execNext([](TIOChain3 *Next, const QList<int> &) { static_cast<TIOChain3writeFile *>(Next)->setFrameFirst(64); },
                {})
      .writeFile(140, 2, Path("logic.xml"))
      .exec(MarkDone)
      .run();
  Front.Answer({});
  EXPECT_TRUE(QFile::exists(Path("temp.z")));
  EXPECT_EQ(Local("logic.xml.z"), container);
  QByteArray sent;
  std::vector<int> frames;
  while (!Done && Front.Command(Front.Sent.size() - 1) == bcWriteFileFrame) {
    const int f = Front.LastFrame();
    frames.push_back(f);
    sent += Front.Payload(Front.Sent.size() - 1).mid(3);
    Front.Answer(Bytes({140, f & 0xFF, f >> 8}));
  }
  EXPECT_EQ(frames, (std::vector<int>{64, 65}));
  EXPECT_EQ(sent, container);
  EXPECT_TRUE(Done);

  Done = false;
  Gen.newList()
      .setFrameSize(64)
      .execNext([](TIOChain3 *Next, const QList<int> &) { static_cast<TIOChain3writeFile *>(Next)->setFrameFirst(64); },
                {})
      .compareFile(140, 2, Path("logic.xml.z"))
      .exec(MarkDone)
      .run();
  Front.Answer({});
  EXPECT_EQ(Front.Serve(140, QByteArray(64 * 64, '\0') + container + Pattern(64, 1), 64), (std::vector<int>{64, 65}));
  EXPECT_TRUE(Done);
  EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
}

TEST(IOChainFileRoutines, PackAndDecompressRoundTrip) {
  QTemporaryDir dir;
  const QString src = dir.filePath("a.xml");
  SaveFileBytes(src, QByteArray(5000, 'a') + "tail");
  CompressFile(src, dir.filePath("a.z"));
  PackFile(dir.filePath("a.z"), dir.filePath("b.z"), 2048);
  const QByteArray z = LoadFileBytes(dir.filePath("a.z"));
  const QByteArray packed = LoadFileBytes(dir.filePath("b.z"));
  EXPECT_EQ(packed, Container(z, 2048));
  SaveFileBytes(dir.filePath("c.z"), z);
  DecompressFile(dir.filePath("c"));
  EXPECT_EQ(LoadFileBytes(dir.filePath("c")), LoadFileBytes(src));
  // A stream cut short or broken is an error, never a partial file.
  for (const QByteArray &broken : {z.left(z.size() / 2), QByteArray("not zlib"), QByteArray()}) {
    SaveFileBytes(dir.filePath("d.z"), broken);
    EXPECT_THROW(DecompressFile(dir.filePath("d")), EKvFormat);
    EXPECT_EQ(ErrorOf([&] { DecompressFile(dir.filePath("d")); }), "invalid zlib data: " + dir.filePath("d.z"));
    EXPECT_FALSE(QFile::exists(dir.filePath("d")));
  }
  EXPECT_EQ(ErrorOf([&] { DecompressFile(dir.filePath("none")); }), "Файл не найден " + dir.filePath("none.z"));
}

// ------------------------------------------------------------ against devsim

namespace {

// devsim started with Args, and the chains' whole road to it: generator,
// device front and worker on the chosen link.
class TDevsimChains {
public:
  TDevsimChains(bool Tcp, const QStringList &Args) {
    App();
    FDevsim.Start(TDevSimProcess::DevSimPath(), Args);
    const QString pty = FDevsim.WaitFor("pty ");
    const int port = FDevsim.WaitFor("tcp 127.0.0.1:").toInt();
    FThread = std::make_unique<TDeviceThread>(FDir.filePath("debug.log"), QString());
    TOI &oi = FThread->DeviceIO().GetOI();
    oi.SetTimeout(2000);
    oi.SetTcpTimeout(5000);
    if (Tcp) {
      oi.SetProtocol(TOI::prModbusTcp);
      oi.SetHost("127.0.0.1");
      oi.SetPort(port);
    } else {
      oi.SetProtocol(TOI::prModbusRtu);
      oi.GetComPort().SetPortName(pty);
      oi.GetComPort().SetBaudRate(115200);
    }
    FTool = std::make_unique<TDeviceTool>(*FThread);
    FTool->SetDeviceAddr(1);
    FGen = std::make_unique<TIOChainGen>();
    FGen->setDeviceFront(FTool.get());
    FGen->setWorkDir(FDir.path());
    FGen->setOnMessage([this](const QString &Text) { Messages << Text; });
  }
  ~TDevsimChains() {
    FGen.reset();
    FTool.reset();
    FThread.reset();
    FDevsim.Stop();
  }
  TIOChainList3 &New() { return FGen->newList(); }
  TIOChainGen &Gen() { return *FGen; }
  // Runs the chain and waits until it has ended; the messages it sent are in Messages.
  bool Run(TIOChainList3 &Chain, TChainProgressEvent Progress = {}) {
    Chain.run(std::move(Progress));
    return WaitFor([this] { return FGen->ChainCount() == 0; });
  }
  QString Path(const QString &Name) const { return FDir.filePath(Name); }
  TDevSimProcess &Devsim() { return FDevsim; }
  QStringList Messages;

private:
  QTemporaryDir FDir;
  TDevSimProcess FDevsim;
  std::unique_ptr<TDeviceThread> FThread;
  std::unique_ptr<TDeviceTool> FTool;
  std::unique_ptr<TIOChainGen> FGen;
};

class IOChainDevsim : public ::testing::TestWithParam<bool> {};

} // namespace

TEST_P(IOChainDevsim, DeviceStepsReadWriteClockAndSpecialCommands) {
  QStringList values;
  for (int i = 0; i < 300; ++i)
    values << QString::number(0x1000 + i);
  TDevsimChains d(GetParam(),
                  {"--set", "holding:100=" + values.join(','), "--set", "sram:0x40=0xA1B2,0xC3D4", "--set",
                   "flash:0x200=0x1234,0x5678,0x9ABC", "--clock-stopped", "--clock", "2026-03-05 14:15:02"});
  // 300 registers from 100: records of 127, 127 and 46, answered in order.
  QByteArray regs, expected;
  for (int i = 0; i < 300; ++i)
    regs += Words({100 + i}), expected += Words({100 + i, 0x1000 + i});
  TIo read(regs), sram(Words({0x41, 0x40})), flash, back(Words({100, 101}));
  // Two registers written between SRAM and FLASH reads, then read back.
  TIo writes(Words({100, 0x1234, 101, 0xABCD}));
  TDateTime newTime = 0.0;
  ASSERT_TRUE(TryEncodeDateTime(2027, 1, 2, 3, 4, 5, 0, newTime));
  TIo time(QByteArray(reinterpret_cast<const char *>(&newTime), 8));
  const uint16_t flashAddr = 0x200;
  const int flashCount = 3;
  uint8_t flashLow = 0;
  uint16_t flashWord = 0;
  bool done = false;
  TAddrList found;
  TIOChainList3 &c = d.New()
                         .poll(1, found)
                         .setDeviceAddr(found)
                         .readReg(read.In, read.Out)
                         .readSram(sram.In, sram.Out)
                         .readFlash(flashAddr, flashLow)
                         .readFlash(flashAddr, flashWord)
                         .readFlashStream(flashAddr, flashCount, flash.Out)
                         .writeReg(writes.In)
                         .readReg(back.In, back.Out)
                         .writeTime(time.In)
                         .readTime(0, time.Out)
                         .specCmd(ctSpecCmdOn)
                         .specCmd(ctSpecCmdModbusOn)
                         .specCmd(ctSpecCmdOff)
                         .exec([&] { done = true; });
  ASSERT_TRUE(d.Run(c));
  ASSERT_TRUE(done) << d.Messages.join("; ").toStdString();
  EXPECT_EQ(found, TAddrList{1});
  EXPECT_EQ(read.Out.data(), expected);
  EXPECT_EQ(read.Out.data().mid(4 * 299), Bytes({0x8F, 0x01, 0x2B, 0x11}));
  EXPECT_EQ(sram.Out.data(), Words({0x41, 0xC3D4, 0x40, 0xA1B2}));
  EXPECT_EQ(flashLow, 0x34);
  EXPECT_EQ(flashWord, 0x1234);
  EXPECT_EQ(flash.Out.data(), Words({0x200, 0x1234, 0x201, 0x5678, 0x202, 0x9ABC}));
  EXPECT_EQ(back.Out.data(), writes.Data) << "the write went to the registers although FLASH was selected last";
  ASSERT_EQ(time.Out.size(), 8);
  TDateTime got;
  std::memcpy(&got, time.Out.data().constData(), 8);
  EXPECT_EQ(DateTimeToQDateTime(got).toString("yyyy-MM-dd hh:mm:ss"), "2027-01-02 03:04:05");
  for (const char *code : {"FF", "F1", "F0"})
    EXPECT_EQ(d.Devsim().WaitFor("special "), code);
}

TEST_P(IOChainDevsim, TwoFrameWriteIsComparedAndAFlippedByteFailsTheCompare) {
  QTemporaryDir saved;
  TDevsimChains d(GetParam(), {"--file", "150:128", "--save-files", saved.path()});
  const QByteArray data = Pattern(200, 4);
  SaveFileBytes(d.Path("out.bin"), data);
  auto twoFrames = [](TIOChain3 *Next, const QList<int> &) {
    static_cast<TIOChain3writeFile *>(Next)->setFrameLast(1);
  };
  ASSERT_TRUE(d.Run(d.New().setFrameSize(128).execNext(twoFrames, {}).writeFile(150, 0, d.Path("out.bin"))));
  ASSERT_TRUE(d.Messages.isEmpty()) << d.Messages.join("; ").toStdString();
  EXPECT_EQ(LoadFileBytes(saved.filePath("file150.bin")), data + QByteArray(56, '\0'));
  bool same = false;
  ASSERT_TRUE(d.Run(d.New().setFrameSize(128).execNext(twoFrames, {}).compareFile(150, 0, d.Path("out.bin")).exec([&] {
    same = true;
  })));
  EXPECT_TRUE(same) << d.Messages.join("; ").toStdString();
  QByteArray flipped = data;
  flipped[170] = char(flipped[170] ^ 1);
  SaveFileBytes(d.Path("out.bin"), flipped);
  ASSERT_TRUE(d.Run(d.New().setFrameSize(128).execNext(twoFrames, {}).compareFile(150, 0, d.Path("out.bin"))));
  EXPECT_EQ(d.Messages, QStringList{"ошиба сравнения"});
}

// Five chains started together, their records interleaved in the worker as a
// page's refresh, an identification and a write interleave them: each record
// goes with the frame size, memory area and device address of its own chain.
TEST_P(IOChainDevsim, InterleavedChainsKeepTheirOwnFrameSizeAreaAndAddress) {
  const bool tcp = GetParam();
  QTemporaryDir files;
  const QByteArray ring = Pattern(256 * 21, 5), descriptor = Pattern(256, 6);
  SaveFileBytes(files.filePath("ring"), ring);
  SaveFileBytes(files.filePath("desc"), descriptor);
  TDevsimChains d(tcp, {"--file", "128:21:" + files.filePath("ring"), "--file", "129:128:" + files.filePath("desc"),
                        "--set", "sram:100=0x5A01,0x5A02,0x5A03", "--set", "flash:0x200=0x1234"});
  int ended = 0;
  auto end = [&ended] { ++ended; };
  // The event ring, frames 250..253 of 21 bytes.
  auto ringFrames = [](TIOChain3 *Next, const QList<int> &) {
    auto *read = CastIOChain3readFile(Next);
    read->setFrameLimit(256);
    read->setFrameFirst(250);
    read->setFrameLast(254);
  };
  d.New().setFrameSize(21).execNext(ringFrames, {}).readFile(128, 3, d.Path("ring.bin")).exec(end).run();
  // An identity check's descriptor frames, 128 bytes each.
  auto twoFrames = [](TIOChain3 *Next, const QList<int> &) { CastIOChain3readFile(Next)->setFrameLast(1); };
  d.New().setFrameSize(128).execNext(twoFrames, {}).readFile(129, 0, d.Path("desc.bin")).exec(end).run();
  // Three registers written one record after another, then read back.
  TIo writes(Words({100, 0x0111, 101, 0x0222, 102, 0x0333})), back(Words({100, 101, 102}));
  d.New().writeReg(writes.In).readReg(back.In, back.Out).exec(end).run();
  // An identification's SRAM and FLASH reads.
  TIo sram(Words({100, 101, 102}));
  uint16_t flashAddr = 0x200, flashWord = 0;
  d.New().readSram(sram.In, sram.Out).readFlash(flashAddr, flashWord).exec(end).run();
  // Over Modbus TCP, a chain that addresses unit 9, which devsim refuses.
  TAddrList other{9};
  TIo otherRead(Words({100}));
  if (tcp)
    d.New().setDeviceAddr(other).readReg(otherRead.In, otherRead.Out).exec(end).run();
  ASSERT_TRUE(WaitFor([&] { return d.Gen().ChainCount() == 0; }));

  EXPECT_EQ(ended, 4) << d.Messages.join("; ").toStdString();
  EXPECT_EQ(LoadFileBytes(d.Path("ring.bin")), ring.mid(250 * 21, 4 * 21));
  EXPECT_EQ(LoadFileBytes(d.Path("desc.bin")), descriptor);
  EXPECT_EQ(back.Out.data(), writes.Data) << "a register write went out as another area's write";
  EXPECT_EQ(sram.Out.data(), Words({100, 0x5A01, 101, 0x5A02, 102, 0x5A03}));
  EXPECT_EQ(flashWord, 0x1234);
  TIo sramAfter(Words({100, 101, 102}));
  TAddrList device{1};
  ASSERT_TRUE(d.Run(d.New().setDeviceAddr(device).readSram(sramAfter.In, sramAfter.Out)));
  EXPECT_EQ(sramAfter.Out.data(), sram.Out.data()) << "the SRAM was written";
  // The chain for unit 9 alone was refused for it.
  EXPECT_EQ(d.Messages, tcp ? QStringList{"Ошибка устройства 0b"} : QStringList{});
}

INSTANTIATE_TEST_SUITE_P(Links, IOChainDevsim, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool> &Info) { return Info.param ? "Tcp" : "Pty"; });
