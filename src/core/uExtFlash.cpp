#include "uExtFlash.h"

#include "crc.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uIOChain3.h"
#include "uIOChainFile.h"

#include <QCryptographicHash>
#include <QFileInfo>

namespace ExtFlash {
const char *const SourceNames[SubFileCount] = {"schemaCode.xml",    "config.xml",        "identification.inc",
                                               "logic.xml",         "custom-logic0.xml", "custom-logic.xml"};
} // namespace ExtFlash

namespace {

void PadTo(QByteArray &Bytes, int Multiple, char Fill) {
  if (Bytes.size() % Multiple != 0)
    Bytes.append(QByteArray(Multiple - Bytes.size() % Multiple, Fill));
}

} // namespace

void AddFlashFile(QByteArray &Image, int Index, const QString &FileName) {
  using namespace ExtFlash;
  if (Index < 0 || Index >= SubFileCount)
    throw EKvRange(QStringLiteral("sub-file %1 outside 0..5").arg(Index).toStdString());
  if (Index == 0) {
    Image = QByteArray(BlockBytes, '\0');
    Image[0] = 1;
  }
  if (Image.size() < BlockBytes)
    throw EKvAssert("external FLASH image without header");
  Image[1] = char(Index + 1);
  const QString zName = FileName + QStringLiteral(".z");
  CompressFile(FileName, zName);
  const QByteArray z = LoadFileBytes(zName);
  if (Image.size() % BlockBytes != 0)
    throw EKvAssert("unalignaed flash file position");
  // A start beyond the header word's range would wrap to an early block and
  // make the device read another sub-file's bytes.
  const qsizetype block = Image.size() / BlockBytes;
  if (block > 0xFFFF)
    throw EKvRange(QStringLiteral("sub-file %1 starts beyond block 65535").arg(Index).toStdString());
  Image[2 + 2 * Index] = char(block & 0xFF);
  Image[3 + 2 * Index] = char(block >> 8);
  Image += PackBytes(z, BlockBytes);
}

QByteArray BuildExtFlashBytes(const QString &Folder) {
  using namespace ExtFlash;
  QByteArray image;
  for (int k = 0; k < SubFileCount; ++k) {
    if (k == SubFileCount - 1)
      PadTo(image, CustomLogicAlign, char(0xFF));
    AddFlashFile(image, k, ResolveFileNameCI(Folder, QString::fromLatin1(SourceNames[k])));
  }
  // Crc16 gives the CRC in a Modbus frame's byte order; the header keeps
  // the high byte first, which is that value stored low byte first.
  const uint16_t crc = Crc16(image.constData(), 14);
  image[14] = char(crc & 0xFF);
  image[15] = char(crc >> 8);
  return image;
}

void BuildExtFlash(const QString &Folder, const QString &FileName) {
  SaveFileBytes(FileName, BuildExtFlashBytes(Folder));
}

void SetFlashFrames(TIOChain3 *Next, const QList<int> &Args, const TFlashSubFileStart &SubFileStart) {
  auto *read = dynamic_cast<TIOChain3readFile *>(Next);
  auto *write = dynamic_cast<TIOChain3writeFile *>(Next);
  if (!read && !write)
    throw EKvError("TIOChain3writeFile or TIOChain3readFile expected");
  if (Args.size() == 1) {
    SubFileStart(Next, Args);
    return;
  }
  if (!Args.isEmpty())
    return;
  const qint64 size = QFileInfo(read ? read->FFileName : write->FFileName).size();
  const qint64 frames = (size + ExtFlash::BlockBytes - 1) / ExtFlash::BlockBytes;
  const uint16_t last = CheckedCast<uint16_t>(frames > 0 ? frames - 1 : 0);
  if (read) {
    read->setFrameFirst(0);
    read->setFrameLast(last);
  } else {
    write->setFrameFirst(0);
    write->setFrameLast(last);
  }
}

namespace {
uint16_t HeaderWord(const QByteArray &B, qsizetype Offset) {
  return uint16_t(uint8_t(B[Offset]) | (uint8_t(B[Offset + 1]) << 8));
}
} // namespace

void CheckFlashHeaderBytes(const QByteArray &Head) {
  if (Head.size() < 16 || HeaderWord(Head, 14) != Crc16(Head.constData(), 14))
    throw EKvError(FlashCrcErrorText);
}

uint16_t FlashSubFileStart(const QByteArray &Head, int K) {
  if (K < 0 || K > 5)
    throw EKvRange(QStringLiteral("sub-file %1 outside 0..5").arg(K));
  if (Head.size() < 14 || uint8_t(Head[0]) != 1 || uint8_t(Head[1]) != 6)
    throw EKvError(FlashFormatErrorText);
  return HeaderWord(Head, 2 + 2 * K);
}

QByteArray SubFileHead(const QByteArray &Payload) {
  const quint32 n = quint32(Payload.size());
  QByteArray head;
  for (int shift = 0; shift < 32; shift += 8)
    head.append(char((n >> shift) & 0xFF));
  return head + QCryptographicHash::hash(Payload, QCryptographicHash::Md5);
}

QByteArray SubFileHeadOfFrame(const QByteArray &Frame) {
  if (Frame.size() < ZContainerHeadBytes)
    throw EKvFormat(FlashFormatErrorText);
  return Frame.left(ZContainerHeadBytes);
}
