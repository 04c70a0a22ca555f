#include "uAppForms.h"

#include "uAboutBox.h"
#include "DDMenuEditorForm.h"
#include "uBitmapForm.h"
#include "uAgentClientForm.h"
#include "uConfigMMSForm.h"
#include "uDashboardSetupForm.h"
#include "uDeviceboardSetup.h"
#include "uPropertyFormX.h"
#include "uOscSetupForm.h"
#include "uOscValueForm.h"
#include "uPasswdForm.h"

namespace {
QDialog *NewShell(QWidget *Owner, const char *Name) {
  auto *d = new QDialog(Owner);
  d->setObjectName(Name);
  return d;
}
} // namespace

QDialog *TAppForms::Form(const QString &Name) const {
  for (QDialog *d : InOrder)
    if (d->objectName() == Name)
      return d;
  return nullptr;
}

TAppForms CreateAppForms(QWidget *Owner, const TAppIniFile &Ini) {
  TAppForms f;
  f.AboutBox = new TAboutBox(Owner);
  f.BitmapForm = new TBitmapForm(Owner);
  f.InOrder << f.AboutBox << f.BitmapForm;
  f.DashboardSetupForm = new TDashboardSetupForm(Owner);
  f.InOrder << f.DashboardSetupForm;
  f.DeviceboardSetupForm = new TDeviceboardSetupForm(Owner);
  f.InOrder << f.DeviceboardSetupForm;
  f.InOrder << NewShell(Owner, "OscNoteForm");
  f.InOrder << new TOscSetupForm(Owner) << new TOscValueForm(Owner);
  for (const char *name : {"PreferenceForm", "DDUstavBitForm", "OKBottomDlg", "CustomParamIOForm",
                           "CustomUstavForm", "LabelEditForm", "ParamListForm", "UnitPropertyForm", "UstavListForm"})
    f.InOrder << NewShell(Owner, name);
  f.PasswdForm = new TPasswdForm(Owner);
  f.PropertyForm = new TPropertyForm(Owner);
  f.InOrder << f.PasswdForm << f.PropertyForm;
  f.MenuEditor = new TMenuEditor(Owner);
  f.InOrder << f.MenuEditor;
  f.ConfigMMSForm = new TConfigMMSForm(Owner);
  f.AgentClientForm = new TAgentClientForm(Owner, Ini);
  f.ModbustcpForm = new TModbustcpForm(Owner, Ini);
  f.InOrder << f.ConfigMMSForm << f.AgentClientForm << f.ModbustcpForm;
  return f;
}
