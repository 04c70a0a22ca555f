#pragma once
// The window "Редактор меню": the menu tree beside the descriptor tree, with
// the editing commands of TMenuEditorCore. The program creates it at start-up
// and no command opens it; the image builder drives a core of its own.
#include "DDMenuEditor.h"

#include <QAction>
#include <QDialog>
#include <QStyle>
#include <map>
#include <vector>

class QLabel;
class QTableWidget;
class QTreeWidget;
class QTreeWidgetItem;

class TMenuEditor : public QDialog {
  Q_OBJECT
public:
  explicit TMenuEditor(QWidget *Parent = nullptr);

  // Loads a menu file; a file that cannot be read is shown through the message sink.
  void LoadFromFile(const QString &FileName);
  // Binds the descriptor and refills both trees and the system-event grid.
  // Throws EKvError "menu error" without a menu.
  void SetDescriptor(TDeviceDescriptor *Descriptor);
  uint16_t GetDateItemAddr() const { return FCore.GetDateItemAddr(); }
  TMenuEditorCore &Core() { return FCore; }

  QTreeWidget *TreeViewMenu = nullptr, *TreeViewDescriptor = nullptr;
  QLabel *LabelTemp = nullptr;
  QTableWidget *StringGridEvent = nullptr;
  QAction *ActionFileSave, *ActionInsertBlank, *ActionInsert, *ActionInsertUstavGroup, *ActionInsertEvent,
      *ActionInsertAlarm, *ActionEdit, *ActionDelete, *ActionMoveUp, *ActionMoveDown, *ActionCheck, *ActionLink;

  // Refills the menu tree from the document; Select (a node path) is selected afterwards.
  void FillMenuTree(const QString &Select = QString());
  // Recomputes which actions are enabled.
  void UpdateActions();

public slots:
  void reject() override;

protected:
  void closeEvent(QCloseEvent *Event) override;

private:
  TMenuEditorCore FCore;
  bool FUpdating = false;
  std::vector<IXXMLNode> FNodes;                            // the XML node of each menu tree item
  std::map<const TDescTreeNode *, QTreeWidgetItem *> FDescItems;

  QAction *MakeAction(const QString &Hint, const QString &Text, const QKeySequence &Key,
                      void (TMenuEditor::*Slot)());
  QAction *MakeAction(const QString &Hint, QStyle::StandardPixmap Icon, const QKeySequence &Key,
                      void (TMenuEditor::*Slot)());
  IXXMLNode NodeOf(QTreeWidgetItem *Item) const;
  QList<IXXMLNode> SelectedNodes() const;
  IXXMLNode SingleSelected() const;
  const TDescTreeNode *DescOf(QTreeWidgetItem *Item) const;
  void FillDescriptorTree();
  void FillEventGrid();
  void AddMenuItems(QTreeWidgetItem *Parent, const IXXMLNode &Node);
  bool AskClose();
  // Runs a command; its exception goes to the message sink.
  void Guarded(const std::function<void()> &Command);
  // Inserts under the single selected entry and selects the new one (null when none was made).
  IXXMLNode RunInsert(const std::function<IXXMLNode(const IXXMLNode &Target)> &Command);

  void FileSave();
  void InsertBlank();
  void Insert();
  void InsertUstavGroup();
  void InsertEvent();
  void InsertAlarm();
  void Edit();
  void Delete();
  void MoveUp();
  void MoveDown();
  void Check();
  void Link();
};
