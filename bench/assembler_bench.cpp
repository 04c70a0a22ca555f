// The assembler beside the GNU AVR assembler (avr-as, binutils-avr), each side
// timed the same two ways:
//  - as processes: kvasm and avr-as started on each source, wall time and
//    CPU time, start included; an empty source gives each one's start;
//  - the work beyond start: each process time less the time of the same
//    side's empty-source run just before it, and ours also in process
//    (TSchemaAssembler::Assemble less its empty run);
//  - the start once more in a folder on disk, where ours waits for the syncs
//    of its two outputs and their folder (avr-as syncs nothing).
// Sources: the generator's blocks (";;" line, labels, branches, address
// loads) at 1,000, 50,000 and 100,000 lines, and 50,000 label-free lines that
// use every row of the instruction table. Each source is written in both
// syntaxes. Figures are min / median / max of alternating runs in
// milliseconds, with the ratio of the medians and the machine's load; then the
// same with the whole bench on one core.
#include "uBenchKit.h"
#include "uFiles.h"
#include "uSchemaAssembler.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

namespace {

constexpr int Runs = 15;

struct TSource {
  const char *Name;
  QByteArray Ours, Gnu;
  int Lines = 0;
};

// Blocks as the generator writes them; the GNU assembler's labels are the
// file's, not the block's.
TSource Generated(const char *Name, int Lines) {
  TSource s{Name, "; generated\n", "; generated\n", 1};
  for (int element = 0; s.Lines < Lines; ++element, s.Lines += 12) {
    const QByteArray n = QByteArray::number(element);
    s.Ours += ";;element AND gi=" + n + " i=" + n + "\n"
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
    s.Gnu += "; element AND gi=" + n + " i=" + n + "\n"
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
  }
  return s;
}

// Every row of the instruction table, ours beside the GNU form of the same
// instruction, without labels; a ";;" block head every 50 lines.
TSource EveryRow(int Lines) {
  static const std::pair<const char *, const char *> Rows[] = {
      {"dw 4660", ".word 4660"},       {"lpmp 5", "lpm r5,Z+"},        {"call 256", "call 512"},
      {"rcall 2", "rcall .+4"},        {"lds 16,288", "lds r16,288"},  {"sts 304,18", "sts 304,r18"},
      {"ldxp 5", "ld r5,X+"},          {"ldyp 5", "ld r5,Y+"},         {"ldzp 5", "ld r5,Z+"},
      {"stxp 5", "st X+,r5"},          {"styp 5", "st Y+,r5"},         {"stzp 5", "st Z+,r5"},
      {"com 5", "com r5"},             {"and 16,17", "and r16,r17"},   {"andi 16,15", "andi r16,15"},
      {"or 16,17", "or r16,r17"},      {"eor 16,17", "eor r16,r17"},   {"sbc 16,17", "sbc r16,r17"},
      {"sbr 16,3", "sbr r16,3"},       {"sbrc 5,3", "sbrc r5,3"},      {"sbrs 5,3", "sbrs r5,3"},
      {"sub 16,17", "sub r16,r17"},    {"subi 16,1", "subi r16,1"},    {"rjmp 1", "rjmp .+2"},
      {"cp 16,17", "cp r16,r17"},      {"cpc 16,17", "cpc r16,r17"},   {"cpi 16,1", "cpi r16,1"},
      {"breq 1", "breq .+2"},          {"brne 1", "brne .+2"},         {"brcs 1", "brcs .+2"},
      {"brcc 1", "brcc .+2"},          {"ret", "ret"},                 {"ldi 16,1", "ldi r16,1"},
      {"ldil 30,1234", "ldi r30,lo8(1234)"}, {"ldih 31,1234", "ldi r31,hi8(1234)"},
      {"bld 5,3", "bld r5,3"},         {"bst 5,3", "bst r5,3"},        {"mov 16,17", "mov r16,r17"},
      {"movw 24,30", "movw r24,r30"},  {"mul 16,17", "mul r16,r17"},   {"add 16,17", "add r16,r17"},
      {"adc 16,17", "adc r16,r17"},    {"adiw 30,1", "adiw r30,1"},    {"sbiw 30,1", "sbiw r30,1"},
      {"lsl 16,16", "lsl r16"},        {"lsr 16", "lsr r16"},          {"rol 16,16", "rol r16"},
      {"ror 16", "ror r16"},           {"in 16,63", "in r16,63"},      {"out 16,63", "out 63,r16"},
      {"swap 16", "swap r16"},         {"sei", "sei"},                 {"cli", "cli"},
  };
  TSource s{"every row", "; every row\n", "; every row\n", 1};
  for (int i = 0; s.Lines < Lines; ++i, ++s.Lines) {
    if (i % 50 == 0) {
      s.Ours += ";;block " + QByteArray::number(i / 50) + "\n";
      s.Gnu += "; block " + QByteArray::number(i / 50) + "\n";
      ++s.Lines;
    }
    const auto &[ours, gnu] = Rows[size_t(i) % std::size(Rows)];
    s.Ours += QByteArray("   ") + ours + "\n";
    s.Gnu += QByteArray("   ") + gnu + "\n";
  }
  return s;
}

// One run of Program: wall seconds and CPU seconds (user and system), or
// wall -1 when it failed. Its output goes nowhere.
struct TRun {
  double Wall = -1, Cpu = 0;
};
TRun RunProcess(const QString &Program, const QStringList &Args) {
  std::vector<std::string> strings{Program.toStdString()};
  for (const QString &a : Args)
    strings.push_back(a.toStdString());
  std::vector<char *> argv;
  for (std::string &s : strings)
    argv.push_back(s.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  QElapsedTimer t;
  t.start();
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  TRun run;
  int status = 0;
  rusage usage{};
  if (rc != 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return run;
  run.Wall = double(t.nsecsElapsed()) / 1e9;
  run.Cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  return run;
}

struct TSide {
  std::vector<double> Process, ProcessCpu, InProcess;
  // Each run less the empty-source run of the same side just before it: a
  // pair sees the same load, so a drift of the machine's load between the
  // rounds of two sources cancels out.
  std::vector<double> Beyond, BeyondCpu, BeyondInProcess;
};

void Row(const char *What, const bench::TSpread &Ours, const bench::TSpread &Gnu, const char *Target) {
  std::printf("    %-34s ours %s   avr-as %s   ratio %.2f (%s)\n", What, bench::Text(Ours, 1e3, 2).c_str(),
              bench::Text(Gnu, 1e3, 2).c_str(), Ours.Median / Gnu.Median, Target);
}

} // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  const bool oneCore = argc > 1 && QByteArray(argv[1]) == "one-core";
  SchemaCode().LoadCommandsXML(TSchemaCode::DefaultText());
  const QString kvasm = QStringLiteral(KV_ASM);
  const QString avrAs = QStandardPaths::findExecutable("avr-as");
  // On tmpfs when there is one: a sync there costs nothing, so the figures
  // are the tools' and not the shared disk's (ours syncs its outputs, avr-as
  // does not).
  const bool shm = QFileInfo("/dev/shm").isWritable();
  QTemporaryDir dir(shm ? QStringLiteral("/dev/shm/assembler_bench-XXXXXX") : QString());
  if (!dir.isValid())
    return 1;
  std::vector<TSource> sources{{"empty", "", "", 0}};
  sources.push_back(Generated("generated 1k", 1000));
  sources.push_back(Generated("generated 50k", 50000));
  sources.push_back(Generated("generated 100k", 100000));
  sources.push_back(EveryRow(50000));

  std::printf("assembler: kvasm and TSchemaAssembler against avr-as, %d alternating runs in %s, ms min / median / "
              "max; %s\n",
              Runs, qPrintable(dir.path()), bench::Machine().c_str());
  if (avrAs.isEmpty()) {
    std::printf("    avr-as: not installed (binutils-avr)\n");
    return 0;
  }
  // The empty source once more on the disk of the temporary folder.
  QTemporaryDir diskDir;
  const QString diskFolder = shm && diskDir.isValid() ? diskDir.path() : QString();
  TSide diskOurs, diskGnu;
  if (!diskFolder.isEmpty()) {
    SaveFileBytes(diskFolder + "/generated.asm", QByteArray());
    SaveFileBytes(diskFolder + "/gnu.s", QByteArray());
    for (int r = -1; r < Runs; ++r) {
      const TRun a = RunProcess(kvasm, {diskFolder + "/generated.asm"});
      const TRun b = RunProcess(avrAs, {"-mmcu=atmega128", "-o", diskFolder + "/gnu.o", diskFolder + "/gnu.s"});
      if (a.Wall < 0 || b.Wall < 0) {
        std::fprintf(stderr, "%s failed on disk\n", a.Wall < 0 ? "kvasm" : "avr-as");
        return 1;
      }
      if (r < 0)
        continue;
      diskOurs.Process.push_back(a.Wall);
      diskGnu.Process.push_back(b.Wall);
      diskOurs.ProcessCpu.push_back(a.Cpu);
      diskGnu.ProcessCpu.push_back(b.Cpu);
    }
  }
  std::vector<TSide> ours(sources.size()), gnu(sources.size());
  const QString emptyFolder = dir.filePath("0");
  TSchemaAssembler emptyAssembler;
  emptyAssembler.WorkFolder = emptyFolder;
  for (size_t i = 0; i < sources.size(); ++i) {
    const QString folder = dir.filePath(QString::number(i));
    QDir().mkpath(folder);
    SaveFileBytes(folder + "/generated.asm", sources[i].Ours);
    SaveFileBytes(folder + "/gnu.s", sources[i].Gnu);
    TSchemaAssembler assembler;
    assembler.WorkFolder = folder;
    auto runBoth = [&](const QString &Folder, TSchemaAssembler &Assembler, TRun &A, TRun &B, double &C) {
      A = RunProcess(kvasm, {Folder + "/generated.asm"});
      B = RunProcess(avrAs, {"-mmcu=atmega128", "-o", Folder + "/gnu.o", Folder + "/gnu.s"});
      QElapsedTimer t;
      t.start();
      Assembler.Assemble(512);
      C = double(t.nsecsElapsed()) / 1e9;
      return A.Wall >= 0 && B.Wall >= 0;
    };
    for (int r = -1; r < Runs; ++r) { // the first round warms caches and is not counted
      TRun ea, eb, a, b;
      double ec = 0, c = 0;
      if ((i > 0 && !runBoth(emptyFolder, emptyAssembler, ea, eb, ec)) || !runBoth(folder, assembler, a, b, c)) {
        std::fprintf(stderr, "kvasm or avr-as failed on %s\n", sources[i].Name);
        return 1;
      }
      if (r < 0)
        continue;
      ours[i].Process.push_back(a.Wall);
      gnu[i].Process.push_back(b.Wall);
      ours[i].ProcessCpu.push_back(a.Cpu);
      gnu[i].ProcessCpu.push_back(b.Cpu);
      ours[i].InProcess.push_back(c);
      if (i == 0)
        continue;
      // Never below a microsecond, so that a ratio stays defined.
      auto less = [](double Run, double Empty) { return std::max(Run - Empty, 1e-6); };
      ours[i].Beyond.push_back(less(a.Wall, ea.Wall));
      gnu[i].Beyond.push_back(less(b.Wall, eb.Wall));
      ours[i].BeyondCpu.push_back(less(a.Cpu, ea.Cpu));
      gnu[i].BeyondCpu.push_back(less(b.Cpu, eb.Cpu));
      ours[i].BeyondInProcess.push_back(less(c, ec));
    }
  }
  Row("start (empty source), processes", bench::Spread(ours[0].Process), bench::Spread(gnu[0].Process),
      "target 2 or less");
  Row("start, processes' CPU time", bench::Spread(ours[0].ProcessCpu), bench::Spread(gnu[0].ProcessCpu),
      "target 2 or less");
  if (!diskFolder.isEmpty()) {
    std::printf("  empty source in %s (on disk; ours syncs its two outputs and their folder)\n",
                qPrintable(diskFolder));
    Row("start, processes", bench::Spread(diskOurs.Process), bench::Spread(diskGnu.Process), "syncs included");
    Row("start, processes' CPU time", bench::Spread(diskOurs.ProcessCpu), bench::Spread(diskGnu.ProcessCpu),
        "syncs included");
  }
  for (size_t i = 1; i < sources.size(); ++i) {
    std::printf("  %s: %d lines, %lld bytes of source\n", sources[i].Name, sources[i].Lines,
                static_cast<long long>(sources[i].Ours.size()));
    Row("processes", bench::Spread(ours[i].Process), bench::Spread(gnu[i].Process), "start included");
    Row("beyond start, processes", bench::Spread(ours[i].Beyond), bench::Spread(gnu[i].Beyond),
        "target 1 or less");
    Row("beyond start, processes' CPU time", bench::Spread(ours[i].BeyondCpu), bench::Spread(gnu[i].BeyondCpu),
        "target 1 or less");
    Row("beyond start, ours in process", bench::Spread(ours[i].BeyondInProcess), bench::Spread(gnu[i].Beyond),
        "target 1 or less");
  }
  if (oneCore)
    return 0;
  return bench::RunOnOneCore(argv[0], {"one-core"});
}
