#pragma once
// Set-up the GUI link tests share: the main window against devsim (the demo
// session), the message boxes a test caught instead of showing, and devsim's
// register requests in a readable form.
#include "uDemoSession.h"
#include "uMessageSink.h"

#include <QStringList>
#include <gtest/gtest.h>

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
