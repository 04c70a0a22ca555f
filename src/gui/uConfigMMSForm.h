#pragma once
// The MMS configuration viewer: the device descriptor and the MMS mapping
// side by side, each drawn as a tree whose shape a meta file describes. It
// only displays. Main thread only.
#include "ixml.h"

#include <QDialog>

class QSplitter;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;

// File names, all in the current folder.
namespace MMSFiles {
inline const char *const Meta = "meta.xml";
inline const char *const Descriptor = "DeviceDescriptor.xml";
inline const char *const Mapping = "mms.xml";
} // namespace MMSFiles

class TConfigMMSForm : public QDialog {
  Q_OBJECT
public:
  explicit TConfigMMSForm(QWidget *Parent);
  // Loads the three files and draws both trees. Throws EKvFormat for a file
  // that cannot be read; the trees keep what was drawn before.
  void Fill();
  // Adds the items of the `node` children of Meta for the data node Data
  // under Parent (null: at the top of Tree). A `node` with `autoCreate` and a
  // plain element name as `path` adds that element to Data when it is absent.
  static void Walk(QTreeWidget *Tree, const IXXMLNode &Meta, const IXXMLNode &Data, QTreeWidgetItem *Parent);

  QTreeWidget *TreeViewMMS = nullptr, *TreeViewDesc = nullptr;
  QSplitter *Splitter1 = nullptr;
  QToolBar *ToolBar1 = nullptr, *ToolBar2 = nullptr;

protected:
  void showEvent(QShowEvent *Event) override;
  void resizeEvent(QResizeEvent *Event) override;

private:
  IXXMLDocument FMeta, FDescriptor, FMapping;
};
