#pragma once
// Shared by the schema tests: the project's function library, a stand-in for
// the device descriptor, and a message recorder.
#include "uConfigurator.h"
#include "uErrors.h"
#include "uSchemaDescriptor.h"
#include "uMessageSink.h"
#include "uSchemaModule.h"

#include "../../common/uErrorOf.h"

#include <QGuiApplication>
#include <QStringList>
#include <QTemporaryDir>
#include <array>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <ostream>

inline void PrintTo(const QString &S, std::ostream *Os) { *Os << '"' << S.toStdString() << '"'; }

// One application for the tests that paint or measure text. It goes when the
// tests end, before the program does: deleted only at exit, Qt's font caches
// would be left behind for the leak check.
class TGuiAppEnvironment : public ::testing::Environment {
public:
  static QGuiApplication *&App() {
    static QGuiApplication *app = nullptr;
    return app;
  }
  void TearDown() override {
    delete App();
    App() = nullptr;
  }
};

inline QGuiApplication &GuiApp() {
  static int argc = 1;
  static char name[] = "schema_test";
  static char *argv[] = {name, nullptr};
  if (!TGuiAppEnvironment::App()) {
    // Environments added while the tests run are still torn down after them.
    static const bool registered = (::testing::AddGlobalTestEnvironment(new TGuiAppEnvironment), true);
    (void)registered;
    TGuiAppEnvironment::App() = new QGuiApplication(argc, argv);
  }
  return *TGuiAppEnvironment::App();
}

inline QString ProjectConfigPath() { return QStringLiteral(KV_SOURCE_DIR "/tools/devsim/logic/config.xml"); }

inline TConfigurator &ProjectLibrary() {
  static TConfigurator *c = [] {
    auto *lib = new TConfigurator;
    lib->LoadFromFile(ProjectConfigPath());
    return lib;
  }();
  return *c;
}

// Channels per hardware kind; setpoints, parameters and events are numbered
// slots whose addresses stand for the descriptor's objects.
class TFakeDescriptor : public TSchemaDescriptor {
public:
  std::array<int, 6> Channels{0, 8, 4, 8, 8, 8};
  std::array<int, 64> Slots{};
  bool Modified = false;

  TFakeDescriptor() {
    for (int i = 0; i < 64; ++i)
      Slots[size_t(i)] = i;
  }
  int ChannelCount(int Kind) const override { return Channels.at(size_t(Kind)); }
  bool HasChannel(int Kind, int N) const override { return N >= 1 && N <= ChannelCount(Kind); }
  template <typename T> T *Slot(int I) const {
    return I >= 0 && I < 64 ? reinterpret_cast<T *>(const_cast<int *>(&Slots[size_t(I)])) : nullptr;
  }
  template <typename T> int Number(const T *P) const { return *reinterpret_cast<const int *>(P); }
  TDDUstav *FindUstavById(int I) const override { return Slot<TDDUstav>(I); }
  TDDParam *FindParamById(int I) const override { return Slot<TDDParam>(I); }
  TDDEvent *FindEventByNumber(int I) const override { return I > 0 ? Slot<TDDEvent>(I) : nullptr; }
  int UstavIder(const TDDUstav *U) const override { return Number(U); }
  int ParamIder(const TDDParam *P) const override { return Number(P); }
  int EventNumber(const TDDEvent *E) const override { return Number(E); }
  bool IsModified() const override { return Modified; }
  void SetModified(bool V) override { Modified = V; }
  void SaveToNode(const IXXMLNode &Node) override { Node->SetIntAttr("relays", Channels[2]); }
};

// Installs the stand-in's reader for the test's lifetime.
struct TFakeDescriptorReader {
  TSchemaDescriptorReader Previous;
  TFakeDescriptorReader() {
    Previous = SetSchemaDescriptorReader([](const IXXMLNode &Node) {
      auto d = std::make_shared<TFakeDescriptor>();
      d->Channels[2] = Node->GetIntAttr("relays", 4);
      return d;
    });
  }
  ~TFakeDescriptorReader() { SetSchemaDescriptorReader(Previous); }
};

struct TMessageRecorder {
  QStringList Texts;
  TMessageSink Previous;
  TMessageRecorder() {
    Previous = SetMessageSink([this](TMsgKind, const QString &T) {
      Texts << T;
      return TMsgResult::Ok;
    });
  }
  ~TMessageRecorder() { SetMessageSink(Previous); }
};

// A function block of the project's library added to M.
inline TElement *AddFunction(TModule &M, const QString &Id, int Left = 0, int Top = 0, int BlockId = 0) {
  auto *e = new TElement(&M, atDescriptor, BlockId, 0, nullptr, M.Descriptor.get(), ProjectLibrary().FindFunction(Id));
  e->SetRect({Left, Top, Left + 2, Top + e->Rect.Bottom});
  M.AbstractList.Add(e);
  return e;
}

inline TElement *AddElement(TModule &M, uint8_t Type, int Gid = 0, int Left = 0, int Top = 0) {
  auto *e = new TElement(&M, Type, 0, Gid, nullptr, M.Descriptor.get(), nullptr);
  e->SetRect({Left, Top, Left + 2, Top + 2});
  M.AbstractList.Add(e);
  return e;
}

inline TLink *AddLink(TModule &M, TAbstract *From, int FromPin, TAbstract *To, int ToPin) {
  auto *l = new TLink(&M, From, FromPin, To, ToPin);
  l->UpdateRoute();
  M.LinkList.Add(l);
  return l;
}

// A root module using the project's library.
inline std::unique_ptr<TModule> NewRoot() {
  auto m = std::make_unique<TModule>(nullptr, 1);
  m->Configurator = &ProjectLibrary();
  return m;
}
