#include "uAgentClientForm.h"

#include "uAgentClient.h"
#include "uAppIniFile.h"

#include <QTreeWidget>

TAgentClientForm::TAgentClientForm(QWidget *Parent, const TAppIniFile &Ini)
    : TUnitPickerForm(Parent),
      FClient(std::make_unique<TAgentClient>(
          Ini.ReadString(AgentKeys::Section, AgentKeys::Url, QString::fromLatin1(AgentKeys::DefaultUrl)))),
      FHost(Ini.ReadString(AgentKeys::Section, AgentKeys::Host, QString::fromLatin1(AgentKeys::DefaultHost))),
      FPortBase(Ini.ReadInteger(AgentKeys::Section, AgentKeys::Port, AgentKeys::DefaultPort)) {
  setObjectName("AgentClientForm");
}

TAgentClientForm::~TAgentClientForm() = default;

TNetworkTarget TAgentClientForm::TargetOf(const QString &, int Port, int Unit) const {
  return {FHost, Port + FPortBase - 1, Unit};
}

void TAgentClientForm::Fill() {
  QTreeWidgetItem *root = NewRoot();
  const IXXMLNodeList channels =
      FClient->Get(QString::fromLatin1(AgentKeys::ChannelQuery))->GetDocumentElement()->SelectNodes("//array/object");
  const IXXMLNodeList units =
      FClient->Get(QString::fromLatin1(AgentKeys::UnitQuery))->GetDocumentElement()->SelectNodes("//array/object");
  for (int i = 0; i < channels->GetCount(); ++i) {
    const IXXMLNode ch = channels->GetItem(i);
    const int port = ch->GetIntNodeDef(QStringLiteral("value[@name=\"port\"]"), 0);
    if (port == 0)
      continue;
    QTreeWidgetItem *item = NewChannel(
        root, QStringLiteral("COM%1 - %2").arg(port).arg(ch->GetStrNode(QStringLiteral("value[@name=\"comment\"]"))),
        FHost, port);
    const QString id = ch->GetStrNode(QStringLiteral("value[@name=\"id\"]"));
    for (int u = 0; u < units->GetCount(); ++u) {
      const IXXMLNode unit = units->GetItem(u);
      if (unit->GetStrNode(QStringLiteral("value[@name=\"channelID\"]")) != id)
        continue;
      const QString addr = unit->GetStrNode(QStringLiteral("value[@name=\"com_address\"]"));
      NewUnit(item, addr + QStringLiteral(" - ") + unit->GetStrNode(QStringLiteral("value[@name=\"name\"]")),
              unit->GetIntNodeDef(QStringLiteral("value[@name=\"com_address\"]"), 0));
    }
  }
  TreeView->expandAll();
}
