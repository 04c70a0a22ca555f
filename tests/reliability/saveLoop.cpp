// Helper of the saving test: saves FOLDER/big.bin through the save helper
// again and again, each time a new generation of self-describing content,
// and prints "saved N" after each, until it is killed.
#include "uFiles.h"

#include <QString>
#include <cstdio>

#include "saveContent.h"

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: saveLoop FOLDER BYTES\n");
    return 2;
  }
  const QString path = QString::fromLocal8Bit(argv[1]) + "/big.bin";
  const int size = std::atoi(argv[2]);
  for (uint32_t gen = 1;; ++gen) {
    SaveFileBytes(path, SaveContent(gen, size));
    std::printf("saved %u\n", gen);
    std::fflush(stdout);
  }
}
