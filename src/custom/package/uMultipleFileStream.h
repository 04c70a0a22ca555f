#pragma once
// A logic project file: named files one after another, each as name length
// (16 bits), name (Windows-1251), size (32 bits, all low byte first), the
// bytes and their MD5. No header, count or trailer: the reader knows which
// names to expect and in which order.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class TMultipleFileStream {
public:
  // FileName is the project file, written by Pack and read by Unpack.
  explicit TMultipleFileStream(const QString &FileName) : FFileName(FileName) {}

  // The folder the packed files are read from and unpacked into.
  void SetBaseDir(const QString &Dir) { FBaseDir = Dir; }

  // Saves the project file whole from the files Names of the base folder.
  // Throws the load error of a missing file, EKvRange for a file of 4 GB or
  // more or a name longer than 65535 bytes, the save helper's error.
  void Pack(const QStringList &Names) const;

  // Reads every record and checks it before any file is written: a name
  // other than the one expected (case matters) or a record cut short is
  // "pack error", a digest that differs "invalid HashValue"; then the base
  // folder's files are left as they were. Only when all records are sound is
  // each file saved whole.
  void Unpack(const QStringList &Names) const;

private:
  QString FFileName;
  QString FBaseDir;
};

// The project bytes of the files (name, content) in their order.
QByteArray PackRecords(const QList<std::pair<QString, QByteArray>> &Files);
// The contents of the records named Names, in order, checked as Unpack does.
QList<QByteArray> UnpackRecords(const QByteArray &Bytes, const QStringList &Names);
