#pragma once
// The files of a logic package ("config.xml", "identification.inc",
// "logic.xml", "custom-logic0.xml", "custom-logic.xml") loaded whole: each
// is checked for what it must be before anything of it is taken over, so a
// package with one wrong member leaves the page and its files as they were.
#include "ixml.h"
#include "uErrors.h"

#include <QString>
#include <memory>

class TConfigurator;
class TModule;

// A member of a logic package that is not what it must be: Member is its
// file name, the text the reason ("invalid logic", "invalid root element: x",
// the loader's own error).
class ELogicMember : public EKvFormat {
public:
  ELogicMember(const QString &Member, const QString &Reason);
  QString Member() const { return FMember; }
  // "<project>: <member>: <reason>", how a project load names it.
  QString InProject(const QString &ProjectName) const;

private:
  QString FMember;
};

// What a whole package loads into; the page takes it over.
struct TLoadedLogic {
  TLoadedLogic();
  ~TLoadedLogic();
  TLoadedLogic(TLoadedLogic &&) noexcept;
  std::unique_ptr<TConfigurator> Configurator;
  std::unique_ptr<TModule> Module; // the base logic, its descriptor and library set
  IXXMLDocument LogicDoc, CustomDoc;
};

// Loads the five files of Folder, in the order above: the library (a root
// of any name, the elements its loader requires), the identifier listing as
// the build reads it (it becomes the process-wide list, written as its
// listing into ListingFolder), the base logic (root "module" with
// "implementation" and "device-descriptor", read whole), the initial and the
// current custom logic (a root of any name, the same in both; each unit of a
// custom block read whole against the base logic). Throws ELogicMember for the first member that fails, the
// identifier list before the call back in place.
TLoadedLogic LoadLogicFiles(const QString &Folder, const QString &ListingFolder);
