#include "uAppForms.h"

#include "uAboutBox.h"
#include "uDashboardSetupForm.h"
#include "uOscSetupForm.h"
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

TAppForms CreateAppForms(QWidget *Owner) {
  TAppForms f;
  f.AboutBox = new TAboutBox(Owner);
  f.InOrder << f.AboutBox << NewShell(Owner, "BitmapForm");
  f.DashboardSetupForm = new TDashboardSetupForm(Owner);
  f.InOrder << f.DashboardSetupForm;
  for (const char *name : {"DeviceboardSetupForm", "OscNoteForm"})
    f.InOrder << NewShell(Owner, name);
  f.InOrder << new TOscSetupForm(Owner);
  for (const char *name : {"OscValueForm", "PreferenceForm", "DDUstavBitForm", "OKBottomDlg", "CustomParamIOForm",
                           "CustomUstavForm", "LabelEditForm", "ParamListForm", "UnitPropertyForm", "UstavListForm"})
    f.InOrder << NewShell(Owner, name);
  f.PasswdForm = new TPasswdForm(Owner);
  f.PropertyForm = NewShell(Owner, "PropertyForm");
  f.InOrder << f.PasswdForm << f.PropertyForm;
  for (const char *name : {"MenuEditor", "ConfigMMSForm", "AgentClientForm", "ModbustcpForm"})
    f.InOrder << NewShell(Owner, name);
  return f;
}
