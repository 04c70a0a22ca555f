#pragma once
// The demo terminal served in-process over TCP, a worker and a chain
// generator bound to it, and the demo's run-time descriptor: what the page
// tests read the device through.
#include "uAppIniFile.h"
#include "uDemoDevice.h"
#include "uDevSimServer.h"
#include "uDeviceContent.h"
#include "uFiles.h"
#include "uIOChain3.h"
#include "uModbusTools.h"
#include "uPlacement.h"
#include "uSimDevice.h"
#include "uSimpleDeviceDescriptor.h"
#include "uTestLoop.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <memory>

class TDemoLink {
public:
  TDemoLink() {
    RegUseStoreFile(Dir.filePath("user.conf"));
    AppIni() = TAppIniFile(Dir.filePath("kv.ini"));
    LoadDemoDevice(Device);
    FServer = std::make_unique<TDevSimServer>(Device);
    TDevSimOptions options;
    options.UsePty = false;
    FServer->Start(options);
    FThread = std::make_unique<TDeviceThread>(Dir.filePath("debug.log"), QString());
    TOI &oi = FThread->DeviceIO().GetOI();
    oi.SetProtocol(TOI::prModbusTcp);
    oi.SetHost("127.0.0.1");
    oi.SetPort(FServer->TcpPort());
    oi.SetTcpTimeout(5000);
    FTool = std::make_unique<TDeviceTool>(*FThread);
    FTool->SetDeviceAddr(1);
    Gen = std::make_unique<TIOChainGen>();
    Gen->setDeviceFront(FTool.get());
    Gen->setWorkDir(Dir.path());
    Gen->setOnMessage([this](const QString &Text) { Status << Text; });
    QByteArray image = BuildDeviceImage(DemoTerminalContent()).Bytes;
    QBuffer b(&image);
    b.open(QIODevice::ReadOnly);
    Desc.LoadFromStream(b);
  }
  ~TDemoLink() {
    Gen.reset();
    FTool.reset();
    FThread.reset();
    FServer->Stop();
    AppIni() = TAppIniFile(Dir.filePath("none.ini"));
  }
  // Runs Start (which builds and runs chains) and waits until every chain has ended.
  template <typename F> bool Run(F Start) {
    Status.clear();
    Start();
    return WaitFor([this] { return Gen->ChainCount() == 0; });
  }
  void SetIni(const QByteArray &Text) {
    SaveFileBytes(Dir.filePath("kv.ini"), Text);
    AppIni() = TAppIniFile(Dir.filePath("kv.ini"));
  }

  QTemporaryDir Dir;
  TSimDevice Device;
  std::unique_ptr<TIOChainGen> Gen;
  TSimpleDeviceDescriptor Desc;
  QStringList Status;

private:
  std::unique_ptr<TDevSimServer> FServer;
  std::unique_ptr<TDeviceThread> FThread;
  std::unique_ptr<TDeviceTool> FTool;
};
