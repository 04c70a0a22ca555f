#pragma once
// The main window against the in-process demo terminal over Modbus TCP or a
// pseudo-terminal: a scratch work folder and per-user store, devsim serving
// the demo device, and identification run to its end. Shared by the GUI link
// tests and the screenshot program.
#include "uAppIniFile.h"
#include "uDemoDevice.h"
#include "uDevSimServer.h"
#include "uFiles.h"
#include "uIOChain3.h"
#include "uMainForm.h"
#include "uPlacement.h"
#include "uMultiLingual.h"
#include "uSimDevice.h"
#include "uTextCodec.h"

#include <QDir>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

class TDemoSession {
public:
  TDemoSession() {
    RegUseStoreFile(Dir.filePath("user.conf"));
    MultiLingual() = TMultiLingual();
    LoadDemoDevice(Device);
  }
  ~TDemoSession() {
    Form.reset();
    Server.reset();
    QDir::setCurrent(FOldCurrent);
  }

  // Starts devsim over a pseudo-terminal or 127.0.0.1.
  void Serve(bool Pty) {
    Server = std::make_unique<TDevSimServer>(Device);
    TDevSimOptions o;
    o.UsePty = Pty;
    o.UseTcp = !Pty;
    Server->Start(o);
  }
  // The window with the settings text Ini; false when it could not start.
  bool Open(const QString &Ini) {
    SaveFileBytes(Dir.filePath("kv.ini"), ToWin1251(Ini));
    FIni = std::make_unique<TAppIniFile>(Dir.filePath("kv.ini"));
    Form = std::make_unique<TMainForm>(*FIni, Dir.path() + "/");
    return Form->FormShow();
  }
  // Devsim over TCP and the window; Extra is appended to the settings file.
  bool Start(const QString &Extra = {}) {
    Serve(false);
    return Open(QString("[setup]\ncustom=0\npasswdExpirationPeriod=60\nprotocol=modbustcp\n"
                        "[modbustcp]\nhost=127.0.0.1\nport=%1\n[device]\npollPause=1000\n[com]\nTimeout=5000\n"
                        "[debug]\npoll=0\n")
                    .arg(Server->TcpPort()) +
                Extra);
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
  QString FOldCurrent = QDir::currentPath();
  std::unique_ptr<TAppIniFile> FIni;
};
