#pragma once
// What the Параметры and Уставки pages share on the main window's side: one
// grid filling the page and the run-time descriptor the page was given.
#include "ixml.h"

#include <QWidget>

class TStringGrid;

class TDescriptorGridFrame : public QWidget {
  Q_OBJECT
public:
  // FrameName and GridName are the object names the forms' translation and
  // the tests find the page and its grid by. The grid has four columns under
  // one fixed title row.
  TDescriptorGridFrame(const QString &FrameName, const QString &GridName, QWidget *Parent);

  // Forgets the descriptor and the shown values (identification starts again).
  void Clear();
  // Keeps the root of the run-time descriptor.
  void SetDescriptor(const IXXMLNode &Root);
  const IXXMLNode &Descriptor() const { return FRoot; }

protected:
  // Owned by the page as its Qt child.
  TStringGrid *const FGrid;

private:
  IXXMLNode FRoot;
};
