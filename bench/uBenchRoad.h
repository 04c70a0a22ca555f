#pragma once
// The program's road to a device without its window: worker thread, device
// front and chain generator, as transfer_bench times it.
#include "uDeviceIO.h"
#include "uIOChain3.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <cstdio>
#include <memory>

namespace bench {

class TRoad {
public:
  TRoad(const QString &Folder, bool Tcp, const QString &Pty, int Port, int Baud = 0, uint8_t Addr = 1) {
    // The worker's debug file and the transport's trace are written as the
    // program writes them: their cost is part of the road.
    const QString link = Tcp ? "tcp" : "pty";
    FThread = std::make_unique<TDeviceThread>(Folder + "/debug-" + link + ".log", Folder + "/trace-" + link + ".trc");
    TOI &oi = FThread->DeviceIO().GetOI();
    oi.SetTimeout(2000);
    oi.SetTcpTimeout(5000);
    if (Tcp) {
      oi.SetProtocol(TOI::prModbusTcp);
      oi.SetHost("127.0.0.1");
      oi.SetPort(Port);
    } else {
      oi.SetProtocol(TOI::prModbusRtu);
      oi.GetComPort().SetPortName(Pty);
      oi.GetComPort().SetBaudRate(Baud);
    }
    FTool = std::make_unique<TDeviceTool>(*FThread);
    FTool->SetDeviceAddr(Addr);
    FGen = std::make_unique<TIOChainGen>();
    FGen->setDeviceFront(FTool.get());
    FGen->setWorkDir(Folder);
    FGen->setOnMessage([this](const QString &Text) {
      FError = Text;
      FLoop.quit();
    });
  }
  ~TRoad() {
    FGen.reset();
    FTool.reset();
    FThread.reset();
  }
  TIOChainList3 &New() { return FGen->newList(); }
  // Runs the chain to its end; returns the seconds it took, or -1 on a failure.
  double Run(TIOChainList3 &Chain) {
    FError.clear();
    QElapsedTimer t;
    t.start();
    // The main thread sleeps in its event loop between answers, as the
    // program's does; the chain's last step wakes it.
    Chain.exec([this] { FLoop.quit(); }).run();
    FLoop.exec();
    const double s = double(t.nsecsElapsed()) / 1e9;
    QCoreApplication::processEvents(); // the ended chain is deleted
    if (!FError.isEmpty() || FGen->ChainCount() != 0) {
      std::fprintf(stderr, "chain failed: %s\n", qPrintable(FError));
      return -1.0;
    }
    return s;
  }

private:
  std::unique_ptr<TDeviceThread> FThread;
  std::unique_ptr<TDeviceTool> FTool;
  std::unique_ptr<TIOChainGen> FGen;
  QString FError;
  QEventLoop FLoop;
};

} // namespace bench
