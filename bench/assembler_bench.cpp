// Assembles a generated 50,000-line program (blocks as the code generator
// writes them: a ";;" line per element, labels, branches, two-word loads) and,
// when binutils-avr is installed, the same program in the GNU AVR
// assembler's syntax with avr-as. Prints the median of five runs of each in
// milliseconds (ours: "generated.bin" and "generated.lst" written and synced,
// as the program does; avr-as: the process, writing its object file) and
// their ratio, with the machine's core count and load.
#include "uFiles.h"
#include "uSchemaAssembler.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double Median(std::vector<double> Values) {
  std::sort(Values.begin(), Values.end());
  return Values[Values.size() / 2];
}

QByteArray LoadAverage() {
  QFile f("/proc/loadavg");
  return f.open(QIODevice::ReadOnly) ? f.readAll().split(' ').mid(0, 3).join(' ') : QByteArray("?");
}

} // namespace

int main() {
  SchemaCode().LoadCommandsXML(TSchemaCode::DefaultText());
  QTemporaryDir dir;
  if (!dir.isValid())
    return 1;
  QByteArray ours = "; generated\n", gnu = "; generated\n";
  int lines = 1, element = 0;
  while (lines < 50000) {
    const QByteArray n = QByteArray::number(element);
    ours += ";;element AND gi=" + n + " i=" + n + "\n"
            "   lds  16,288    ; input\n"
            "   lds  17,290\n"
            "L1:  and  16,17\n"
            "   breq  L2\n"
            "   ldi  18,1\n"
            "   rjmp  L3\n"
            "L2:  ldi  18,0\n"
            "L3:  sts  304,18\n"
            "   ldil  30,L1\n"
            "   ldih  31,L1\n"
            "   adiw  30,1\n";
    // The GNU assembler's labels are the file's, not the block's.
    gnu += "; element AND gi=" + n + " i=" + n + "\n"
           "   lds  r16,288    ; input\n"
           "   lds  r17,290\n"
           "L1_" + n + ":  and  r16,r17\n"
           "   breq  L2_" + n + "\n"
           "   ldi  r18,1\n"
           "   rjmp  L3_" + n + "\n"
           "L2_" + n + ":  ldi  r18,0\n"
           "L3_" + n + ":  sts  304,r18\n"
           "   ldi  r30,lo8(pm(L1_" + n + "))\n"
           "   ldi  r31,hi8(pm(L1_" + n + "))\n"
           "   adiw  r30,1\n";
    lines += 12;
    ++element;
  }
  for (const auto &[name, text] : {std::pair{"generated.asm", ours}, std::pair{"gnu.s", gnu}}) {
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
      return 1;
  }

  constexpr int Runs = 5;
  TSchemaAssembler compiler;
  compiler.WorkFolder = dir.path();
  std::vector<double> ourRuns;
  for (int r = 0; r < Runs; ++r) {
    QElapsedTimer t;
    t.start();
    compiler.Assemble(512);
    ourRuns.push_back(double(t.nsecsElapsed()) / 1e6);
  }
  const double ourMs = Median(ourRuns);
  // Of that, the save helper's share: both outputs emptied first, then
  // written, each synced with its folder.
  std::vector<double> saveRuns;
  const QByteArray code = compiler.CodeStream, listing = compiler.Listing;
  for (int r = 0; r < Runs; ++r) {
    QElapsedTimer t;
    t.start();
    SaveFileBytes(dir.filePath("save.bin"), QByteArray());
    SaveFileBytes(dir.filePath("save.lst"), QByteArray());
    SaveFileBytes(dir.filePath("save.bin"), code);
    SaveFileBytes(dir.filePath("save.lst"), listing);
    saveRuns.push_back(double(t.nsecsElapsed()) / 1e6);
  }
  std::printf("assembler: %d lines, %d blocks, %lld bytes of code (%d cores, load %s)\n", lines, element,
              static_cast<long long>(compiler.CodeStream.size()), QThread::idealThreadCount(),
              LoadAverage().constData());
  std::printf("    ours:   %8.1f ms (median of %d; saving the two files alone takes %.1f ms)\n", ourMs, Runs,
              Median(saveRuns));

  const QString avrAs = QStandardPaths::findExecutable("avr-as");
  if (avrAs.isEmpty()) {
    std::printf("    avr-as: not installed (binutils-avr)\n");
    return 0;
  }
  std::vector<double> gnuRuns;
  for (int r = 0; r < Runs; ++r) {
    QProcess p;
    QElapsedTimer t;
    t.start();
    p.start(avrAs, {"-mmcu=atmega128", "-o", dir.filePath("gnu.o"), dir.filePath("gnu.s")});
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
      std::fprintf(stderr, "avr-as failed: %s\n", p.readAllStandardError().constData());
      return 1;
    }
    gnuRuns.push_back(double(t.nsecsElapsed()) / 1e6);
  }
  const double gnuMs = Median(gnuRuns);
  std::printf("    avr-as: %8.1f ms (median of %d, the same program in its syntax)\n", gnuMs, Runs);
  std::printf("    ratio ours / avr-as: %.2f (target 1.0 or less)\n", ourMs / gnuMs);
  return 0;
}
