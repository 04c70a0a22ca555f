#include "uIOChainFile.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <limits>
#include <sys/statvfs.h>
#include <utility>
#include <zlib.h>

#include "crc.h"
#include "ixml.h"
#include "uDescriptorXml.h"
#include "uDateTime.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uIOChain3.h"
#include "uLogger.h"

namespace {

const char *const InvalidFileNo = "invalid file no";
const char *const InvalidFrameNo = "invalid frame no";
const char *const InvalidFileType = "invalid ioc.FFileTtype";
// Followed by the folder and the system's reason, as the main window names a folder.
const char *const FolderNotWritable = "Папка недоступна для записи: ";

// Frame numbers travel as 16-bit words: a file that needs more frames cannot
// be moved, and a count that does not fit must not wrap round.
uint16_t FrameNumber(qint64 Value) {
  if (Value < 0 || Value > 65535)
    throw EKvRange(QStringLiteral("frame number out of range: %1").arg(Value));
  return uint16_t(Value);
}

qint64 CeilDiv(qint64 A, qint64 B) { return (A + B - 1) / B; }

// Asked is the step's record of the frame it waits for: an answer for any
// other frame would make the step go round without progress.
// Each frame record carries its step's frame size: the worker keeps none
// between records, so another chain's size cannot reach this one's.
void SendReadFrame(TIOChainList3 &Chain, uint8_t FileNo, uint16_t Frame, int FrameSize, uint16_t &Asked) {
  Asked = Frame;
  TRequestBuilder &b = Chain.StartRecord(bcReadFileFrame, 0, {FileNo, uint8_t(Frame), uint8_t(Frame >> 8)});
  b.SetFrameSize(uint16_t(FrameSize));
  Chain.MarkRecord(b);
  b.Send();
}

// The worker takes exactly one frame of data from a write record, so Chunk
// is always a whole frame.
void SendWriteFrame(TIOChainList3 &Chain, uint8_t FileNo, uint16_t Frame, QByteArray Chunk, uint16_t &Asked) {
  Asked = Frame;
  TRequestBuilder &b = Chain.StartRecord(bcWriteFileFrame, 0, {FileNo, uint8_t(Frame), uint8_t(Frame >> 8)});
  b.SetFrameSize(uint16_t(Chunk.size()));
  QBuffer data(&Chunk);
  data.open(QIODevice::ReadOnly);
  b.PutStream(data, Chunk.size());
  Chain.MarkRecord(b);
  b.Send();
}

QByteArray TakeBytes(TResponseParser &Parser, int Count) {
  QByteArray out(Count, '\0');
  Parser.ReadBytes(out.data(), Count);
  return out;
}

uint16_t WordAt(const QByteArray &Bytes, int Offset) {
  return uint16_t(uint8_t(Bytes[Offset]) | (uint8_t(Bytes[Offset + 1]) << 8));
}

// The descriptor's XML twin: the name with its extension changed to ".xml".
QString XmlTwin(const QString &Name) {
  const qsizetype slash = std::max(Name.lastIndexOf('/'), Name.lastIndexOf('\\'));
  const qsizetype dot = Name.lastIndexOf('.');
  return (dot > slash ? Name.left(dot) : Name) + QStringLiteral(".xml");
}

bool IsFile(const QString &Name) { return QFileInfo(Name).isFile(); }

// The 7-byte stamp at Offset of the received bytes; an empty or invalid one is the base date.
TDateTime StampAt(const QByteArray &Bytes, qsizetype Offset) {
  TDateTime t = ChainBaseDate;
  if (Offset >= 0 && Offset + 7 <= Bytes.size())
    DecodeDeviceTime7(reinterpret_cast<const uint8_t *>(Bytes.constData() + Offset), t);
  return t;
}

// ------------------------------------------------------------ read by type

// Asks for the frame after F unless F is the last one; true when it asked.
bool RequestNextFrame(TIOChain3readFile &S, uint16_t F, int FrameSize) {
  if (F >= S.FFrameLast)
    return false;
  SendReadFrame(*S.FOwner, S.FFileNo, uint16_t(F + 1), FrameSize, S.FAsked);
  return true;
}

// Asks for the next frame, or after the last one saves the file whole; true when done.
bool ReadOnOrSave(TIOChain3readFile &S, uint16_t F, int FrameSize) {
  if (RequestNextFrame(S, F, FrameSize))
    return false;
  SaveFileBytes(S.FFileName, S.FData);
  return true;
}

// An image that cannot be saved would be read whole again by every
// identification the timer starts: a folder without room for it is named
// after the first frame, before the rest is read.
void CheckRoomFor(const QString &FileName, qint64 Bytes) {
  const QString folder = QFileInfo(FileName).absolutePath();
  struct statvfs vfs;
  if (::statvfs(QFile::encodeName(folder).constData(), &vfs) == 0 &&
      qint64(vfs.f_bavail) * qint64(vfs.f_frsize) < Bytes)
    throw EKvError(QString::fromUtf8(FolderNotWritable) + QDir::cleanPath(folder) + ": " +
                   QString::fromLocal8Bit(std::strerror(ENOSPC)));
}

bool ReadPlain(TIOChain3readFile &S, TResponseParser &Parser, int FrameSize, uint16_t F) {
  S.FData += TakeBytes(Parser, FrameSize);
  return ReadOnOrSave(S, F, FrameSize);
}

bool ReadDescriptor(TIOChain3readFile &S, TResponseParser &Parser, int FrameSize, uint16_t F) {
  S.FData += TakeBytes(Parser, FrameSize);
  if (F == S.FFrameFirst) {
    const QString key = DescriptorCacheKey(S.FData);
    qint64 length;
    if (S.FOwner->FGen->SmartDesc()) {
      const int base = WordAt(S.FData, 4);
      if (base < 48)
        throw EKvRange(QStringLiteral("descriptor base address below 48: %1").arg(base));
      length = qint64(WordAt(S.FData, 28)) - (base - 48);
      if (length < 0)
        throw EKvRange(QStringLiteral("descriptor length below 0: %1").arg(length));
    } else {
      length = 2 * qint64(WordAt(S.FData, 0));
    }
    // A count used as the last frame number: from frame 0 one frame more than
    // the image needs is read, as the device has always been read.
    S.FFrameLast = FrameNumber(CeilDiv(length, FrameSize));
    const QString workDir = S.FOwner->FGen->WorkDir();
    const QString bin = CacheFileName(workDir, key + QStringLiteral(".bin"));
    const QString xml = CacheFileName(workDir, key + QStringLiteral(".xml"));
    const QString digest = CacheFileName(workDir, DescriptorCacheDigestName(key));
    S.FOwner->Log().Debug("-- cache " + xml);
    if (IsFile(xml) && IsFile(bin)) {
      const qint64 longest = (qint64(S.FFrameLast) - F + 1) * FrameSize;
      const QByteArray cached = LoadFileBytes(bin);
      const QByteArray cachedXml = LoadFileBytes(xml);
      // The digest ties the two files to each other and to what was read from
      // the device when they were written: a byte changed anywhere in either,
      // or one file replaced by another image's, shows here.
      QString problem;
      if (!IsFile(digest))
        problem = QStringLiteral("no digest beside it (written by an earlier version)");
      else if (LoadFileBytes(digest) != DescriptorCacheDigest(key, cached, cachedXml))
        problem = QStringLiteral("its files do not match their digest ") + digest;
      else
        problem = DescriptorCacheProblem(S.FData, length, longest, cached, xml);
      if (problem.isEmpty()) {
        SaveFileBytes(S.FFileName, cached);
        SaveFileBytes(XmlTwin(S.FFileName), cachedXml);
        return true;
      }
      // A pair that does not stand for this image would be served again on
      // every identification: it goes, and the device is read instead.
      S.FOwner->Log().Error(QStringLiteral("descriptor cache %1 not used, removed: %2").arg(bin, problem));
      QFile::remove(bin);
      QFile::remove(xml);
      QFile::remove(digest);
    }
    CheckRoomFor(S.FFileName, length);
  }
  return ReadOnOrSave(S, F, FrameSize);
}

bool ReadZlib(TIOChain3readFile &S, TResponseParser &Parser, int FrameSize, uint16_t F) {
  const QString workDir = S.FOwner->FGen->WorkDir();
  const QString zName = S.FFileName + QStringLiteral(".z");
  if (F == S.FFrameFirst) {
    if (FrameSize <= ZContainerHeadBytes)
      throw EKvRange(QStringLiteral("frame size too small for a container: %1").arg(FrameSize));
    const qint64 payload = Parser.ReadDword();
    Parser.ReadBytes(S.FDigest, 16);
    const QByteArray digest(reinterpret_cast<const char *>(S.FDigest), 16);
    const QString cache = CacheFileName(workDir, QString::fromLatin1(digest.toHex().toUpper()));
    if (IsFile(cache)) {
      // The cache is keyed by the digest, so a copy that no longer matches it
      // (damaged on the disk) is read again from the device instead.
      const QByteArray cached = LoadFileBytes(cache);
      if (BytesMD5(cached) == digest) {
        const QByteArray unpacked = InflateBytes(cached, cache);
        SaveFileBytes(zName, cached);
        SaveFileBytes(S.FFileName, unpacked);
        return true;
      }
    }
    S.FFrameLast = FrameNumber(F + CeilDiv(payload + ZContainerHeadBytes, FrameSize) - 1);
    // Frames of up to 64 KiB could announce more than a count of bytes holds.
    if (payload > std::numeric_limits<int>::max())
      throw EKvRange(QStringLiteral("container payload too large: %1").arg(payload));
    const qint64 n = std::min<qint64>(payload, FrameSize - ZContainerHeadBytes);
    S.FData += TakeBytes(Parser, int(n));
    S.FRemaining = int(payload - n);
  } else {
    const int n = std::min(S.FRemaining, FrameSize);
    S.FData += TakeBytes(Parser, n);
    S.FRemaining -= n;
  }
  if (RequestNextFrame(S, F, FrameSize))
    return false;
  // Checked before anything is saved: a damaged transfer must neither reach
  // the cache (it would be served again under the right key) nor replace the
  // earlier local copy.
  const QByteArray digest(reinterpret_cast<const char *>(S.FDigest), 16);
  if (BytesMD5(S.FData) != digest)
    throw EKvError("Ошибка контрольной суммы файла " + S.FFileName);
  const QByteArray unpacked = InflateBytes(S.FData, zName);
  SaveFileBytes(zName, S.FData);
  // The cache is an optimisation: failing to fill it costs the next read, not this one.
  try {
    QDir().mkpath(CacheFolder(workDir));
    SaveFileBytes(CacheFileName(workDir, QString::fromLatin1(digest.toHex().toUpper())), S.FData);
  } catch (const EKvError &e) {
    S.FOwner->Log().Error(QStringLiteral("cache not written: ") + e.Text());
  }
  SaveFileBytes(S.FFileName, unpacked);
  return true;
}

bool ReadRing(TIOChain3readFile &S, TResponseParser &Parser, int FrameSize, uint16_t F) {
  const TDateTime previous = S.FData.isEmpty() ? S.FLastTime : StampAt(S.FData, S.FData.size() - FrameSize);
  TDateTime current = Parser.ReadDateAt(-1);
  if (current <= ChainBaseDate)
    current = S.FLastTime;
  if (current < previous && S.FLastTime > 0.0) {
    SaveFileBytes(S.FFileName, S.FData);
    return true;
  }
  S.FData += TakeBytes(Parser, FrameSize);
  const uint16_t next = uint16_t((F + 1) % S.FFrameLimit);
  // A last frame outside the ring is never met; one whole turn ends the read
  // then, instead of going round for ever.
  if (next == S.FFrameLast || next == S.FFrameFirst) {
    SaveFileBytes(S.FFileName, S.FData);
    return true;
  }
  SendReadFrame(*S.FOwner, S.FFileNo, next, FrameSize, S.FAsked);
  return false;
}

// The next frame of the local file, padded with zeros to FrameSize. An empty
// file still gives its first frame; past the end of the file there is no frame.
QByteArray NextChunk(QFile &File, int FrameSize, bool First) {
  QByteArray chunk = File.read(FrameSize);
  if (chunk.isEmpty() && !First)
    throw EKvError("Stream read error");
  chunk.resize(FrameSize, '\0');
  return chunk;
}

std::unique_ptr<QFile> OpenForReading(const QString &Name) {
  CheckFileExists(Name);
  auto file = std::make_unique<QFile>(Name);
  if (!file->open(QIODevice::ReadOnly))
    throw EKvError("cannot open " + Name + ": " + file->errorString());
  return file;
}

} // namespace

// ------------------------------------------------------------ local files

void CheckFileExists(const QString &Name) {
  if (!IsFile(Name))
    throw EKvError("Файл не найден " + Name);
}

QByteArray DeflateBytes(const QByteArray &Bytes) {
  uLongf size = compressBound(uLong(Bytes.size()));
  QByteArray out(qsizetype(size), '\0');
  if (compress2(reinterpret_cast<Bytef *>(out.data()), &size, reinterpret_cast<const Bytef *>(Bytes.constData()),
                uLong(Bytes.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
    throw EKvError("zlib compression failed");
  out.resize(qsizetype(size));
  return out;
}

QByteArray InflateBytes(const QByteArray &Stream, const QString &What) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK)
    throw EKvError("zlib cannot start");
  z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(Stream.constData()));
  z.avail_in = uInt(Stream.size());
  QByteArray out;
  char block[1024];
  int rc;
  do {
    z.next_out = reinterpret_cast<Bytef *>(block);
    z.avail_out = sizeof block;
    rc = inflate(&z, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END)
      break;
    out.append(block, qsizetype(sizeof block - z.avail_out));
    // No output and no input left: the stream is cut short.
    if (rc == Z_OK && z.avail_in == 0 && z.avail_out != 0)
      break;
  } while (rc != Z_STREAM_END);
  inflateEnd(&z);
  if (rc != Z_STREAM_END)
    throw EKvFormat(("invalid zlib data: " + What).toStdString());
  return out;
}

void CompressFile(const QString &Src, const QString &Dst) {
  CheckFileExists(Src);
  SaveFileBytes(Dst, DeflateBytes(LoadFileBytes(Src)));
}

QByteArray PackBytes(const QByteArray &Payload, int FrameSize) {
  QByteArray out;
  const uint32_t size = uint32_t(Payload.size());
  for (int i = 0; i < 4; ++i)
    out.append(char(size >> (8 * i)));
  out += BytesMD5(Payload);
  out += Payload;
  if (FrameSize > 0 && out.size() % FrameSize != 0)
    out.append(QByteArray(FrameSize - out.size() % FrameSize, '\0'));
  return out;
}

void PackFile(const QString &Src, const QString &Dst, int FrameSize) {
  if (FrameSize < 1 || FrameSize > 65535)
    throw EKvRange(QStringLiteral("invalid frame size: %1").arg(FrameSize));
  CheckFileExists(Src);
  SaveFileBytes(Dst, PackBytes(LoadFileBytes(Src), FrameSize));
}

void DecompressFile(const QString &Name) {
  const QString zName = Name + QStringLiteral(".z");
  CheckFileExists(zName);
  SaveFileBytes(Name, InflateBytes(LoadFileBytes(zName), zName));
}

QString CacheFolder(const QString &WorkDir) {
  return WorkDir.isEmpty() ? QStringLiteral("cache") : QDir(WorkDir).filePath(QStringLiteral("cache"));
}

QString CacheFileName(const QString &WorkDir, const QString &Name) {
  return ResolveFileNameCI(WorkDir, QStringLiteral("cache/") + Name);
}

QString DescriptorCacheDigestName(const QString &Key) { return Key + QStringLiteral(".sha256"); }

QByteArray DescriptorCacheDigest(const QString &Key, const QByteArray &Bin, const QByteArray &Xml) {
  QByteArray out;
  for (const auto &[bytes, ext] : {std::pair{&Bin, ".bin"}, std::pair{&Xml, ".xml"}})
    out += QCryptographicHash::hash(*bytes, QCryptographicHash::Sha256).toHex() + "  " + Key.toLatin1() + ext + "\n";
  return out;
}

QString DescriptorCacheProblem(const QByteArray &FirstFrame, qint64 Length, qint64 Longest, const QByteArray &Bin,
                               const QString &XmlFile) {
  if (!Bin.startsWith(FirstFrame))
    return QStringLiteral("its first frame differs from the device's");
  if (Bin.size() < Length || Bin.size() > Longest)
    return QStringLiteral("%1 bytes where the image head gives %2").arg(Bin.size()).arg(Length);
  IXXMLDocument doc = NewXMLDocument();
  if (!doc->Load(XmlFile))
    return XmlFile + ": " + doc->GetParseError();
  const IXXMLNode root = doc->GetDocumentElement();
  // The identifier checksum is the image's own (bytes 2106..2109); an XML
  // decoded from another image carries another one, or none.
  const QString stored = root ? root->GetStrNodeDef(DxPath({DX_INTERNAL, DX_IDENT_CACHE}), QString()) : QString();
  bool ok = false;
  const uint32_t value = uint32_t(stored.trimmed().toLongLong(&ok));
  uint32_t expected = 0;
  if (Bin.size() >= 2110)
    expected = uint32_t(WordAt(Bin, 2106)) | (uint32_t(WordAt(Bin, 2108)) << 16);
  if (!ok || value != expected)
    return QStringLiteral("%1: %2 \"%3\" where the image holds %4")
        .arg(XmlFile, QString::fromLatin1(DX_IDENT_CACHE), stored)
        .arg(expected);
  return QString();
}

QString DescriptorCacheKey(const QByteArray &Image) {
  if (Image.size() < 48)
    throw EKvFormat(QStringLiteral("descriptor image too short: %1 bytes").arg(Image.size()).toStdString());
  return QString::fromLatin1(Image.mid(44, 4).toHex().toUpper());
}

int ChainFrameSize(const TIOChainList3 &Chain, int Index) {
  for (int i = std::min(Index, Chain.Count()) - 1; i >= 0; --i) {
    TIOChain3 *step = Chain.Step(i);
    if (step->FType == ctSetFrameSize) {
      const int size = static_cast<TIOChain3setFrameSize *>(step)->FFrameSize;
      if (size == 0)
        throw EKvRange("frame size 0");
      return size;
    }
  }
  throw EKvError("ctSetFrameSize chain not found");
}

// ------------------------------------------------------------ read step

bool TIOChain3readFile::Run() {
  Debug(QString::asprintf("-- FFileNo %2.2X FFrameFirst %2.2X FFrameLast %2.2X ", FFileNo, FFrameFirst, FFrameLast));
  // Checked before the first record, so that a step that cannot finish sends nothing.
  if (FFileTtype > 3)
    throw EKvError(InvalidFileType);
  const int frameSize = ChainFrameSize(*FOwner, FOwner->FIndex);
  if (FFileTtype == 3 && FFrameLimit == 0)
    throw EKvAssert("invalid FFrameLimit");
  // A ring read that starts outside the ring would never come round to its end.
  if (FFileTtype == 3 && FFrameFirst >= FFrameLimit)
    throw EKvRange(QStringLiteral("first frame %1 outside the ring of %2").arg(FFrameFirst).arg(FFrameLimit));
  FData.clear();
  FRemaining = 0;
  SendReadFrame(*FOwner, FFileNo, FFrameFirst, frameSize, FAsked);
  return false;
}

bool TIOChain3readFile::Reply(TResponseParser &Parser, const TAnswerHead &) {
  const int frameSize = ChainFrameSize(*FOwner, FOwner->FIndex);
  if (Parser.ReadByte() != FFileNo)
    throw EKvProtocol(InvalidFileNo);
  const uint16_t f = Parser.ReadWord();
  if (f != FAsked)
    throw EKvProtocol(InvalidFrameNo);
  bool done;
  switch (FFileTtype) {
  case 0: done = ReadPlain(*this, Parser, frameSize, f); break;
  case 1: done = ReadDescriptor(*this, Parser, frameSize, f); break;
  case 2: done = ReadZlib(*this, Parser, frameSize, f); break;
  case 3: done = ReadRing(*this, Parser, frameSize, f); break;
  default: throw EKvError(InvalidFileType);
  }
  if (done) {
    FData.clear();
    FOwner->Progress(100, 100);
  } else {
    FOwner->Progress(f, FFrameLimit != 0 ? FFrameLimit : FFrameLast);
  }
  return done;
}

// ------------------------------------------------------------ write and compare steps

bool TIOChain3writeFile::Run() {
  Debug(QString::asprintf("-- FFileNo %2.2X FFrameFirst %2.2X ", FFileNo, FFrameFirst));
  // Checked before the first record: a write of another type would otherwise
  // have changed the device's first frame before failing.
  if (FFileTtype != 0 && FFileTtype != 2)
    throw EKvError(InvalidFileType);
  const int frameSize = ChainFrameSize(*FOwner, FOwner->FIndex);
  if (FType == ctCompareFile) {
    FStream = OpenForReading(FFileName);
    SendReadFrame(*FOwner, FFileNo, FFrameFirst, frameSize, FAsked);
    return false;
  }
  if (FFileTtype == 2) {
    const QString zName = FFileName + QStringLiteral(".z");
    CompressFile(FFileName, QStringLiteral("temp.z"));
    PackFile(QStringLiteral("temp.z"), zName, frameSize);
    FStream = OpenForReading(zName);
    FFrameLast = FrameNumber(FFrameFirst + CeilDiv(FStream->size(), frameSize) - 1);
  } else {
    FStream = OpenForReading(FFileName);
  }
  SendWriteFrame(*FOwner, FFileNo, FFrameFirst, NextChunk(*FStream, frameSize, true), FAsked);
  return false;
}

bool TIOChain3writeFile::Reply(TResponseParser &Parser, const TAnswerHead &) {
  const int frameSize = ChainFrameSize(*FOwner, FOwner->FIndex);
  if (Parser.ReadByte() != FFileNo)
    throw EKvProtocol(InvalidFileNo);
  const uint16_t f = Parser.ReadWord();
  if (f != FAsked)
    throw EKvProtocol(InvalidFrameNo);
  if (FFileTtype != 0 && FFileTtype != 2)
    throw EKvError(InvalidFileType);
  if (FType == ctWriteFile) {
    if (f < FFrameLast) {
      SendWriteFrame(*FOwner, FFileNo, uint16_t(f + 1), NextChunk(*FStream, frameSize, false), FAsked);
      FOwner->Progress(f, FFrameLast);
      return false;
    }
    FStream.reset();
    FOwner->Progress(100, 100);
    return true;
  }
  Debug(QString::asprintf("-- FFileNo %2.2X FFrameFirst %2.2X FFrameLast %2.2X ", FFileNo, FFrameFirst, FFrameLast));
  if (FFileTtype == 2 && f == FFrameFirst) {
    const qint64 payload = uint32_t(Parser.ReadIntegerAt(-1));
    FFrameLast = FrameNumber(FFrameFirst + CeilDiv(payload + ZContainerHeadBytes, frameSize) - 1);
  }
  const QByteArray device = TakeBytes(Parser, frameSize);
  QByteArray local = FStream->read(frameSize);
  // A local file that ends before the frames compared differs from the device.
  if (local.isEmpty() || local.leftJustified(frameSize, '\0') != device)
    throw EKvError("ошиба сравнения");
  if (FFrameLast > f) {
    SendReadFrame(*FOwner, FFileNo, uint16_t(f + 1), frameSize, FAsked);
    FOwner->Progress(f, FFrameLast);
    return false;
  }
  FStream.reset();
  FOwner->Progress(100, 100);
  return true;
}
