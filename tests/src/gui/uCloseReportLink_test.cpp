// The log line of a close that waited for a write, against devsim behind the
// test gateway: it tells the write's end as its report does.
#include "uLinkKit.h"
#include "uLogger.h"
#include "uParamFrame.h"

#include <gtest/gtest.h>

namespace {
using TAfter = TTcpGateway::TAfter;

class CloseReportLink : public TTwoRelayCapture {};
} // namespace

// "Выход" while a parameter's write runs; the relay answers the write late
// and the gateway refuses the read-back with 0B: the write is unconfirmed,
// and the close's line says so as the status line does (the close is given
// up, so the engineer reads it).
TEST_F(CloseReportLink, TheClosesLineOfAWriteNotReadBackSaysUnconfirmed) {
  LoadDemoDevice(Other, 2);
  ServeBoth();
  ASSERT_TRUE(S.Open(QString("[setup]\ncustom=0\npasswdExpirationPeriod=600\nprotocol=modbustcp\n"
                             "[modbustcp]\nhost=127.0.0.1\nport=%1\n[device]\npollPause=1000\n[com]\nTimeout=3000\n"
                             "[timer]\ninterval=3600000\n[debug]\npoll=1\n")
                         .arg(Gateway->Port())));
  ASSERT_EQ(S.Identify(), "Готово");
  S.Form->show();
  S.Form->SetLoggedIn(true);
  TkvParamFrame *page = S.Form->ParamFrame;
  int row = -1;
  for (int r = 1; r < page->sgParam->rowCount(); ++r)
    if (page->RowReg(r) == 31)
      row = r;
  ASSERT_GT(row, 0);
  ASSERT_NO_FATAL_FAILURE(TypeInto(*S.Form, page->Editor(), 2, row, "17"));
  TSimFault late;
  late.Kind = TSimFaultKind::LateAnswer, late.Value = 800, late.Function = SIM_FN_WRITE_HOLDING, late.Count = 1;
  S.Device.SetFault(late);
  Gateway->FailAfter(1, TAfter::Exception, SIM_FN_WRITE_HOLDING);
  const qsizetype mark = Logger().Lines().size();
  S.Device.ClearLogs();
  page->WriteAll();
  ASSERT_TRUE(QTest::qWaitFor([this] { return !RegisterRequests(S.Device).isEmpty(); }, 10000));
  S.Form->nExit->trigger();
  ASSERT_TRUE(QTest::qWaitFor([this] { return S.Form->WriteWaitBox(); }, 10000));
  ASSERT_TRUE(QTest::qWaitFor([this] { return !S.Form->WriteWaitBox(); }, 20000));
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_TRUE(S.Form->isVisible());
  EXPECT_EQ(S.Device.Register(TSimArea::Holding, 31), 17);
  const QString status = S.Status();
  ASSERT_TRUE(status.startsWith("записано, не подтверждено: ")) << status.toStdString();
  QStringList closes;
  for (const QString &line : Logger().Lines().mid(mark))
    if (line.contains("Запись не завершена: ") || line.contains("Запись завершена: "))
      closes << line.section(u' ', 2);
  ASSERT_EQ(closes.size(), 1) << closes.join("\n").toStdString();
  EXPECT_TRUE(closes[0].contains("записано, не подтверждено: Адрес Modbus")) << closes[0].toStdString();
  Gateway->FailAfter(0, TAfter::Exception);
  S.Device.SetFault(TSimFault());
}
