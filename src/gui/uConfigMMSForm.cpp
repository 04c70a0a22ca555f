#include "uConfigMMSForm.h"

#include "uErrors.h"
#include "uFiles.h"
#include "uMessageSink.h"

#include <QAction>
#include <QDir>
#include <QRegularExpression>
#include <QSplitter>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
IXXMLDocument LoadDocument(const char *Name) {
  const QString path = ResolveFileNameCI(QDir::currentPath(), QString::fromLatin1(Name));
  IXXMLDocument doc = NewXMLDocument();
  if (!doc->Load(path))
    throw EKvFormat(path + QStringLiteral(": ") + doc->GetParseError());
  return doc;
}

// The first item is expanded, with all its children when All.
void Draw(QTreeWidget *Tree, const IXXMLDocument &Meta, const char *Type, const IXXMLDocument &Data, bool All) {
  Tree->clear();
  const IXXMLNode tree = Meta->GetDocumentElement()->SelectSingleNode(QStringLiteral("tree[@type=\"%1\"]").arg(Type));
  if (!tree)
    return;
  TConfigMMSForm::Walk(Tree, tree, Data->GetDocumentElement(), nullptr);
  QTreeWidgetItem *first = Tree->topLevelItem(0);
  if (first && All)
    Tree->expandRecursively(Tree->indexFromItem(first));
  else if (first)
    first->setExpanded(true);
}
} // namespace

TConfigMMSForm::TConfigMMSForm(QWidget *Parent) : QDialog(Parent) {
  setObjectName("ConfigMMSForm");
  setWindowTitle(QStringLiteral("Конфигурация MMS"));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  auto *layout = new QVBoxLayout(this);
  ToolBar2 = new QToolBar(this);
  ToolBar2->setObjectName("ToolBar2");
  // Three buttons with no command yet: kept in their places, named for the
  // code only, and showing nothing that would read as a command.
  for (int i = 0; i < 3; ++i) {
    QAction *unassigned = ToolBar2->addAction(QString());
    unassigned->setObjectName(QStringLiteral("ToolButton%1").arg(i + 1));
    unassigned->setEnabled(false);
  }
  layout->addWidget(ToolBar2);
  Splitter1 = new QSplitter(this);
  Splitter1->setObjectName("Splitter1");
  TreeViewMMS = new QTreeWidget(Splitter1);
  TreeViewMMS->setObjectName("TreeViewMMS");
  TreeViewDesc = new QTreeWidget(Splitter1);
  TreeViewDesc->setObjectName("TreeViewDesc");
  TreeViewDesc->setSelectionMode(QAbstractItemView::ExtendedSelection);
  for (QTreeWidget *t : {TreeViewMMS, TreeViewDesc}) {
    t->setHeaderHidden(true);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
  }
  layout->addWidget(Splitter1, 1);
  ToolBar1 = new QToolBar(this);
  ToolBar1->setObjectName("ToolBar1");
  connect(ToolBar1->addAction(QStringLiteral("OK")), &QAction::triggered, this, &QDialog::accept);
  connect(ToolBar1->addAction(QStringLiteral("Отмена")), &QAction::triggered, this, &QDialog::reject);
  layout->addWidget(ToolBar1);
  resize(800, 560);
}

void TConfigMMSForm::Walk(QTreeWidget *Tree, const IXXMLNode &Meta, const IXXMLNode &Data, QTreeWidgetItem *Parent) {
  static const QRegularExpression plainName(QStringLiteral("^[A-Za-z_][A-Za-z0-9_.-]*$"));
  const IXXMLNodeList nodes = Meta->SelectNodes(QStringLiteral("node"));
  for (int i = 0; i < nodes->GetCount(); ++i) {
    const IXXMLNode meta = nodes->GetItem(i);
    const QString path = meta->GetStrAttr(QStringLiteral("path"), QString());
    const QString caption = meta->GetStrAttr(QStringLiteral("caption"), QString());
    const QString captionPath = meta->GetStrAttr(QStringLiteral("captionpath"), QString());
    auto newItem = [&](const QString &Text) {
      return Parent ? new QTreeWidgetItem(Parent, {Text}) : new QTreeWidgetItem(Tree, {Text});
    };
    if (path.isEmpty()) {
      Walk(Tree, meta, Data, newItem(caption));
      continue;
    }
    if (meta->GetIntAttr(QStringLiteral("autoCreate"), 0) != 0 && plainName.match(path).hasMatch() &&
        !Data->SelectSingleNode(path))
      Data->AddChild(path);
    const IXXMLNodeList selected = Data->SelectNodes(path);
    for (int k = 0; k < selected->GetCount(); ++k) {
      const IXXMLNode data = selected->GetItem(k);
      Walk(Tree, meta, data, newItem(captionPath.isEmpty() ? caption : data->GetStrNodeDef(captionPath, QString())));
    }
  }
}

void TConfigMMSForm::Fill() {
  FMeta = LoadDocument(MMSFiles::Meta);
  FDescriptor = LoadDocument(MMSFiles::Descriptor);
  Draw(TreeViewDesc, FMeta, "device-descriptor", FDescriptor, true);
  FMapping = LoadDocument(MMSFiles::Mapping);
  Draw(TreeViewMMS, FMeta, "mms", FMapping, false);
}

void TConfigMMSForm::showEvent(QShowEvent *Event) {
  QDialog::showEvent(Event);
  try {
    Fill();
  } catch (const EKvError &e) {
    ShowErrorText(e.Text());
  }
}

void TConfigMMSForm::resizeEvent(QResizeEvent *Event) {
  QDialog::resizeEvent(Event);
  Splitter1->setSizes({width() / 2, width() - width() / 2});
}
