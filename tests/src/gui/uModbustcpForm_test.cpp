#include "uModbustcpForm.h"

#include "uAgentClient.h"
#include "uAgentClientForm.h"
#include "uAppIniFile.h"
#include "uConfigMMSForm.h"
#include "uErrors.h"
#include "uFiles.h"
#include "../../common/uErrorOf.h"
#include "uSimAgent.h"

#include <QDir>
#include <QTemporaryDir>
#include <QAction>
#include <QToolBar>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {
// Captions of the tree, one line per item, indented by level.
QStringList Lines(QTreeWidget *Tree) {
  QStringList out;
  std::function<void(QTreeWidgetItem *, int)> walk = [&](QTreeWidgetItem *Item, int Level) {
    out << QString(Level * 2, ' ') + Item->text(0);
    for (int i = 0; i < Item->childCount(); ++i)
      walk(Item->child(i), Level + 1);
  };
  for (int i = 0; i < Tree->topLevelItemCount(); ++i)
    walk(Tree->topLevelItem(i), 0);
  return out;
}

QTreeWidgetItem *Find(QTreeWidget *Tree, const QString &Caption) {
  const QList<QTreeWidgetItem *> found = Tree->findItems(Caption, Qt::MatchExactly | Qt::MatchRecursive);
  return found.isEmpty() ? nullptr : found.first();
}

class Pickers : public ::testing::Test {
protected:
  void SetUp() override {
    FOld = QDir::currentPath();
    QDir::setCurrent(Dir.path());
  }
  void TearDown() override { QDir::setCurrent(FOld); }
  const TAppIniFile &Ini(const QString &Text) {
    SaveFileBytes(Dir.filePath("kv.ini"), Text.toUtf8());
    FIni = std::make_unique<TAppIniFile>(Dir.filePath("kv.ini"));
    return *FIni;
  }
  QTemporaryDir Dir;

private:
  QString FOld;
  std::unique_ptr<TAppIniFile> FIni;
};
} // namespace

TEST_F(Pickers, ModbusTcpListHidesChannelsWithoutPortAndGivesTheChosenTarget) {
  SaveFileBytes(Dir.filePath("targets.xml"), R"(<list>
    <channel host="10.0.0.9" comment="no port"><unit addr="1" comment="hidden"/></channel>
    <channel host="127.0.0.1" port="502" comment="c"><unit addr="7" comment="Feeder 7"/></channel>
    <channel host="::1" port="503" comment="v6"><unit addr="3" comment="x"/></channel></list>)");
  TModbustcpForm form(nullptr, Ini("[modbustcp]\nfilename=targets.xml\n"));
  form.Fill();
  EXPECT_EQ(Lines(form.TreeView),
            QStringList({"Agent", "  127.0.0.1:502 - c", "    7 - Feeder 7", "  ::1:503 - v6", "    3 - x"}));
  emit form.TreeView->itemClicked(Find(form.TreeView, "127.0.0.1:502 - c"), 0); // a channel is no choice
  EXPECT_EQ(form.result(), 0);
  emit form.TreeView->itemClicked(Find(form.TreeView, "7 - Feeder 7"), 0);
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_EQ(form.Target().Host, "127.0.0.1");
  EXPECT_EQ(form.Target().Port, 502);
  EXPECT_EQ(form.Target().Unit, 7);
  emit form.TreeView->itemClicked(Find(form.TreeView, "3 - x"), 0);
  EXPECT_EQ(form.Target().Host, "::1");
  EXPECT_EQ(form.Target().Port, 503);
}

TEST_F(Pickers, AgentListsServedChannelsAndGivesPortBasePlusComMinusOne) {
  TSimAgent agent;
  agent.Channels = {{1, 3, QStringLiteral("Left bus")}, {2, 0, QStringLiteral("off")}};
  agent.Units = {{1, QStringLiteral("Relay A"), 5}, {2, QStringLiteral("Ghost"), 7}, {9, QStringLiteral("Orphan"), 1}};
  agent.Start();
  TAgentClientForm form(nullptr, Ini("[agentd]\nurl=" + agent.BaseUrl() + "\nhost=relay-gw\n"));
  form.Fill();
  EXPECT_EQ(Lines(form.TreeView), QStringList({"Agent", "  COM3 - Left bus", "    5 - Relay A"}));
  emit form.TreeView->itemClicked(Find(form.TreeView, "5 - Relay A"), 0);
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_EQ(form.Target().Host, "relay-gw");
  EXPECT_EQ(form.Target().Port, 2012);
  EXPECT_EQ(form.Target().Unit, 5);
}

TEST_F(Pickers, ModbusTcpListThatDoesNotLoadIsNamedOnce) {
  const struct {
    const char *Bytes; // null: no file
    const char *Reason;
  } cases[] = {{nullptr, "Нет списка устройств Modbus TCP: "}, {"<list><channel", ""}};
  for (const auto &c : cases) {
    QFile::remove(Dir.filePath("modbustcp.xml"));
    if (c.Bytes)
      SaveFileBytes(Dir.filePath("modbustcp.xml"), c.Bytes);
    TModbustcpForm form(nullptr, Ini(""));
    const QString error = ErrorOf([&] { form.Fill(); });
    EXPECT_EQ(error.count("modbustcp.xml"), 1) << error.toStdString();
    EXPECT_TRUE(error.contains(QString::fromUtf8(c.Reason))) << error.toStdString();
  }
}

TEST_F(Pickers, SilentAgentEndsWithTimeoutAndNoItems) {
  TSimAgent agent;
  agent.Silent = true;
  agent.Start();
  TAgentClientForm form(nullptr, Ini("[agentd]\nurl=" + agent.BaseUrl() + "\n"));
  form.Client().SetTimeoutMs(300);
  EXPECT_THROW(form.Fill(), EKvTimeout);
  EXPECT_EQ(Lines(form.TreeView), QStringList{"Agent"});
}

TEST_F(Pickers, MmsViewerWalksTheMetaTreeOverTheData) {
  SaveFileBytes(Dir.filePath("meta.xml"), R"(<meta>
    <tree type="device-descriptor"><node caption="Device" path="">
      <node caption="?" path="param/param-num" captionpath="string"/>
      <node caption="Made" path="made" autoCreate="1"/>
      <node caption="Deep" path="a/b" autoCreate="1"/></node></tree>
    <tree type="mms"><node caption="LD" path="ld" captionpath="@name"/></tree></meta>)");
  SaveFileBytes(Dir.filePath("DeviceDescriptor.xml"),
                "<device-descriptor><param><param-num><string>Ia</string></param-num>"
                "<param-num><string>Ib</string></param-num></param></device-descriptor>");
  SaveFileBytes(Dir.filePath("mms.xml"), R"(<mms><ld name="LD0"/><ld name="LD1"/></mms>)");
  TConfigMMSForm form(nullptr);
  form.Fill();
  // The empty path stays on the same data node; a plain name is created, a
  // path is not.
  EXPECT_EQ(Lines(form.TreeViewDesc), QStringList({"Device", "  Ia", "  Ib", "  Made"}));
  EXPECT_EQ(Lines(form.TreeViewMMS), QStringList({"LD0", "LD1"}));
  // A button without a command shows no internal name.
  for (QToolBar *bar : {form.ToolBar1, form.ToolBar2})
    for (QAction *a : bar->actions())
      EXPECT_TRUE(a->text().isEmpty() ? !a->isEnabled()
                                      : a->text() != a->objectName() && !a->text().startsWith("ToolButton"))
          << a->objectName().toStdString();
}
