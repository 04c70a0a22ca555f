// Folders that fight back, on small tmpfs mounts in a mount namespace of the
// test process (each test runs in a process of its own): a work folder and an
// oscillogram folder that are missing, read-only or full are named with the
// system's reason, and an oscillogram converted into a nearly full folder
// leaves no new file and an earlier pair as it was.
#include "uAppIniFile.h"
#include "uComtrade.h"
#include "uEventFrame.h"
#include "uFiles.h"
#include "uLogger.h"
#include "uMainForm.h"
#include "uMessageSink.h"
#include "uMultiLingual.h"
#include "uOscHeadFrame.h"
#include "uPlacement.h"
#include "uStatusText.h"
#include "uTextCodec.h"

#include "../src/gui/uDemoSession.h"
#include "../src/oscview/demoLink.h"
#include "privateMounts.h"

#include <QDir>
#include <QCheckBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <unistd.h>

namespace {

// Before main, while the process has one thread.
const std::string MountProblem = EnterPrivateMounts();

enum class TFault { Missing, ReadOnly, Full };
const char *FaultName(TFault F) { return F == TFault::Missing ? "missing" : F == TFault::ReadOnly ? "read-only" : "full"; }

// The mounts of this test, taken away before its temporary folders go.
struct TMounts {
  ~TMounts() {
    for (auto at = Points.rbegin(); at != Points.rend(); ++at)
      ::umount2(at->constData(), MNT_DETACH);
  }
  std::vector<QByteArray> Points;
};
TMounts *Mounts = nullptr;

// A tmpfs of Size at Where; Prepare fills it before a read-only one is made so.
bool MountTmpfs(const QString &Where, const char *Size, bool ReadOnly, const std::function<void()> &Prepare = {}) {
  QDir().mkpath(Where);
  const QByteArray at = QFile::encodeName(Where);
  const std::string opts = std::string("size=") + Size;
  if (::mount("tmpfs", at.constData(), "tmpfs", 0, opts.c_str()) != 0)
    return false;
  if (Mounts)
    Mounts->Points.push_back(at);
  if (Prepare)
    Prepare();
  return !ReadOnly || ::mount(nullptr, at.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

// Fills the file system of Folder up to the last byte, then frees Slack bytes.
void Fill(const QString &Folder, int Slack = 0) {
  const QByteArray slack = QFile::encodeName(Folder + "/.slack");
  if (Slack > 0) {
    const int fd = ::open(slack.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    const QByteArray zeros(Slack, '\0');
    EXPECT_EQ(::write(fd, zeros.constData(), size_t(Slack)), Slack);
    ::close(fd);
  }
  const int fd = ::open(QFile::encodeName(Folder + "/.filler").constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  const char block[4096] = {};
  for (size_t chunk = sizeof block; chunk > 0; chunk /= 2)
    while (::write(fd, block, chunk) == ssize_t(chunk)) {
    }
  ::close(fd);
  if (Slack > 0)
    ::unlink(slack.constData());
}

// Makes Folder (a path below Root) missing, read-only or full: a tmpfs at Root.
bool Spoil(const QString &Root, const QString &Folder, TFault Fault) {
  switch (Fault) {
  case TFault::Missing: return MountTmpfs(Root, "64k", true); // empty, and nothing can be made in it
  case TFault::ReadOnly: return MountTmpfs(Root, "64k", true, [&] { QDir().mkpath(Folder); });
  case TFault::Full:
    if (!MountTmpfs(Root, "64k", false))
      return false;
    QDir().mkpath(Folder);
    Fill(Root);
    return true;
  }
  return false;
}

const char *Reason(TFault F) {
  return F == TFault::Missing ? "No such file or directory" : F == TFault::ReadOnly ? "Read-only file system"
                                                                                    : "No space left on device";
}

class FolderFaults : public ::testing::Test {
protected:
  void SetUp() override {
    if (!MountProblem.empty())
      GTEST_SKIP() << "no mount namespace here (" << MountProblem << "): folder faults not tested";
    Mounts = &FMounts;
    FOldCurrent = QDir::currentPath();
    RegUseStoreFile(FDir.filePath("user.conf"));
    MultiLingual() = TMultiLingual();
    MultiLingual().Load(QString(KV_SOURCE_DIR) + "/src/resources");
    FOldSink = SetMessageSink([this](TMsgKind, const QString &Text) {
      Shown << Text;
      return TMsgResult::Ok;
    });
  }
  void TearDown() override {
    Mounts = nullptr;
    if (!MountProblem.empty())
      return;
    SetMessageSink(FOldSink);
    QDir::setCurrent(FOldCurrent);
  }
  std::unique_ptr<TMainForm> Make(const QString &Ini, const QString &Program) {
    const QString path = FDir.filePath("kv.ini");
    SaveFileBytes(path, ToWin1251(Ini));
    FIni = std::make_unique<TAppIniFile>(path);
    return std::make_unique<TMainForm>(*FIni, Program + "/");
  }

  QTemporaryDir FDir;
  TMounts FMounts; // after the folder: unmounted before it is removed
  QStringList Shown;

private:
  QString FOldCurrent;
  TMessageSink FOldSink;
  std::unique_ptr<TAppIniFile> FIni;
};

} // namespace

TEST_F(FolderFaults, WorkFolderThatIsMissingReadOnlyOrFullIsNamedWithTheReason) {
  for (TFault fault : {TFault::Missing, TFault::ReadOnly, TFault::Full}) {
    const QString root = FDir.filePath(QString("mnt-%1").arg(int(fault)));
    const QString work = root + "/work";
    ASSERT_TRUE(Spoil(root, work, fault)) << FaultName(fault) << ": " << std::strerror(errno);
    Shown.clear();
    auto w = Make("[setup]\ntemp=" + work + "\n", FDir.path());
    const bool started = w->FormShow();
    // Only a full folder lets the program run: the device can still be shown.
    EXPECT_EQ(started, fault == TFault::Full) << FaultName(fault);
    const QString expected = "Папка недоступна для записи: " + work + ": " + Reason(fault);
    EXPECT_EQ(Shown, QStringList{expected}) << FaultName(fault);
    EXPECT_FALSE(Logger().Lines().filter(expected).isEmpty()) << FaultName(fault);
    if (started)
      EXPECT_TRUE(w->close());
  }
}

TEST_F(FolderFaults, OscillogramFolderThatIsMissingReadOnlyOrFullIsNamedWithTheReason) {
  for (TFault fault : {TFault::Missing, TFault::ReadOnly, TFault::Full}) {
    // The program folder itself on the tmpfs when "osc" is to be missing.
    const QString program = FDir.filePath(QString("prog-%1").arg(int(fault)));
    const QString osc = program + "/osc";
    ASSERT_TRUE(Spoil(fault == TFault::Missing ? program : osc, osc, fault)) << FaultName(fault);
    auto w = Make("", program);
    const QString expected = "Папка недоступна для записи: " + osc + ": " + Reason(fault);
    EXPECT_EQ(w->StatusBar_->currentMessage(), expected) << FaultName(fault);
    EXPECT_FALSE(Logger().Lines().filter(expected).isEmpty()) << FaultName(fault);
  }
}

// The oscillogram list against the demo terminal, its program folder on a
// tmpfs of 2 MB: a record read whole, then read again into a folder left
// with 16 KB, room for the ".cfg" but not for the ".dat".
TEST_F(FolderFaults, ConversionIntoANearlyFullFolderLeavesNoNewFileAndTheOldPair) {
  TDemoLink L;
  TMounts mounts; // unmounted before the link's folder goes
  Mounts = &mounts;
  L.SetIni("[osc]\r\nreadEvent=0\r\nlimit=0\r\n");
  const QString program = L.Dir.filePath("prog");
  ASSERT_TRUE(MountTmpfs(program, "2m", false));
  Tkv2EventFrame events;
  TOscHeadFrame frame;
  int tabs = 0;
  events.SetHost({[&] { return L.Gen.get(); }, {}, {}, [] { return true; }, [&] { return L.Dir.path(); }});
  events.Init();
  events.SetDescriptor(L.Desc.Root);
  frame.SetHost({{[&] { return L.Gen.get(); }, {}, [&](const QString &Text) { L.Status << Text; }, [] { return true; },
                  [&] { return L.Dir.path(); }},
                 [&] { return program; },
                 [&] { return std::shared_ptr<const TEventLayout>(events.Layout()); },
                 [] { return false; },
                 [&](const QString &, const QString &, int, const QString &, const QString &) { ++tabs; },
                 {}});
  frame.Init();
  frame.SetDescriptor(&L.Desc);
  ASSERT_TRUE(L.Run([&] { frame.ReRead(); }));
  ASSERT_FALSE(frame.Heads().empty());
  frame.cbRead->setChecked(true);

  // Nothing there yet: a failed conversion leaves nothing.
  const QString base = QDir(program).filePath(frame.Heads()[0].FFileName);
  const QString osc = QFileInfo(base).absolutePath();
  QDir().mkpath(osc);
  Fill(program, 16 * 1024);
  ASSERT_TRUE(L.Run([&] { frame.sgOscHeadDblClick(1); }));
  EXPECT_FALSE(L.Status.filter("Не удалось сохранить " + base + ".dat: No space left on device").isEmpty())
      << L.Status.join("; ").toStdString();
  EXPECT_EQ(QDir(osc).entryList(QDir::Files | QDir::Hidden), QStringList{}) << "a new file is left";
  EXPECT_EQ(tabs, 0);

  // A pair saved whole, then the same record again into the nearly full folder.
  QFile::remove(program + "/.filler");
  ASSERT_TRUE(L.Run([&] { frame.sgOscHeadDblClick(1); }));
  ASSERT_EQ(tabs, 1) << L.Status.join("; ").toStdString();
  const QByteArray cfg = LoadFileBytes(base + ".cfg"), dat = LoadFileBytes(base + ".dat");
  const QStringList pair = QDir(osc).entryList(QDir::Files | QDir::Hidden);
  Fill(program, 16 * 1024);
  ASSERT_TRUE(L.Run([&] { frame.sgOscHeadDblClick(1); }));
  EXPECT_FALSE(L.Status.filter("No space left on device").isEmpty()) << L.Status.join("; ").toStdString();
  EXPECT_EQ(LoadFileBytes(base + ".cfg"), cfg);
  EXPECT_EQ(LoadFileBytes(base + ".dat"), dat);
  EXPECT_EQ(QDir(osc).entryList(QDir::Files | QDir::Hidden), pair);
  EXPECT_EQ(tabs, 1);

  // A folder with no block left is named before anything is written.
  Fill(program);
  ASSERT_TRUE(L.Run([&] { frame.sgOscHeadDblClick(1); }));
  EXPECT_FALSE(L.Status.filter("Папка недоступна для записи: " + osc + ": No space left on device").isEmpty())
      << L.Status.join("; ").toStdString();
  EXPECT_EQ(LoadFileBytes(base + ".dat"), dat);
}

// A work folder that cannot be written although its lock file can be opened
// (here a link to a file elsewhere): start-up stops with the folder and the
// reason, and the refusal is in the log.
TEST_F(FolderFaults, WorkFolderThatCannotBeWrittenStopsStartUpEvenWithItsLock) {
  const QString root = FDir.filePath("mnt-lock"), work = root + "/work";
  SaveFileBytes(FDir.filePath("locker-elsewhere.txt"), {});
  ASSERT_TRUE(MountTmpfs(root, "64k", true, [&] {
    QDir().mkpath(work);
    QFile::link(FDir.filePath("locker-elsewhere.txt"), work + "/locker.txt");
  }));
  // The box as the user reads it, in the language the program starts in.
  SetMessageSink([this](TMsgKind, const QString &Text) {
    Shown << ShownText(Text);
    return TMsgResult::Ok;
  });
  auto w = Make("[setup]\nlang=EN\ntemp=" + work + "\n", FDir.path());
  w->SetLogFile(FDir.filePath("kv.log"));
  EXPECT_FALSE(w->FormShow());
  EXPECT_EQ(Shown, QStringList{"Folder not writable: " + work + ": Read-only file system"});
  Logger().Close();
  EXPECT_TRUE(QString::fromUtf8(LoadFileBytes(FDir.filePath("kv.log")))
                  .contains(" ERROR Папка недоступна для записи: " + work + ": Read-only file system"));
}

// A full work folder: identification names the folder in the interface's
// language after the descriptor's first frame, every time, and never reads the
// rest of an image it could not keep.
TEST_F(FolderFaults, FullWorkFolderIsNamedAfterTheDescriptorsFirstFrame) {
  TDemoSession S;
  MultiLingual().Load(QString(KV_SOURCE_DIR) + "/src/resources");
  const QString root = S.Dir.filePath("mnt-full"), work = root + "/work";
  ASSERT_TRUE(Spoil(root, work, TFault::Full));
  S.Serve(false);
  ASSERT_TRUE(S.Open(QString("[setup]\ncustom=0\nprotocol=modbustcp\ntemp=%1\n[modbustcp]\nhost=127.0.0.1\nport=%2\n"
                             "[device]\npollPause=1000\n[com]\nTimeout=5000\n[debug]\npoll=0\n")
                         .arg(work)
                         .arg(S.Server->TcpPort())));
  const auto descriptorFrames = [&] {
    int n = 0;
    for (const QByteArray &pdu : S.Device.RequestLog())
      n += pdu.size() >= 2 && uint8_t(pdu[0]) == 0x1C && uint8_t(pdu[1]) == DemoDevice::DescriptorFileNo;
    return n;
  };
  const struct {
    const char *Lang, *Status;
  } runs[] = {{"RU", "Папка недоступна для записи: "}, {"EN", "Folder not writable: "}};
  for (const auto &r : runs) {
    SCOPED_TRACE(r.Lang);
    MultiLingual().SetLanguageCode(r.Lang);
    S.Device.ClearLogs();
    EXPECT_EQ(S.Identify(), r.Status + work + ": No space left on device");
    EXPECT_EQ(descriptorFrames(), 1);
  }
}
