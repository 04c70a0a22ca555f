#pragma once
// The network target pickers: the Modbus TCP list read from a local XML file
// (this unit) and the agent's channels and units (uAgentClientForm). A click
// on a unit chooses host, port and unit and closes the dialog with OK;
// Escape cancels. Main thread only.
#include <QDialog>
#include <QString>

class QTreeWidget;
class QTreeWidgetItem;
class TAppIniFile;

// A chosen Modbus TCP target.
struct TNetworkTarget {
  QString Host;
  int Port = 0;
  int Unit = 0;
};

// What both pickers share: the tree (root "Agent", channels, units), the
// choice, and the refill each time the dialog is shown.
class TUnitPickerForm : public QDialog {
  Q_OBJECT
public:
  explicit TUnitPickerForm(QWidget *Parent);
  TNetworkTarget Target() const { return FTarget; }
  // Empties the tree and fills it anew. Throws the reader's errors; what was
  // read before a failure stays.
  virtual void Fill() = 0;

  QTreeWidget *TreeView = nullptr;

protected:
  void showEvent(QShowEvent *Event) override;
  QTreeWidgetItem *NewRoot();
  // A channel item keeps its host and its port (or COM number) with it.
  static QTreeWidgetItem *NewChannel(QTreeWidgetItem *Root, const QString &Caption, const QString &Host, int Port);
  static QTreeWidgetItem *NewUnit(QTreeWidgetItem *Channel, const QString &Caption, int Unit);
  // The target of a unit item, from its channel's host and port.
  virtual TNetworkTarget TargetOf(const QString &Host, int Port, int Unit) const = 0;

private:
  void TreeViewClick(QTreeWidgetItem *Item);
  TNetworkTarget FTarget;
};

class TModbustcpForm : public TUnitPickerForm {
  Q_OBJECT
public:
  TModbustcpForm(QWidget *Parent, const TAppIniFile &Ini);
  // Reads the list file (modbustcp/filename, default "modbustcp.xml") in the
  // current folder. Throws EKvFormat when it cannot be read.
  void Fill() override;

protected:
  TNetworkTarget TargetOf(const QString &Host, int Port, int Unit) const override { return {Host, Port, Unit}; }

private:
  const TAppIniFile &FIni;
};
