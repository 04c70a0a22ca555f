#pragma once
// Pages of the main window: a tab widget whose sheets carry a Tag (0 for the
// fixed pages, negative for the run-time ones), and closable run-time sheets
// with a close button on their tab. The button closes on release only when the
// pointer is still over it, as a push button does.
#include <QTabWidget>
#include <QWidget>
#include <functional>

class QAbstractButton;

// A page. Tag tells the main window what the page is.
class TTabSheet : public QWidget {
  Q_OBJECT
public:
  explicit TTabSheet(QWidget *Parent = nullptr) : QWidget(Parent) {}
  int Tag() const { return FTag; }
  void SetTag(int Value) { FTag = Value; }

private:
  int FTag = 0;
};

// A run-time page that the user closes with the button on its tab.
class TTabSheetClosable : public TTabSheet {
  Q_OBJECT
public:
  // Sender is the sheet on the first call and null on the second, made after
  // the sheet is gone (handlers that must act afterwards act on that one).
  using TCloseEvent = std::function<void(QObject *Sender)>;

  explicit TTabSheetClosable(QWidget *Parent = nullptr) : TTabSheet(Parent) {}
  void SetOnClose(TCloseEvent Handler) { FOnClose = std::move(Handler); }
  // Asked before the sheet goes (unsaved work asks the user); false keeps it.
  void SetCloseQuery(std::function<bool()> Query) { FCloseQuery = std::move(Query); }
  // True when the sheet may go: no query, or the query agrees.
  bool QueryClose() const { return !FCloseQuery || FCloseQuery(); }
  // Asked first, before any question: true puts the close off (a write of
  // the page runs and must not be cut); whoever put it off closes the sheet
  // again once it may go.
  using TCloseDelay = std::function<bool(TTabSheetClosable *Sheet)>;
  void SetCloseDelay(TCloseDelay Delay) { FCloseDelay = std::move(Delay); }

  // Asks the close delay, then QueryClose; when either keeps the sheet,
  // returns false and nothing changes. Otherwise calls OnClose with the
  // sheet, removes and frees the sheet, then calls the saved OnClose once
  // more without a sender, and returns true: the object is gone then.
  virtual bool CloseTab();

private:
  TCloseEvent FOnClose;
  std::function<bool()> FCloseQuery;
  TCloseDelay FCloseDelay;
};

// The main window's page control: reports inserted tabs to its helper.
class TPageControl : public QTabWidget {
  Q_OBJECT
public:
  explicit TPageControl(QWidget *Parent = nullptr) : QTabWidget(Parent) {}
  // The sheet at Index as a TTabSheet, or null.
  TTabSheet *Sheet(int Index) const { return qobject_cast<TTabSheet *>(widget(Index)); }
  TTabSheet *ActiveSheet() const { return qobject_cast<TTabSheet *>(currentWidget()); }

signals:
  void TabInserted(int Index);

protected:
  void tabInserted(int Index) override;
};

// Puts a close button on the tab of every TTabSheetClosable added to the page
// control (the fixed sheets get none). Owned by the page control.
class TPageControlHelper : public QObject {
  Q_OBJECT
public:
  explicit TPageControlHelper(TPageControl *PageControl);
  // The close button of the sheet's tab, or null (tests press it).
  QAbstractButton *CloseButton(QWidget *Sheet) const;
  // The close delay of every closable sheet, present and to come.
  void SetCloseDelay(TTabSheetClosable::TCloseDelay Delay);

private:
  void AttachButton(int Index);
  TPageControl *FPageControl;
  TTabSheetClosable::TCloseDelay FCloseDelay;
};
