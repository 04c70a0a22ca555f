#pragma once
// The single-instance lock of a work folder: "locker.txt" held open with an
// exclusive flock(2) for the life of the program. flock locks belong to the
// open file description, so a second open of the same file conflicts even
// within one process, and the kernel drops the lock when the process dies.
#include <QString>

class TLockFile {
public:
  TLockFile() = default;
  ~TLockFile();
  TLockFile(const TLockFile &) = delete;
  TLockFile &operator=(const TLockFile &) = delete;

  // Opens (creating when missing, never truncating) Path and takes the lock
  // without waiting. False when the file cannot be opened or another holder
  // has it; Reason then tells which (for the log).
  bool Take(const QString &Path, QString *Reason = nullptr);
  // Releases the lock and closes the file; safe to call twice.
  void Release();
  bool IsHeld() const { return FFd >= 0; }
  // After a refused Take: true when another holder had the lock, false when
  // the file itself could not be opened (the folder's fault).
  bool HeldElsewhere() const { return FHeldElsewhere; }

private:
  int FFd = -1;
  bool FHeldElsewhere = false;
};

// Why the program cannot keep its files in Folder, or "" when it can: the
// system's reason for a folder that is missing, is no folder, is read-only or
// has no space left. A small file is written and removed to find out.
QString FolderProblem(const QString &Folder);
