#include "uControls.h"
#include "../../common/uErrorOf.h"

#include "uBitListDialog.h"
#include "uDashboardFrame.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uSimpleDeviceDescriptor.h"
#include "uTextCodec.h"

#include <QListWidget>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
// A descriptor with one bit register of five named bits and one setpoint of
// bit type, in two setpoint groups.
std::unique_ptr<TSimpleDeviceDescriptor> SmallDescriptor() {
  auto d = std::make_unique<TSimpleDeviceDescriptor>();
  d->Document = NewXMLDocument();
  d->Document->LoadXML("<device-descriptor><param><input-output><param-bitreg><mreg>20</mreg><modbus-acc>3</modbus-acc>"
                       "<record-type>20</record-type><caption>Входы</caption>"
                       "<string><ider>0</ider><value>A</value></string><string><ider>1</ider><value>B</value></string>"
                       "<string><ider>2</ider><value>C</value></string><string><ider>3</ider><value>D</value></string>"
                       "<string><ider>4</ider><value>E</value></string></param-bitreg></input-output></param>"
                       "<ustav><ustav-bit><mreg>100</mreg><record-type>53</record-type><modbus-acc>3</modbus-acc>"
                       "<string>Пуск</string><string><ider>3</ider><value>Бит 3</value></string></ustav-bit></ustav>"
                       "</device-descriptor>");
  d->Root = d->Document->GetDocumentElement();
  return d;
}

QString Messages(const QStringList &L) { return L.join('|'); }
} // namespace

TEST(Controls, PageWithEveryClassRoundTripsByteForByte) {
  QTemporaryDir dir;
  QWidget panel;
  for (const QString &c : ControlClassNames())
    CreateControl(&panel, c);
  auto *group = static_cast<TGroupBoxA *>(CreateControl(&panel, "TGroupBoxA"));
  group->setGeometry(5, 6, 300, 200);
  auto *inner = static_cast<TLabelA *>(CreateControl(group, "TLabelA"));
  inner->setText("внутри");
  inner->Font()->SetStyle(kvc::fsBold | kvc::fsItalic);
  inner->SetColor(0x123456);
  auto *bits = panel.findChild<TBitregGroupBox *>();
  bits->setBitmap("101");
  bits->SetOnColor(clBtnFace);
  panel.findChild<TMeasureLabeledEdit *>()->SetLabelPosition(kvc::lpAbove);
  panel.findChild<TDateTimeEdit *>()->SetKind(kvc::dtCurrent);

  IXXMLDocument doc = NewXMLDocument();
  doc->LoadXML("<document/>");
  for (QWidget *w : ControlsOf(&panel, false))
    WriteObject("element", w, doc->GetDocumentElement());
  const QByteArray first = FormatXMLDocument(doc);
  const QString text = QString::fromUtf8(first);
  for (const char *part :
       {"<Style>fsBold,fsItalic</Style>", "<bitmap>101</bitmap>", "<Kind>dtCurrent</Kind>",
        "<LabelPosition>lpAbove</LabelPosition>", "<Color>1193046</Color>", "<onColor>-16777201</onColor>"})
    EXPECT_TRUE(text.contains(part)) << part;
  EXPECT_EQ(text.count("<Font>"), ControlClassNames().size() + 2 + 1); // the labeled date writes Font twice

  QWidget again;
  const IXXMLNodeList elements = doc->GetDocumentElement()->SelectNodes("element");
  QStringList problems;
  for (int i = 0; i < elements->GetCount(); ++i)
    CreateElement(elements->GetItem(i), &again, [&](const QString &T) { problems << T; });
  EXPECT_TRUE(problems.isEmpty()) << Messages(problems).toStdString();
  ASSERT_EQ(ControlsOf(&again, true).size(), ControlsOf(&panel, true).size());
  IXXMLDocument doc2 = NewXMLDocument();
  doc2->LoadXML("<document/>");
  for (QWidget *w : ControlsOf(&again, false))
    WriteObject("element", w, doc2->GetDocumentElement());
  EXPECT_EQ(FormatXMLDocument(doc2), first);
}

TEST(Controls, PageLoadErrorsAreReportedAndLoadingGoesOn) {
  QTemporaryDir dir;
  TkvDashboardFrame frame;
  QStringList reported;
  TDashboardHost host;
  host.Report = [&](const QString &T) { reported << T; };
  frame.SetHost(host);
  const QString missing = dir.filePath("none.xml");
  EXPECT_EQ(ErrorOf([&] { frame.LoadFromFile(missing); }), "cannot open " + missing + ": No such file or directory");
  const QString broken = dir.filePath("broken.xml");
  SaveFileBytes(broken, "<document>\n<element><class>TLabelA</class>\n<Left>1</Top>\n</document>\n");
  EXPECT_TRUE(ErrorOf([&] { frame.LoadFromFile(broken); }).endsWith("\rЪ<Left>1</Top>"));
  const QString odd = dir.filePath("odd.xml");
  SaveFileBytes(odd, ToWin1251("<?xml version=\"1.0\" encoding=\"windows-1251\"?><document>"
                               "<element><class>TNoSuch</class></element>"
                               "<element><class>TLabelA</class><Left>abc</Left></element>"
                               "<element><class>TDateTimeEdit</class><Kind>dtSomething</Kind></element>"
                               "<element><class>TEventView</class><width1>-3</width1></element>"
                               "<element><class>TLabelA</class><Caption>Последний</Caption></element></document>"));
  frame.LoadFromFile(odd);
  // One report per load, naming the file and each element's line.
  EXPECT_EQ(reported, (QStringList{odd + "\nline 1: Class TNoSuch not found\nline 1: 'abc' is not a valid integer "
                                         "value\nline 1: 'dtSomething' is not a valid Kind value"
                                         "\nline 1: range check error: -3"}));
  EXPECT_TRUE(frame.IsIncomplete());
  const QList<QWidget *> controls = ControlsOf(frame.Panel, false);
  ASSERT_EQ(controls.size(), 4);
  EXPECT_EQ(static_cast<TDateTimeEdit *>(controls[1])->Kind(), kvc::dtCore); // unknown identifier: default
  EXPECT_EQ(static_cast<TLabelA *>(controls[3])->text(), "Последний");
  EXPECT_FALSE(frame.IsModified());

  // A class without stored properties is refused by name.
  QObject plain;
  EXPECT_EQ(ErrorOf([&] { ReadProperties(NewXMLDocument()->CreateElement("x"), &plain, "TNoList"); }),
            "unsuppoorted property for TNoList");
}

TEST(Controls, ControlRules) {
  QWidget panel;
  auto *a = CreateControl(&panel, "TLabelA");
  auto *b = CreateControl(&panel, "TLabelA");
  EXPECT_TRUE(a->objectName().startsWith("TLabelA"));
  EXPECT_EQ(b->objectName().mid(7).toInt(), a->objectName().mid(7).toInt() + 1);

  auto desc = SmallDescriptor();
  auto *bits = static_cast<TBitregGroupBox *>(CreateControl(&panel, "TBitregGroupBox"));
  bits->setBitmap("101"); // before the bits exist: remembered
  EXPECT_EQ(bits->bitmap(), "101");
  bits->SetDeviceDescriptor(desc.get());
  bits->setMreg(20);
  ASSERT_EQ(bits->BitList()->Count(), 5);
  EXPECT_EQ(bits->bitmap(), "10111");
  EXPECT_EQ(bits->title(), "Входы");
  EXPECT_EQ(bits->rt(), 20);
  const uint16_t word = 0x0005;
  bits->setValue({&word, 1}, 0);
  EXPECT_EQ(bits->BitList()->Item(0)->Circle()->BrushColor(), bits->onColor());
  EXPECT_EQ(bits->BitList()->Item(1)->Circle()->BrushColor(), bits->offColor());

  auto *ustav = static_cast<TUstavPanel *>(CreateControl(&panel, "TUstavPanel"));
  ustav->SetDeviceDescriptor(desc.get());
  ustav->setIdx(0);
  ustav->setBit(3);
  EXPECT_EQ(ustav->Kind(), "bit");
  EXPECT_EQ(ustav->LabelCaption(), "Пуск - Бит 3");
  QList<std::tuple<int, int, int>> writes;
  ustav->SetOnChange([&](uint16_t R, uint16_t V, uint16_t M) { writes.append({R, V, M}); });
  const uint16_t set = 0x0008;
  ustav->setValue(0, {&set, 1}); // shown by the program: no write
  EXPECT_EQ(ustav->List(0)->currentText(), "Да");
  emit ustav->List(0)->activated(1);
  const int reg = desc->GetUstavGroupReg(0);
  EXPECT_EQ(writes, (QList<std::tuple<int, int, int>>{{reg, 8, 8}}));

  auto *events = static_cast<TEventView *>(CreateControl(&panel, "TEventView"));
  EXPECT_THROW(events->SetWidth1(-3), EKvRange);
  events->SetWidth1(-2);
  EXPECT_EQ(events->Width1(), -2);
}

TEST(Controls, BitListDialogChecksAllFromItsFirstItemAndAppliesTheRest) {
  auto desc = SmallDescriptor();
  QWidget panel;
  auto *bits = static_cast<TBitregGroupBox *>(CreateControl(&panel, "TBitregGroupBox"));
  bits->SetDeviceDescriptor(desc.get());
  bits->setMreg(20);
  bits->setBitmap("10111");
  TBitListDialog dlg;
  dlg.LoadFrom(*bits->BitList());
  QListWidget *l = dlg.CheckListBox;
  ASSERT_EQ(l->count(), 6);
  EXPECT_EQ(l->item(0)->text(), "Все");
  EXPECT_EQ(l->item(2)->checkState(), Qt::Unchecked);
  l->item(0)->setCheckState(Qt::Checked);
  for (int i = 1; i < 6; ++i)
    EXPECT_EQ(l->item(i)->checkState(), Qt::Checked) << i;
  l->item(3)->setCheckState(Qt::Unchecked);
  EXPECT_EQ(l->item(0)->checkState(), Qt::Unchecked);
  dlg.ApplyTo(*bits->BitList());
  EXPECT_EQ(bits->bitmap(), "11011");
}

namespace {
std::unique_ptr<TSimpleDeviceDescriptor> DescriptorOf(const char *Xml) {
  auto d = std::make_unique<TSimpleDeviceDescriptor>();
  d->Document = NewXMLDocument();
  d->Document->LoadXML(QString::fromUtf8(Xml));
  d->Root = d->Document->GetDocumentElement();
  return d;
}
// Relay one describes a control of every addressed class; relay two none of
// them (its register 30 is a number).
const char *const RelayOne =
    "<device-descriptor><measure><measure-item><mreg>200</mreg><modbus-acc>1</modbus-acc><string>Ток</string>"
    "<mvs-div>10</mvs-div></measure-item></measure><param><param-enum><mreg>30</mreg><modbus-acc>3</modbus-acc>"
    "<string>Режим</string><string><ider>0</ider><value>Выведен</value></string><string><ider>1</ider>"
    "<value>Введен</value></string></param-enum><param-num><mreg>31</mreg><modbus-acc>3</modbus-acc>"
    "<string>Адрес</string></param-num><input-output><param-bitreg><mreg>23</mreg><modbus-acc>3</modbus-acc>"
    "<record-type>20</record-type><caption>Входы</caption><string><ider>0</ider><value>A</value></string>"
    "</param-bitreg></input-output></param><ustav><ustav-enum><mreg>100</mreg><record-type>49</record-type>"
    "<modbus-acc>3</modbus-acc><string>Направление</string><string><ider>0</ider><value>нет</value></string>"
    "<string><ider>1</ider><value>да</value></string></ustav-enum></ustav></device-descriptor>";
const char *const RelayTwo = "<device-descriptor><param><param-num><mreg>30</mreg><modbus-acc>3</modbus-acc>"
                             "<string>Номинальный ток</string></param-num></param></device-descriptor>";

// The caption shown, enabled, the items or bits and the value shown, and the
// caption a save writes (the control's own, bound or not).
QString Shows(QWidget *W) {
  QString caption, offers, value;
  if (auto *e = qobject_cast<TParamEnum *>(W)) {
    caption = e->Label()->text();
    for (int i = 0; i < e->List()->count(); ++i)
      offers += e->List()->itemText(i) + ",";
    value = e->List()->currentText();
  } else if (auto *u = qobject_cast<TUstavPanel *>(W)) {
    caption = u->Label()->text();
    for (int i = 0; i < u->List(0)->count(); ++i)
      offers += u->List(0)->itemText(i) + ",";
    value = u->Kind() + ":" + (u->Kind() == "num" ? u->Edit(0)->text() : u->List(0)->currentText());
  } else if (auto *l = qobject_cast<TLabeledEdit *>(W)) {
    caption = l->EditLabel()->text();
    value = l->text();
  } else if (auto *g = qobject_cast<TBitregGroupBox *>(W)) {
    caption = g->title();
    offers = QString::number(g->BitList()->Count());
  }
  IXXMLDocument doc = NewXMLDocument();
  doc->LoadXML("<document/>");
  WriteObject("element", W, doc->GetDocumentElement());
  QString saved;
  for (const char *p : {"LabelCaption", "EditLabelCaption", "Caption"})
    if (const IXXMLNode n = doc->GetDocumentElement()->SelectSingleNode(QString("element/") + p))
      saved = n->GetText();
  return QStringList{caption, W->isEnabled() ? "on" : "off", offers, value, saved}.join("|");
}
} // namespace

// Every addressed control bound to relay one, then to relay two, which does
// not describe it, then to relay one again: on relay two it holds nothing of
// relay one (caption, items, access, scaling, handler), shows its own
// caption, is disabled, shows no value and saves its own caption; back on
// relay one it is whole again.
TEST(Controls, AControlBoundToARelayThatDoesNotDescribeItHoldsNothingOfTheOneBefore) {
  const auto one = DescriptorOf(RelayOne), two = DescriptorOf(RelayTwo);
  const uint16_t words[] = {123};
  const struct {
    const char *Class;
    std::function<void(QWidget *)> Own; // the file's caption and address
    std::function<void(QWidget *)> Show;
    const char *OnOne, *OnTwo;
  } rows[] = {
      {"TParamEnum",
       [](QWidget *W) { static_cast<TParamEnum *>(W)->SetLabelCaption("мой"), static_cast<TParamEnum *>(W)->setMreg(30); },
       [&](QWidget *W) { static_cast<TParamEnum *>(W)->setValue({words, 1}, 0); }, "Режим|on|Выведен,Введен,||мой",
       "мой|off|||мой"},
      {"TMeasureLabeledEdit",
       [](QWidget *W) {
         static_cast<TMeasureLabeledEdit *>(W)->SetEditLabelCaption("мой");
         static_cast<TMeasureLabeledEdit *>(W)->setMreg(200);
       },
       [&](QWidget *W) { static_cast<TMeasureLabeledEdit *>(W)->setValue({words, 1}, 0); }, "Ток|on||12.3|мой",
       "мой|off|||мой"},
      {"TParamLabeledEdit", [](QWidget *W) { static_cast<TParamLabeledEdit *>(W)->setMreg(31); },
       [&](QWidget *W) { static_cast<TParamLabeledEdit *>(W)->setValue({words, 1}, 0); }, "Адрес|on||123|",
       "|off|||"},
      {"TBitregGroupBox",
       [](QWidget *W) { static_cast<TBitregGroupBox *>(W)->setMreg(23), static_cast<TBitregGroupBox *>(W)->SetCaption("мой"); },
       [](QWidget *) {}, "мой|on|1||мой", "мой|off|0||мой"},
      {"TUstavPanel",
       [](QWidget *W) { static_cast<TUstavPanel *>(W)->setIdx(0), static_cast<TUstavPanel *>(W)->SetLabelCaption("мой"); },
       [&](QWidget *W) { static_cast<TUstavPanel *>(W)->setValue(0, {words, 1}); }, "Направление|on|нет,да,|enum:|мой",
       "мой|off||num:|мой"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.Class);
    QWidget panel;
    QWidget *w = CreateControl(&panel, row.Class);
    row.Own(w);
    int handled = 0;
    const auto bind = [&](TSimpleDeviceDescriptor *D) {
      auto *c = dynamic_cast<TKvControl *>(w);
      c->SetDeviceDescriptor(D);
      if (auto *rc = dynamic_cast<TRegControl *>(w))
        rc->setMreg(rc->mreg());
      else if (auto *u = qobject_cast<TUstavPanel *>(w))
        u->setIdx(u->idx()), u->setBit(u->bit());
      row.Show(w);
    };
    for (const auto &[desc, expected] : {std::pair{one.get(), row.OnOne}, std::pair{two.get(), row.OnTwo},
                                         std::pair{one.get(), row.OnOne}}) {
      bind(desc);
      EXPECT_EQ(Shows(w).toStdString(), expected);
      if (desc != one.get())
        continue;
      // The handler a page attached on relay one does not outlive a binding
      // to relay two.
      if (auto *e = qobject_cast<TParamEnum *>(w)) {
        e->SetOnChange([&](uint16_t, int16_t) { ++handled; });
        bind(two.get());
        emit e->List()->activated(0);
      } else if (auto *u = qobject_cast<TUstavPanel *>(w)) {
        u->SetOnChange([&](uint16_t, uint16_t, uint16_t) { ++handled; });
        bind(two.get());
        emit u->List(0)->activated(0);
      } else if (auto *g = qobject_cast<TBitregGroupBox *>(w)) {
        g->bitMouseDown = [&](TShape *) { ++handled; };
        bind(two.get());
        EXPECT_FALSE(g->bitMouseDown);
      }
    }
    EXPECT_EQ(handled, 0);
  }
}
