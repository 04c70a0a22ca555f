// A logic package loaded whole: each member checked for what it must be,
// the first that is not named with its reason, and the identifier list in
// place before the load kept.
#include <gtest/gtest.h>

#include "../custom_logic_test_util.h"
#include "uLogicFiles.h"
#include "uModbusIderList.h"

#include <QRegularExpression>

namespace {

QString LoadError(const QString &Folder) {
  try {
    LoadLogicFiles(Folder, Folder);
  } catch (const ELogicMember &e) {
    return e.InProject("p.pack");
  } catch (const EKvError &e) {
    return "not a member's: " + e.Text();
  }
  return "no error";
}

// Bytes with their document element renamed Root.
QByteArray Renamed(const QByteArray &Bytes, const QString &Root) {
  QString text = QString::fromLatin1(Bytes);
  const QRegularExpressionMatch m = QRegularExpression(R"(<([A-Za-z][-\w]*))").match(text, text.indexOf("?>") + 1);
  const QString old = m.captured(1);
  text.replace(m.capturedStart(1), old.size(), Root);
  const qsizetype end = text.lastIndexOf("</" + old + ">");
  if (end >= 0)
    text.replace(end + 2, old.size(), Root);
  return text.toLatin1();
}

} // namespace

// The library's root and the custom logic's may have any name; the custom
// logic keeps the root of the device's initial one.
TEST(LogicFiles, RootsOfAnyNameOpenWhereTheCustomPairAgrees) {
  TLogicPackage pkg;
  const QString dir = pkg.D.Dir.path();
  const struct {
    const char *Config, *Initial, *Custom;
    QString Expected;
  } cases[] = {
      {"library", "custom-logic", "custom-logic", "no error"},
      {"config", "module", "module", "no error"},
      {"config", "module", "custom-logic", "p.pack: custom-logic.xml: invalid root element: custom-logic"},
      {"config", "custom-logic", "module", "p.pack: custom-logic.xml: invalid root element: module"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Expected.toStdString());
    for (const auto &[member, root] : {std::pair{"config.xml", c.Config}, std::pair{"custom-logic0.xml", c.Initial},
                                       std::pair{"custom-logic.xml", c.Custom}})
      SaveFileBytes(pkg.D.Dir.filePath(member), Renamed(pkg.File(member), root));
    EXPECT_EQ(LoadError(dir), c.Expected);
  }
}

TEST(LogicFiles, EachMemberMustBeWhatItsLoaderReads) {
  TLogicPackage pkg;
  const QString dir = pkg.D.Dir.path();
  const TLoadedLogic whole = LoadLogicFiles(dir, dir);
  ASSERT_TRUE(whole.Module && whole.Configurator && whole.CustomDoc);
  EXPECT_EQ(whole.CustomDoc->GetDocumentElement()->GetNodeName(), "custom-logic");
  const uint32_t listBefore = ModbusIderList()->FSourceCrc;

  const QString unit = QString("<custom-logic><module orgid='%1'><implementation><y/></implementation></module>"
                               "</custom-logic>")
                           .arg(pkg.CustomId);
  const struct {
    const char *Member;
    QByteArray Content;
    QString Expected;
  } cases[] = {
      {"config.xml", "<x/>", "p.pack: config.xml: нет элемента group"},
      {"config.xml", "<config><group/><module/></config>", "p.pack: config.xml: нет элемента sample"},
      {"identification.inc", "MODBUSMASS:\r\nEND_MODBUS:\r\n", "p.pack: identification.inc: Не задан адрес"},
      {"logic.xml", "<module><implementation>", "p.pack: logic.xml: invalid logic"},
      {"logic.xml", "<x/>", "p.pack: logic.xml: invalid root element: x"},
      {"logic.xml", "<module><implementation/></module>", "p.pack: logic.xml: нет элемента device-descriptor"},
      {"custom-logic0.xml", "<x/>", "p.pack: custom-logic.xml: invalid root element: custom-logic"},
      {"custom-logic0.xml", "<x", "p.pack: custom-logic0.xml: invalid custom logic"},
      {"custom-logic.xml", "<x/>", "p.pack: custom-logic.xml: invalid root element: x"},
      {"custom-logic.xml", "<custom-logic>", "p.pack: custom-logic.xml: invalid custom logic"},
      {"custom-logic.xml", unit.toUtf8(), "p.pack: custom-logic.xml: invalid NodeName: y"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Content.toStdString());
    const QString path = pkg.D.Dir.filePath(c.Member);
    const QByteArray kept = LoadFileBytes(path);
    SaveFileBytes(path, c.Content);
    const QString error = LoadError(dir);
    SaveFileBytes(path, kept);
    // The listing's error goes on with the names of every missing address.
    EXPECT_EQ(error.left(c.Expected.size()), c.Expected);
    EXPECT_EQ(ModbusIderList()->FSourceCrc, listBefore);
  }
  // A member of another build fails the load after the listing changed: the
  // one in place before comes back.
  SaveFileBytes(pkg.D.Dir.filePath("identification.inc"), pkg.File("identification.inc") + "; another build\r\n");
  SaveFileBytes(pkg.D.Dir.filePath("custom-logic.xml"), "<x/>");
  EXPECT_EQ(LoadError(dir), "p.pack: custom-logic.xml: invalid root element: x");
  EXPECT_EQ(ModbusIderList()->FSourceCrc, listBefore);
}
