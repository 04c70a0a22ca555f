#include "uModbustcpForm.h"

#include "ixml.h"
#include "uAppIniFile.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uMessageSink.h"
#include "uMultiLingual.h"

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
constexpr int HostRole = Qt::UserRole + 1;
const char *const NoTargetListText = "Нет списка устройств Modbus TCP: %1";
} // namespace

TUnitPickerForm::TUnitPickerForm(QWidget *Parent) : QDialog(Parent) {
  setWindowTitle(QStringLiteral("Выбор устройства"));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  TreeView = new QTreeWidget(this);
  TreeView->setObjectName("TreeView");
  TreeView->setHeaderHidden(true);
  TreeView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(TreeView);
  connect(TreeView, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem *Item) { TreeViewClick(Item); });
  resize(360, 420);
}

void TUnitPickerForm::showEvent(QShowEvent *Event) {
  QDialog::showEvent(Event);
  try {
    Fill();
  } catch (const EKvError &e) {
    ShowErrorText(e.Text());
  }
}

QTreeWidgetItem *TUnitPickerForm::NewRoot() {
  TreeView->clear();
  auto *root = new QTreeWidgetItem(TreeView, {QStringLiteral("Agent")});
  return root;
}

QTreeWidgetItem *TUnitPickerForm::NewChannel(QTreeWidgetItem *Root, const QString &Caption, const QString &Host,
                                             int Port) {
  auto *item = new QTreeWidgetItem(Root, {Caption});
  item->setData(0, Qt::UserRole, Port);
  item->setData(0, HostRole, Host);
  return item;
}

QTreeWidgetItem *TUnitPickerForm::NewUnit(QTreeWidgetItem *Channel, const QString &Caption, int Unit) {
  auto *item = new QTreeWidgetItem(Channel, {Caption});
  item->setData(0, Qt::UserRole, Unit);
  return item;
}

void TUnitPickerForm::TreeViewClick(QTreeWidgetItem *Item) {
  // Only a unit (below a channel below the root) is a choice.
  if (!Item || !Item->parent() || !Item->parent()->parent())
    return;
  const QTreeWidgetItem *channel = Item->parent();
  FTarget = TargetOf(channel->data(0, HostRole).toString(), channel->data(0, Qt::UserRole).toInt(),
                     Item->data(0, Qt::UserRole).toInt());
  accept();
}

TModbustcpForm::TModbustcpForm(QWidget *Parent, const TAppIniFile &Ini) : TUnitPickerForm(Parent), FIni(Ini) {
  setObjectName("ModbustcpForm");
}

void TModbustcpForm::Fill() {
  QTreeWidgetItem *root = NewRoot();
  const QString name =
      ResolveFileNameCI(QDir::currentPath(), FIni.ReadString("modbustcp", "filename", QStringLiteral("modbustcp.xml")));
  // No list is no fault of a file: said in the interface's language, with the file it looked for.
  if (!QFileInfo::exists(name))
    throw EKvError(MultiLingual().Translate(QString::fromUtf8(NoTargetListText)).arg(QDir::toNativeSeparators(name)));
  IXXMLDocument doc = NewXMLDocument();
  if (!doc->Load(name)) {
    // A file that cannot be opened is named by the reason already; a broken one is named here.
    const QString why = doc->GetParseError();
    throw EKvFormat(why.contains(name) ? why : name + QStringLiteral(": ") + why);
  }
  const IXXMLNodeList channels = doc->GetDocumentElement()->SelectNodes(QStringLiteral("channel"));
  for (int i = 0; i < channels->GetCount(); ++i) {
    const IXXMLNode ch = channels->GetItem(i);
    const int port = ch->GetIntAttr(QStringLiteral("port"), 0);
    if (port == 0)
      continue;
    const QString host = ch->GetStrAttr(QStringLiteral("host"), QString());
    QTreeWidgetItem *item = NewChannel(
        root, QStringLiteral("%1:%2 - %3").arg(host).arg(port).arg(ch->GetStrAttr(QStringLiteral("comment"), QString())),
        host, port);
    const IXXMLNodeList units = ch->SelectNodes(QStringLiteral("unit"));
    for (int u = 0; u < units->GetCount(); ++u) {
      const IXXMLNode unit = units->GetItem(u);
      const int addr = unit->GetIntAttr(QStringLiteral("addr"), 0);
      NewUnit(item, QStringLiteral("%1 - %2").arg(addr).arg(unit->GetStrAttr(QStringLiteral("comment"), QString())),
              addr);
    }
  }
  TreeView->expandAll();
}
