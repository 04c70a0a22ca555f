// Writes seed projects for the project fuzz target into the folder given as
// the only argument: a whole project of five files, one with empty files,
// and records whose sizes claim far more than is there.
#include "uFiles.h"
#include "uMultipleFileStream.h"

#include <QDir>
#include <cstdio>

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: project_seeds FOLDER\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  QDir().mkpath(dir.path());
  const QStringList names = {"config.xml", "identification.inc", "logic.xml", "custom-logic0.xml", "custom-logic.xml"};
  QList<std::pair<QString, QByteArray>> whole, empty;
  for (const QString &n : names) {
    whole.append({n, "<" + n.toLatin1() + "/>\r\n"});
    empty.append({n, {}});
  }
  const QByteArray project = PackRecords(whole);
  QByteArray huge = project;
  huge[14] = char(0xFF); // the first size near 2^31
  huge[15] = char(0x7F);
  const std::pair<const char *, QByteArray> seeds[] = {
      {"whole.pack", project},
      {"empty-files.pack", PackRecords(empty)},
      {"huge-size.pack", huge},
      {"cut.pack", project.left(project.size() / 2)},
  };
  for (const auto &[name, bytes] : seeds)
    SaveFileBytes(dir.filePath(QString::fromLatin1(name)), bytes);
  return 0;
}
