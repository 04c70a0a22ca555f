// Bound controls across identifications of two relays of different types
// behind one Modbus TCP gateway: the demo terminal (A) and the relay of
// another type (B, demo image 3). What a control shows and writes is always
// of the relay identified last.
#include "../../common/uTcpGateway.h"
#include "../oscview/oscRecords.h"

#include "uControls.h"
#include "uDashboardFrame.h"
#include "uDashboardSetupForm.h"
#include "uDeviceBoardFrame.h"
#include "uFiles.h"
#include "uLinkKit.h"
#include "uSimpleDeviceDescriptor.h"

#include <QComboBox>
#include <QFile>
#include <QListWidget>
#include <QMessageBox>
#include <gtest/gtest.h>

namespace {
using TUp = TTcpGateway::TUpstream;

const char *const Ini = "[setup]\ncustom=0\npasswdExpirationPeriod=600\nprotocol=modbustcp\n"
                        "[modbustcp]\nhost=127.0.0.1\nport=%1\n[device]\npollPause=300\n[com]\nTimeout=2000\n"
                        "[timer]\ninterval=3600000\n[debug]\npoll=1\n";
// The descriptor dates the window shows for A and B.
const char *const DateA = "2024-06-03", *const DateB = "2025-09-01";

// One control of each bound class, with captions of its own, written by the
// program's own writer into a title panel file.
QByteArray BoundControlsPanel() {
  QWidget panel;
  auto *mode = static_cast<TParamEnum *>(CreateControl(&panel, "TParamEnum"));
  mode->setMreg(30); // a two-item list on A, a number on B
  mode->SetLabelCaption("Режим (мой)");
  auto *measure = static_cast<TMeasureLabeledEdit *>(CreateControl(&panel, "TMeasureLabeledEdit"));
  measure->setGeometry(0, 60, 90, 22);
  measure->setMreg(200);
  measure->SetEditLabelCaption("Ток (мой)");
  auto *param = static_cast<TParamLabeledEdit *>(CreateControl(&panel, "TParamLabeledEdit"));
  param->setGeometry(0, 100, 90, 22);
  param->setMreg(31);
  auto *bits = static_cast<TBitregGroupBox *>(CreateControl(&panel, "TBitregGroupBox"));
  bits->setGeometry(200, 0, 200, 200);
  bits->setMreg(23);
  bits->SetCaption("Входы (мои)");
  auto *direction = static_cast<TUstavPanel *>(CreateControl(&panel, "TUstavPanel"));
  direction->setGeometry(0, 140, 120, 80);
  direction->setIdx(2); // other items on B
  direction->SetLabelCaption("Направление (моё)");
  auto *starts = static_cast<TUstavPanel *>(CreateControl(&panel, "TUstavPanel"));
  starts->setGeometry(0, 240, 120, 80);
  starts->setIdx(4); // not on B
  starts->setBit(1);
  starts->SetLabelCaption("Пуск (мой)");
  auto *date = static_cast<TDateTimeEdit *>(CreateControl(&panel, "TDateTimeEdit"));
  date->setGeometry(200, 220, 100, 22);
  date->SetKind(kvc::dtDesc);
  date->SetFormat("yyyy-mm-dd");
  auto *events = static_cast<TEventView *>(CreateControl(&panel, "TEventView"));
  events->setGeometry(200, 260, 300, 100);
  IXXMLDocument doc = NewXMLDocument();
  doc->LoadXML("<document/>");
  for (QWidget *w : ControlsOf(&panel, false))
    WriteObject("element", w, doc->GetDocumentElement());
  return FormatXMLDocument(doc);
}

// What a control shows and offers: caption, enabled, items, the value shown
// and its bits; whether it is bound.
QString Look(QWidget *W) {
  QStringList parts{QString::fromLatin1(W->metaObject()->className()), W->isEnabled() ? "on" : "off"};
  const auto items = [](QComboBox *C) {
    QStringList l;
    for (int i = 0; i < C->count(); ++i)
      l << C->itemText(i);
    return l.join(",") + "=" + C->currentText();
  };
  if (auto *e = qobject_cast<TParamEnum *>(W))
    parts << e->Label()->text() << items(e->List()) << QString::number(e->macc()) << (e->IsBound() ? "bound" : "unbound");
  else if (auto *u = qobject_cast<TUstavPanel *>(W))
    parts << u->Label()->text() << u->Kind() << (u->Kind() == "num" ? u->Edit(0)->text() : items(u->List(0)))
          << QString::number(u->macc())
          << (u->IsBound() ? "bound" : "unbound");
  else if (auto *m = qobject_cast<TMeasureLabeledEdit *>(W))
    parts << m->EditLabel()->text() << QString::number(m->macc()) << (m->IsBound() ? "bound" : "unbound");
  else if (auto *p = qobject_cast<TParamLabeledEdit *>(W))
    parts << p->EditLabel()->text() << p->text() << QString::number(p->macc());
  else if (auto *g = qobject_cast<TBitregGroupBox *>(W))
    parts << g->title() << QString::number(g->BitList()->Count()) << QString::number(g->macc()) << g->bitmap();
  else if (auto *d = qobject_cast<TDateTimeEdit *>(W))
    parts << d->text();
  else if (auto *v = qobject_cast<TEventView *>(W))
    parts << QString::number(v->levelselector().size());
  return parts.join("|");
}

QStringList Looks(QWidget *Panel) {
  QStringList out;
  for (QWidget *w : ControlsOf(Panel, true))
    out << Look(w);
  return out;
}

// Relay A (the demo terminal) and B (the relay of another type) behind one
// gateway, the window identified on A and logged in.
class BindingLink : public TShownCapture {
protected:
  void SetUp() override {
    TShownCapture::SetUp();
    LoadDemoDevice(Other, 3);
    ServeTwoRelays(S, Other, OtherServer, Gateway);
    ASSERT_TRUE(QFile::copy(KV_SOURCE_DIR "/tools/devsim/deviceFrame.xml", S.Dir.filePath("deviceFrame.xml")));
    ASSERT_TRUE(S.Open(QString(Ini).arg(Gateway->Port())));
    Form = S.Form.get();
    ASSERT_NO_FATAL_FAILURE(IdentifyOn(TUp::A));
  }
  void TearDown() override {
    S.Form.reset(); // before the gateway it is connected to
    TShownCapture::TearDown();
  }
  void IdentifyOn(TUp Relay) {
    Gateway->Target(Relay);
    ASSERT_EQ(S.Identify(), "Готово");
    ASSERT_EQ(Form->LabelDescID->text(), Relay == TUp::A ? DateA : DateB);
    ASSERT_TRUE(S.WaitIdle());
    Form->SetLoggedIn(true);
  }
  // "Настройка панели" on the title panel, Act done in the designer, then OK.
  void Design(const std::function<void(TDashboardSetupForm &)> &Act = nullptr) {
    Form->PageControl->setCurrentWidget(Form->TabSheetDashboard);
    WhenModal<TDashboardSetupForm>([Act](TDashboardSetupForm &Designer) {
      if (Act)
        Act(Designer);
      Designer.accept();
    });
    ASSERT_TRUE(QTest::qWaitFor([this] { return Form->adSetup->isEnabled(); }, 30000));
    Form->adSetup->trigger();
    ASSERT_TRUE(Form->DashboardFrame->IsModified());
  }
  template <typename T> T *Find(QWidget *Panel, const std::function<bool(T *)> &Which = nullptr) const {
    for (QWidget *w : ControlsOf(Panel, true))
      if (auto *c = qobject_cast<T *>(w); c && (!Which || Which(c)))
        return c;
    return nullptr;
  }
  QStringList WritesTo(TUp Relay, size_t Mark = 0) const {
    return RegisterRequests(Relay == TUp::A ? S.Device : Other, false, Mark);
  }
  QString Boxes() const { return BoxesOf(Form); }

  TDemoSession S;
  TSimDevice Other;
  std::unique_ptr<TDevSimServer> OtherServer;
  std::unique_ptr<TTcpGateway> Gateway;
  TMainForm *Form = nullptr;
};
} // namespace

// The title panel kept over identifications (its designer's OK made it a
// change): after the same relay, the other type and the first again, every
// control shows what a fresh load of its file shows on that relay; on B the
// list at register 30 and the setpoint B lacks are unbound and send nothing;
// back on A the list writes A.
TEST_F(BindingLink, EveryBoundControlOfAKeptPanelIsTheRelayIdentifiedLast) {
  const QString file = S.Dir.filePath("bound.xml");
  SaveFileBytes(file, BoundControlsPanel());
  Form->DashboardFrame->LoadFromFile(file);
  ASSERT_NO_FATAL_FAILURE(Design());
  QWidget *panel = Form->DashboardFrame->Panel;
  const struct {
    const char *Name;
    TUp Relay;
    QStringList Unbound; // captions of the controls the relay does not describe
  } steps[] = {
      {"A again", TUp::A, {}},
      {"B, another type", TUp::B, {"Режим (мой)", "Пуск (мой)"}},
      {"A once more", TUp::A, {}},
  };
  for (const auto &step : steps) {
    SCOPED_TRACE(step.Name);
    ASSERT_NO_FATAL_FAILURE(IdentifyOn(step.Relay));
    ASSERT_TRUE(Form->DashboardFrame->IsModified());
    TkvDashboardFrame fresh;
    fresh.SetDescriptor(Form->Descriptor());
    fresh.LoadFromFile(file);
    EXPECT_EQ(Looks(panel).join("\n").toStdString(), Looks(fresh.Panel).join("\n").toStdString());
    QStringList unbound;
    for (QWidget *w : ControlsOf(panel, true))
      if (auto *c = qobject_cast<TCaptionedPanel *>(w); c && !c->IsBound())
        unbound << c->Label()->text();
    EXPECT_EQ(unbound, step.Unbound);

    auto *mode = Find<TParamEnum>(panel);
    ASSERT_TRUE(mode);
    const size_t markA = S.Device.RequestLog().size(), markB = Other.RequestLog().size();
    const int before = Gateway->Writes(TUp::B);
    const uint16_t was = S.Device.Register(TSimArea::Holding, 30);
    emit mode->List()->activated(was == 1 ? 0 : 1);
    ASSERT_TRUE(S.WaitIdle());
    if (step.Relay == TUp::B) {
      EXPECT_EQ(WritesTo(TUp::B, markB).join(",").toStdString(), "");
      EXPECT_EQ(Gateway->Writes(TUp::B), before);
      EXPECT_EQ(Other.Register(TSimArea::Holding, 30), 200);
    } else {
      EXPECT_EQ(WritesTo(TUp::A, markA).join(",").toStdString(), QString("w 30 %1").arg(was == 1 ? 0 : 1).toStdString());
    }
  }
  EXPECT_TRUE(Boxes().isEmpty()) << Boxes().toStdString();
}

// The kept panel after the other type's identification: "Введен" sends
// nothing, and the panel saved holds its file's own captions, not B's nor A's.
TEST_F(BindingLink, AKeptPanelSavedAfterTheOtherTypeHoldsItsOwnCaptions) {
  const QString file = S.Dir.filePath("bound.xml");
  SaveFileBytes(file, BoundControlsPanel());
  Form->DashboardFrame->LoadFromFile(file);
  ASSERT_NO_FATAL_FAILURE(Design());
  ASSERT_NO_FATAL_FAILURE(IdentifyOn(TUp::B));
  auto *mode = Find<TParamEnum>(Form->DashboardFrame->Panel);
  ASSERT_TRUE(mode);
  emit mode->List()->activated(1);
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(Gateway->Writes(TUp::B), 0);
  ASSERT_TRUE(Form->DashboardFrame->Save(QString()));
  const QString saved = FromWin1251(LoadFileBytes(file));
  for (const char *own : {"<LabelCaption>Режим (мой)</LabelCaption>", "<LabelCaption>Пуск (мой)</LabelCaption>",
                          "<Caption>Входы (мои)</Caption>"})
    EXPECT_TRUE(saved.contains(QString::fromUtf8(own))) << own;
  EXPECT_FALSE(saved.contains("***"));
}

// A control the binding leaves out keeps the identification it was bound
// for: the gate refuses its write with the box, and nothing is sent.
TEST_F(BindingLink, AControlNotBoundAgainIsRefusedByTheGate) {
  const QString file = S.Dir.filePath("bound.xml");
  SaveFileBytes(file, BoundControlsPanel());
  Form->DashboardFrame->LoadFromFile(file);
  ASSERT_NO_FATAL_FAILURE(Design());
  Form->DashboardFrame->SkipBinding = [](QWidget *W) { return qobject_cast<TParamEnum *>(W) != nullptr; };
  ASSERT_NO_FATAL_FAILURE(IdentifyOn(TUp::A));
  auto *mode = Find<TParamEnum>(Form->DashboardFrame->Panel);
  ASSERT_TRUE(mode);
  const size_t mark = S.Device.RequestLog().size();
  const uint16_t was = S.Device.Register(TSimArea::Holding, 30);
  emit mode->List()->activated(was == 1 ? 0 : 1);
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(WritesTo(TUp::A, mark).join(",").toStdString(), "");
  EXPECT_EQ(S.Device.Register(TSimArea::Holding, 30), was);
  EXPECT_TRUE(Boxes().contains("Не записано") &&
              Boxes().contains("Идентификация устройства сменилась после того, как запись была подготовлена"))
      << Boxes().toStdString();
}

// The board on show is built again at every identification: built on A, B
// identified, A again, its setpoint list is A's (items and value) and a
// choice writes A's value into A.
TEST_F(BindingLink, TheBoardOnShowIsBuiltForEachRelayIdentified) {
  Form->NDeviceBoard->trigger();
  auto *boards = Form->findChild<TkvDeviceBoardFrame *>();
  ASSERT_TRUE(boards);
  ASSERT_TRUE(S.WaitIdle());
  boards->ListBox->setCurrentRow(1); // the setpoints board
  ASSERT_TRUE(S.WaitIdle());
  const auto direction = [&] {
    return Find<TUstavPanel>(boards->Panel, [](TUstavPanel *U) { return U->idx() == 2; });
  };
  const auto items = [](TUstavPanel *U) {
    QStringList l;
    for (int i = 0; i < U->List(0)->count(); ++i)
      l << U->List(0)->itemText(i);
    return l.join(",") + "=" + U->List(0)->currentText();
  };
  ASSERT_TRUE(direction());
  EXPECT_EQ(items(direction()).toStdString(), "нет,вперед,назад=вперед");
  // What the board's document holds of its captions: the file's, whichever
  // relay the board was built for when it was stored.
  const auto captions = [boards] {
    boards->StorePage();
    QStringList l;
    const IXXMLNodeList n = boards->Root()->SelectNodes("frame[2]/element/LabelCaption");
    for (int i = 0; i < n->GetCount(); ++i)
      l << n->GetItem(i)->GetText();
    return l.join("|").toStdString();
  };
  const std::string fileCaptions = captions();
  const struct {
    TUp Relay;
    const char *Items;
  } steps[] = {{TUp::B, "откл,вкл=вкл"}, {TUp::A, "нет,вперед,назад=вперед"}};
  for (const auto &step : steps) {
    ASSERT_NO_FATAL_FAILURE(IdentifyOn(step.Relay));
    ASSERT_TRUE(direction());
    EXPECT_EQ(items(direction()).toStdString(), step.Items);
    EXPECT_TRUE(direction()->isEnabled());
    EXPECT_EQ(captions(), fileCaptions);
  }
  const size_t markA = S.Device.RequestLog().size();
  emit direction()->List(0)->activated(0);
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(WritesTo(TUp::A, markA).join(",").toStdString(), "w 102 0");
  EXPECT_EQ(Gateway->Writes(TUp::B), 0);
  EXPECT_TRUE(Boxes().isEmpty()) << Boxes().toStdString();
}

// other.xml opened, its designer open while B is identified behind it: the
// designer's OK goes to other.xml's panel and "Сохранить" to other.xml; the
// default file is left as it was.
TEST_F(BindingLink, TheDesignersChangeGoesToTheFileItWasOpenedOn) {
  const QString defaultFile = S.Dir.filePath("dashboard.XML"), other = S.Dir.filePath("other.xml");
  ASSERT_TRUE(QFile::copy(KV_SOURCE_DIR "/tools/devsim/dashboard.XML", defaultFile));
  ASSERT_TRUE(QFile::copy(defaultFile, other));
  const QByteArray defaultBytes = LoadFileBytes(defaultFile);
  Form->PageControl->setCurrentWidget(Form->TabSheetDashboard);
  Answer = other;
  Form->apFileLoad->trigger();
  ASSERT_EQ(Form->DashboardFrame->FileName(), other);
  const int labels = LoadFileBytes(other).count("<class>TLabelA</class>");
  ASSERT_NO_FATAL_FAILURE(Design([this](TDashboardSetupForm &Designer) {
    Designer.ChooseTool("apLabel");
    Designer.PlaceNew(Designer.PanelContainer, QPoint(700, 20));
    IdentifyOn(TUp::B);
  }));
  EXPECT_EQ(Form->LabelDescID->text(), DateB);
  EXPECT_EQ(Form->DashboardFrame->FileName(), other);
  Form->apFileSave->trigger();
  EXPECT_FALSE(Form->DashboardFrame->IsModified());
  EXPECT_EQ(LoadFileBytes(other).count("<class>TLabelA</class>"), labels + 1);
  EXPECT_EQ(LoadFileBytes(defaultFile), defaultBytes);
}
