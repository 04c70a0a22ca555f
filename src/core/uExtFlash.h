#pragma once
// The device's logic package as one external FLASH file (device file 140):
// a header block with the first block of each of six zlib sub-files, the
// last one (the custom logic) on a 128-KB boundary so that it can be
// rewritten alone.
#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>
#include <functional>

class TIOChain3;

namespace ExtFlash {
constexpr int BlockBytes = 2048;
constexpr int CustomLogicAlign = 128 * 1024;
constexpr int SubFileCount = 6;
// The work-folder files the sub-files are made from, in their order.
extern const char *const SourceNames[SubFileCount];
} // namespace ExtFlash

// Texts of the header checks.
inline const char *const FlashCrcErrorText = "Ошибка контрольной суммы FLASH";
inline const char *const FlashFormatErrorText = "Ошибка формата FLASH";

// Throws EKvError "Ошибка контрольной суммы FLASH" when the word at offset 14
// of the FLASH header ("head.bin") is not the CRC-16 of bytes 0..13 (also for
// a header shorter than 16 bytes).
void CheckFlashHeaderBytes(const QByteArray &Head);
// The first 2048-byte frame of sub-file K. Throws EKvError "Ошибка формата
// FLASH" unless byte 0 is 1 and byte 1 is 6, EKvRange for K outside 0..5.
uint16_t FlashSubFileStart(const QByteArray &Head, int K);

// The head of a sub-file's container, which names the bytes it holds: the
// payload's length (4 bytes, low byte first) and its MD5, 20 bytes. Of
// Payload, the compressed bytes (what a sub-file read leaves as "<name>.z").
QByteArray SubFileHead(const QByteArray &Payload);
// The same head as the container's first bytes (its first frame as read, or
// the container a write sends) hold it. Throws EKvFormat "Ошибка формата
// FLASH" for fewer than 20 bytes.
QByteArray SubFileHeadOfFrame(const QByteArray &Frame);

// Appends sub-file Index (0..5) made from the file FileName to Image. The
// compressed copy stays beside the source as "<name>.z". Index 0 starts a
// new image (the header block, zeroed); the header's count and the
// sub-file's first block are written each time.
void AddFlashFile(QByteArray &Image, int Index, const QString &FileName);

// The whole image from the six source files of Folder (names matched
// without regard to case), with the header's CRC. Nothing is saved: the
// caller keeps the previous file when a source is missing.
QByteArray BuildExtFlashBytes(const QString &Folder);

// Builds the image from Folder and saves it whole as FileName.
void BuildExtFlash(const QString &Folder, const QString &FileName);

// Sets the frames of Next, a device-file read or write step of file 140:
// without arguments the whole local file; with one (a sub-file number)
// SubFileStart decides, from the header read last; more: nothing.
using TFlashSubFileStart = std::function<void(TIOChain3 *Step, const QList<int> &Args)>;
void SetFlashFrames(TIOChain3 *Next, const QList<int> &Args, const TFlashSubFileStart &SubFileStart);
