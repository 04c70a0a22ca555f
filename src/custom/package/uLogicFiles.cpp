#include "uLogicFiles.h"

#include "uConfigurator.h"
#include "uCustomBuild.h"
#include "uFiles.h"
#include "uModbusIderList.h"
#include "uSchemaDeviceDescriptor.h"
#include "uSchemaModule.h"

#include <functional>
#include <set>
#include <utility>

ELogicMember::ELogicMember(const QString &Member, const QString &Reason) : EKvFormat(Reason), FMember(Member) {}

QString ELogicMember::InProject(const QString &ProjectName) const {
  return QStringLiteral("%1: %2: %3").arg(ProjectName, FMember, Text());
}

TLoadedLogic::TLoadedLogic() = default;
TLoadedLogic::~TLoadedLogic() = default;
TLoadedLogic::TLoadedLogic(TLoadedLogic &&) noexcept = default;

namespace {

// Step's failure as a failure of Member.
void AsMember(const char *Member, const std::function<void()> &Step) {
  try {
    Step();
  } catch (const ELogicMember &) {
    throw;
  } catch (const std::exception &e) {
    throw ELogicMember(QString::fromLatin1(Member), QString::fromUtf8(e.what()));
  }
}

// The document element of Member. A file that does not parse gives
// Unreadable, or the parser's error after its path when that is null.
IXXMLNode RootOf(const QString &Folder, const char *Member, const char *Unreadable, IXXMLDocument &Doc) {
  Doc = NewXMLDocument();
  const QString path = ResolveFileNameCI(Folder, QString::fromLatin1(Member));
  if (!Doc->Load(path) || !Doc->GetDocumentElement())
    throw EKvFormat(Unreadable ? QString::fromUtf8(Unreadable) : path + QStringLiteral(": ") + Doc->GetParseError());
  return Doc->GetDocumentElement();
}

// The document element of Member, which must be named Root.
IXXMLNode RootNamed(const QString &Folder, const char *Member, const char *Unreadable, const QString &Root,
                    IXXMLDocument &Doc) {
  const IXXMLNode root = RootOf(Folder, Member, Unreadable, Doc);
  if (root->GetNodeName() != Root)
    throw EKvFormat(QStringLiteral("invalid root element: ") + root->GetNodeName());
  return root;
}

void Require(const IXXMLNode &Node, const char *Name) {
  if (!Node->SelectSingleNode(QString::fromLatin1(Name)))
    throw EKvFormat(QStringLiteral("нет элемента ") + QString::fromLatin1(Name));
}

// Every unit of a custom block of Base reads as the page and the build read
// it; a unit naming no such block is dropped when the page loads it.
void CheckUnits(const TModule &Base, const IXXMLNode &Root) {
  std::set<int> custom;
  for (const TAbstract *block : Base.AbstractList.Items())
    if (block->Custom)
      custom.insert(block->Id);
  const IXXMLNodeList units = Root->SelectNodes(QStringLiteral("module"));
  for (int i = 0; i < units->GetCount(); ++i) {
    const IXXMLNode node = units->GetItem(i);
    bool ok = false;
    const int orgid = node->GetStrAttr(QStringLiteral("orgid"), {}).toInt(&ok);
    if (!ok || !custom.count(orgid))
      continue;
    TModule unit(const_cast<TModule *>(&Base), 0);
    unit.LoadFromNode(node);
  }
}

} // namespace

TLoadedLogic LoadLogicFiles(const QString &Folder, const QString &ListingFolder) {
  TLoadedLogic out;
  // The library's root may have any name: its loader says what it misses under it.
  AsMember(CustomFiles::Config, [&] {
    IXXMLDocument doc;
    RootOf(Folder, CustomFiles::Config, nullptr, doc);
    out.Configurator = std::make_unique<TConfigurator>();
    out.Configurator->LoadFromFile(ResolveFileNameCI(Folder, CustomFiles::Config));
  });
  IXXMLNode logic;
  AsMember(CustomFiles::Logic, [&] {
    logic = RootNamed(Folder, CustomFiles::Logic, "invalid logic", QStringLiteral("module"), out.LogicDoc);
    Require(logic, "implementation");
    Require(logic, "device-descriptor");
  });
  // The identifier list the new logic's descriptor binds to is put in place
  // while it loads, and the one before it put back should anything fail.
  std::unique_ptr<TModbusIderList> previous;
  bool swapped = false;
  try {
    AsMember(CustomFiles::Identification, [&] {
      if (auto fresh = NewModbusIderListFor(ResolveFileNameCI(Folder, CustomFiles::Identification))) {
        previous = SwapModbusIderList(std::move(fresh));
        swapped = true;
      }
    });
    AsMember(CustomFiles::Logic, [&] {
      out.Module = std::make_unique<TModule>(nullptr, 1);
      out.Module->Root = true;
      out.Module->SetConfigurator(out.Configurator.get());
      out.Module->LoadFromNode(logic);
      if (!DeviceOf(out.Module->Descriptor.get()))
        throw EKvFormat(QStringLiteral("нет элемента device-descriptor"));
    });
    // The device's initial logic names the root its custom logic keeps,
    // whatever that name is; the custom logic must carry the same one.
    IXXMLDocument initial;
    QString rootName;
    AsMember(CustomFiles::CustomLogic0, [&] {
      const IXXMLNode root = RootOf(Folder, CustomFiles::CustomLogic0, "invalid custom logic", initial);
      rootName = root->GetNodeName();
      CheckUnits(*out.Module, root);
    });
    AsMember(CustomFiles::CustomLogic, [&] {
      CheckUnits(*out.Module,
                 RootNamed(Folder, CustomFiles::CustomLogic, "invalid custom logic", rootName, out.CustomDoc));
    });
    AsMember(CustomFiles::Identification, [&] { ModbusIderList()->WriteListing(ListingFolder); });
  } catch (...) {
    if (swapped)
      SwapModbusIderList(std::move(previous));
    throw;
  }
  return out;
}
