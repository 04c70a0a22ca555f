#pragma once
// Test helper: a null-modem cable made of two pseudo-terminals. A program that
// wants to open a serial port by name (a Modbus server of another make) opens
// PathA, our serial port opens PathB, and a thread copies the bytes between
// the two master sides.
#include <QString>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

class TPtyBridge {
public:
  TPtyBridge() {
    OpenPty(FMasterA, FSlaveA, FPathA);
    OpenPty(FMasterB, FSlaveB, FPathB);
    FWake = eventfd(0, EFD_CLOEXEC);
    FThread = std::thread([this] { Run(); });
  }
  ~TPtyBridge() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(FWake, &one, sizeof one);
    FThread.join();
    for (int fd : {FMasterA, FSlaveA, FMasterB, FSlaveB, FWake})
      ::close(fd);
  }
  TPtyBridge(const TPtyBridge &) = delete;
  TPtyBridge &operator=(const TPtyBridge &) = delete;

  QString PathA() const { return FPathA; }
  QString PathB() const { return FPathB; }

private:
  // The slave stays open here so that its raw settings hold while no port has
  // it open (a fresh line echoes, which would bounce frames back).
  static void OpenPty(int &Master, int &Slave, QString &Path) {
    Master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (Master < 0 || grantpt(Master) != 0 || unlockpt(Master) != 0 || ptsname_r(Master, name, sizeof name) != 0)
      throw std::runtime_error("cannot open a pseudo-terminal");
    Slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (Slave < 0 || tcgetattr(Slave, &tio) != 0)
      throw std::runtime_error("cannot open a pseudo-terminal");
    cfmakeraw(&tio);
    tcsetattr(Slave, TCSANOW, &tio);
    Path = QString::fromLocal8Bit(name);
  }

  static void Copy(int From, int To) {
    char buf[4096];
    const ssize_t n = ::read(From, buf, sizeof buf);
    for (ssize_t done = 0; n > 0 && done < n;) {
      const ssize_t w = ::write(To, buf + done, size_t(n - done));
      if (w < 0 && errno != EINTR)
        return;
      done += w > 0 ? w : 0;
    }
  }

  void Run() {
    for (;;) {
      pollfd fds[3] = {{FWake, POLLIN, 0}, {FMasterA, POLLIN, 0}, {FMasterB, POLLIN, 0}};
      if (::poll(fds, 3, -1) < 0 && errno != EINTR)
        return;
      if (fds[0].revents & POLLIN)
        return;
      if (fds[1].revents & POLLIN)
        Copy(FMasterA, FMasterB);
      if (fds[2].revents & POLLIN)
        Copy(FMasterB, FMasterA);
    }
  }

  int FMasterA = -1, FSlaveA = -1, FMasterB = -1, FSlaveB = -1, FWake = -1;
  QString FPathA, FPathB;
  std::thread FThread;
};
