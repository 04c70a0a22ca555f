#pragma once
// What the Параметры and Уставки pages share on the main window's side: one
// grid filling the page and the run-time descriptor the page was given.
#include "ixml.h"
#include "uIOChain3.h"

#include <QBuffer>
#include <QWidget>
#include <functional>

class QDialog;
class TAppIniFile;
class TStringGrid;

// What a grid page needs of the main window, given once at start-up.
struct TGridPageHost {
  TIOChainGen *Chains = nullptr;
  // The progress of the page's chains (the main window's progress bar).
  TChainProgressEvent Progress;
  // The settings file (param/directEdit, ustav/...).
  const TAppIniFile *Ini = nullptr;
  // The password step before a write: true when the user may write now.
  std::function<bool()> RequestUserRights;
  // The program's bit-mask dialog ("strings", "value").
  QDialog *BitmapForm = nullptr;
  // A message box shown once the current chain step has returned.
  std::function<void(const QString &Text)> ShowMessageStep;
};

// The request and data streams of one chain: each chain of a page has its
// own, held by the chain's local steps, so a chain started while another
// runs never mixes their registers.
struct TChainStreams {
  QBuffer Request, Data;
  TChainStreams() {
    for (QBuffer *buf : {&Request, &Data})
      buf->open(QIODevice::ReadWrite);
  }
};

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
  void SetHost(TGridPageHost Host) { FHost = std::move(Host); }
  const TGridPageHost &Host() const { return FHost; }

protected:
  // The identification epoch of the host's chains now (0 without chains):
  // what an edit is prepared under.
  uint64_t IdentEpoch() const { return FHost.Chains ? FHost.Chains->IdentEpoch() : 0; }
  // Owned by the page as its Qt child.
  TStringGrid *const FGrid;
  TGridPageHost FHost;

private:
  IXXMLNode FRoot;
};
