#include "uDeviceBoardFrame.h"
#include "../core/chain_test_util.h"

#include "uControls.h"
#include "uDashboardFrame.h"
#include "uSimpleDeviceDescriptor.h"
#include "uFiles.h"
#include "uMessageSink.h"
#include "uTextCodec.h"

#include <QKeyEvent>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {
class DeviceBoard : public ::testing::Test {
protected:
  void SetUp() override {
    FFile = FDir.filePath("deviceFrame.xml");
    SaveFileBytes(FFile, ToWin1251("<?xml version=\"1.0\" encoding=\"windows-1251\"?><document>"
                                   "<frame caption=\"Первая\"><element><class>TGroupBoxA</class>"
                                   "<element><class>TLabelA</class><Caption>внутри</Caption></element></element></frame>"
                                   "<frame caption=\"Вторая\"><element><class>TLabelA</class><Caption>два</Caption></element></frame>"
                                   "<frame caption=\"Третья\"/></document>"));
    Frame.Init(FFile);
  }
  // Board captions of the file as saved now.
  QStringList SavedCaptions() {
    Frame.Save(QString());
    IXXMLDocument doc = NewXMLDocument();
    EXPECT_TRUE(doc->Load(FFile));
    QStringList out;
    const IXXMLNodeList frames = doc->GetDocumentElement()->SelectNodes("frame");
    for (int i = 0; i < frames->GetCount(); ++i)
      out << frames->GetItem(i)->GetStrAttr("caption", "?");
    return out;
  }
  QStringList Listed() const {
    QStringList out;
    for (int i = 0; i < Frame.ListBox->count(); ++i)
      out << Frame.ListBox->item(i)->text();
    return out;
  }
  void Select(int Row) { Frame.ListBox->setCurrentRow(Row); }
  void CtrlKey(int Key) {
    QKeyEvent e(QEvent::KeyPress, Key, Qt::ControlModifier);
    QCoreApplication::sendEvent(Frame.ListBox, &e);
  }
  QStringList Labels() const { return Labels(Frame); }
  static QStringList Labels(const TkvDeviceBoardFrame &F) {
    QStringList out;
    for (QWidget *w : ControlsOf(F.Panel, true))
      if (auto *l = qobject_cast<TLabelA *>(w))
        out << l->text();
    return out;
  }

  QTemporaryDir FDir;
  QString FFile;
  TkvDeviceBoardFrame Frame;
};
} // namespace

TEST_F(DeviceBoard, ListActionsKeepListAndFileInStep) {
  EXPECT_EQ(Frame.CurrentIndex(), 0);
  Frame.ActionAdd->trigger();
  EXPECT_EQ(SavedCaptions(), (QStringList{"Первая", "Вторая", "Третья", "Новый"}));

  Select(3);
  for (const QString &name : {QString("Четвёртая"), QString()}) {
    Frame.AskName = [&](QString &Caption) {
      Caption = name;
      return true;
    };
    Frame.ActionRename->trigger();
    EXPECT_EQ(SavedCaptions().value(3), name);
    EXPECT_EQ(Listed().value(3), name);
  }

  // Ctrl+Up on the first board moves nothing; Ctrl+Down swaps it with the second.
  Select(0);
  CtrlKey(Qt::Key_Up);
  EXPECT_EQ(SavedCaptions().mid(0, 2), (QStringList{"Первая", "Вторая"}));
  CtrlKey(Qt::Key_Down);
  EXPECT_EQ(SavedCaptions().mid(0, 2), (QStringList{"Вторая", "Первая"}));
  EXPECT_EQ(Frame.CurrentIndex(), 1);
  EXPECT_EQ(Labels(), QStringList{"внутри"}); // still the first board on show

  // Deleting a board before the one on show keeps that board current.
  Select(0);
  EXPECT_EQ(Labels(), QStringList{"два"});
  Select(2);
  Frame.ActionDelete->trigger(); // "Третья", on show
  EXPECT_EQ(Frame.CurrentIndex(), -1);
  EXPECT_TRUE(Labels().isEmpty());
  Select(1);
  Select(0);
  Frame.ActionDelete->trigger();
  Select(0);
  EXPECT_EQ(Frame.CurrentIndex(), 0);
  EXPECT_EQ(Labels(), QStringList{"внутри"});
  EXPECT_EQ(SavedCaptions(), (QStringList{"Первая", ""}));
}

TEST_F(DeviceBoard, ControlsInAGroupBoxSurviveASwitchSaveAndDuplicate) {
  EXPECT_EQ(Labels(), QStringList{"внутри"});
  auto *box = qobject_cast<TGroupBoxA *>(ControlsOf(Frame.Panel, false).value(0));
  ASSERT_TRUE(box);
  static_cast<TLabelA *>(CreateControl(box, "TLabelA"))->setText("добавлен");
  Select(1);
  Select(0);
  EXPECT_EQ(Labels(), (QStringList{"внутри", "добавлен"}));
  Frame.ActionDuplicate->trigger(); // of the stored board, with the new label
  Frame.Save(QString());

  TkvDeviceBoardFrame again;
  again.Init(FFile);
  ASSERT_EQ(again.ListBox->count(), 4);
  again.ListBox->setCurrentRow(3);
  EXPECT_EQ(Labels(again), (QStringList{"внутри", "добавлен"}));
}

TEST_F(DeviceBoard, MissingFileIsReportedAndTheNewPageStillSaves) {
  TkvDeviceBoardFrame page;
  QStringList reported;
  TPageHost host;
  host.Report = [&](const QString &T) { reported << T; };
  page.SetHost(host);
  const QString missing = FDir.filePath("none.xml");
  page.Init(missing);
  EXPECT_EQ(reported, QStringList{"cannot open " + missing + ": No such file or directory"});
  page.ActionAdd->trigger();
  page.Save(QString());
  EXPECT_TRUE(QFile::exists(missing));
}

// Every change of the board list is work the tab's close asks about.
TEST_F(DeviceBoard, ListChangesAreAskedForOnClose) {
  QStringList asked;
  const TMessageSink old = SetMessageSink([&](TMsgKind, const QString &Text) {
    asked << Text;
    return TMsgResult::Cancel;
  });
  Frame.AskName = [](QString &Caption) {
    Caption = "Другая";
    return true;
  };
  const std::pair<const char *, std::function<void()>> changes[] = {
      {"add", [&] { Frame.ActionAdd->trigger(); }},
      {"delete", [&] { Frame.ActionDelete->trigger(); }},
      {"duplicate", [&] { Frame.ActionDuplicate->trigger(); }},
      {"rename", [&] { Frame.ActionRename->trigger(); }},
      {"move", [&] { CtrlKey(Qt::Key_Down); }},
  };
  for (const auto &[name, change] : changes) {
    SCOPED_TRACE(name);
    Frame.Init(FFile);
    Select(0);
    EXPECT_TRUE(Frame.QueryClose());
    EXPECT_TRUE(asked.isEmpty());
    change();
    EXPECT_FALSE(Frame.QueryClose());
    EXPECT_EQ(asked, QStringList{"Изменения функциональных панелей не сохранены, сохранить?"});
    asked.clear();
  }
  SetMessageSink(old);
}

// ------------------------------------------------------------ the tab closed while its chains run

namespace {
// Answers record Index of Front as a device would: every register read holds 7.
void AnswerRecord(TFakeFront &Front, size_t Index) {
  const QByteArray p = Front.Payload(Index);
  const int count = p.isEmpty() ? 0 : uint8_t(p[0]);
  QByteArray a(1, char(count));
  switch (Front.Command(Index)) {
  case bcReadRegisters:
    for (int k = 0; k < count; ++k)
      a += p.mid(1 + 2 * k, 2) + Words({7});
    break;
  case bcWriteRegisters:
    for (int k = 0; k < count; ++k)
      a += p.mid(1 + 4 * k, 2);
    break;
  case bcReadClock:
    a = QByteArray::fromHex("0000000000f8e640"); // 1 Jan 2000 as a day count
    break;
  default:
    a.clear();
  }
  Front.Answer(Index, a);
}

class PageChains : public ::testing::Test {
public:
  void SetUp() override {
    const QByteArray controls = "<element><class>TMeasureLabeledEdit</class><mreg>200</mreg></element>"
                                "<element><class>TMeasureLabeledEdit</class><mreg>201</mreg></element>"
                                "<element><class>TDateTimeEdit</class><Kind>dtCurrent</Kind></element>";
    SaveFileBytes(FDir.filePath("deviceFrame.xml"), "<document><frame caption=\"x\">" + controls + "</frame></document>");
    SaveFileBytes(FDir.filePath("dashboard.XML"), "<document>" + controls + "</document>");
    FDesc->Document = NewXMLDocument();
    FDesc->Document->LoadXML("<device-descriptor><measure>"
                             "<measure-item><modbus-acc>1</modbus-acc><string>A</string><mreg>200</mreg></measure-item>"
                             "<measure-item><modbus-acc>1</modbus-acc><string>B</string><mreg>201</mreg></measure-item>"
                             "</measure></device-descriptor>");
    FDesc->Root = FDesc->Document->GetDocumentElement();
    Gen.setDeviceFront(&Front);
  }
  TPageHost Host() {
    TPageHost host;
    host.Chains = &Gen;
    host.Login = [] { return true; };
    return host;
  }
  // The boards tab; its opening starts the refresh.
  QWidget *OpenBoards() {
    auto *page = new TkvDeviceBoardFrame;
    page->SetHost(Host());
    page->SetDescriptor(FDesc.get());
    page->Init(FDir.filePath("deviceFrame.xml"));
    return page;
  }
  QWidget *OpenPanel() {
    auto *page = new TkvDashboardFrame;
    page->SetHost(Host());
    page->Init(FDir.filePath("dashboard.XML"));
    page->SetDescriptor(FDesc.get());
    return page;
  }
  // Answers the records sent, in order, until Count are answered or none is left.
  void AnswerUpTo(size_t Count) {
    while (FAnswered < Count && FAnswered < Front.Sent.size())
      AnswerRecord(Front, FAnswered++);
  }
  std::vector<int> Commands(size_t From) const {
    std::vector<int> out;
    for (size_t i = From; i < Front.Sent.size(); ++i)
      out.push_back(Front.Command(i));
    return out;
  }

  QTemporaryDir FDir;
  std::unique_ptr<TSimpleDeviceDescriptor> FDesc = std::make_unique<TSimpleDeviceDescriptor>();
  TFakeFront Front; // before the generator: chains unregister from it as they go
  TIOChainGen Gen;
  size_t FAnswered = 0;
};

template <class P, class F> std::function<void(QWidget &)> On(F Fn) {
  return [Fn](QWidget &W) { Fn(static_cast<P &>(W)); };
}
} // namespace

// A page closed at each step of its refresh (the registers, then the clock)
// and of its setpoint writes: a read sends nothing more, a write runs to its
// end, and nothing touches the gone page.
TEST_F(PageChains, PageClosedAtEachStepOfItsChains) {
  using TBoards = TkvDeviceBoardFrame;
  using TPanel = TkvDashboardFrame;
  const struct {
    const char *Chain;
    QWidget *(PageChains::*Open)();
    std::function<void(QWidget &)> Start; // none: the refresh of the opening
    bool Write;
  } chains[] = {
      {"boards refresh", &PageChains::OpenBoards, {}, false},
      {"boards setpoint write", &PageChains::OpenBoards, On<TBoards>([](TBoards &P) { P.WriteSetpoint(300, 5, 0xFFFF); }),
       true},
      {"boards setpoint bit write", &PageChains::OpenBoards,
       On<TBoards>([](TBoards &P) { P.WriteSetpoint(300, 8, 8); }), true},
      {"title panel refresh", &PageChains::OpenPanel, On<TPanel>([](TPanel &P) { P.Refresh(); }), false},
      {"title panel setpoint write", &PageChains::OpenPanel,
       On<TPanel>([](TPanel &P) { P.UstavChange(300, 8, 8); }), true},
  };
  for (const auto &c : chains) {
    SCOPED_TRACE(c.Chain);
    size_t mark = 0;
    const auto begin = [&] {
      QWidget *page = (this->*c.Open)();
      if (!c.Start) {
        mark = FAnswered;
        return page;
      }
      AnswerUpTo(SIZE_MAX);
      mark = Front.Sent.size();
      c.Start(*page);
      return page;
    };
    // Run whole first: the records it sends.
    QWidget *page = begin();
    AnswerUpTo(SIZE_MAX);
    const std::vector<int> whole = Commands(mark);
    ASSERT_GE(whole.size(), 2u);
    delete page;
    for (size_t k = 0; k < whole.size(); ++k) {
      SCOPED_TRACE(k);
      page = begin();
      AnswerUpTo(mark + k);
      delete page;
      const size_t sent = Front.Sent.size();
      AnswerUpTo(c.Write ? SIZE_MAX : sent);
      if (c.Write)
        EXPECT_EQ(Commands(mark), whole);
      else
        EXPECT_EQ(Front.Sent.size(), sent);
      QCoreApplication::processEvents();
      EXPECT_EQ(Gen.ChainCount(), 0);
    }
  }
}

// The tab closed while its password box is open: nothing is written.
TEST_F(PageChains, TabClosedAtThePasswordBoxWritesNothing) {
  auto *page = static_cast<TkvDeviceBoardFrame *>(OpenBoards());
  AnswerUpTo(SIZE_MAX);
  const size_t sent = Front.Sent.size();
  TPageHost host = Host();
  host.Login = [page] {
    page->deleteLater();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return true;
  };
  page->SetHost(host);
  page->WriteSetpoint(300, 5, 0xFFFF);
  EXPECT_EQ(Front.Sent.size(), sent);
}
