#include "DDMenuEditor.h"

#include "uDeviceDescriptor.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uTextCodec.h"

#include "../../../common/uErrorOf.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

inline void PrintTo(const QString &S, std::ostream *Os) { *Os << '"' << S.toStdString() << '"'; }

namespace {

QString U(const char *S) { return QString::fromUtf8(S); }

// Every kind of entry the image knows, in one menu.
const char *const SmallMenu = R"m(<document>
<item-list>
 <item-list caption="A"><item desc-type="measure" desc-id="1"/><item desc-type="paramdate"/></item-list>
 <item-list caption="B"><item desc-type="param" desc-id="1"/></item-list>
 <item-list caption="E"/>
 <item-list caption="U" ustav-group="1"><item desc-type="ustav" desc-id="1"/></item-list>
 <item-list caption="V" ustav-group="2"><item desc-type="ustav" desc-id="1"/></item-list>
 <item-list caption="W(104)"/>
 <item desc-type="event" caption="Ev"/>
 <item desc-type="alarm" caption="Al"/>
 <item desc-type="paramdate"/>
 <item desc-type="eventlevel" desc-id="-1" caption="x"/>
</item-list>
<action id="14">переход</action><type id="2">кнопка</type>
<event type-id="2" code="5" action-id="14" target="0 0 0 0"/>
</document>)m";

class MenuTest : public ::testing::Test {
protected:
  QTemporaryDir Dir;
  std::unique_ptr<TDeviceDescriptor> Owned;
  TDeviceDescriptor &D = Fresh();
  uint8_t Map[256];

  TDeviceDescriptor &Fresh() {
    Owned = std::make_unique<TDeviceDescriptor>();
    return *Owned;
  }
  void SetUp() override { Fill(*Owned); }
  void Fill(TDeviceDescriptor &D) {
    // Identity, but "A" and $91 exchanged: the listing must translate back.
    for (int c = 0; c < 256; ++c)
      Map[c] = uint8_t(c);
    Map[0x41] = 0x91, Map[0x91] = 0x41;
    D.CopyCharMap(Map);
    auto named = [](TDDNamedObject &R, int Id, int Addr, const char *Text) {
      R.Ider = Id, R.ImageAddr = uint16_t(Addr), R.String = U(Text);
    };
    named(*D.FMeasures.Add(std::make_unique<TDDMeasure>(&D)), 1, 0x2000, "Ток");
    named(D.FParamCommon.Date, 0, 0x2100, "Дата");
    named(*D.FParams.Add(std::make_unique<TDDParam>(&D, TDDParam::pkNumeric)), 1, 0x2200, "Адрес");
    named(*D.FUstavs.Add(std::make_unique<TDDUstav>(&D, TDDUstav::ukNumeric)), 1, 0x2300, "I>");
    for (int code : {1, 2}) {
      TDDEvent *e = D.FEvents.Add(std::make_unique<TDDEvent>(&D));
      named(*e, code, 0x2400 + code, code == 1 ? "e1" : "e2");
      e->Code = uint8_t(code);
    }
    for (int i = 0; i < 2; ++i)
      D.FEventMeasures.Add(std::make_unique<TDDMeasureRef>(&D, 65))->MeasureIder = 1;
  }

  TMenuEditorCore Load(const QString &Xml) { return Load(Xml, *Owned); }
  TMenuEditorCore Load(const QString &Xml, TDeviceDescriptor &D) {
    const QString path = Dir.filePath("menu.xml");
    SaveFileBytes(path, ToWin1251("<?xml version=\"1.0\" encoding=\"windows-1251\"?>" + Xml));
    TMenuEditorCore core;
    core.LoadFromFile(path);
    core.SetDescriptor(&D);
    return core;
  }
  // Builds at image address 0x1000; the stream starts there.
  QByteArray Build(TMenuEditorCore &Core, int Parts = 1) {
    QByteArray bytes;
    QBuffer b(&bytes);
    b.open(QIODevice::ReadWrite);
    Core.Menu().Build(b, 0x1000, Parts);
    return bytes;
  }
};

// Little-endian address words and plain bytes as hex, for records written by hand.
QByteArray R(std::initializer_list<int> Bytes, std::initializer_list<int> Words, const char *Caption = nullptr,
             int Tail = -1) {
  QByteArray b;
  for (int x : Bytes)
    b += char(x);
  for (int w : Words)
    b += char(w & 0xFF), b += char(w >> 8);
  if (Tail >= 0)
    b += char(Tail);
  if (Caption)
    b += QByteArray(Caption) + '\0';
  return b;
}

} // namespace

TEST_F(MenuTest, SmallMenuMatchesTheRecordsByHand) {
  TMenuEditorCore core = Load(U(SmallMenu));
  const QByteArray b = Build(core, 3);
  const QByteArray expected =
      R({0x61}, {0x108a, 0x1017, 0x1009}, "\x91") + R({0x62}, {0x1010, 0x1010, 0x2000}) +
      R({0x62}, {0x1009, 0x1009, 0x2100}) +                                     // list of two items
      R({0x61}, {0x1000, 0x1027, 0x1020}, "B") + R({0x62}, {0x1020, 0x1020, 0x2200}) + // a lone child
      R({0x61}, {0x1017, 0x1030, 0x1027}, "E") +                                // an empty list
      R({0x68}, {0x1027, 0x1040, 0x1039}, "U") + R({0x62}, {0x1039, 0x1039, 0x2300}) +
      R({0x69}, {0x1030, 0x1050, 0x1039}, "V") + R({0x62}, {0x1049, 0x1049, 0x2300}) + // group 1's child
      R({0x68}, {0x1040, 0x1059, 0x1050}, "W") +                                // "(104)" types the list
      R({0x61}, {0x1050, 0x1079, 0x1063}, "Ev") + R({0x63}, {0x106e, 0x106e, 0x1091}, "e1", 1) +
      R({0x63}, {0x1063, 0x1063, 0x1091}, "e2", 2) + R({0x64}, {0x1059, 0x1083, 0x1091}, "\x91l") +
      R({0x62}, {0x1079, 0x108a, 0x2100}) + R({0x62}, {0x1083, 0x1000, 0}) + // eventlevel item: 7 bytes
      R({0x65}, {0x1098, 0x1098, 0x2000}) + R({0x65}, {0x1091, 0x1091, 0x2000}) +
      R({0x71, 2, 5, 14}, {0x1009}); // the event table's target "0 0 0 0": the first item of "A"
  EXPECT_EQ(b.toHex().toStdString(), expected.toHex().toStdString());
  EXPECT_EQ(core.Menu().StartAddr, 0x1000);
  EXPECT_EQ(core.GetDateItemAddr(), 0x1083); // the later paramdate item
  EXPECT_FALSE(core.Menu().Document->GetXml().contains("offset"));

  // The listing of the same records (without the event table, which it does not read).
  QByteArray tree = b.left(b.size() - 6) + char(0xAA);
  QBuffer stream(&tree);
  stream.open(QIODevice::ReadOnly);
  core.Menu().WriteListing(stream, 0x1000, 0, Dir.filePath("menu.lst"));
  const QStringList lines = FromWin1251(LoadFileBytes(Dir.filePath("menu.lst"))).split("\r\n");
  const QStringList expectedLines = {
      U("Листинг меню"), "", "addr tp parn prrs nxts chld text", "--------------------------------",
      "1000 61 ffff 108a 1017 1009 91 00 (A)", "1009 62 ffff 1010 1010 2000", "1010 62 ffff 1009 1009 2100",
      "1017 61 ffff 1000 1027 1020 42 00 (B)", "1020 62 ffff 1020 1020 2200", "1027 61 ffff 1017 1030 1027 45 00 (E)",
      "1030 68 ffff 1027 1040 1039 55 00 (U)", "1039 62 ffff 1039 1039 2300", "1040 69 ffff 1030 1050 1039 56 00 (V)",
      "1049 62 ffff 1049 1049 2300", "1050 68 ffff 1040 1059 1050 57 00 (W)",
      "1059 61 ffff 1050 1079 1063 45 76 00 (Ev)", "1063 63 ffff 106e 106e 1091 01 65 31 00 (e1)",
      "106e 63 ffff 1063 1063 1091 02 65 32 00 (e2)", "1079 64 ffff 1059 1083 1091 91 6c 00 (Al)",
      "1083 62 ffff 1079 108a 2100", "108a 62 ffff 1083 1000 0000", "1091 65 ffff 1098 1098 2000",
      "1098 65 ffff 1091 1091 2000", ""};
  EXPECT_EQ(lines, expectedLines);
}

TEST_F(MenuTest, EmptyRootAndEscapedCaptions) {
  TMenuEditorCore empty = Load("<document><item-list/></document>");
  EXPECT_EQ(Build(empty).toHex(), (R({0x65}, {0x1007, 0x1007, 0x2000}) + R({0x65}, {0x1000, 0x1000, 0x2000})).toHex());
  EXPECT_EQ(empty.GetDateItemAddr(), 0xFFFF);

  // "A\65\\|": four bytes and the end byte; the next record follows them.
  TMenuEditorCore escaped = Load(U(R"m(<document><item-list><item-list caption="A\65\\|"/><item-list caption="Z"/></item-list></document>)m"));
  D.FEventMeasures.clear();
  EXPECT_EQ(Build(escaped).toHex(), (R({0x61}, {0x100c, 0x100c, 0x1000}) + QByteArray("\x91\x41\\\x01", 4) +
                                     QByteArray(1, '\0') + R({0x61}, {0x1000, 0x1000, 0x100c}, "Z"))
                                        .toHex());
}

TEST_F(MenuTest, BuildAndListingErrorsCarryTheirTexts) {
  struct TCase {
    const char *Menu;
    std::function<void(TDeviceDescriptor &)> Change;
    QString Error;
  };
  const TCase cases[] = {
      {R"m(<item desc-type="measure" desc-id="9"/>)m", nullptr,
       U("measure не найден id 9\r\n<item desc-type=\"measure\" desc-id=\"9\" offset=\"4096\"/>")},
      {R"m(<item-list caption="a\q"/>)m", nullptr, U("invalid special symbol in a\\q")},
      {R"m(<item desc-type="alarm" caption="x"/>)m", [](TDeviceDescriptor &D) { D.FEventMeasures.clear(); },
       U("Нет записей для пункта меню <item desc-type=\"alarm\" caption=\"x\"/>")},
      {R"m(<item desc-type="event" caption="x"/>)m", [](TDeviceDescriptor &D) { D.FEvents.clear(); },
       U("Нет записей для пункта меню <item desc-type=\"event\" caption=\"x\"/>")},
      {R"m(<item-list ustav-group="1"/><item-list ustav-group="2"><item desc-type="ustav" desc-id="1"/></item-list>)m",
       nullptr,
       U("Нет записей для пункта меню <item-list ustav-group=\"2\"><item desc-type=\"ustav\" "
         "desc-id=\"1\"/></item-list>")},
      {"", [](TDeviceDescriptor &D) { D.GetEventMeasure(1)->MeasureIder = 9; },
       U("Не найдено измерение для события 9")},
      {R"m(<item-list caption="x(300)"/>)m", nullptr, "range check error: x(300)"},
      {R"m(<xx/>)m", nullptr, "invalid node xx"},
  };
  for (const TCase &c : cases) {
    TDeviceDescriptor d;
    Fill(d);
    TMenuEditorCore core = Load(U("<document><item-list>") + U(c.Menu) + "</item-list></document>", d);
    if (c.Change)
      c.Change(d);
    EXPECT_EQ(ErrorOf([&] { Build(core); }), c.Error) << c.Menu;
    EXPECT_FALSE(core.Menu().Document->GetXml().contains("offset=")) << c.Menu;
  }

  // Every record address past $FFFF stops the build; nothing is written cut to 16 bits.
  TMenuEditorCore core = Load("<document><item-list><item-list caption=\"x\"/></item-list></document>");
  QByteArray bytes;
  QBuffer b(&bytes);
  b.open(QIODevice::ReadWrite);
  EXPECT_EQ(ErrorOf([&] { core.Menu().Build(b, 0xFFF0, 1); }),
            U("Недопустимое смещение при формировании меню\r\nадрес начала: fff0\r\nадрес окончания: 10007"));
  EXPECT_TRUE(bytes.isEmpty());

  // A list typed $1F is written; the listing cannot read it.
  TMenuEditorCore typed = Load("<document><item-list><item-list caption=\"x($1F)\"/></item-list></document>");
  QByteArray image = Build(typed);
  EXPECT_EQ(uint8_t(image[0]), 0x1F);
  QBuffer s(&image);
  s.open(QIODevice::ReadOnly);
  EXPECT_EQ(ErrorOf([&] { typed.Menu().WriteListing(s, 0x1000, 0, Dir.filePath("menu.lst")); }), "invalid rectype 1f");
  EXPECT_EQ(ErrorOf([&] { Load("<document><item-list>"); }), "error loading " + Dir.filePath("menu.xml") + ": Start-end tags mismatch at line 1, column 66");
}

TEST_F(MenuTest, AttributeRoutinesAndSwap) {
  TMenuEditorCore core = Load(R"m(<document><item-list><item-list caption="a" n="12" h="$0C" e="" x="x1"/><item-list caption="b"/></item-list></document>)m");
  const IXXMLNode a = core.Menu().MenuRoot()->SelectSingleNode("item-list[1]");
  for (const char *name : {"n", "h"})
    EXPECT_EQ(GetAttrInt(a, name, 7), 12) << name;
  for (const char *name : {"e", "x", "missing"})
    EXPECT_EQ(GetAttrInt(a, name, 7), 7) << name;
  SetAttr(a, "n", "13");
  EXPECT_EQ(a->GetXml().count(" n=\""), 1);
  EXPECT_EQ(ErrorOf([&] { SetExistingAttr(a, "zz", "1"); }), "attr not found: zz in\r\n" + a->GetXml());

  IXXMLNode first = a, second = core.Menu().MenuRoot()->SelectSingleNode("item-list[2]");
  SwapNodes(first, second);
  EXPECT_EQ(GetAttrStr(core.Menu().MenuRoot()->SelectSingleNode("item-list[1]"), "caption", ""), "b");
  EXPECT_EQ(GetAttrStr(first, "caption", ""), "a");
  EXPECT_EQ(TMenuEditorCore::NodePath(first), "0 0 1");
  EXPECT_TRUE(core.MoveUp(first));
  EXPECT_EQ(TMenuEditorCore::NodePath(first), "0 0 0");
  EXPECT_FALSE(core.MoveUp(first));
  EXPECT_TRUE(core.Menu().Modified);
}

TEST_F(MenuTest, EditorCoreCommands) {
  // A menu without a root list gets one when the descriptor is set.
  TMenuEditorCore core = Load("<document/>");
  const IXXMLNode root = core.Menu().MenuRoot();
  ASSERT_TRUE(root);
  EXPECT_EQ(core.TreeText(root), U("Старт"));

  // Depth 5: a node at level 5 takes no insertion.
  IXXMLNode n = root;
  for (int level = 1; level <= 5; ++level)
    n = core.InsertBlank(n);
  EXPECT_EQ(core.Level(n), 5);
  EXPECT_FALSE(core.InsertBlank(n));
  n->AddChild("item");
  EXPECT_TRUE(core.TreeChildren(n).isEmpty());
  n->SelectSingleNode("item")->Remove();

  // "Уставки": one list per level with the setpoints of that level and non-zero access.
  D.FUstavLevels.Add(5, U("МТЗ"), ""), D.FUstavLevels.Add(6, U("ЗМН"), "");
  TDDUstav *hidden = D.FUstavs.Add(std::make_unique<TDDUstav>(&D, TDDUstav::ukEnum));
  hidden->Ider = 2, hidden->FModbusObject.Acc = 0;
  TDDUstav *second = D.FUstavs.Add(std::make_unique<TDDUstav>(&D, TDDUstav::ukEnum));
  second->Ider = 3, second->LevelMask = 2;
  core.SetDescriptor(&D);
  ASSERT_EQ(core.FDescTree[1].Text, U("Уставки"));
  const QList<IXXMLNode> lists = core.Insert(root, {&core.FDescTree[1]});
  ASSERT_EQ(lists.size(), 2);
  EXPECT_EQ(lists[0]->GetXml(), U(R"m(<item-list caption="МТЗ" desc-type="ustav"><item desc-id="1" desc-type="ustav"/></item-list>)m"));
  EXPECT_EQ(lists[1]->GetXml(), U(R"m(<item-list caption="ЗМН" desc-type="ustav"><item desc-id="3" desc-type="ustav"/></item-list>)m"));
  // Records in reverse order of selection; the date record is "paramdate".
  const QList<IXXMLNode> items = core.Insert(root, {&core.FDescTree[2].Children[0], &core.FDescTree[4]});
  EXPECT_EQ(items[0]->GetXml() + items[1]->GetXml(), R"m(<item desc-id="0" desc-type="paramdate"/><item desc-id="1" desc-type="measure"/>)m");
  EXPECT_EQ(core.FindDescNode(items[1]), &core.FDescTree[2].Children[0]);

  // Setpoint groups: 1, then 2, then no more.
  EXPECT_EQ(GetAttrStr(core.InsertUstavGroup(root), "caption", ""), U("Уставки"));
  EXPECT_EQ(GetAttrStr(core.InsertUstavGroup(root), "ustav-group", ""), "2");
  EXPECT_EQ(ErrorOf([&] { core.InsertUstavGroup(root); }), "invalid ustav group count");
  TMenuEditorCore odd = Load(R"m(<document><item-list><item-list ustav-group="3"/></item-list></document>)m");
  EXPECT_EQ(ErrorOf([&] { odd.InsertUstavGroup(odd.Menu().MenuRoot()); }), "invalid ustav group");

  // The event list exists once; an event item takes no insertion.
  const IXXMLNode events = core.InsertEvent(root);
  EXPECT_EQ(core.InsertEvent(lists[0])->GetXml(), events->GetXml());
  EXPECT_FALSE(core.CanInsert(events));

  // Editing texts: lists and alarms; an element with a record keeps its text.
  const IXXMLNode alarm = core.InsertAlarm(root);
  EXPECT_TRUE(core.CanEditText(alarm) && core.CanEditText(lists[0]) && !core.CanEditText(items[1]));
  EXPECT_TRUE(core.EndEdit(alarm, U("Авария 2")));
  EXPECT_FALSE(core.EndEdit(items[1], "x"));
  EXPECT_EQ(ErrorOf([&] { core.EndEdit(items[0], "x"); }), "attr not found: caption in\r\n" + items[0]->GetXml());
  EXPECT_EQ(core.TreeText(alarm), U("Авария 2"));
  EXPECT_EQ(core.TreeText(items[1]), U("Ток"));

  // The check finds the item whose record is gone.
  EXPECT_EQ(core.Check(), U("Ошибок на найдено"));
  SetAttr(items[1], "desc-id", "9");
  EXPECT_EQ(core.Check(), "invalid reference in" + items[1]->GetXml() + "\r\n");
  EXPECT_EQ(core.TreeText(items[1]), U("*** Не найден *** measure"));
  core.Delete({items[1]});
  EXPECT_EQ(core.Check(), U("Ошибок на найдено"));

  // System-event rows.
  core.InsertEventRow(0);
  core.Link(0, alarm);
  const std::vector<TMenuEventRow> rows = core.EventRows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].Target, U("Авария 2"));
  EXPECT_EQ(GetAttrStr(rows[0].Element, "target", ""), TMenuEditorCore::NodePath(alarm));
  core.DeleteEventRow(0);
  EXPECT_TRUE(core.EventRows().empty());
}
