#pragma once
// Device file transfer of the IO chains: the read, write and compare steps
// (TIOChain3readFile, TIOChain3writeFile, declared in uIOChain3.h) move a
// numbered device file frame by frame, and the local file routines they use.
//
// File types of a step (FFileTtype):
//   0 plain: frames FFrameFirst..FFrameLast;
//   1 descriptor image: its length comes from the image head; a cached copy
//     in "cache/" under the image's key is used after the first frame when
//     its files match the digest written with them;
//   2 zlib container (the payload length, its MD5, the zlib stream, zeros up
//     to the frame size): read whole, checked against its MD5, cached under
//     the MD5 and inflated; written compressed and packed;
//   3 frame ring: FFrameLimit frames, each starting with a 7-byte stamp.
// Every local file is saved through SaveFileBytes, when the step is done.
// Main thread only.
#include <QByteArray>
#include <QString>
#include <cstdint>

class TIOChainList3;

// Bytes of the container head: payload length (u32 LE) and its MD5.
constexpr int ZContainerHeadBytes = 20;

// Throws EKvError "Файл не найден " + Name when Name is not an existing file.
void CheckFileExists(const QString &Name);
// Deflates Src (zlib stream, default level) into a new Dst.
void CompressFile(const QString &Src, const QString &Dst);
// Writes Dst as the container of Src's bytes, padded with zeros to a whole
// number of FrameSize frames (FrameSize 1..65535).
void PackFile(const QString &Src, const QString &Dst, int FrameSize);
// Inflates Name + ".z" into a new Name. Throws EKvError "Файл не найден ..."
// without the ".z" file and EKvFormat "invalid zlib data: " + its name when
// the stream is broken or cut short.
void DecompressFile(const QString &Name);

// The container of Payload for frames of FrameSize (0: no padding).
QByteArray PackBytes(const QByteArray &Payload, int FrameSize);
// Inflates a zlib stream; throws EKvFormat "invalid zlib data: " + What.
QByteArray InflateBytes(const QByteArray &Stream, const QString &What);
// Deflates at zlib's default level.
QByteArray DeflateBytes(const QByteArray &Bytes);

// "cache" inside WorkDir (the current folder when WorkDir is empty).
QString CacheFolder(const QString &WorkDir);
// The cache file Name inside the cache folder, letter case ignored.
QString CacheFileName(const QString &WorkDir, const QString &Name);
// The cache key of a descriptor image: 8 upper-case hexadecimal digits of its
// bytes 44..47 in file order. Throws EKvFormat for an image shorter than 48 bytes.
QString DescriptorCacheKey(const QByteArray &Image);

// The digest kept beside a descriptor cache pair as "<Key>.sha256", in the
// form sha256sum writes and checks: the SHA-256 of the image, then of its XML
// twin, each followed by its file name ("<Key>.bin", "<Key>.xml").
QString DescriptorCacheDigestName(const QString &Key);
QByteArray DescriptorCacheDigest(const QString &Key, const QByteArray &Bin, const QByteArray &Xml);

// Why the cached descriptor pair (image Bin, XML twin XmlFile) cannot stand
// for the device image whose first frame was just read, or "" when it can:
// Bin must begin with FirstFrame, hold from Length (the image head's length)
// to Longest bytes (what a read of the device would give), and the XML must
// parse and carry the image's identifier checksum.
QString DescriptorCacheProblem(const QByteArray &FirstFrame, qint64 Length, qint64 Longest, const QByteArray &Bin,
                               const QString &XmlFile);

// The frame size of the file step at Index: that of the nearest ctSetFrameSize
// step before it. Throws EKvError "ctSetFrameSize chain not found" without one
// and EKvRange for a frame size of 0.
int ChainFrameSize(const TIOChainList3 &Chain, int Index);
