// Every chain of the program that writes, against the demo terminal in
// devsim over Modbus TCP: what reaches the relay from the identity check to
// the first write. The check is the last exchange before it; the only request
// allowed between them is the read of the word a masked write merges.
#include "../../common/uTestLoop.h"
#include "../oscview/oscRecords.h"

#include "uControls.h"
#include "uDashboardFrame.h"
#include "uDeviceBoardFrame.h"
#include "uDeviceIO.h"
#include "uLinkKit.h"
#include "uParamFrame.h"
#include "uPasswdForm.h"
#include "uStringGrid.h"
#include "uStringGridEditor.h"
#include "uUstavFrame.h"
#include "uUstavLocalFrame.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <functional>
#include <gtest/gtest.h>

namespace {

// One request as the table reads it.
QString Described(const QByteArray &Pdu) {
  const auto word = [&Pdu](int At) { return uint8_t(Pdu[At]) << 8 | uint8_t(Pdu[At + 1]); };
  switch (uint8_t(Pdu[0])) {
  case SIM_FN_READ_HOLDING:
    return QString("r %1 %2").arg(word(1)).arg(word(3));
  case SIM_FN_WRITE_HOLDING:
    return QString("w %1 %2").arg(word(1)).arg(word(3));
  case SIM_FN_READ_FILE:
    return QString("file %1/%2").arg(uint8_t(Pdu[1])).arg(uint8_t(Pdu[2]) | uint8_t(Pdu[3]) << 8);
  case SIM_FN_WRITE_CLOCK:
    return "clock";
  default:
    return QString(Pdu.toHex(' '));
  }
}

bool IsWrite(const QByteArray &Pdu) {
  switch (uint8_t(Pdu[0])) {
  case SIM_FN_WRITE_HOLDING: case SIM_FN_WRITE_CLOCK: case SIM_FN_WRITE_FILE: case SIM_FN_SPECIAL:
  case SIM_FN_WRITE_SRAM:
    return true;
  default:
    return false;
  }
}

// The requests from the identity check's first read (the FLASH header's
// frame 0) to the first write, that write included.
QStringList CheckToFirstWrite(const std::vector<QByteArray> &Log) {
  const auto write = std::find_if(Log.begin(), Log.end(), [](const QByteArray &P) { return !P.isEmpty() && IsWrite(P); });
  if (write == Log.end())
    return {"no write"};
  QStringList out{Described(*write)};
  for (auto it = std::make_reverse_iterator(write); it != Log.rend() && out.size() < 12; ++it) {
    out.prepend(Described(*it));
    if (uint8_t((*it)[0]) == SIM_FN_READ_FILE && uint8_t((*it)[1]) == FILE_EXT_FLASH)
      break;
  }
  return out;
}

class WriteOrderLink : public TShownCapture {
public:
  void Start(const QString &Extra) {
    for (const char *name : {"dashboard.XML", "deviceFrame.xml"}) {
      QFile::remove(S.Dir.filePath(name));
      ASSERT_TRUE(QFile::copy(QString(KV_SOURCE_DIR "/tools/devsim/") + name, S.Dir.filePath(name)));
    }
    S.Serve(false);
    ASSERT_TRUE(S.Open(QString("[setup]\ncustom=0\npasswdExpirationPeriod=600\nprotocol=modbustcp\n"
                               "[modbustcp]\nhost=127.0.0.1\nport=%1\n[device]\npollPause=1000\n[com]\nTimeout=5000\n"
                               "[timer]\ninterval=3600000\n[debug]\npoll=1\n")
                           .arg(S.Server->TcpPort()) +
                       Extra));
    ASSERT_EQ(S.Identify(), "Готово");
    S.Form->show();
    S.Form->SetLoggedIn(true);
    S.Device.ClearLogs();
  }
  static int RowOf(TStringGrid *Grid, int Col, const QString &Text) {
    for (int r = 1; r < Grid->rowCount(); ++r)
      if (Grid->Cells(Col, r) == Text)
        return r;
    return -1;
  }
  void Type(TStringGridEditor *Editor, int Col, int Row, const QString &Text) {
    ASSERT_GT(Row, 0);
    for (int i = 0; i < S.Form->PageControl->count(); ++i)
      if (S.Form->PageControl->widget(i)->isAncestorOf(Editor->Grid))
        S.Form->PageControl->setCurrentIndex(i);
    Editor->Grid->setCurrentCell(Row, Col);
    Editor->StartEdit();
    ASSERT_TRUE(Editor->Edit->isVisible());
    Editor->Edit->setText(Text);
    QTest::keyClick(Editor->Edit, Qt::Key_Return);
  }
  int ParamRow(int Reg) const {
    for (int r = 1; r < S.Form->ParamFrame->sgParam->rowCount(); ++r)
      if (S.Form->ParamFrame->RowReg(r) == Reg)
        return r;
    return -1;
  }
  TUstavPanel *BoardSetpoint(int Idx) {
    S.Form->NDeviceBoard->trigger();
    auto *boards = S.Form->findChild<TkvDeviceBoardFrame *>();
    if (!boards)
      return nullptr;
    S.WaitIdle();
    boards->ListBox->setCurrentRow(1); // the setpoint board
    S.WaitIdle();
    for (QWidget *w : ControlsOf(boards->Panel, true))
      if (auto *u = qobject_cast<TUstavPanel *>(w); u && u->idx() == Idx)
        return u;
    return nullptr;
  }

  TDemoSession S;
};

const QString Delay = "Выдержка времени МТЗ-1"; // setpoint 2, registers 101 and 151
const QString Check[] = {"file 140/0", "file 129/0"};

} // namespace

TEST_F(WriteOrderLink, NothingButTheIdentityCheckStandsBeforeTheFirstWriteOfEveryWriteChain) {
  struct TChain {
    const char *Name, *Settings;
    std::function<void(WriteOrderLink &)> Write;
    QStringList Expected; // after the check
  };
  const auto setpoint = [](WriteOrderLink &T, TUstavGridFrame *F, const QString &Text) {
    T.Type(F->Editor(), 2, RowOf(F->sgUstav, 1, Delay), Text);
  };
  const TChain chains[] = {
      {"Параметры", "[param]\ndirectEdit=0\n",
       [](WriteOrderLink &T) {
         T.Type(T.S.Form->ParamFrame->Editor(), 2, T.ParamRow(31), "17");
         T.S.Form->ParamFrame->WriteAll();
       },
       {"w 31 17"}},
      {"Параметры after the password", "[param]\ndirectEdit=0\n",
       [](WriteOrderLink &T) {
         T.S.Form->SetLoggedIn(false);
         WhenModal<TPasswdForm>([](TPasswdForm &Box) {
           Box.Edit->setText(QString::fromLatin1(DemoDevice::Password));
           Box.BitBtn1->click();
         });
         T.Type(T.S.Form->ParamFrame->Editor(), 2, T.ParamRow(31), "18");
         T.S.Form->PageControl->setCurrentWidget(T.S.Form->TabSheetParam);
         T.S.Form->WriteCommand();
       },
       {"w 31 18"}},
      {"Уставки, a cell written as typed", "[ustav]\ndirectEdit=1\n",
       [setpoint](WriteOrderLink &T) { setpoint(T, T.S.Form->UstavFrame, "0"); }, {"w 101 0"}},
      {"Уставки, edit mode", "[ustav]\ndirectEdit=2\n",
       [setpoint](WriteOrderLink &T) {
         T.S.Form->UstavFrame->SetEditMode(true);
         setpoint(T, T.S.Form->UstavFrame, "450");
         T.S.Form->PageControl->setCurrentWidget(T.S.Form->TabSheetUstav);
         T.S.Form->WriteCommand();
       },
       {"w 101 450"}},
      {"the edit tab", "[ustav]\ndirectEdit=0\n",
       [setpoint](WriteOrderLink &T) {
         T.S.Form->EditCommand();
         TkvUstavLocalFrame *set = T.S.Form->ActiveLocalSet();
         ASSERT_TRUE(set);
         setpoint(T, set, "460");
         T.S.Form->WriteCommand();
       },
       {"w 101 460"}},
      {"a set file", "[ustav]\ndirectEdit=0\n",
       [setpoint](WriteOrderLink &T) {
         const QString file = T.S.Dir.filePath("stored.us");
         T.S.Form->UstavFrame->SaveToFile(file);
         TkvUstavLocalFrame *set = T.S.Form->OpenLocalSet(file, "stored");
         setpoint(T, set, "1");
         T.S.Form->WriteCommand();
       },
       {"w 101 1"}},
      {"a title panel control", "",
       [](WriteOrderLink &T) { T.S.Form->DashboardFrame->ParamEnumChange(30, 0); }, {"w 30 0"}},
      {"a board control", "",
       [](WriteOrderLink &T) {
         TUstavPanel *panel = T.BoardSetpoint(1);
         ASSERT_TRUE(panel);
         panel->Edit(0)->setText("5999");
         QTest::keyClick(panel->Edit(0), Qt::Key_Return);
       },
       {"w 101 5999"}},
      {"the clock", "", [](WriteOrderLink &T) { T.S.Form->daSetTime->trigger(); }, {"clock"}},
  };
  for (const TChain &c : chains) {
    SCOPED_TRACE(c.Name);
    S.Form.reset();
    S.Server.reset();
    S.Device.ClearLogs();
    ASSERT_NO_FATAL_FAILURE(Start(QString::fromUtf8(c.Settings)));
    c.Write(*this);
    ASSERT_TRUE(S.WaitIdle());
    EXPECT_EQ(CheckToFirstWrite(S.Device.RequestLog()).join(", ").toStdString(),
              (QStringList(std::begin(Check), std::end(Check)) + c.Expected).join(", ").toStdString())
        << Shown.join("|").toStdString();
  }
}
