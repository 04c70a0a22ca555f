#include "uComPort.h"
#include "uAppIniFile.h"
#include "uErrors.h"
#include "uLinkText.h"
#include "uLogger.h"

#include <QFile>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// termios knows only these rates; anything else is refused like a failing
// SetCommState would be.
speed_t SpeedOf(int Rate) {
  switch (Rate) {
  case 300: return B300;
  case 600: return B600;
  case 1200: return B1200;
  case 2400: return B2400;
  case 4800: return B4800;
  case 9600: return B9600;
  case 19200: return B19200;
  case 38400: return B38400;
  case 57600: return B57600;
  case 115200: return B115200;
  case 230400: return B230400;
#ifdef B460800
  case 460800: return B460800;
#endif
#ifdef B921600
  case 921600: return B921600;
#endif
  default: return 0;
  }
}

bool ApplySpeed(int Fd, int Rate) {
  const speed_t s = SpeedOf(Rate);
  if (s == 0)
    return false;
  termios t{};
  if (::tcgetattr(Fd, &t) != 0)
    return false;
  if (::cfgetospeed(&t) == s && ::cfgetispeed(&t) == s)
    return true;
  if (::cfsetispeed(&t, s) != 0 || ::cfsetospeed(&t, s) != 0)
    return false;
  return ::tcsetattr(Fd, TCSANOW, &t) == 0;
}

} // namespace

TComPort::TComPort()
    : FPortName(AppIni().ReadString("com", "port", QStringLiteral("COM1"))),
      FBaudRate(AppIni().ReadInteger("com", "baudrate", 38400)) {}

TComPort::~TComPort() {
  std::lock_guard g(FLock);
  CloseLocked();
}

QString TComPort::DevicePath(const QString &Name) {
  if (Name.contains(QLatin1Char('/')))
    return Name;
  return QStringLiteral("/dev/") + Name;
}

bool TComPort::Open(bool Overlapped) {
  std::lock_guard g(FLock);
  return OpenLocked();
}

bool TComPort::OpenLocked() {
  if (FFd >= 0)
    return true;
  const QByteArray path = QFile::encodeName(DevicePath(FPortName));
  // Non-blocking: reads must return at once with what is buffered, and opening
  // must not wait for a modem's carrier.
  const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return OpenFailed(errno);
  auto fail = [this, fd](int Error) {
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
    return OpenFailed(Error);
  };
  if (!::isatty(fd))
    return fail(ENOTTY);
  // flock excludes every other opener, root included; TIOCEXCL alone does not
  // stop a privileged process.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return OpenFailed(EBUSY);
  }
  ::ioctl(fd, TIOCEXCL);

  termios t{};
  if (::tcgetattr(fd, &t) != 0)
    return fail(errno);
  ::cfmakeraw(&t);
  t.c_cflag &= ~tcflag_t(CSIZE | PARENB | CSTOPB | CRTSCTS);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  t.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  const speed_t s = SpeedOf(FBaudRate);
  if (s == 0 || ::cfsetispeed(&t, s) != 0 || ::cfsetospeed(&t, s) != 0)
    return fail(EINVAL);
  if (::tcsetattr(fd, TCSANOW, &t) != 0)
    return fail(errno);

  int lines = TIOCM_DTR | TIOCM_RTS;
  if (::ioctl(fd, TIOCMBIS, &lines) != 0 && !FModemLinesLogged) {
    FModemLinesLogged = true;
    Logger().Info(QStringLiteral("serial port %1: DTR/RTS not set: %2")
                      .arg(QString::fromLocal8Bit(path), QString::fromLocal8Bit(std::strerror(errno))));
  }
  FFd = fd;
  FLastOpenError.clear();
  FWasOpened = true;
  return true;
}

bool TComPort::OpenFailed(int Error) {
  const QString reason = QString::fromLocal8Bit(std::strerror(Error));
  const bool denied = Error == EACCES || Error == EPERM;
  FLastOpenError = QString::fromUtf8(denied ? LinkTexts::PortNoAccess : LinkTexts::PortUnavailable).arg(FPortName, reason);
  return false;
}

QString TComPort::LastOpenError() const {
  std::lock_guard g(FLock);
  return FLastOpenError;
}

void TComPort::Close() {
  std::lock_guard g(FLock);
  CloseLocked();
}

void TComPort::CloseLocked() {
  const int fd = FFd.exchange(-1);
  if (fd < 0)
    return;
  // The exclusive flag belongs to the tty, not to our descriptor: clear it so
  // that the next Open succeeds while something else still holds the tty.
  ::ioctl(fd, TIOCNXCL);
  ::close(fd);
}

void TComPort::Purge() {
  std::lock_guard g(FLock);
  if (FFd >= 0)
    ::tcflush(FFd, TCIFLUSH);
}

void TComPort::Read(void *Buf, int Count, int &Done) {
  Done = 0;
  std::lock_guard g(FLock);
  if (FFd < 0 || Count <= 0)
    return;
  for (;;) {
    const ssize_t n = ::read(FFd, Buf, size_t(Count));
    if (n > 0)
      Done = int(n);
    if (n < 0 && errno == EINTR)
      continue;
    return;
  }
}

void TComPort::Write(const void *Buf, int Count, int &Done) {
  Done = 0;
  std::lock_guard g(FLock);
  if (FFd < 0 || Count <= 0)
    return;
  // The kernel queue normally takes a whole frame at once; when the line
  // stalls we wait at most the time the bytes need plus a second.
  const auto limit = std::chrono::steady_clock::now() +
                     std::chrono::milliseconds(1000 + qint64(Count) * 10000 / qMax(FBaudRate, 1));
  const auto *p = static_cast<const char *>(Buf);
  while (Done < Count) {
    const ssize_t n = ::write(FFd, p + Done, size_t(Count - Done));
    if (n > 0) {
      Done += int(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR)
      return;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit - std::chrono::steady_clock::now()).count();
    if (left <= 0)
      return;
    pollfd pfd{FFd, POLLOUT, 0};
    ::poll(&pfd, 1, int(qMin<qint64>(left, 100)));
  }
}

void TComPort::SetPortName(const QString &Name) {
  std::lock_guard g(FLock);
  FPortName = Name;
}

QString TComPort::GetPortName() const {
  std::lock_guard g(FLock);
  return FPortName;
}

void TComPort::SetBaudRate(int Rate) {
  std::lock_guard g(FLock);
  if (SpeedOf(Rate) == 0 || (FFd >= 0 && !ApplySpeed(FFd, Rate)))
    throw EKvError(QStringLiteral("invalid SetCommState BaudRate: %1").arg(Rate));
  // Kept even when the port cannot open now (adapter unplugged, wrong name):
  // the menu shows the chosen rate, and the next Open must use it.
  FBaudRate = Rate;
  if (FFd < 0)
    OpenLocked();
}

int TComPort::GetBaudRate() const {
  std::lock_guard g(FLock);
  return FBaudRate;
}
