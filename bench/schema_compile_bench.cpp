// Compiles a generated schema of 2,000 function blocks of the project's
// library (chains of and, or, not, select and RS blocks, each input linked) on
// the compiler tests' device, and prints the milliseconds of each stage: the
// checks with the allocation, "param.js", the script run and the assembly.
#include "compile_test_util.h"

#include <cstdio>

int main() {
  TCompileDevice d;
  const char *kinds[] = {"and", "or", "not", "select", "rs"};
  QList<TElement *> blocks = {AddFunction(*d.Root, "one", 0, 0), AddFunction(*d.Root, "zero", 0, 4)};
  for (int i = 2; i < 2000; ++i) {
    TElement *e = AddFunction(*d.Root, kinds[i % 5], 4 + 4 * (i / 50), 4 * (i % 50));
    for (int pin = 0; pin < e->InputPins.Count(); ++pin)
      AddLink(*d.Root, blocks[(i - 1 - pin) % blocks.size()], 0, e, pin);
    blocks << e;
  }
  const int runs = 3;
  TSchemaCompile::TTimings sum;
  for (int run = 0; run < runs; ++run) {
    TSchemaCompile c;
    const QStringList errors = d.Compile(c);
    if (!errors.isEmpty()) {
      std::fprintf(stderr, "%s\n", qPrintable(errors.join('\n')));
      return 1;
    }
    sum.Checks += c.Timings.Checks;
    sum.Param += c.Timings.Param;
    sum.Script += c.Timings.Script;
    sum.Assembly += c.Timings.Assembly;
  }
  std::printf("2000 function blocks, mean of %d compiles: checks %.1f ms, param.js %.1f ms, script %.1f ms, "
              "assembly %.1f ms; code %lld bytes\n",
              runs, double(sum.Checks) / runs, double(sum.Param) / runs, double(sum.Script) / runs,
              double(sum.Assembly) / runs, QFileInfo(d.Dir.filePath("generated.bin")).size());
  return 0;
}
