// The external FLASH image built from a work folder: the header and sub-file
// layout read back byte by byte, against devsim's own image writer, and the
// frames set on the file step that transfers it.
#include <gtest/gtest.h>
#include "../../common/uErrorOf.h"

#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryDir>
#include <array>

#include "uDevSimFiles.h"
#include "uErrors.h"
#include "uExtFlash.h"
#include "uFiles.h"
#include "uIOChain3.h"
#include "uIOChainFile.h"

namespace {

uint32_t U32(const QByteArray &B, qsizetype At) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i)
    v = (v << 8) | uint8_t(B[At + i]);
  return v;
}
int FirstBlock(const QByteArray &Img, int K) { return uint8_t(Img[2 + 2 * K]) | uint8_t(Img[3 + 2 * K]) << 8; }

// CRC-16/MODBUS bit by bit, as the image's header describes it.
uint16_t RefCrc(const QByteArray &B, int Count) {
  uint16_t crc = 0xFFFF;
  for (int i = 0; i < Count; ++i) {
    crc ^= uint8_t(B[i]);
    for (int b = 0; b < 8; ++b)
      crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
  }
  return crc;
}

// Pseudo-random bytes zlib cannot shrink: they push a sub-file past 128 KB.
QByteArray Noise(int Size) {
  QByteArray out(Size, '\0');
  uint32_t x = 2463534242u;
  for (char &c : out) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    c = char(x);
  }
  return out;
}

struct TWorkFolder {
  QTemporaryDir Dir;
  std::array<QByteArray, 6> Contents{"<schema-code/>\r\n", "<config/>\r\n",       "; ids\r\n",
                                     "<logic/>\r\n",       "<custom-logic/>\r\n", "<custom-logic>1</custom-logic>\r\n"};
  QString Path(const QString &Name) const { return QDir(Dir.path()).filePath(Name); }
  void Write() {
    for (int k = 0; k < 6; ++k)
      SaveFileBytes(Path(QString::fromLatin1(ExtFlash::SourceNames[k])), Contents[size_t(k)]);
  }
  QByteArray Build() {
    Write();
    BuildExtFlash(Dir.path(), Path("extflash.bin"));
    return LoadFileBytes(Path("extflash.bin"));
  }
};

} // namespace

TEST(ExtFlash, HeaderAndSubFiles) {
  EXPECT_EQ(RefCrc("123456789", 9), 0x4B37);
  struct {
    const char *Name;
    int Big;       // bytes of noise in the base logic
    int Sub5Block; // where the custom logic starts
  } cases[] = {{"small files", 0, 64}, {"past 128 KB", 150000, 128}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    TWorkFolder w;
    w.Contents[2] = QByteArray(); // an empty source still gets a zlib stream
    if (c.Big)
      w.Contents[3] = Noise(c.Big);
    const QByteArray img = w.Build();
    EXPECT_EQ(img.left(2), QByteArray::fromHex("0106"));
    const uint16_t crc = RefCrc(img, 14);
    EXPECT_EQ(uint8_t(img[14]), crc >> 8);
    EXPECT_EQ(uint8_t(img[15]), crc & 0xFF);
    EXPECT_EQ(FirstBlock(img, 0), 1);
    EXPECT_EQ(FirstBlock(img, 5), c.Sub5Block);
    for (int k = 0; k < 6; ++k) {
      const qsizetype at = qsizetype(FirstBlock(img, k)) * ExtFlash::BlockBytes;
      const uint32_t n = U32(img, at);
      const QByteArray z = img.mid(at + 20, n);
      EXPECT_GT(n, 0u) << k;
      EXPECT_EQ(img.mid(at + 4, 16), QCryptographicHash::hash(z, QCryptographicHash::Md5)) << k;
      EXPECT_EQ(InflateBytes(z, "sub-file"), w.Contents[size_t(k)]) << k;
    }
    // devsim serves the same image for the same six files (padding included).
    EXPECT_EQ(img, BuildExtFlash(w.Contents));
  }
}

TEST(ExtFlash, OnlyTheCustomLogicChangesWithIt) {
  TWorkFolder w;
  const QByteArray before = w.Build();
  w.Contents[5] = "<custom-logic>changed, and rather longer than before</custom-logic>\r\n";
  const QByteArray after = w.Build();
  const qsizetype sub5 = qsizetype(FirstBlock(before, 5)) * ExtFlash::BlockBytes;
  EXPECT_EQ(after.left(sub5), before.left(sub5));
  EXPECT_NE(after.mid(sub5), before.mid(sub5));
}

// The head that names a custom logic: the same from the compressed bytes a
// read leaves and from the container's first frame, and another for a
// custom logic changed by one caption; a frame too short for it is refused.
TEST(ExtFlash, SubFileHeadNamesTheCustomLogicItHolds) {
  TWorkFolder w;
  const QByteArray img = w.Build();
  const qsizetype at = qsizetype(FirstBlock(img, 5)) * ExtFlash::BlockBytes;
  const QByteArray frame = img.mid(at, ExtFlash::BlockBytes);
  const QByteArray z = img.mid(at + 20, U32(img, at));
  // Worked out from the layout: the length low byte first, then the digest.
  const uint n = uint(z.size());
  const char length[4] = {char(n & 0xFF), char(n >> 8 & 0xFF), char(n >> 16 & 0xFF), char(n >> 24)};
  const QByteArray expected = QByteArray(length, 4) + QCryptographicHash::hash(z, QCryptographicHash::Md5);
  EXPECT_EQ(SubFileHead(z), expected);
  EXPECT_EQ(SubFileHeadOfFrame(frame), expected);
  w.Contents[5] = "<custom-logic>2</custom-logic>\r\n";
  const QByteArray other = w.Build();
  EXPECT_NE(SubFileHeadOfFrame(other.mid(at, ExtFlash::BlockBytes)), expected);
  EXPECT_EQ(ErrorOf([&] { SubFileHeadOfFrame(frame.left(19)); }), "Ошибка формата FLASH");
  EXPECT_EQ(SubFileHeadOfFrame(frame.left(20)), expected);
}

TEST(ExtFlash, SourceNamesIgnoreCaseAndAMissingOneKeepsTheOldImage) {
  TWorkFolder w;
  w.Write();
  QFile::rename(w.Path("schemaCode.xml"), w.Path("SchemaCode.xml"));
  BuildExtFlash(w.Dir.path(), w.Path("extflash.bin"));
  const QByteArray good = LoadFileBytes(w.Path("extflash.bin"));
  EXPECT_EQ(good, BuildExtFlash(w.Contents));
  QFile::remove(w.Path("logic.xml"));
  EXPECT_THROW(BuildExtFlash(w.Dir.path(), w.Path("extflash.bin")), EKvError);
  EXPECT_EQ(LoadFileBytes(w.Path("extflash.bin")), good);
}

TEST(ExtFlash, SubFileStartBeyondTheHeaderWordIsARangeError) {
  QByteArray img(ExtFlash::BlockBytes * 65536, '\0');
  QTemporaryDir dir;
  const QString src = QDir(dir.path()).filePath("custom-logic.xml");
  SaveFileBytes(src, "x");
  EXPECT_THROW(AddFlashFile(img, 5, src), EKvRange);
  img.resize(ExtFlash::BlockBytes + 1);
  EXPECT_THROW(AddFlashFile(img, 1, src), EKvAssert);
}

TEST(ExtFlash, FramesOfTheTransferStep) {
  QTemporaryDir dir;
  const QString file = QDir(dir.path()).filePath("extflash.bin");
  TIOChain3readFile read(nullptr, ctReadFile);
  TIOChain3writeFile write(nullptr, ctWriteFile);
  read.FFileName = write.FFileName = file;
  QList<int> asked;
  const TFlashSubFileStart start = [&](TIOChain3 *Step, const QList<int> &Args) {
    EXPECT_TRUE(Step == &read || Step == &write);
    asked += Args;
  };
  for (const int size : {2048, 2049, 4096 * 33}) {
    SaveFileBytes(file, QByteArray(size, 'x'));
    SetFlashFrames(&read, {}, start);
    SetFlashFrames(&write, {}, start);
    const int last = (size + 2047) / 2048 - 1;
    EXPECT_EQ(read.FFrameFirst, 0);
    EXPECT_EQ(read.FFrameLast, last) << size;
    EXPECT_EQ(write.FFrameLast, last) << size;
  }
  SetFlashFrames(&read, {5}, start);
  SetFlashFrames(&write, {3, 4}, start);
  EXPECT_EQ(asked, QList<int>{5});
  TIOChain3 other(nullptr, ctMsg);
  EXPECT_EQ(ErrorOf([&] { SetFlashFrames(&other, {}, start); }), "TIOChain3writeFile or TIOChain3readFile expected");
}
