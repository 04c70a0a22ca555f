// Every file the program saves goes through the save helper: the sources of
// the program (common/, src/) open no file for writing in any other way. The
// streams that must grow line by line as things happen (the log, the worker's
// "debug.log", the transport's trace) are the known exceptions: a crash has
// to leave what they hold so far, which a save of the whole file cannot.
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

TEST(SaveHelper, IsTheOnlyWayTheProgramWritesAFile) {
  // A file opened for writing by Qt, the C library, the C++ library or POSIX.
  const QRegularExpression writing(QStringLiteral(
      R"((QIODevice::(WriteOnly|ReadWrite|Append|Truncate))|std::ofstream|std::fstream|\bfopen\s*\([^)]*"[wa]|O_WRONLY|O_RDWR|O_CREAT|QSaveFile\b)"));
  const QStringList allowed = {
      "common/uFiles.cpp",        // the helper itself
      "common/uLogger.cpp",       // the log, one O_APPEND write per line
      "common/uLogFile.cpp",      // the logs' files and their generations
      "common/uModbusTools.cpp",  // "debug.log" of the worker
      "common/oi.cpp",            // the ".trc" trace of every frame
      "src/shell/uLocker.cpp",        // "locker.txt": opened and locked, never written
      "common/uComPort.cpp",      // the serial device
  };
  QStringList offenders;
  for (const char *folder : {"common", "src"}) {
    QDirIterator it(QStringLiteral(KV_SOURCE_DIR "/") + folder, {"*.cpp", "*.h"}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
      const QString path = it.next();
      const QString rel = path.mid(QStringLiteral(KV_SOURCE_DIR "/").size());
      if (allowed.contains(rel))
        continue;
      QFile f(path);
      ASSERT_TRUE(f.open(QIODevice::ReadOnly));
      const QString text = QString::fromUtf8(f.readAll());
      // An in-memory buffer is no file: names declared as QBuffer in this file
      // (parameters, members, locals) are passed over too.
      QStringList buffers = {QStringLiteral("\\b[bB]uf"), QStringLiteral("QBuffer"), QStringLiteral("\\bb->open")};
      auto decl = QRegularExpression(QStringLiteral(R"(QBuffer\s*&?\s*(\w+(?:\s*,\s*\w+)*))")).globalMatch(text);
      while (decl.hasNext())
        for (const QString &name : decl.next().captured(1).split(','))
          buffers << QStringLiteral("\\b%1\\s*(\\.|->)\\s*open\\b").arg(name.trimmed());
      const QRegularExpression inMemory(buffers.join('|'));
      const QStringList lines = text.split('\n');
      for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines[i];
        if (line.contains(writing) && !line.contains(inMemory))
          offenders << QStringLiteral("%1:%2: %3").arg(rel).arg(i + 1).arg(line.trimmed());
      }
    }
  }
  EXPECT_TRUE(offenders.isEmpty()) << offenders.join('\n').toStdString();
}
