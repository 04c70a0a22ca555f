#pragma once
// Serves one simulated device over a pseudo-terminal (Modbus RTU) and over
// Modbus TCP on 127.0.0.1, from one thread of its own. The device is the
// caller's and may be changed while the server runs (it locks itself).
#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

class TSimDevice;

struct TDevSimOptions {
  bool UsePty = true;
  bool UseTcp = true;
  uint16_t TcpPort = 0; // 0: any free port
  int Baud = 0;         // RTU answers leave at this rate (10 bit times per byte); 0: at once
};

class TDevSimServer {
public:
  explicit TDevSimServer(TSimDevice &Device);
  ~TDevSimServer();
  TDevSimServer(const TDevSimServer &) = delete;
  TDevSimServer &operator=(const TDevSimServer &) = delete;

  // Opens the pseudo-terminal and the listening socket, then starts serving.
  // Throws EKvError "cannot open pseudo-terminal: " or "cannot listen on
  // 127.0.0.1:PORT: " followed by the system's reason.
  void Start(const TDevSimOptions &Options);
  // Stops serving and closes everything; a late or paced answer is cut off. Safe to call twice.
  void Stop();

  // The slave side to open as a serial port, such as "/dev/pts/7"; empty without one.
  QString PtyPath() const { return FPtyPath; }
  // The port actually listened on; 0 without TCP.
  uint16_t TcpPort() const { return FTcpPort; }
  // Changes the pace of RTU answers while running; 0: at once.
  void SetBaud(int Baud) { FBaud = Baud; }
  // Held: every answer (or only those with function code Function) waits,
  // its request executed, until the hold is let go (or the server stops): a
  // test holds a device's answer until the program has done what it tests
  // meanwhile. Any thread.
  void HoldAnswers(bool Held, int Function = -1) {
    FHeldFunction = Function;
    FHeld = Held;
  }

private:
  struct TState;
  void Run();

  TSimDevice &FDevice;
  std::unique_ptr<TState> FState;
  std::thread FThread;
  QString FPtyPath;
  uint16_t FTcpPort = 0;
  std::atomic<int> FBaud{0};
  std::atomic<bool> FHeld{false};
  std::atomic<int> FHeldFunction{-1};
};
