#pragma once
// What the module property dialog shows of a schema module: its caption,
// line colour and both interface lists. The dialog changes nothing.
#include <QList>
#include <QStringList>

class TModule;
class TModuleProtertyForm;

// One row per interface slot: caption, id and gid of the block there, "-"
// for a slot without one. Output: the output interface, else the input one.
QList<QStringList> ModuleInterfaceRows(const TModule &Module, bool Output);
void FillPropertyForm(TModuleProtertyForm &Form, const TModule &Module);
