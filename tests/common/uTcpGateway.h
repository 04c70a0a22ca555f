#pragma once
// A Modbus TCP gateway for link tests: it stands between the program and two
// devsim servers on 127.0.0.1 as a gateway whose serial side is moved from
// one relay to another would, keeping the program's connection all along.
// Each request is forwarded to the upstream chosen now (A or B), refused with
// exception 0B, or left unanswered, as the mode says; triggers close the
// program's connection, move it to the other upstream or hold an answer back
// at a chosen request. It serves from a thread of its own; the switches and
// the counts may be used from any thread.
#include "uSimDevice.h"

#include <QByteArray>
#include <arpa/inet.h>
#include <atomic>
#include <cstdint>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

class TTcpGateway {
public:
  enum class TUpstream { A = 0, B = 1 };
  enum class TMode {
    Forward,   // to the upstream chosen by Target
    Exception, // exception 0B (the target failed to respond), nothing forwarded
    Silent,    // no answer, nothing forwarded
  };

  // Listens on 127.0.0.1 on a free port and starts serving; PortA and PortB
  // are the devsim servers' Modbus TCP ports. Throws std::runtime_error when
  // it cannot listen.
  TTcpGateway(uint16_t PortA, uint16_t PortB) : FUpPort{PortA, PortB} {
    FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = Loopback(0);
    socklen_t len = sizeof addr;
    if (FListen < 0 || ::bind(FListen, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        ::listen(FListen, 4) != 0 || ::getsockname(FListen, reinterpret_cast<sockaddr *>(&addr), &len) != 0 ||
        ::pipe2(FWake, O_CLOEXEC) != 0) {
      CloseAll();
      throw std::runtime_error("gateway cannot listen on 127.0.0.1");
    }
    FPort = ntohs(addr.sin_port);
    FThread = std::thread([this] { Run(); });
  }
  ~TTcpGateway() {
    FStop = true;
    Wake();
    FThread.join();
    CloseAll();
  }
  TTcpGateway(const TTcpGateway &) = delete;
  TTcpGateway &operator=(const TTcpGateway &) = delete;

  uint16_t Port() const { return FPort; }
  // Where the next requests go; one already forwarded is still answered from where it went.
  void Target(TUpstream Which) { FTarget = Which; }
  // A line of two relays behind the gateway: a request for unit UnitA goes
  // to A and one for UnitB to B whatever Target says, as a gateway to an
  // RS-485 line routes by the MBAP unit id; units 0 and 255 (broadcast, the
  // poll) go to Target, any other unit is refused with exception 0B.
  void Line(uint8_t UnitA, uint8_t UnitB) {
    FLineUnit[0] = UnitA;
    FLineUnit[1] = UnitB;
    FLine = true;
  }
  void Mode(TMode Mode) { FMode = Mode; }
  // What follows the Nth answer from now that goes back to the program (of
  // function Function only, when not 0; an exception answer never counts):
  // every request after it is refused with exception 0B (the mode becomes
  // Exception), or the program's connection is hung up on right after it and
  // the relay behind stays unreachable (the mode becomes Exception).
  enum class TAfter { Exception, Close };
  void FailAfter(int Answers, TAfter What, uint8_t Function = 0) {
    FAfter = What;
    FAfterFunction = Function;
    FAnswersLeft = Answers;
  }
  // Answers that went back to the program from the upstreams.
  int Answered() const { return FAnswered; }

  // Which request a trigger fires at: the Nth (from 1) whose function code is
  // Function (0: any), counted from the call on, or with After set from the
  // first request with that function code on (that one not counted).
  struct TTrigger {
    uint8_t Function = 0;
    int Nth = 1;
    uint8_t After = 0;
  };
  // At Trigger the program's connection is closed instead of forwarding the
  // request, and the requests of its next connection go to Then: a link
  // that drops, and a relay swapped behind the gateway while it was down.
  void CloseAt(TTrigger Trigger, TUpstream Then) { Arm(Trigger, TAction::Close, Then); }
  // From Trigger's request on (that one included) requests go to Which,
  // with no gap the program could see.
  void SwitchAt(TTrigger Trigger, TUpstream Which) { Arm(Trigger, TAction::Switch, Which); }
  // Trigger's request is forwarded, and its answer (with anything the
  // upstreams send that connection after it) held back until Release.
  void HoldAt(TTrigger Trigger) { Arm(Trigger, TAction::Hold, TUpstream::A); }
  void Release() {
    FReleasing = true;
    Wake();
  }
  // Whether an answer is held back now.
  bool Holding() const { return FHolding; }
  // Triggers armed and not fired yet.
  int Armed() const {
    const std::lock_guard<std::mutex> g(FLock);
    return int(FTriggers.size());
  }

  // Connections the program made to the gateway.
  int Connections() const { return FConnections; }
  // Requests received from the program, whatever the mode; counted once each is dealt with.
  int Received() const { return FReceived; }
  // Request PDUs (function code and data) forwarded to Which, oldest first.
  std::vector<QByteArray> Requests(TUpstream Which) const {
    const std::lock_guard<std::mutex> g(FLock);
    return FRequests[int(Which)];
  }
  int Forwarded(TUpstream Which) const { return int(Requests(Which).size()); }
  // Requests forwarded to Which that change the device: register, clock and file writes, special commands.
  int Writes(TUpstream Which) const {
    int n = 0;
    for (const QByteArray &pdu : Requests(Which))
      n += IsWrite(uint8_t(pdu[0]));
    return n;
  }
  static bool IsWrite(uint8_t Function) {
    switch (Function) {
    case 0x05: case 0x06: case 0x0F: case 0x10: case 0x15: case 0x16: case 0x17:
    case SIM_FN_WRITE_CLOCK: case SIM_FN_WRITE_FILE: case SIM_FN_SPECIAL: case SIM_FN_WRITE_SRAM:
      return true;
    default:
      return false;
    }
  }

private:
  // One connection of the program, with its own connection to each upstream,
  // so that an answer goes back to the connection that asked.
  struct TClient {
    int Fd = -1;
    int Up[2] = {-1, -1};
    QByteArray In;
    bool Held = false; // whole answers wait in UpIn until Release
    QByteArray UpIn[2]; // what each upstream sent of its answers not yet passed on
  };
  enum class TAction { Close, Switch, Hold };
  struct TArmed {
    TTrigger Trigger;
    TAction Action;
    TUpstream To;
    bool Counting;
    int Seen = 0;
  };

  void Arm(TTrigger Trigger, TAction Action, TUpstream To) {
    const std::lock_guard<std::mutex> g(FLock);
    FTriggers.push_back(TArmed{Trigger, Action, To, Trigger.After == 0});
  }
  void Wake() {
    const char byte = 1;
    (void)!::write(FWake[1], &byte, 1);
  }
  // The actions of the triggers Function fires, in the order they were armed.
  std::vector<TArmed> Fired(uint8_t Function) {
    const std::lock_guard<std::mutex> g(FLock);
    std::vector<TArmed> fired;
    for (auto it = FTriggers.begin(); it != FTriggers.end();) {
      const TTrigger &t = it->Trigger;
      if (!it->Counting) {
        it->Counting = Function == t.After;
      } else if ((t.Function == 0 || t.Function == Function) && ++it->Seen == t.Nth) {
        fired.push_back(*it);
        it = FTriggers.erase(it);
        continue;
      }
      ++it;
    }
    return fired;
  }

  static sockaddr_in Loopback(uint16_t Port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(Port);
    return addr;
  }
  static void Send(int Fd, const QByteArray &Bytes) {
    for (qsizetype done = 0; done < Bytes.size();) {
      const ssize_t n = ::send(Fd, Bytes.constData() + done, size_t(Bytes.size() - done), MSG_NOSIGNAL);
      if (n <= 0)
        return; // the peer went; its hang-up is seen by poll
      done += n;
    }
  }
  static void Close(int &Fd) {
    if (Fd >= 0)
      ::close(Fd);
    Fd = -1;
  }
  void CloseAll() {
    for (TClient &c : FClients) {
      Close(c.Fd);
      Close(c.Up[0]);
      Close(c.Up[1]);
    }
    Close(FListen);
    Close(FWake[0]);
    Close(FWake[1]);
  }

  void Run() {
    for (;;) {
      // Slots: wake, listen, then per client its own socket and its two upstreams.
      std::vector<pollfd> p{{FWake[0], POLLIN, 0}, {FListen, POLLIN, 0}};
      for (const TClient &c : FClients)
        for (int fd : {c.Fd, c.Up[0], c.Up[1]})
          p.push_back({fd, POLLIN, 0}); // a negative fd is ignored by poll
      if (::poll(p.data(), nfds_t(p.size()), -1) < 0)
        continue;
      if (p[0].revents) {
        char bytes[16];
        (void)!::read(FWake[0], bytes, sizeof bytes);
        if (FStop)
          return;
        if (FReleasing.exchange(false))
          for (TClient &c : FClients) {
            c.Held = false;
            PassAnswers(c, 0);
            PassAnswers(c, 1);
          }
        FHolding = false;
        continue;
      }
      if (p[1].revents & POLLIN) {
        const int fd = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
          FClients.emplace_back();
          FClients.back().Fd = fd;
          ++FConnections;
        }
      }
      for (size_t i = 0; i + 2 < p.size(); ++i) {
        const short ev = p[i + 2].revents;
        if (ev == 0 || i / 3 >= FClients.size())
          continue;
        TClient &c = FClients[i / 3];
        if (i % 3 == 0)
          FromClient(c);
        else
          FromUpstream(c, int(i % 3) - 1);
      }
      std::erase_if(FClients, [](const TClient &c) { return c.Fd < 0; });
    }
  }

  void FromClient(TClient &C) {
    char buf[4096];
    const ssize_t n = ::recv(C.Fd, buf, sizeof buf, 0);
    if (n <= 0) {
      Close(C.Fd);
      Close(C.Up[0]);
      Close(C.Up[1]);
      return;
    }
    C.In.append(buf, n);
    while (C.In.size() >= 7) {
      const int length = uint8_t(C.In[4]) << 8 | uint8_t(C.In[5]);
      // A length no request can have: drop the bytes, but keep the connection
      // as a gateway does, since the program, not the gateway, hangs up.
      if (length < 2 || length > TSimDevice::MaxFrameBytes + 8) {
        C.In.clear();
        return;
      }
      if (C.In.size() < 6 + length)
        return;
      const QByteArray adu = C.In.left(6 + length);
      C.In.remove(0, 6 + length);
      Handle(C, adu);
      ++FReceived;
      if (C.Fd < 0)
        return;
    }
  }

  void Handle(TClient &C, const QByteArray &Adu) {
    for (const TArmed &a : Fired(uint8_t(Adu[7]))) {
      if (a.Action != TAction::Hold)
        FTarget = a.To;
      if (a.Action == TAction::Hold) {
        C.Held = true;
        FHolding = true;
      } else if (a.Action == TAction::Close) {
        Close(C.Fd);
        Close(C.Up[0]);
        Close(C.Up[1]);
        return;
      }
    }
    TMode mode = FMode;
    if (mode == TMode::Silent)
      return;
    int up = int(FTarget.load());
    if (const uint8_t unit = uint8_t(Adu[6]); FLine && unit != 0 && unit != 255) {
      if (unit == FLineUnit[0] || unit == FLineUnit[1])
        up = unit == FLineUnit[0] ? 0 : 1;
      else
        mode = TMode::Exception;
    }
    if (mode == TMode::Forward && C.Up[up] < 0) {
      C.Up[up] = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      const sockaddr_in addr = Loopback(FUpPort[up]);
      if (::connect(C.Up[up], reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0)
        Close(C.Up[up]);
    }
    if (mode == TMode::Forward && C.Up[up] >= 0) {
      {
        const std::lock_guard<std::mutex> g(FLock);
        FRequests[up].push_back(Adu.mid(7));
      }
      Send(C.Up[up], Adu);
      return;
    }
    // Refused, or the upstream is not there: the target failed to respond,
    // with the request's transaction, protocol and unit.
    QByteArray answer = Adu.left(7);
    answer[4] = 0;
    answer[5] = 3;
    answer.append(char(uint8_t(Adu[7]) | 0x80));
    answer.append(char(SIM_EX_TARGET_FAILED));
    Send(C.Fd, answer);
  }

  // Upstream answers go back whole as they come; a closed upstream is opened again at the next request.
  void FromUpstream(TClient &C, int Up) {
    char buf[4096];
    const ssize_t n = ::recv(C.Up[Up], buf, sizeof buf, 0);
    if (n <= 0) {
      Close(C.Up[Up]);
      C.UpIn[Up].clear();
      return;
    }
    C.UpIn[Up].append(buf, n);
    PassAnswers(C, Up);
  }

  // Passes the whole answers Up sent back to the program, unless they are
  // held, and fails the link after the chosen answer.
  void PassAnswers(TClient &C, int Up) {
    QByteArray &in = C.UpIn[Up];
    while (!C.Held && in.size() >= 7 && C.Fd >= 0) {
      const int length = uint8_t(in[4]) << 8 | uint8_t(in[5]);
      if (in.size() < 6 + length)
        return;
      const uint8_t function = length >= 2 ? uint8_t(in[7]) : 0;
      Send(C.Fd, in.left(6 + length));
      in.remove(0, 6 + length);
      ++FAnswered;
      const bool counts = !(function & 0x80) && (FAfterFunction == 0 || function == FAfterFunction);
      if (!counts || FAnswersLeft.load() <= 0 || FAnswersLeft.fetch_sub(1) != 1)
        continue;
      if (FAfter == TAfter::Exception) {
        FMode = TMode::Exception;
        continue;
      }
      FMode = TMode::Exception;
      Close(C.Fd);
      Close(C.Up[0]);
      Close(C.Up[1]);
      C.UpIn[0].clear();
      C.UpIn[1].clear();
      return;
    }
  }

  const uint16_t FUpPort[2];
  int FListen = -1;
  int FWake[2] = {-1, -1};
  uint16_t FPort = 0;
  std::atomic<TUpstream> FTarget{TUpstream::A};
  std::atomic<bool> FLine{false};
  std::atomic<uint8_t> FLineUnit[2] = {0, 0};
  std::atomic<TMode> FMode{TMode::Forward};
  std::atomic<int> FConnections{0};
  std::atomic<int> FReceived{0};
  std::atomic<bool> FStop{false}, FReleasing{false}, FHolding{false};
  std::atomic<int> FAnswered{0};
  std::atomic<int> FAnswersLeft{0};
  std::atomic<TAfter> FAfter{TAfter::Exception};
  std::atomic<uint8_t> FAfterFunction{0};
  mutable std::mutex FLock;
  std::vector<QByteArray> FRequests[2];
  std::vector<TArmed> FTriggers; // under FLock
  std::vector<TClient> FClients; // the serving thread's only
  std::thread FThread;
};
