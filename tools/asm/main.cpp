// kvasm: assembles one source with the built-in instruction table into
// "generated.bin" and "generated.lst" in the output folder.
//   kvasm [-a ALIGNMENT] [-o FOLDER] FILE.asm
//   kvasm -h | --help
// ALIGNMENT defaults to 512 bytes, FOLDER to the source's folder. Progress,
// warnings and errors go to standard error; the exit code is 0 on success, 1
// on a failure of the assembly, 2 on a bad command line. The help asked for
// is the answer: on standard output, with exit code 0.
#include "uErrors.h"
#include "uLogger.h"
#include "uSchemaAssembler.h"

#include <QFileInfo>
#include <QStringList>
#include <cstdio>

static const char UsageLine[] = "usage: kvasm [-a ALIGNMENT] [-o FOLDER] FILE.asm\n";

static int Usage() {
  std::fputs(UsageLine, stderr);
  return 2;
}

static int Help() {
  std::fputs(UsageLine, stdout);
  std::fputs("Assembles FILE.asm with the built-in instruction table into generated.bin and\n"
             "generated.lst.\n"
             "  -a ALIGNMENT  code alignment in bytes (default 512)\n"
             "  -o FOLDER     output folder (default: the source's folder)\n"
             "  -h, --help    shows this help\n"
             "Exit code: 0 done, 1 the assembly failed, 2 a bad command line.\n",
             stdout);
  return 0;
}

// No application object: a command-line tool needs neither its event loop
// nor its locale and plugin set-up, and starts faster without them.
int main(int argc, char **argv) {
  QStringList args;
  for (int i = 1; i < argc; ++i)
    args << QString::fromLocal8Bit(argv[i]);
  int alignment = 512;
  QString outFolder, source;
  for (int i = 0; i < args.size(); ++i) {
    if (args[i] == "-h" || args[i] == "--help") {
      return Help();
    } else if (args[i] == "-a" && i + 1 < args.size()) {
      bool ok = false;
      alignment = args[++i].toInt(&ok);
      if (!ok)
        return Usage();
    } else if (args[i] == "-o" && i + 1 < args.size()) {
      outFolder = args[++i];
    } else if (source.isEmpty() && !args[i].startsWith('-')) {
      source = args[i];
    } else {
      return Usage();
    }
  }
  if (source.isEmpty())
    return Usage();
  try {
    SchemaCode().LoadCommandsXML(TSchemaCode::DefaultText());
    TSchemaAssembler compiler;
    compiler.AsmFileName = QFileInfo(source).absoluteFilePath();
    compiler.WorkFolder = outFolder.isEmpty() ? QFileInfo(source).absolutePath() : outFolder;
    // The log's warnings (operands cut to their field, labels taken as
    // distances) are the developer's to see.
    Logger().SetSink([](const QString &Line, int) {
      const qsizetype at = Line.indexOf(QLatin1String("warning: "));
      if (at >= 0)
        std::fprintf(stderr, "%s\n", qPrintable(Line.mid(at)));
    });
    compiler.OnProgress = [](int Position, int Max, uint32_t) {
      std::fprintf(stderr, "line %d of %d\n", Position, Max);
    };
    compiler.Assemble(alignment);
    std::fprintf(stderr, "done: %lld bytes of code\n", static_cast<long long>(compiler.CodeStream.size()));
    return 0;
  } catch (const EKvError &e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    return 1;
  }
}
