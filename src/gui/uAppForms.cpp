#include "uAppForms.h"

#include "uAboutBox.h"
#include "DDMenuEditorForm.h"
#include "uBitmapForm.h"
#include "uAgentClientForm.h"
#include "uConfigMMSForm.h"
#include "uDashboardSetupForm.h"
#include "uDeviceboardSetup.h"
#include "uPropertyFormX.h"
#include "uOscNoteForm.h"
#include "uOscSetupForm.h"
#include "uOscValueForm.h"
#include "uPasswdForm.h"
#include "uPreferenceForm.h"
#include "uDDUstavBitForm.h"
#include "uLabelEditForm.h"
#include "uUstavListForm.h"
#include "uCustomParamIOForm.h"
#include "uCustomUstavForm.h"
#include "uUnitPropertyForm.h"

namespace {
QDialog *NewShell(QWidget *Owner, const char *Name) {
  auto *d = new QDialog(Owner);
  d->setObjectName(Name);
  return d;
}

// The schema block dialogs made once at start-up; the rest are still shells.
QDialog *NewAppForm(QWidget *Owner, const char *Name) {
  const QString name = QString::fromLatin1(Name);
  if (name == "DDUstavBitForm")
    return new TDDUstavBitForm(Owner);
  if (name == "OKBottomDlg")
    return new TOKBottomDlg(Owner);
  if (name == "LabelEditForm")
    return new TLabelEditForm(Owner);
  if (name == "ParamListForm")
    return new TParamListForm(Owner);
  if (name == "UstavListForm")
    return new TUstavListForm(Owner);
  return NewShell(Owner, Name);
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
  f.InOrder << new TOscNoteForm(Owner);
  f.InOrder << new TOscSetupForm(Owner) << new TOscValueForm(Owner);
  f.PreferenceForm = new TPreferenceForm(Owner);
  f.InOrder << f.PreferenceForm;
  for (const char *name : {"DDUstavBitForm", "OKBottomDlg"})
    f.InOrder << NewAppForm(Owner, name);
  f.CustomParamIOForm = new TCustomParamIOForm(Owner);
  f.CustomUstavForm = new TCustomUstavForm(Owner);
  f.InOrder << f.CustomParamIOForm << f.CustomUstavForm;
  for (const char *name : {"LabelEditForm", "ParamListForm"})
    f.InOrder << NewAppForm(Owner, name);
  f.UnitPropertyForm = new TUnitPropertyForm(Owner);
  f.InOrder << f.UnitPropertyForm << NewAppForm(Owner, "UstavListForm");
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
