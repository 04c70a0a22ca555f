// The settings reader on arbitrary bytes. Every section header found in the
// input is looked up and every key of it read in each form; the forms must
// agree with the string (a decimal number reads as that integer, a boolean is
// integer != 0). Then the sections and keys read are written out as a new ini
// file and read again: the same keys in the same order with the same values.
#include "uAppIniFile.h"
#include "uErrors.h"
#include "uTextCodec.h"

#include <QRegularExpression>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <unistd.h>

namespace {
[[noreturn]] void Fail(const char *What) {
  std::fprintf(stderr, "ini invariant broken: %s\n", What);
  std::abort();
}

QString WriteScratch(const QByteArray &Bytes, int Which) {
  const QString path = QStringLiteral("/tmp/kv_ini_fuzz_%1_%2.ini").arg(::getpid()).arg(Which);
  FILE *f = std::fopen(path.toLocal8Bit().constData(), "wb");
  if (!f)
    Fail("no scratch file");
  std::fwrite(Bytes.constData(), 1, size_t(Bytes.size()), f);
  std::fclose(f);
  return path;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  const QByteArray bytes(reinterpret_cast<const char *>(Data), qsizetype(Size));
  // Bytes that are not Windows-1251 (nor UTF-8 after a byte-order mark) are
  // refused by the reader with an error naming the file: nothing to check then.
  const QString scratch = WriteScratch(bytes, 1);
  std::unique_ptr<TAppIniFile> read;
  try {
    read = std::make_unique<TAppIniFile>(scratch);
  } catch (const EKvFormat &e) {
    if (!e.Text().contains(scratch))
      Fail("a refused file is not named");
    return 0;
  }
  const TAppIniFile &ini = *read;
  // Section names as a reader would see them: the text between "[" and "]".
  // Without a byte-order mark the file is UTF-8 when it decodes so into
  // characters Windows-1251 has.
  bool isUtf8 = bytes.startsWith("\xEF\xBB\xBF");
  if (!isUtf8 && FirstInvalidByte(bytes, QStringLiteral("UTF-8")) < 0) {
    const QList<uint> chars = QString::fromUtf8(bytes).toUcs4();
    isUtf8 = std::all_of(chars.begin(), chars.end(), [](uint C) { return IsWin1251Char(C); });
  }
  const QString text = bytes.startsWith("\xEF\xBB\xBF") ? QString::fromUtf8(bytes.mid(3))
                       : isUtf8                           ? QString::fromUtf8(bytes)
                                                          : FromWin1251(bytes);
  QStringList sections;
  static const QRegularExpression header(QStringLiteral("^\\s*\\[([^\\]\\r\\n]*)\\]"),
                                         QRegularExpression::MultilineOption);
  for (auto it = header.globalMatch(text); it.hasNext();) {
    const QString name = it.next().captured(1).trimmed();
    if (!sections.contains(name, Qt::CaseInsensitive))
      sections << name;
  }
  QByteArray rewritten;
  for (const QString &s : sections) {
    const QStringList keys = ini.ReadSection(s);
    if (!keys.isEmpty() && !ini.SectionExists(s))
      Fail("keys of a section that does not exist");
    QString out = "[" + s + "]\n";
    bool representable = true;
    for (const QString &k : keys) {
      if (!ini.ValueExists(s, k))
        Fail("a listed key does not exist");
      const QString v = ini.ReadString(s, k, QStringLiteral("\x01"));
      if (v != ini.ReadString(s, k, QStringLiteral("\x02"))) {
        std::fprintf(stderr, "[%s] %s\n", qPrintable(s), qPrintable(k));
        Fail("a listed key reads as missing");
      }
      // Plain decimal digits only: QString::toLongLong stops at a NUL character.
      static const QRegularExpression decimal(QStringLiteral("^-?[0-9]{1,18}$"));
      bool isInt = decimal.match(v).hasMatch();
      const qlonglong n = isInt ? v.toLongLong() : 0;
      const int i = ini.ReadInteger(s, k, -12345);
      if (isInt && n >= INT32_MIN && n <= INT32_MAX && i != n)
        Fail("a decimal value reads as another integer");
      if (ini.ReadBool(s, k, false) != (ini.ReadInteger(s, k, 0) != 0) ||
          ini.ReadBool(s, k, true) != (ini.ReadInteger(s, k, 1) != 0))
        Fail("boolean and integer forms disagree");
      (void)ini.ReadFloat(s, k, 0.5);
      out += k + "=" + v + "\n";
      representable = representable && FromWin1251(ToWin1251(k + v)) == k + v;
    }
    if (representable && FromWin1251(ToWin1251(s)) == s && !s.contains(']'))
      rewritten += ToWin1251(out);
  }
  // Written with a byte-order mark: Windows-1251 bytes of a file read as such
  // may form UTF-8 of other characters once the lines around them are gone.
  const TAppIniFile again(WriteScratch(QByteArray("\xEF\xBB\xBF") + FromWin1251(rewritten).toUtf8(), 2));
  for (const QString &s : sections) {
    if (FromWin1251(ToWin1251(s)) != s || s.contains(']') || !again.SectionExists(s))
      continue;
    const QStringList keys = ini.ReadSection(s);
    if (again.ReadSection(s) != keys)
      Fail("keys change when written and read again");
    for (const QString &k : keys)
      if (again.ReadString(s, k, QString()) != ini.ReadString(s, k, QString()))
        Fail("a value changes when written and read again");
  }
  return 0;
}
