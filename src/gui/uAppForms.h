#pragma once
// The forms the program creates at start, after the main window and in this
// order, each owned by the main window. Forms whose own unit is not part of
// the program yet are plain dialogs carrying their name, so that translation
// and placement find them where they will be.
#include <QDialog>
#include <QList>

class TAboutBox;
class TBitmapForm;
class TPasswdForm;
class TDashboardSetupForm;
class TDeviceboardSetupForm;
class TPropertyForm;
class TMenuEditor;
class TAppIniFile;
class TConfigMMSForm;
class TAgentClientForm;
class TModbustcpForm;
class TCustomParamIOForm;
class TCustomUstavForm;
class TPreferenceForm;
class TUnitPropertyForm;

struct TAppForms {
  QList<QDialog *> InOrder;
  TAboutBox *AboutBox = nullptr;
  TBitmapForm *BitmapForm = nullptr;
  TPasswdForm *PasswdForm = nullptr;
  TDashboardSetupForm *DashboardSetupForm = nullptr;
  TPropertyForm *PropertyForm = nullptr;
  TDeviceboardSetupForm *DeviceboardSetupForm = nullptr;
  TMenuEditor *MenuEditor = nullptr;
  TConfigMMSForm *ConfigMMSForm = nullptr;
  TAgentClientForm *AgentClientForm = nullptr;
  TModbustcpForm *ModbustcpForm = nullptr;
  TCustomParamIOForm *CustomParamIOForm = nullptr;
  TCustomUstavForm *CustomUstavForm = nullptr;
  TPreferenceForm *PreferenceForm = nullptr;
  TUnitPropertyForm *UnitPropertyForm = nullptr;

  // The form named Name ("OscValueForm"), or null.
  QDialog *Form(const QString &Name) const;
};

// Creates the 22 forms that follow the main window, parented to Owner; Ini
// holds the settings the forms read.
TAppForms CreateAppForms(QWidget *Owner, const TAppIniFile &Ini);
