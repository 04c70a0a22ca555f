#pragma once
// The main window against the in-process demo terminal over Modbus TCP: a
// scratch work folder and per-user store, devsim serving the demo device,
// and identification run to its end. Shared by the page tests and the
// screenshot program.
#include "uAppIniFile.h"
#include "uDemoDevice.h"
#include "uDevSimServer.h"
#include "uIOChain3.h"
#include "uMainForm.h"
#include "uPlacement.h"
#include "uMultiLingual.h"
#include "uSimDevice.h"
#include "uTextCodec.h"

#include <QDir>
#include <QFile>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

class TDemoSession {
public:
  TDemoSession() {
    FOldCurrent = QDir::currentPath();
    RegUseStoreFile(Dir.filePath("user.conf"));
    MultiLingual() = TMultiLingual();
    LoadDemoDevice(Device);
  }
  ~TDemoSession() {
    Form.reset();
    Server.reset();
    QDir::setCurrent(FOldCurrent);
  }

  // Starts devsim and the window; Extra is appended to the settings file.
  // False when the window could not start.
  bool Start(const QString &Extra = {}) {
    Server = std::make_unique<TDevSimServer>(Device);
    TDevSimOptions o;
    o.UsePty = false;
    Server->Start(o);
    QString ini = QString("[setup]\ncustom=0\npasswdExpirationPeriod=60\nprotocol=modbustcp\n"
                          "[modbustcp]\nhost=127.0.0.1\nport=%1\n[device]\npollPause=1000\n[com]\nTimeout=5000\n"
                          "[debug]\npoll=0\n")
                      .arg(Server->TcpPort()) +
                  Extra;
    QFile f(Dir.filePath("kv.ini"));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
      return false;
    f.write(ToWin1251(ini));
    f.close();
    FIni = std::make_unique<TAppIniFile>(f.fileName());
    Form = std::make_unique<TMainForm>(*FIni, Dir.path() + "/");
    return Form->FormShow();
  }

  QString Status() const { return Form->StatusBar_->currentMessage(); }
  // Every chain has ended and the link is idle (within 30 s).
  bool WaitIdle() const {
    return QTest::qWaitFor([this] { return Form->IOChain()->ChainCount() == 0 && !Form->IsLinkBusy(); }, 30000);
  }
  // Runs "Опрос" to its end; the last status text.
  QString Identify() {
    Form->aMonitorPoll->trigger();
    WaitIdle();
    return Status();
  }

  QTemporaryDir Dir;
  TSimDevice Device;
  std::unique_ptr<TDevSimServer> Server;
  std::unique_ptr<TMainForm> Form;

private:
  QString FOldCurrent;
  std::unique_ptr<TAppIniFile> FIni;
};
