#pragma once
// Set-up the GUI link tests share: the main window against devsim, the
// message boxes a test caught instead of showing, and devsim's register
// requests in a readable form.
#include "uAppIniFile.h"
#include "uDevSimServer.h"
#include "uFiles.h"
#include "uIOChain3.h"
#include "uMainForm.h"
#include "uMessageSink.h"
#include "uMultiLingual.h"
#include "uPlacement.h"
#include "uSimDevice.h"
#include "uTextCodec.h"

#include <QDir>
#include <QStatusBar>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

// A scratch work folder and per-user store; Serve starts devsim on Device,
// Open the main window with the settings text Ini.
class TLinkSession {
public:
  TLinkSession() {
    RegUseStoreFile(Dir.filePath("user.conf"));
    MultiLingual() = TMultiLingual();
  }
  ~TLinkSession() {
    Form.reset();
    Server.reset();
    QDir::setCurrent(FOldCurrent);
  }
  void Serve(bool Pty) {
    Server = std::make_unique<TDevSimServer>(Device);
    TDevSimOptions o;
    o.UsePty = Pty;
    o.UseTcp = !Pty;
    Server->Start(o);
  }
  bool Open(const QString &Ini) {
    SaveFileBytes(Dir.filePath("kv.ini"), ToWin1251(Ini));
    FIni = std::make_unique<TAppIniFile>(Dir.filePath("kv.ini"));
    Form = std::make_unique<TMainForm>(*FIni, Dir.path() + "/");
    return Form->FormShow();
  }
  QString Status() const { return Form->StatusBar_->currentMessage(); }
  // Every chain has ended and the link is idle (within 30 s).
  bool WaitIdle() const {
    return QTest::qWaitFor([this] { return Form->IOChain()->ChainCount() == 0 && !Form->IsLinkBusy(); }, 30000);
  }

  QTemporaryDir Dir;
  TSimDevice Device;
  std::unique_ptr<TDevSimServer> Server;
  std::unique_ptr<TMainForm> Form;

private:
  QString FOldCurrent = QDir::currentPath();
  std::unique_ptr<TAppIniFile> FIni;
};

// Collects the texts of message boxes for the life of a test.
class TShownCapture : public ::testing::Test {
protected:
  void SetUp() override {
    FOldSink = SetMessageSink([this](TMsgKind, const QString &Text) {
      Shown << Text;
      return TMsgResult::Ok;
    });
  }
  void TearDown() override { SetMessageSink(FOldSink); }
  QStringList Shown;

private:
  TMessageSink FOldSink;
};

// "w REG VALUE" for each register write devsim received from Mark on, and
// with Reads "r FIRST COUNT" for each register read.
inline QStringList RegisterRequests(const TSimDevice &Device, bool Reads = false, size_t Mark = 0) {
  QStringList out;
  const std::vector<QByteArray> log = Device.RequestLog();
  for (size_t i = Mark; i < log.size(); ++i) {
    const QByteArray &p = log[i];
    if (p.size() != 5)
      continue;
    const int a = uint8_t(p[1]) << 8 | uint8_t(p[2]), b = uint8_t(p[3]) << 8 | uint8_t(p[4]);
    if (uint8_t(p[0]) == SIM_FN_WRITE_HOLDING)
      out << QString("w %1 %2").arg(a).arg(b);
    else if (Reads && uint8_t(p[0]) == SIM_FN_READ_HOLDING)
      out << QString("r %1 %2").arg(a).arg(b);
  }
  return out;
}
