#pragma once
// Set-up the GUI link tests share: the main window against devsim (the demo
// session), the message boxes a test caught instead of showing, and devsim's
// register requests in a readable form.
#include "../../common/uTcpGateway.h"
#include "uControls.h"
#include "uDashboardFrame.h"
#include "uDemoSession.h"
#include "uIdentification.h"
#include "uFileDialogSink.h"
#include "uMessageSink.h"
#include "uStringGrid.h"
#include "uStringGridEditor.h"
#include "uUstavLocalFrame.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QStringList>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>

// Collects the texts of message boxes (the errors apart too) and the captions
// of file dialogs for the life of a test; a file dialog answers Answer.
class TShownCapture : public ::testing::Test {
protected:
  void SetUp() override {
    FOldSink = SetMessageSink([this](TMsgKind Kind, const QString &Text) {
      Shown << Text;
      if (Kind == TMsgKind::Error)
        Errors << Text;
      return TMsgResult::Ok;
    });
    FOldFiles = SetFileDialogSink([this](const TFileDialogRequest &R) {
      Asked << R.Caption;
      return Answer;
    });
  }
  void TearDown() override {
    SetFileDialogSink(FOldFiles);
    SetMessageSink(FOldSink);
  }
  // What was said in boxes: the message sink's, then those Window shows itself.
  QString BoxesOf(const QObject *Window) const {
    QString text = Shown.join("|");
    for (QMessageBox *b : Window->findChildren<QMessageBox *>())
      text += "|" + b->text();
    return text;
  }
  QStringList Shown, Errors, Asked;
  QString Answer; // empty: the dialog was cancelled

private:
  TMessageSink FOldSink;
  TFileDialogSink FOldFiles;
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

// The session's relay (A) and Other (B), each served by devsim on 127.0.0.1,
// behind one test gateway that starts with A.
inline void ServeTwoRelays(TDemoSession &S, TSimDevice &Other, std::unique_ptr<TDevSimServer> &OtherServer,
                           std::unique_ptr<TTcpGateway> &Gateway) {
  TDevSimOptions o;
  o.UsePty = false;
  S.Server = std::make_unique<TDevSimServer>(S.Device);
  S.Server->Start(o);
  OtherServer = std::make_unique<TDevSimServer>(Other);
  OtherServer->Start(o);
  Gateway = std::make_unique<TTcpGateway>(S.Server->TcpPort(), OtherServer->TcpPort());
}

// No chain runs and the link is free.
inline bool LinkIdle(const TDemoSession &S) { return S.Form->IOChain()->ChainCount() == 0 && !S.Form->IsLinkBusy(); }

// Up to Ticks ticks of the window's timer until Done; each tick's chains, and
// an identification a check starts, run to their end.
inline bool TickUntil(TDemoSession &S, int Ticks, const std::function<bool()> &Done) {
  for (int i = 0; i < Ticks && !Done(); ++i) {
    S.Form->TimerTimer();
    (void)QTest::qWaitFor(
        [&] { return Done() || (LinkIdle(S) && !S.Form->Identification()->IsIdentifyAgainPending()); }, 60000);
  }
  return Done();
}

// The title panel's "Режим работы терминала" (register 30) asked to take its other value.
inline void ChooseOtherPanelMode(TDemoSession &S) {
  S.Form->SetLoggedIn(true);
  for (QWidget *w : ControlsOf(S.Form->DashboardFrame->Panel, true))
    if (auto *mode = qobject_cast<TParamEnum *>(w); mode && mode->mreg() == 30) {
      emit mode->List()->activated(mode->List()->currentIndex() == 0 ? 1 : 0);
      return;
    }
  FAIL() << "no mode control on the panel";
}

// The window against relay A and relay B (Other) behind one test gateway,
// the boxes caught: the window goes before the gateway it is connected to.
class TTwoRelayCapture : public TShownCapture {
protected:
  void TearDown() override {
    S.Form.reset();
    TShownCapture::TearDown();
  }
  void ServeBoth() { ServeTwoRelays(S, Other, OtherServer, Gateway); }

  TDemoSession S;
  TSimDevice Other;
  std::unique_ptr<TDevSimServer> OtherServer;
  std::unique_ptr<TTcpGateway> Gateway;
};

// "Редактировать уставки" with the first setpoint of group 1 typed as Text
// (not written): the edit tab, or nullptr when none came.
inline TkvUstavLocalFrame *EditedTab(TDemoSession &S, const QString &Text) {
  S.Form->EditCommand();
  TkvUstavLocalFrame *local = S.Form->ActiveLocalSet();
  if (!local)
    return nullptr;
  local->sgUstav->setCurrentCell(2, 2);
  local->Editor()->StartEdit();
  local->Editor()->Edit->setText(Text);
  QTest::keyClick(local->Editor()->Edit, Qt::Key_Return);
  return local;
}

// Types Text into cell (Col, Row) of a page grid of Form through its editor,
// the page's tab shown as the user sees it.
inline void TypeInto(TMainForm &Form, TStringGridEditor *Editor, int Col, int Row, const QString &Text) {
  ASSERT_GT(Row, 0);
  for (int i = 0; i < Form.PageControl->count(); ++i)
    if (Form.PageControl->widget(i)->isAncestorOf(Editor->Grid))
      Form.PageControl->setCurrentIndex(i);
  Editor->Grid->setCurrentCell(Row, Col);
  Editor->StartEdit();
  ASSERT_TRUE(Editor->Edit->isVisible());
  Editor->Edit->setText(Text);
  QTest::keyClick(Editor->Edit, Qt::Key_Return);
}

// The texts of the message boxes Window shows now.
inline QStringList VisibleBoxTexts(const QObject *Window) {
  QStringList out;
  for (QMessageBox *b : Window->findChildren<QMessageBox *>())
    if (b->isVisible())
      out << b->text();
  return out;
}
