#pragma once
// Files on the PC: the one way the program saves a file, case-insensitive
// name lookup in the work folders, and where the program itself lies.
#include <QByteArray>
#include <QString>
#include <utility>
#include <vector>

namespace FileTexts {
// The beginning of a failed save's text, followed by the whole path and the
// system's reason; a key of the translation table.
inline constexpr const char *CannotSave = "Не удалось сохранить ";
} // namespace FileTexts

// Writes Bytes as the whole new content of Path: a new file in Path's folder
// is written, synced and renamed over Path, then the folder is synced, so a
// crash or a failure never leaves a half-written file and no temporary file
// stays behind. The data and the folder are each synced once. A symbolic link
// at Path keeps pointing at the saved file. A file without any write
// permission is refused, as a read-only file is.
// Throws EKvError "Не удалось сохранить <absolute path>: <reason>"; the old
// file is then intact.
void SaveFileBytes(const QString &Path, const QByteArray &Bytes);

// Saves a set of files that belong together (a COMTRADE ".cfg" and ".dat", the
// assembler's code and listing) as one: each is written whole to a new file
// beside its path and synced, and only then are they put in place. On a
// failure none of the new files is left and every old one is as it was. Each
// file is synced once, and each folder once however many of the files it
// holds. Throws EKvError as SaveFileBytes.
void SaveFileSet(const std::vector<std::pair<QString, QByteArray>> &Files);

// Whether Text, the failure of a save as SaveFileBytes and SaveFileSet throw
// it, is news to be said: a file that fails alike again and again (a
// read-only folder at every poll) is said once, and again only after it has
// been saved since or fails for another reason. True for any other text.
// Any thread.
bool IsNewSaveFailure(const QString &Text);

// Keeps the file Path of the previous run as Path + ".1", replacing an older
// copy of that name. "" when done or when there is no such file, else why not.
QString KeepPreviousGeneration(const QString &Path);

// The whole content of Path. Throws EKvError "cannot open <path>: <reason>".
QByteArray LoadFileBytes(const QString &Path);

// The path of Name inside Folder, letter case ignored: the program treats
// "SchemaCode.xml" and "schemacode.xml" as one file, as the file systems it
// was made for do. Name may hold sub-folders ("osc/A.cfg"); each part is
// matched on its own. An exact match wins; otherwise the first case-insensitive
// match in sorted order. A part that matches nothing is kept as given, so the
// result also names the file to create.
QString ResolveFileNameCI(const QString &Folder, const QString &Name);

// The program file (absolute) and its folder. Without an application object
// the running executable is used.
QString ProgramFilePath();
QString ProgramFolder();
