// The logic project file: records laid out by hand, round trips, and the
// failures that must leave the work folder as it was.
#include <gtest/gtest.h>

#include "crc.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uMultipleFileStream.h"

#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryDir>

namespace {

const QStringList Names = {"config.xml", "identification.inc", "logic.xml", "custom-logic0.xml", "custom-logic.xml"};

QByteArray Md5(const QByteArray &B) { return QCryptographicHash::hash(B, QCryptographicHash::Md5); }

struct TWork {
  QTemporaryDir Dir;
  TWork() {
    for (int i = 0; i < Names.size(); ++i)
      SaveFileBytes(Dir.filePath(Names[i]), i == 3 ? QByteArray() : QByteArray(100 * i + 7, char('a' + i)));
  }
  QList<QByteArray> Files() const {
    QList<QByteArray> out;
    for (const QString &n : Names)
      out << LoadFileBytes(Dir.filePath(n));
    return out;
  }
  QString Error(const QString &Project) const {
    TMultipleFileStream s(Project);
    s.SetBaseDir(Dir.path());
    try {
      s.Unpack(Names);
    } catch (const EKvError &e) {
      return e.Text();
    }
    return "no error";
  }
};

} // namespace

TEST(MultipleFileStream, RecordsFollowTheLayoutAndReadBackByteForByte) {
  TWork from;
  const QString project = from.Dir.filePath("p.pack");
  TMultipleFileStream s(project);
  s.SetBaseDir(from.Dir.path());
  s.Pack(Names);
  const QByteArray bytes = LoadFileBytes(project);
  // First record: 10 00 "config.xml" 07 00 00 00 "aaaaaaa" MD5.
  const QByteArray first = QByteArray("\x0A\x00", 2) + "config.xml" + QByteArray("\x07\x00\x00\x00", 4) +
                           QByteArray(7, 'a') + Md5(QByteArray(7, 'a'));
  EXPECT_EQ(bytes.left(first.size()), first);
  // The empty file: size 0 and the MD5 of nothing.
  const QByteArray empty = QByteArray("\x11\x00", 2) + "custom-logic0.xml" + QByteArray(4, '\0') + Md5({});
  EXPECT_TRUE(bytes.contains(empty));

  TWork to;
  for (const QString &n : Names)
    SaveFileBytes(to.Dir.filePath(n), "old");
  TMultipleFileStream r(project);
  r.SetBaseDir(to.Dir.path());
  r.Unpack(Names);
  EXPECT_EQ(to.Files(), from.Files());
}

TEST(MultipleFileStream, BadProjectsLeaveEveryWorkFileUnchanged) {
  TWork src;
  QList<std::pair<QString, QByteArray>> files;
  for (const QString &n : Names)
    files.append({n, LoadFileBytes(src.Dir.filePath(n))});
  const QByteArray good = PackRecords(files);
  QByteArray flipped = good;
  flipped[flipped.size() - 40] = char(flipped[flipped.size() - 40] ^ 0x01); // a byte of the last file's data
  QList<std::pair<QString, QByteArray>> swapped = files;
  swapped.swapItemsAt(0, 1);
  QList<std::pair<QString, QByteArray>> cased = files;
  cased[2].first = "Logic.xml";
  QByteArray bigSize = good;
  bigSize[12] = char(0xFF); // config.xml's size past the bytes there
  bigSize[13] = char(0xFF);
  const struct {
    const char *Name;
    QByteArray Bytes;
    const char *Error;
  } cases[] = {
      {"flipped data byte", flipped, "invalid HashValue"},
      {"other order", PackRecords(swapped), "pack error"},
      {"name in another case", PackRecords(cased), "pack error"},
      {"cut in the last digest", good.left(good.size() - 1), "pack error"},
      {"size past the end", bigSize, "pack error"},
      {"empty", {}, "pack error"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    TWork work;
    for (const QString &n : Names)
      SaveFileBytes(work.Dir.filePath(n), "kept " + n.toLatin1());
    const QList<QByteArray> before = work.Files();
    SaveFileBytes(work.Dir.filePath("p.pack"), c.Bytes);
    EXPECT_EQ(work.Error(work.Dir.filePath("p.pack")), c.Error);
    EXPECT_EQ(work.Files(), before);
  }
}
