#include "ixml.h"

#include "uErrorOf.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uTextCodec.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

IXXMLNode Root(const char *Xml) {
  IXXMLDocument doc = NewXMLDocument();
  EXPECT_TRUE(doc->LoadXML(QString::fromUtf8(Xml))) << doc->GetParseError().toStdString();
  return doc->GetDocumentElement();
}

// Collects "bad string" notices instead of showing them.
struct TSinkCapture {
  QStringList Seen;
  TXmlMessageSink Old;
  TSinkCapture() {
    Old = SetXmlMessageSink([this](const QString &T) { Seen << T; });
  }
  ~TSinkCapture() { SetXmlMessageSink(Old); }
};

const char *Item = "<item a=\"7\" f=\"2.5\"><name>alpha</name><n>12</n><bad>x1</bad><hex>$1F</hex></item>";

} // namespace

TEST(Ixml, TypedReadsGiveTextDefaultOrTheMessage) {
  const IXXMLNode n = Root(Item);
  const QString xml = n->GetXml();
  ASSERT_EQ(xml, QString(Item));
  EXPECT_EQ(n->GetStrNode("name"), "alpha");
  EXPECT_EQ(n->GetStrNode("@a"), "7");
  EXPECT_EQ(n->GetStrNode("missing"), "");
  EXPECT_EQ(n->GetStrNodeDef("missing", "dflt"), "dflt");
  EXPECT_EQ(n->GetStrNodeDef("missing", 5), "5");
  EXPECT_EQ(n->GetIntNode("n"), 12);
  EXPECT_EQ(n->GetIntNode("hex"), 31);
  EXPECT_EQ(n->GetIntNode("missing"), 0);
  EXPECT_EQ(n->GetIntNodeDef("missing", 65535), 65535);
  EXPECT_EQ(n->GetIntNodeDef("@a"), 7);

  const QString tail = "\r\npath\r\nmissing\r\nxml\r\n" + xml + "\r\n";
  EXPECT_EQ(ErrorOf([&] { n->GetStrNodeDef("missing"); }), "invalid StrNode" + tail);
  EXPECT_EQ(ErrorOf([&] { n->GetIntNodeDef("missing"); }), "invalid IntNode" + tail);
  EXPECT_EQ(ErrorOf([&] { n->GetIntNode("bad"); }), "invalid IntNode value\r\npath\r\nbad\r\nxml\r\n" + xml + "\r\n");
  EXPECT_EQ(ErrorOf([&] { n->SelectNodes("item[["); }).left(19), "invalid XPath item[");
}

TEST(Ixml, IntNodeMessagesAreCutTo2000Characters) {
  QString big = "<r>";
  for (int i = 0; i < 300; ++i)
    big += "<v>123456</v>";
  big += "<bad>q</bad></r>";
  IXXMLDocument doc = NewXMLDocument();
  ASSERT_TRUE(doc->LoadXML(big));
  const IXXMLNode r = doc->GetDocumentElement();
  EXPECT_EQ(ErrorOf([&] { r->GetIntNodeDef("none"); }).size(), 2000);
  EXPECT_EQ(ErrorOf([&] { r->GetIntNode("bad"); }).size(), 2000);
  EXPECT_GT(ErrorOf([&] { r->GetStrNodeDef("none"); }).size(), 2000);
}

TEST(Ixml, AttributeReadsGiveValueDefaultOrTheMessage) {
  const IXXMLNode n = Root(Item);
  EXPECT_EQ(n->GetStrAttr("a", "d"), "7");
  EXPECT_EQ(n->GetStrAttr("z", "d"), "d");
  EXPECT_EQ(n->GetIntAttr("a", 0), 7);
  EXPECT_EQ(n->GetIntAttr("z", -3), -3);
  EXPECT_DOUBLE_EQ(n->GetFloatAttr("f", 0), 2.5);
  EXPECT_DOUBLE_EQ(n->GetFloatAttr("z", 0.1), 0.1);
  EXPECT_EQ(ErrorOf([&] { n->GetStrAttrDef("z"); }), "invalid StrAttr z\r\nxml\r\n" + n->GetXml() + "\r\n");
  EXPECT_EQ(ErrorOf([&] { n->GetIntAttrDef("z"); }), "invalid StrAttr z\r\nxml\r\n" + n->GetXml() + "\r\n");
  EXPECT_EQ(ErrorOf([&] { n->GetIntAttr("f", 0); }), "'2.5' is not a valid integer value");
}

TEST(Ixml, SetStrNodeSetsAttributesCreatesChildrenAndRejectsEmptyPath) {
  IXXMLDocument doc = NewXMLDocument();
  ASSERT_TRUE(doc->LoadXML("<e><class>TLabel</class></e>"));
  const IXXMLNode e = doc->GetDocumentElement();
  EXPECT_FALSE(doc->GetModified());
  e->SetStrNode("@left", "10");
  EXPECT_TRUE(doc->GetModified());
  e->SetStrNode("class", "TEdit");
  e->SetIntNode("top", 20);
  e->SetStrNode("top", "21");
  EXPECT_EQ(e->GetXml(), "<e left=\"10\"><class>TEdit</class><top>21</top></e>");
  EXPECT_EQ(ErrorOf([&] { e->SetStrNode("", "x"); }), "path error");
  EXPECT_EQ(ErrorOf([&] { e->SetStrNode("a/b", "x"); }), "invalid element name a/b");
}

TEST(Ixml, RefusedTextGoesToTheSinkAndTheOperationGoesOn) {
  TSinkCapture sink;
  IXXMLDocument doc = NewXMLDocument();
  ASSERT_TRUE(doc->LoadXML("<e><v>old</v></e>"));
  const IXXMLNode e = doc->GetDocumentElement();
  const QString bad = QString("a") + QChar(0x01) + "b";
  e->SetStrNode("v", bad);
  e->SetStrNode("w", "fine");
  EXPECT_EQ(sink.Seen, QStringList{"bad string\r\n" + bad});
  EXPECT_EQ(e->GetXml(), "<e><v>old</v><w>fine</w></e>");
  EXPECT_TRUE(doc->GetModified());
}

TEST(Ixml, MoveSwapsWithSiblingsOrFailsWithTheMessage) {
  IXXMLDocument doc = NewXMLDocument();
  ASSERT_TRUE(doc->LoadXML("<r><a/><b/><c/></r>"));
  const IXXMLNode r = doc->GetDocumentElement();
  const IXXMLNode a = r->SelectSingleNode("a");
  EXPECT_EQ(ErrorOf([&] { a->Move(-1); }), "TXXMLNode.move: unable to move");
  EXPECT_EQ(ErrorOf([&] { a->Move(2); }), "TXXMLNode.move: invalid direction 2");
  EXPECT_FALSE(doc->GetModified());
  a->Move(1);
  EXPECT_EQ(r->GetXml(), "<r><b/><a/><c/></r>");
  a->Move(1);
  EXPECT_EQ(r->GetXml(), "<r><b/><c/><a/></r>");
  EXPECT_EQ(ErrorOf([&] { a->Move(1); }), "TXXMLNode.move: unable to move");
  r->SelectSingleNode("c")->Move(-1);
  EXPECT_EQ(r->GetXml(), "<r><c/><b/><a/></r>");
  EXPECT_TRUE(doc->GetModified());
  r->ReorderChildren(1, 3);
  EXPECT_EQ(r->GetXml(), "<r><a/><c/><b/></r>");
  r->ReorderChildren(3, 2);
  EXPECT_EQ(r->GetXml(), "<r><a/><b/><c/></r>");
  EXPECT_EQ(ErrorOf([&] { r->ReorderChildren(1, 4); }), "TXXMLNode.ReorderChildren: no child 4");
}

TEST(Ixml, RemovedNodesStayUsableAndLeaveQueriesAndMergeMovesContent) {
  IXXMLDocument doc = NewXMLDocument();
  ASSERT_TRUE(doc->LoadXML("<r><x><mreg>1</mreg></x><y><mreg>2</mreg></y></r>"));
  const IXXMLNode r = doc->GetDocumentElement();
  const IXXMLNode x = r->SelectSingleNode("x");
  x->Remove();
  EXPECT_EQ(r->SelectNodes("//*[mreg]")->GetCount(), 1);
  EXPECT_EQ(r->SelectNodes("/*")->GetCount(), 1);
  EXPECT_EQ(r->SelectSingleNode("//x"), nullptr);
  EXPECT_EQ(r->SelectSingleNode("//mreg")->GetText(), "2");
  EXPECT_EQ(x->GetParentNode(), nullptr);
  EXPECT_EQ(x->GetIntNode("mreg"), 1); // the wrapper still reads its subtree
  r->AppendChild(x);
  EXPECT_EQ(r->GetXml(), "<r><y><mreg>2</mreg></y><x><mreg>1</mreg></x></r>");
  const IXXMLNode fresh = doc->CreateElement("z");
  EXPECT_EQ(r->SelectNodes("//z")->GetCount(), 0);
  r->InsertBefore(fresh, r->SelectSingleNode("y"));
  EXPECT_EQ(r->SelectSingleNode("*[1]")->GetNodeName(), "z");
  const IXXMLNode copy = x->CloneNode(true);
  r->ReplaceChild(copy, r->SelectSingleNode("y"));
  EXPECT_EQ(r->GetXml(), "<r><z/><x><mreg>1</mreg></x><x><mreg>1</mreg></x></r>");
  EXPECT_EQ(doc->GetXml(), r->GetXml() + "\n");
  // A merge moves attributes and children into the target, then removes the source.
  ASSERT_TRUE(doc->LoadXML("<r><a k=\"1\"><p/><q/></a><b k=\"0\" m=\"2\"><o/></b></r>"));
  const IXXMLNode m = doc->GetDocumentElement();
  m->SelectSingleNode("a")->MergeInto(m->SelectSingleNode("b"));
  EXPECT_EQ(m->GetXml(), "<r><b k=\"1\" m=\"2\"><o/><p/><q/></b></r>");
}

TEST(Ixml, TextConcatenatesDescendantsAndSetTextReplacesContent) {
  IXXMLDocument doc = NewXMLDocument();
  ASSERT_TRUE(doc->LoadXML("<r>a<b>b<!--c--><![CDATA[<d>]]></b>e</r>"));
  const IXXMLNode r = doc->GetDocumentElement();
  EXPECT_EQ(r->GetText(), "ab<d>e");
  EXPECT_EQ(r->GetFirstChildText(), "a");
  const IXXMLNode b = r->SelectSingleNode("b");
  r->SetText("new");
  EXPECT_EQ(r->GetXml(), "<r>new</r>");
  EXPECT_FALSE(doc->GetModified());
  EXPECT_EQ(b->GetText(), "b<d>"); // a wrapper of replaced content stays valid
  EXPECT_EQ(r->SelectParentNode()->GetNodeName(), "#document");
}

TEST(Ixml, ForEachSumsPairsAndCollects) {
  const IXXMLNode r = Root("<r><i>3</i><i>x</i><i>4</i></r>");
  EXPECT_EQ(r->SelectNodes("i")->ForEach("#sum")->GetProcedureData().Sum, 7);
  const RXXMLNodeProcedureData plain = r->SelectNodes("i")->ForEach("")->GetProcedureData();
  EXPECT_EQ(plain.Values, (TXValueList{{"3", 0}, {"x", 0}, {"4", 0}}));
  EXPECT_EQ(plain.Count, 3);

  const IXXMLNode p = Root("<r><e><s>alpha</s><n>12</n></e><e><s>beta</s><n>-1</n></e></r>");
  const TXValueList initial{{"first", 99}};
  EXPECT_EQ(p->SelectNodes("e")->ForEach("s,n", &initial)->GetProcedureData().Values,
            (TXValueList{{"first", 99}, {"alpha", 12}, {"beta", -1}}));
  EXPECT_EQ(p->SelectNodes("e")->ForEach("s")->GetProcedureData().Values, (TXValueList{{"alpha", 0}, {"beta", 1}}));

  QStringList seen;
  p->SelectNodes("e")->ForEachWith([&](const IXXMLNode &N, RXXMLNodeProcedureData &D) {
    seen << QString("%1/%2 %3").arg(D.Index).arg(D.Count).arg(N->GetStrNode("s"));
  });
  EXPECT_EQ(seen, (QStringList{"0/2 alpha", "1/2 beta"}));

  const IXXMLNode big = Root("<r><i>2147483647</i><i>1</i></r>");
  EXPECT_THROW(big->SelectNodes("i")->ForEach("#sum"), EKvRange);
}

TEST(Ixml, MaxIntAndDistinctTexts) {
  EXPECT_EQ(Root("<r/>")->SelectNodes("i")->GetMaxInt(), 0);
  EXPECT_EQ(Root("<r><i>-5</i><i>-2</i><i>-9</i></r>")->SelectNodes("i")->GetMaxInt(), -2);
  EXPECT_EQ(ErrorOf([] { Root("<r><i>1</i><i>q</i></r>")->SelectNodes("i")->GetMaxInt(); }),
            "'q' is not a valid integer value");

  QStringList seen;
  const IXXMLNode r = Root("<r><i>b</i><i>A</i><i>B</i><i>a</i><i>c</i></r>");
  r->SelectNodes("i")->ForEachDistinctText(5, [&](const QString &T, const QVariant &D) {
    seen << T + D.toString();
  });
  EXPECT_EQ(seen, (QStringList{"A5", "b5", "c5"}));
  EXPECT_THROW(r->SelectNodes("i")->ForEachDistinctText(0, nullptr), EKvAssert);
  EXPECT_EQ(r->GetQuotedTextList("i[position() < 3]"), "\"b\",\"A\"");
}

TEST(Ixml, SaveWritesWin1251HeaderCrLfAndReferences) {
  QTemporaryDir dir;
  IXXMLDocument doc = NewXMLDocument();
  // Loaded with another declaration, which the save replaces.
  ASSERT_TRUE(doc->LoadXML(QString::fromUtf16(
      u"<?xml version=\"1.0\" encoding=\"UTF-8\"?><!--top--><root a=\"Ω1\"><name>Привет</name>"
      u"<sym>Ω&amp;😀</sym><c><![CDATA[xΩy]]></c><!--zΩ--></root>")));
  const QString path = dir.filePath("d.xml");
  SaveXMLDocument(doc, path);
  const QByteArray expected = "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n"
                              "<root a=\"&#937;1\">\r\n"
                              "\t<name>\xcf\xf0\xe8\xe2\xe5\xf2</name>\r\n"
                              "\t<sym>&#937;&amp;&#128512;</sym>\r\n"
                              "\t<c><![CDATA[x]]>&#937;<![CDATA[y]]></c>\r\n"
                              "\t<!--z?-->\r\n"
                              "</root>\r\n";
  EXPECT_EQ(LoadFileBytes(path), expected);

  // Read back and saved again: the same bytes.
  IXXMLDocument back = NewXMLDocument();
  ASSERT_TRUE(back->Load(path)) << back->GetParseError().toStdString();
  EXPECT_EQ(back->GetDocumentElement()->GetStrNode("sym"), QString::fromUtf16(u"Ω&😀"));
  const QString again = dir.filePath("again.xml");
  SaveXMLDocument(back, again);
  EXPECT_EQ(LoadFileBytes(again), expected);
}

TEST(Ixml, RefusedSavesNameTheFileAndKeepTheOldOne) {
  QTemporaryDir dir;
  const QString path = dir.filePath("n.xml");
  EXPECT_EQ(ErrorOf([&] { SaveXMLDocument(NewXMLDocument(), path); }), "cannot save " + path + ": no document element");
  EXPECT_FALSE(QFile::exists(path));
  // "?" in a name would leave a file that no longer loads.
  SaveFileBytes(path, "old");
  IXXMLDocument doc = NewXMLDocument();
  ASSERT_TRUE(doc->LoadXML(QString::fromUtf16(u"<r><\u03A9 a=\"1\"/></r>")));
  EXPECT_EQ(ErrorOf([&] { SaveXMLDocument(doc, path); }),
            "cannot save " + path + ": character U+03A9 of a name has no windows-1251 code");
  EXPECT_EQ(LoadFileBytes(path), "old");
}

TEST(Ixml, LoadHonoursTheDeclaredEncoding) {
  QTemporaryDir dir;
  const QString word = QString::fromUtf16(u"Уставки");
  const struct {
    const char *Name;
    QByteArray Bytes;
  } cases[] = {
      {"cp1251", "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<r>" + ToWin1251(word) + "</r>"},
      {"cp1251 upper", "<?xml version='1.0' encoding='WINDOWS-1251'?><r>" + ToWin1251(word) + "</r>"},
      {"utf8", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r>" + word.toUtf8() + "</r>"},
      {"utf8 bom", "\xEF\xBB\xBF<r>" + word.toUtf8() + "</r>"},
      {"no declaration", "<r>" + word.toUtf8() + "</r>"},
      {"no declaration, 8-bit", "<r>" + ToWin1251(word) + "</r>"},
      {"koi8-r", "<?xml version=\"1.0\" encoding=\"KOI8-R\"?><r>\xf5\xd3\xd4\xc1\xd7\xcb\xc9</r>"},
      {"utf16le", QByteArray("\xFF\xFE") + QByteArray(reinterpret_cast<const char *>(QString("<r>" + word + "</r>").utf16()),
                                                       (word.size() + 7) * 2)},
  };
  for (const auto &c : cases) {
    const QString path = dir.filePath("x.xml");
    SaveFileBytes(path, c.Bytes);
    IXXMLDocument doc = NewXMLDocument();
    ASSERT_TRUE(doc->Load(path)) << c.Name << ": " << doc->GetParseError().toStdString();
    EXPECT_EQ(doc->GetDocumentElement()->GetText(), word) << c.Name;
  }
}

TEST(Ixml, BadInputFailsWithLineAndKeepsOrReleasesTheRoot) {
  const QByteArray Utf8Decl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r>";
  QTemporaryDir dir;
  IXXMLDocument doc = NewXMLDocument();
  ASSERT_TRUE(doc->LoadXML("<old/>"));
  const QString good = "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<r>\r\n\t<a>1</a>\r\n\t<b>2</b>\r\n</r>\r\n";
  const struct {
    const char *Name;
    QByteArray Bytes;
    const char *Error;
  } cases[] = {
      {"truncated", good.toLatin1().left(good.size() - 12), "Start-end tags mismatch at line 4"},
      {"malformed", "<r>\n<a></b>\n</r>", "Start-end tags mismatch at line 2, column 6"},
      {"empty", "", "No document element found at line 1, column 1"},
      {"unknown encoding", "<?xml version=\"1.0\" encoding=\"x-none\"?><r/>", "unsupported encoding x-none"},
      // Bytes that do not decode: refused at the first byte of the bad sequence.
      {"utf-8, stray continuation", Utf8Decl + "\x80</r>", "invalid UTF-8 byte at offset 41"},
      {"utf-8, overlong", Utf8Decl + "\xC0\xAF</r>", "invalid UTF-8 byte at offset 41"},
      {"utf-8, surrogate", Utf8Decl + "\xED\xA0\x80</r>", "invalid UTF-8 byte at offset 41"},
      {"utf-8, above U+10FFFF", Utf8Decl + "\xF4\x90\x80\x80</r>", "invalid UTF-8 byte at offset 41"},
      {"utf-8, cut at the end", Utf8Decl + "</r>\xE2\x82", "invalid UTF-8 byte at offset 45"},
      {"utf-8 bom, offset counts the mark", "\xEF\xBB\xBF<r>\xFF</r>", "invalid UTF-8 byte at offset 6"},
      {"windows-1251, unassigned byte", "<?xml version=\"1.0\" encoding=\"windows-1251\"?><r>\x98</r>",
       "invalid windows-1251 byte at offset 48"},
      {"no declaration, neither", QByteArray("<r>\xC0\x98</r>"), "invalid windows-1251 byte at offset 4"},
      {"utf-16le, lone low surrogate", QByteArray("\xFF\xFE<\0r\0>\0\x00\xDC", 10), "invalid UTF-16LE byte at offset 8"},
      {"utf-16le, odd length", QByteArray("\xFF\xFE<\0r\0/\0>\0x", 11), "invalid UTF-16LE byte at offset 10"},
      {"other code page", "<?xml version=\"1.0\" encoding=\"US-ASCII\"?><r>\xC4</r>", "invalid us-ascii byte at offset 44"},
  };
  for (const auto &c : cases) {
    const QString path = dir.filePath("bad.xml");
    SaveFileBytes(path, c.Bytes);
    doc->SetModified(true);
    EXPECT_FALSE(doc->Load(path)) << c.Name;
    EXPECT_TRUE(doc->GetParseError().startsWith(c.Error)) << c.Name << ": " << doc->GetParseError().toStdString();
    EXPECT_FALSE(doc->GetModified());
    ASSERT_NE(doc->GetDocumentElement(), nullptr) << c.Name;
    EXPECT_EQ(doc->GetDocumentElement()->GetNodeName(), "old") << c.Name;
  }
  EXPECT_FALSE(doc->Load(dir.filePath("none.xml")));
  EXPECT_TRUE(doc->GetParseError().startsWith("cannot open " + dir.filePath("none.xml")));
  const IXXMLNode old = doc->GetDocumentElement();
  EXPECT_FALSE(doc->LoadXML("<a><b></a>"));
  EXPECT_EQ(doc->GetDocumentElement(), nullptr);
  EXPECT_EQ(old->GetNodeName(), "old"); // wrappers of the released tree stay valid
}

TEST(Ixml, DocumentSaveKeepsItsOwnFormAndEncoding) {
  QTemporaryDir dir;
  IXXMLDocument doc = NewXMLDocument();
  ASSERT_TRUE(doc->LoadXML(QString::fromUtf16(u"<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<r>\n  <a>Яч€Ω</a>\n</r>")));
  doc->GetDocumentElement()->SetStrNode("b", "1");
  EXPECT_TRUE(doc->GetModified());
  const QString path = dir.filePath("s.xml");
  doc->Save(path);
  EXPECT_FALSE(doc->GetModified());
  EXPECT_EQ(LoadFileBytes(path).toStdString(), std::string("<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n"
                                            "<r><a>\xdf\xf7\x88&#937;</a><b>1</b></r>\r\n"));

  ASSERT_TRUE(doc->LoadXML("<r><a>\xd0\xaf</a></r>"));
  doc->Save(path);
  EXPECT_EQ(LoadFileBytes(path), QByteArray("<r><a>\xd0\xaf</a></r>\r\n"));
}

TEST(Ixml, StringListCommaTextFollowsTheStoredForm) {
  const struct {
    const char *In;
    QStringList Items;
    const char *Out;
  } cases[] = {
      {"a,b,c", {"a", "b", "c"}, "a,b,c"},
      {"a b", {"a", "b"}, "a,b"},
      {"\"x y\",\"q\"\"t\",", {"x y", "q\"t", ""}, "\"x y\",\"q\"\"t\","},
      {"  9600 , 19200", {"9600", "19200"}, "9600,19200"},
      {"", {}, ""},
  };
  for (const auto &c : cases) {
    TXStringList l(c.In);
    EXPECT_EQ(l.GetStrings(), c.Items) << c.In;
    EXPECT_EQ(l.GetCommaText(), c.Out) << c.In;
  }
  TXStringList one;
  one.Add("");
  EXPECT_EQ(one.GetCommaText(), "\"\"");
  one.SetText("a\r\nb\nc\r\n");
  one.Fill("z");
  EXPECT_EQ(one.GetText(), "z\r\nz\r\nz\r\n");
  EXPECT_THROW(one.GetString(3), EKvRange);
}

TEST(Ixml, SaveRoundTripKeepsLineBreaksAndMixedContent) {
  IXXMLDocument doc = NewXMLDocument();
  ASSERT_TRUE(doc->LoadXML("<r a=\"x&#10;y&#13;z&#9;w\">t1<b>in</b>t2<c><d>q&#13;r\nn</d><e><![CDATA[]]></e></c></r>"));
  // Line ends inside a loaded file are LF; a CR reaches the tree only this way.
  doc->GetDocumentElement()->SelectSingleNode("c/e/text()")->SetText("1\r\n2");
  const QByteArray first = FormatXMLDocument(doc);
  EXPECT_TRUE(first.contains("<d>q&#13;r\r\nn</d>")) << first.constData();
  EXPECT_TRUE(first.contains("<e><![CDATA[1]]>&#13;<![CDATA[\r\n2]]></e>")) << first.constData();
  IXXMLDocument back = NewXMLDocument();
  ASSERT_TRUE(back->LoadBytes(first)) << back->GetParseError().toStdString();
  const IXXMLNode r = back->GetDocumentElement();
  EXPECT_EQ(r->GetStrAttr("a", ""), "x\ny\rz\tw");
  EXPECT_EQ(r->GetStrNode("c/d"), "q\rr\nn");
  EXPECT_EQ(r->GetStrNode("c/e"), "1\r\n2");
  EXPECT_EQ(r->GetFirstChildText(), "t1");
  EXPECT_EQ(FormatXMLDocument(back), first);
}

TEST(Ixml, StringListFilesAreWin1251WithCrLf) {
  QTemporaryDir dir;
  const QString path = dir.filePath("l.txt");
  TXStringList l;
  l.Add(QString::fromUtf16(u"Уставка"));
  l.Add("b");
  l.SaveToFile(path);
  EXPECT_EQ(LoadFileBytes(path), QByteArray("\xd3\xf1\xf2\xe0\xe2\xea\xe0\r\nb\r\n"));
  TXStringList back;
  back.LoadFromFile(path);
  EXPECT_EQ(back.GetStrings(), l.GetStrings());
  EXPECT_THROW(back.LoadFromFile(dir.filePath("none.txt")), EKvError);
}
