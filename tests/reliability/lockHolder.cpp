// Helper of the work-folder lock test: takes FOLDER/locker.txt the way the
// program does, prints "held", and keeps it until it is killed.
#include "uLocker.h"

#include <QString>
#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: lockHolder FOLDER\n");
    return 2;
  }
  TLockFile lock;
  QString reason;
  if (!lock.Take(QString::fromLocal8Bit(argv[1]) + "/locker.txt", &reason)) {
    std::printf("refused %s\n", reason.toLocal8Bit().constData());
    return 1;
  }
  std::printf("held\n");
  std::fflush(stdout);
  for (;;)
    ::pause();
}
