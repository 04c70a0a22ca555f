#pragma once
// The agent's channels and units (its two data queries); a unit is reached by
// Modbus TCP at the agent host, port base + COM number - 1. Main thread only.
#include "uModbustcpForm.h"

#include <memory>

class TAgentClient;

class TAgentClientForm : public TUnitPickerForm {
  Q_OBJECT
public:
  // Reads agentd/url, agentd/host and agentd/port.
  TAgentClientForm(QWidget *Parent, const TAppIniFile &Ini);
  ~TAgentClientForm() override;
  // Asks the agent for its channels and units. Throws the client's errors;
  // the tree then holds nothing from the failing query.
  void Fill() override;
  TAgentClient &Client() { return *FClient; }

protected:
  TNetworkTarget TargetOf(const QString &Host, int Port, int Unit) const override;

private:
  std::unique_ptr<TAgentClient> FClient;
  QString FHost;
  int FPortBase = 0;
};
