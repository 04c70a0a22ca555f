#pragma once
// The serial port of the device link: one POSIX tty opened with the program's
// fixed line settings (8 data bits, no parity, one stop bit, raw, no flow
// control, DTR and RTS raised) and read without waiting.
//
// Thread affinity: the transport uses the port on the device worker thread,
// while the main window renames it, changes its baud rate and asks whether it
// is open. Every operation takes the port's own lock, so those calls may come
// from any thread; a changed name takes effect at the next Open.
#include <QString>
#include <atomic>
#include <mutex>

class TComPort {
public:
  // Line settings from the ini file (com/port, default "COM1"; com/baudrate,
  // default 38400); the port stays closed.
  TComPort();
  ~TComPort();
  TComPort(const TComPort &) = delete;
  TComPort &operator=(const TComPort &) = delete;

  // Opens the tty named by the port name, exclusively (a second Open of the same
  // device, from this or another program, fails), sets the line settings and
  // the stored baud rate, and makes reads return at once. False when the device
  // is missing, in use, not a tty, or the baud rate is not one the system knows.
  // Overlapped is accepted for the callers' sake and ignored.
  bool Open(bool Overlapped = false);
  void Close();
  // Why the last Open failed, as the engineer reads it: "Порт NAME недоступен: "
  // and the system's reason (for a permission error with the fix: membership
  // of the "dialout" group). Empty after a successful Open.
  QString LastOpenError() const;
  // Whether any Open of this port has succeeded.
  bool WasOpened() const { return FWasOpened.load(); }
  bool IsOpen() const { return FFd.load() >= 0; }
  // Drops every received byte not read yet. Bytes written are not dropped:
  // the transport purges only after a request had its line time, when a real
  // line has nothing left to send, while on a pseudo-terminal an output flush
  // would discard a request the peer has not read yet.
  void Purge();
  // Reads at most Count bytes that are already buffered; Done is the count read
  // (0 when nothing waits or the port is closed).
  void Read(void *Buf, int Count, int &Done);
  // Writes Count bytes; Done is the count written (fewer when the line stalls
  // beyond the time the bytes need at the baud rate, or the port is closed).
  void Write(const void *Buf, int Count, int &Done);

  // The name used by the next Open: "ttyUSB0" is looked up as "/dev/ttyUSB0";
  // a name holding a slash is a path as it stands.
  void SetPortName(const QString &Name);
  QString GetPortName() const;
  // The device path that Open uses for Name.
  static QString DevicePath(const QString &Name);

  // Stores the rate and opens the port when it is closed; a port that cannot be
  // opened now uses the stored rate at its next Open. On an open port the rate
  // is applied. A rate the system does not know or the line refuses throws
  // EKvError "invalid SetCommState BaudRate: " followed by Rate, and the stored
  // rate stays as it was.
  void SetBaudRate(int Rate);
  int GetBaudRate() const;

private:
  bool OpenLocked();
  bool OpenFailed(int Error);
  void CloseLocked();

  mutable std::mutex FLock;
  std::atomic<int> FFd{-1};
  QString FPortName = QStringLiteral("COM1");
  int FBaudRate = 38400;
  QString FLastOpenError;
  std::atomic<bool> FWasOpened{false};
  // A pseudo-terminal has no modem lines: raising DTR/RTS fails there, which is
  // logged once per port object and otherwise ignored.
  bool FModemLinesLogged = false;
};
