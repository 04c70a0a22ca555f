#include "uDashboardSetupForm.h"

TDashboardSetupForm::TDashboardSetupForm(QWidget *Parent) : QDialog(Parent) { setObjectName("DashboardSetupForm"); }
