// IO chains against a fake device front: records are captured, answers are
// made here from the answer format and handed back through the front's delivery.
#include "chain_test_util.h"
#include <gtest/gtest.h>
#include <optional>

#include <QTemporaryDir>

#include "uDeviceIO.h"
#include "uLinkText.h"
#include "uLogger.h"

namespace {

struct IOChain3 : ::testing::Test {
  IOChain3() {
    App();
    Gen.setDeviceFront(&Front);
    Gen.setOnMessage([this](const QString &Text) { Messages << Text; });
  }
  ~IOChain3() override { Pump(); }
  TFakeFront Front; // declared first: chains unregister from it as they go
  TIOChainGen Gen;
  QStringList Messages;
  std::vector<std::array<int, 3>> Progress;
  TChainProgressEvent OnProgress = [this](int P, int M, uint32_t C) { Progress.push_back({P, M, int(C)}); };
};

} // namespace

class TPage : public QObject {
  Q_OBJECT
public:
  int Shown = 0;
  Q_INVOKABLE void ShowValues() { ++Shown; }
  Q_INVOKABLE void Needs(int) {}
};

TEST_F(IOChain3, EmptyChainSendsNothingAndIsDeletedLater) {
  TIOChainList3 &c = Gen.newList();
  c.run(OnProgress);
  EXPECT_TRUE(Front.Sent.empty());
  EXPECT_TRUE(c.IsEnded());
  EXPECT_EQ(Gen.ChainCount(), 1) << "not deleted on its own stack";
  Pump();
  EXPECT_EQ(Gen.ChainCount(), 0);
}

TEST_F(IOChain3, RegisterReadSendsAreaThenReadAndEndsInThePagesMethod) {
  TPage page;
  TIo io(Words({10, 11, 40}));
  Gen.newList()
      .msg("Чтение параметров")
      .readReg(io.In, io.Out)
      .execMethod(&page, "ShowValues")
      .msg("Готово")
      .run(OnProgress);
  EXPECT_EQ(Messages, QStringList{"Чтение параметров"});
  ASSERT_EQ(Front.Sent.size(), 2u);
  EXPECT_EQ(Front.Command(0), bcSelectArea);
  EXPECT_EQ(Front.Payload(0), Bytes({1}));
  EXPECT_EQ(Front.Command(1), bcReadRegisters);
  EXPECT_EQ(Front.Payload(1), Bytes({3, 10, 0, 11, 0, 40, 0}));
  Front.Answer(0, {});
  EXPECT_EQ(page.Shown, 0) << "the area selection's answer does not move the chain";
  Front.Answer(1, Bytes({3, 10, 0, 0x34, 0x12, 11, 0, 1, 0, 40, 0, 0xFF, 0xFF}));
  EXPECT_EQ(page.Shown, 1);
  EXPECT_EQ(io.Out.data(), Words({10, 0x1234, 11, 1, 40, 0xFFFF}));
  EXPECT_EQ(Messages, (QStringList{"Чтение параметров", "Готово"}));
  EXPECT_TRUE(Progress.empty());
  Pump();
  EXPECT_EQ(Gen.ChainCount(), 0);
}

TEST_F(IOChain3, LinkIsBusyWhileAChainRunsOrARecordIsOutstanding) {
  TIo io(Words({10}));
  Gen.newList().readReg(io.In, io.Out);
  EXPECT_FALSE(Gen.IsBusy()) << "a chain built but not run holds nothing";
  TIOChainList3 &paused = Gen.newList().msg("a").sleep(600000);
  paused.run();
  EXPECT_TRUE(Gen.IsBusy()) << "a chain in a pause holds the link";
  Gen.abort();
  EXPECT_TRUE(paused.IsEnded()) << "an abort ends a pause at once, even the chain's last step";
  EXPECT_EQ(Messages.last(), "Прервано");
  EXPECT_FALSE(Gen.IsBusy());

  TIOChainList3 &read = Gen.newList().readReg(io.In, io.Out);
  read.run();
  Front.Answer(0, {});
  Front.Answer(1, Bytes({1, 10, 0, 1, 0}));
  ASSERT_TRUE(read.IsEnded());
  Gen.newList().specCmd(ctSpecCmdOff).run();
  Gen.abort();
  Front.Answer(2, {});
  EXPECT_FALSE(Gen.IsBusy());
  // A chain that ended on an error may leave records behind it in the worker.
  Gen.newList().readReg(io.In, io.Out).run();
  Front.Answer(3, {}, 4);
  EXPECT_TRUE(Gen.IsBusy()) << "the read after the failed area selection is still under way";
  Front.Answer(4, {}, 4);
  EXPECT_FALSE(Gen.IsBusy());
}

TEST_F(IOChain3, RegisterListOfOddSizeIsRefusedWhenBuiltAndWhenRun) {
  TIo odd(Words({10}) + 'x');
  EXPECT_EQ(ErrorOf([&] { Gen.newList().readReg(odd.In, odd.Out); }), "register list of odd size: 3 bytes");
  EXPECT_EQ(ErrorOf([&] { Gen.newList().readSram(odd.In, odd.Out); }), "register list of odd size: 3 bytes");
  TIo io(Words({10}));
  TIOChainList3 &c = Gen.newList().readReg(io.In, io.Out);
  io.Data.append('x'); // filled between building and running, as the identification does
  EXPECT_EQ(ErrorOf([&] { c.run(); }), "register list of odd size: 3 bytes");
  EXPECT_TRUE(Front.Sent.empty());
  EXPECT_TRUE(c.IsEnded());
}

TEST_F(IOChain3, ReadsKeepSeveralRecordsOutAndStoreNothingOfAFailedOneOrThoseBehind) {
  // 127 registers a record: 11 of 127 and one of 3, at most ReadsInFlight
  // queued at a time. FailAt: the record whose answer fails (-1: none).
  constexpr int registers = 1400, records = 12, window = TIOChain3readReg::ReadsInFlight;
  for (const int failAt : {-1, 0, 5, 11}) {
    SCOPED_TRACE(failAt);
    TIo io;
    for (int i = 0; i < registers; ++i)
      io.Data += Words({i});
    const size_t first = Front.Sent.size() + 1; // behind the area selection
    int errors = 0;
    TIOChainList3 &c = Gen.newList().readReg(io.In, io.Out);
    c.setEvent(1, [&](TIOChain3 *, const QList<int> &) { ++errors; });
    c.run();
    for (int k = 0; k < records; ++k) {
      ASSERT_EQ(Front.Sent.size(), first + size_t(std::min(records, k + window))) << "records out after " << k;
      const QByteArray p = Front.Payload(first + size_t(k));
      const int count = k + 1 < records ? 127 : 3;
      ASSERT_EQ(uint8_t(p[0]), count);
      QByteArray answer(1, p[0]);
      for (int i = 0; i < count; ++i)
        answer += p.mid(1 + 2 * i, 2) + Bytes({7, 0});
      Front.Answer(first + size_t(k), answer, k == failAt ? 4 : 0);
      if (k == failAt)
        break;
    }
    // The answers behind a failure reach nobody.
    for (size_t k = first + size_t(failAt) + 1; failAt >= 0 && k < Front.Sent.size(); ++k)
      Front.Answer(k, Bytes({1, 0, 0, 9, 9}));
    const int stored = failAt < 0 ? registers : 127 * failAt;
    EXPECT_EQ(io.Out.size(), 4 * stored);
    if (stored > 0) {
      EXPECT_EQ(io.Out.data().mid(4 * (stored - 1)), Words({stored - 1, 7}));
    }
    EXPECT_EQ(errors, failAt < 0 ? 0 : 1);
    EXPECT_TRUE(c.IsEnded());
  }
}

TEST_F(IOChain3, AbortWhileWaitingEndsTheChainAtItsNextAnswer) {
  TAddrList found;
  TIOChain3 *abortedAt = nullptr;
  QList<int> abortArgs{-1};
  TIOChainList3 &c = Gen.newList().poll(5, found).msg("not reached");
  c.setEvent(0, [&](TIOChain3 *Step, const QList<int> &Args) {
    abortedAt = Step;
    abortArgs = Args;
  });
  c.run(OnProgress);
  TIOChain3 *waiting = c.Step(0);
  Gen.abort();
  TIOChainList3 &later = Gen.newList().msg("after the break");
  Front.Answer(0, Bytes({0x00, 0xFF, 0x00, 0xFF, 5, 0}));
  EXPECT_EQ(Messages, QStringList{"Прервано"});
  EXPECT_EQ(abortedAt, waiting);
  EXPECT_TRUE(abortArgs.isEmpty());
  ASSERT_EQ(Progress.size(), 1u);
  EXPECT_EQ(Progress[0], (std::array<int, 3>{100, 100, 0}));
  EXPECT_TRUE(found.isEmpty());
  EXPECT_TRUE(c.IsEnded());
  later.run();
  EXPECT_EQ(Messages.last(), "after the break") << "the break does not linger";
}

TEST_F(IOChain3, AbortBeforeALocalStepRaisesAndEndsTheChain) {
  int aborted = 0, ended = 0;
  TIOChainList3 &c = Gen.newList().msg("one");
  c.setEvent(0, [&](TIOChain3 *, const QList<int> &) { ++aborted; });
  c.setOnEnd([&] { ++ended; });
  Gen.abort();
  EXPECT_EQ(ErrorOf([&] { c.run(); }), "Прервано");
  EXPECT_EQ(aborted, 1);
  EXPECT_EQ(ended, 1);
  EXPECT_TRUE(Messages.isEmpty());
  EXPECT_TRUE(c.IsEnded());
}

TEST_F(IOChain3, DeviceErrorCallsTheErrorHandlerAndProtocolErrorDoesNot) {
  struct TCase {
    uint8_t Command;
    uint8_t Status;
    uint8_t Flag;
    const char *Text;
    int ErrorCalls;
  };
  const TCase cases[] = {
      {bcPoll, 4, 0, "Нет ответа от устройства", 1},
      {bcPoll, 5, 0, "Ошибка устройства 05", 1},
      {bcPoll, 0x40, 0, "Ошибка устройства 40", 1},
      {bcPoll, 0, 0x80, "Ошибка протокола 80", 0},
      // An unknown command comes back with its own code: the flag is checked first.
      {0x63, 0, 0x80, "Ошибка протокола 80", 0},
  };
  for (const TCase &t : cases) {
    Messages.clear();
    TAddrList found;
    int errors = 0;
    int ended = 0;
    TIOChainList3 &c = Gen.newList().poll(1, found).msg("not reached");
    c.setOnEnd([&] { ++ended; });
    c.setEvent(1, [&](TIOChain3 *Step, const QList<int> &Args) {
      ++errors;
      EXPECT_EQ(Step->FType, ctPoll);
      EXPECT_TRUE(Args.isEmpty());
    });
    c.run();
    QByteArray a = Front.Sent.back().mid(2, 18);
    a[16] = char(t.Command);
    Front.Deliver(a + char(t.Flag) + char(t.Status));
    EXPECT_EQ(Messages, QStringList{t.Text}) << t.Text;
    EXPECT_EQ(errors, t.ErrorCalls) << t.Text;
    EXPECT_EQ(ended, 1) << "the end handler runs whatever ended the chain";
    EXPECT_TRUE(c.IsEnded());
  }
}

TEST_F(IOChain3, ExceptionInAReplyEndsTheChainWithItsText) {
  TAddrList found;
  int errors = 0;
  TIOChainList3 &c = Gen.newList().poll(1, found).msg("not reached");
  c.setEvent(1, [&](TIOChain3 *, const QList<int> &) { ++errors; });
  c.run();
  Front.Answer(0, Bytes({0x00, 0xFE, 0x00, 0xFF, 1, 0}));
  EXPECT_EQ(Messages, QStringList{"invalid data"});
  EXPECT_EQ(errors, 0);
  EXPECT_TRUE(c.IsEnded());
  const QStringList lines = Logger().Lines();
  EXPECT_TRUE(
      std::any_of(lines.begin(), lines.end(), [](const QString &L) { return L.endsWith("ERROR invalid data"); }));
  const size_t sent = Front.Sent.size();
  Front.Answer(0, Bytes({0x00, 0xFF, 0x00, 0xFF, 1, 0}));
  EXPECT_EQ(Front.Sent.size(), sent) << "an answer to an ended chain is dropped";
  EXPECT_EQ(Messages.size(), 1);

  // Where the window says, the failure is logged there instead.
  QStringList edge;
  Gen.setOnStepFailure([&](const QString &Text) { edge << Text; });
  Logger().Clear();
  TIOChainList3 &d = Gen.newList().poll(1, found);
  d.run();
  Front.Answer(Bytes({0x00, 0xFE, 0x00, 0xFF, 1, 0}));
  EXPECT_EQ(edge, QStringList{"invalid data"});
  EXPECT_TRUE(Logger().Lines().filter("invalid data").isEmpty());
}

TEST_F(IOChain3, ConditionsChooseTheirBranch) {
  struct TCase {
    const char *Op;
    int A, B;
    const char *Taken;
  };
  const TCase cases[] = {{"lt", 1, 2, "then"},   {"lt", 2, 2, "else"},  {"le", 2, 2, "then"}, {"le", 3, 2, "else"},
                         {"eq", -5, -5, "then"}, {"eq", -5, 5, "else"}, {"lt", -1, 0, "then"}};
  for (const TCase &t : cases) {
    Messages.clear();
    Gen.newList()
        .predicatIfExpr(ptIfExpr, t.Op, t.A, t.B, &Gen.newList().msg("then"), &Gen.newList().msg("else"))
        .run();
    EXPECT_EQ(Messages, QStringList{t.Taken}) << t.Op << " " << t.A << " " << t.B;
  }
  EXPECT_EQ(ErrorOf([&] { Gen.newList().predicatIfExpr(ptIfExpr, "gt", 1, 2, nullptr, nullptr).run(); }),
            "unsupported op gt");
}

TEST_F(IOChain3, ListFileAndIOErrorConditions) {
  QTemporaryDir dir;
  const QString present = dir.filePath("present.bin");
  QFile f(present);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.close();
  TAddrList none, one{7};
  auto run = [&](auto Build) {
    Messages.clear();
    TIOChainList3 &c = Gen.newList();
    Build(c, &Gen.newList().msg("then"), &Gen.newList().msg("else"));
    c.run();
    return Messages.join(",");
  };
  using TBranch = TIOChainList3 *;
  const std::pair<std::function<void(TIOChainList3 &, TBranch, TBranch)>, const char *> cases[] = {
      {[&](TIOChainList3 &c, TBranch t, TBranch e) { c.predicatIfList(ptIf, none, t, e); }, "else"},
      {[&](TIOChainList3 &c, TBranch t, TBranch e) { c.predicatIfList(ptIf, one, t, e); }, "then"},
      {[&](TIOChainList3 &c, TBranch t, TBranch e) { c.predicatIf(ptIf, 0, t, e); }, "else"},
      {[&](TIOChainList3 &c, TBranch t, TBranch e) { c.predicatIf(ptIf, -3, t, e); }, "then"},
      {[&](TIOChainList3 &c, TBranch t, TBranch e) { c.predicatFileExists(ptFileExists, present, t, e); }, "then"},
      {[&](TIOChainList3 &c, TBranch t, TBranch e) { c.predicatFileExists(ptFileExists, present + "x", t, e); },
       "else"},
      // Nothing sets the IO-error flag.
      {[&](TIOChainList3 &c, TBranch t, TBranch e) { c.predicatIOError(ptIOError, t, e); }, "else"},
  };
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(run(cases[i].first), cases[i].second) << i;
  Pump();
  EXPECT_EQ(Gen.ChainCount(), 0) << "branch lists go with their step";
}

TEST_F(IOChain3, ChosenBranchRunsRightAfterTheConditionAndANilBranchAddsNothing) {
  Gen.newList()
      .msg("a")
      .predicatIf(ptIf, 1, &Gen.newList().msg("b1").msg("b2"), nullptr)
      .msg("c")
      .predicatIf(ptIf, 0, &Gen.newList().msg("x"), nullptr)
      .msg("d")
      .run();
  EXPECT_EQ(Messages, (QStringList{"a", "b1", "b2", "c", "d"}));
}

TEST_F(IOChain3, BuildersCheckTheirKind) {
  struct TCase {
    std::function<void(TIOChainList3 &)> Build;
    const char *Text;
  };
  TAddrList list;
  const TCase cases[] = {
      {[](TIOChainList3 &c) { c.predicatIf(ptIfExpr, 1, nullptr, nullptr); }, "ptIf expected"},
      {[&](TIOChainList3 &c) { c.predicatIfList(ptIOError, list, nullptr, nullptr); }, "ptIf expected"},
      {[](TIOChainList3 &c) { c.predicatIfExpr(ptIf, "lt", 1, 2, nullptr, nullptr); }, "ptIfExpr expected"},
      {[](TIOChainList3 &c) { c.predicatFileExists(ptIf, "x", nullptr, nullptr); }, "ptFileExists expected"},
      {[](TIOChainList3 &c) { c.predicatIOError(ptIf, nullptr, nullptr); }, "ptIOError expected"},
  };
  for (const TCase &t : cases) {
    EXPECT_THROW(t.Build(Gen.newList()), EKvAssert) << t.Text;
    EXPECT_EQ(ErrorOf([&] { t.Build(Gen.newList()); }), t.Text);
  }
}

TEST_F(IOChain3, ExecNextGetsTheFollowingStepAndFailsAsTheLastStep) {
  QList<int> seenArgs;
  TIOChain3 *seen = nullptr;
  TIOChainList3 &c = Gen.newList()
                         .execNext(
                             [&](TIOChain3 *Step, const QList<int> &Args) {
                               seen = Step;
                               seenArgs = Args;
                               static_cast<TIOChain3setFrameSize *>(Step)->setFrameSize(128);
                             },
                             {4, 5})
                         .setFrameSize(2048);
  TIOChain3 *next = c.Step(1);
  c.run();
  EXPECT_EQ(seen, next);
  EXPECT_EQ(seenArgs, (QList<int>{4, 5}));
  ASSERT_EQ(Front.Sent.size(), 1u);
  EXPECT_EQ(Front.Payload(0), Bytes({0x80, 0x00}));
  EXPECT_THROW(Gen.newList().execNext([](TIOChain3 *, const QList<int> &) {}, {}).run(), EKvRange);
  EXPECT_EQ(ErrorOf([&] { Gen.newList().execNext([](TIOChain3 *, const QList<int> &) {}, {}).run(); }),
            "List index out of bounds (1)");
}

TEST_F(IOChain3, ExecStepsCallTheirOneProcedure) {
  QStringList calls;
  QBuffer stream;
  Gen.newList()
      .exec([&] { calls << "plain"; })
      .execInts([&](const QList<int> &A) { calls << QString("ints %1").arg(A.size()); }, {1, 2, 3})
      .execStream([&](QIODevice *S) { calls << (S == &stream ? "stream" : "other"); }, &stream)
      .run();
  EXPECT_EQ(calls, (QStringList{"plain", "ints 3", "stream"}));
}

TEST_F(IOChain3, ExecStringsSplitsCommaTextLikeAStringList) {
  struct TCase {
    const char *Text;
    QStringList Items;
  };
  const TCase cases[] = {
      {"a,b,c", {"a", "b", "c"}},
      {"  a , b", {"a", "b"}},
      {"\"x, y\",z", {"x, y", "z"}},
      {"a b", {"a", "b"}},
      {"\"say \"\"hi\"\"\"", {"say \"hi\""}},
      {"a,", {"a", ""}},
      {",a", {"", "a"}},
      {"", {}},
      {"Уставки,2", {"Уставки", "2"}},
  };
  for (const TCase &t : cases) {
    QStringList got{"unset"};
    Gen.newList().execStrings([&](const QStringList &A) { got = A; }, QString::fromUtf8(t.Text)).run();
    EXPECT_EQ(got, t.Items) << t.Text;
  }
}

TEST_F(IOChain3, MethodsAreCalledByNameAndAnUnknownNameIsNamed) {
  TPage page;
  Gen.newList().execMethod(&page, "ShowValues").run();
  EXPECT_EQ(page.Shown, 1);
  // A misspelt name, and a method that takes arguments.
  for (const char *name : {"ShowValue", "Needs"})
    EXPECT_EQ(ErrorOf([&] { Gen.newList().execMethod(&page, name).run(); }),
              QString("unknown method %1 of TPage").arg(name));
  // Inside an answer the failure goes to the status line and ends the chain.
  TAddrList found;
  auto *gone = new TPage;
  TIOChainList3 &c = Gen.newList().poll(1, found).execMethod(gone, "ShowValues");
  c.run();
  delete gone;
  Front.Answer(Bytes({0x00, 0xFF, 0x00, 0xFF, 1, 0}));
  EXPECT_EQ(Messages, QStringList{"method ShowValues: its object no longer exists"});
  EXPECT_TRUE(c.IsEnded());
}

TEST_F(IOChain3, IncAndMultChangeTheCallersVariablesAndCheckOverflow) {
  int counter = 5, product = 0;
  Gen.newList().inc(counter, 3).mult(counter, 7, product).run();
  EXPECT_EQ(counter, 8);
  EXPECT_EQ(product, 56);
  int big = INT_MAX;
  EXPECT_THROW(Gen.newList().inc(big, 1).run(), EKvRange);
  EXPECT_EQ(ErrorOf([&] { Gen.newList().inc(big, 1).run(); }), "Integer overflow");
  EXPECT_EQ(big, INT_MAX);
  EXPECT_THROW(Gen.newList().mult(big, 2, product).run(), EKvRange);
}

TEST_F(IOChain3, WriteRegSelectsRegistersThenSendsOneRecordPerAnswer) {
  TIo io(Words({1, 0x11, 2, 0x22, 3, 0x33}));
  TIOChainList3 &c = Gen.newList().writeReg(io.In).msg("Готово");
  c.run();
  ASSERT_EQ(Front.Sent.size(), 2u);
  EXPECT_EQ(Front.Command(0), bcSelectArea);
  EXPECT_EQ(Front.Payload(1), Bytes({1, 1, 0, 0x11, 0x00}));
  Front.Answer(0, {});
  Front.Answer(1, Bytes({1, 1, 0}));
  ASSERT_EQ(Front.Sent.size(), 3u);
  EXPECT_EQ(Front.Payload(2), Bytes({1, 2, 0, 0x22, 0x00}));
  Front.Answer(2, Bytes({1, 2, 0}));
  Front.Answer(3, Bytes({1, 3, 0}));
  EXPECT_EQ(Front.Sent.size(), 4u);
  EXPECT_EQ(Messages, QStringList{"Готово"});
  EXPECT_TRUE(c.IsEnded());
}

TEST_F(IOChain3, SpecialCommandsScanAndDeviceAddress) {
  TAddrList found{99};
  Gen.newList().specCmd(ctSpecCmdModbusOn).scan(1, 10, found).setDeviceAddr(found).run();
  EXPECT_EQ(Front.Payload(0), Bytes({0x00, 0xFF, 0x00, 0xFF, 0xF1}));
  Front.Answer(0, Bytes({0x00, 0xFF, 0x00, 0xFF}));
  EXPECT_EQ(Front.Payload(1), Bytes({0x00, 0xFF, 0x00, 0xFF, 1, 10}));
  EXPECT_TRUE(found.isEmpty());
  Front.Answer(1, Bytes({0x00, 0xFF, 0x00, 0xFF, 2, 3, 0, 9, 0}));
  EXPECT_EQ(found, (TAddrList{3, 9}));
  EXPECT_EQ(Front.DeviceAddr, 3);
}

TEST_F(IOChain3, SleepPausesWithoutBlockingAndThenGoesOn) {
  TIOChainList3 &c = Gen.newList().msg("before").sleep(20).msg("after");
  c.run();
  EXPECT_EQ(Messages, QStringList{"before"});
  QDeadlineTimer deadline(20000);
  while (!c.IsEnded() && !deadline.hasExpired())
    Pump();
  EXPECT_EQ(Messages, (QStringList{"before", "after"}));
}

TEST(IOChain3Lifetime, AFrontDestroyedFirstLeavesWaitingChainsHarmless) {
  App();
  TIOChainGen gen;
  TAddrList found;
  {
    TFakeFront front;
    gen.setDeviceFront(&front);
    gen.newList().poll(1, found).run();
    ASSERT_EQ(front.Sent.size(), 1u);
  }
  EXPECT_EQ(gen.DeviceFront(), nullptr);
  EXPECT_EQ(ErrorOf([&] { gen.newList().poll(2, found).run(); }), "no device link");
  // The generator then frees the waiting chain without touching the front.
}

TEST_F(IOChain3, ThousandsOfChainsEndWithoutLeaving) {
  // Every way of ending: answered, device error, aborted, local only, never run.
  for (int i = 0; i < 3000; ++i) {
    TIo io(Words({1}));
    const size_t first = Front.Sent.size();
    TIOChainList3 &c = Gen.newList().readReg(io.In, io.Out).msg("x");
    Gen.newList().msg("local").predicatIf(ptIf, i & 1, &Gen.newList().msg("t"), &Gen.newList()).run();
    Gen.newList().msg("never run");
    c.run();
    Front.Answer(first, {});
    if (i % 3 == 1)
      Gen.abort();
    Front.Answer(first + 1, Bytes({1, 1, 0, 5, 0}), i % 3 == 2 ? 4 : 0);
    if (i % 100 == 0)
      Pump();
  }
  Pump();
  EXPECT_EQ(Gen.ChainCount(), 3000) << "only the chains never run are left";
}

#include "uIOChain3_test.moc"

TEST_F(IOChain3, WriteGateRefusesAChainThatWritesEvenInABranchBeforeItsFirstWrite) {
  TIo io(Words({1, 0x11}));
  const struct {
    const char *Name;
    std::function<TIOChainList3 &()> Make;
    bool Gated;
  } cases[] = {
      {"register read", [&]() -> TIOChainList3 & { return Gen.newList().readReg(io.In, io.Out); }, false},
      {"register write", [&]() -> TIOChainList3 & { return Gen.newList().msg("m").writeReg(io.In); }, true},
      {"logic stop in a branch", [&]() -> TIOChainList3 & {
         return Gen.newList().msg("m").predicatIf(ptIf, 0, nullptr, &Gen.newList().specCmd(ctSpecCmdOff));
       }, true},
  };
  for (const auto &t : cases) {
    int ended = 0;
    Gen.setWriteGate([](TIOChainList3 &C) { C.Refuse("refused"); });
    Messages.clear();
    const size_t sent = Front.Sent.size();
    TIOChainList3 &c = t.Make();
    c.setOnEnd([&] { ++ended; });
    c.run();
    EXPECT_EQ(c.IsRefused(), t.Gated) << t.Name;
    if (t.Gated) // the local steps before the write ran; no write and no handler
      EXPECT_TRUE(Front.Sent.size() == sent && Messages == (QStringList{"m", "refused"}) && ended == 0) << t.Name;
    Gen.abort();
    Pump();
  }
}

// The check stands right before the first write or the step marked for it:
// what the chain reads to decide goes before it, nothing else after it.
TEST_F(IOChain3, TheIdentityCheckStandsRightBeforeTheFirstWriteOrTheMarkedStep) {
  const struct {
    const char *Name;
    bool Marked;  // checkBefore on a local step between the read and the write
    bool Branch;  // the write in a branch taken after the read
  } cases[] = {{"read then write", false, false}, {"marked local step", true, false}, {"write in a branch", false, true}};
  for (const auto &t : cases) {
    std::vector<QByteArray> atCheck; // the records sent when the gate was asked
    bool decided = false, decidedAtCheck = true;
    Gen.setWriteGate([&](TIOChainList3 &C) {
      atCheck.assign(Front.Sent.begin(), Front.Sent.end());
      decidedAtCheck = decided;
      TIOChainList3 &check = Gen.newList();
      check.readReg(check.Buffer(Words({7})), check.Buffer());
      C.Precede(check);
    });
    Front.Sent.clear();
    TIOChainList3 &c = Gen.newList();
    c.readReg(c.Buffer(Words({10})), c.Buffer());
    if (t.Marked)
      c.checkBefore().exec([&] { decided = true; });
    TIOChainList3 &write = t.Branch ? Gen.newList() : c;
    write.writeReg(c.Buffer(Words({10, 5})));
    if (t.Branch)
      c.predicatIf(ptIf, 1, &write, nullptr);
    c.run();
    ASSERT_EQ(Front.Sent.size(), 2u) << t.Name << ": the read goes first";
    EXPECT_TRUE(atCheck.empty()) << t.Name;
    EXPECT_FALSE(c.WriteBegan());
    Front.Answer(1, Bytes({1, 10, 0, 4, 0}));
    EXPECT_EQ(atCheck.size(), 2u) << t.Name << ": asked once the read has ended";
    EXPECT_TRUE(t.Marked ? !decidedAtCheck : true) << t.Name << ": the marked step runs after the check";
    ASSERT_EQ(Front.Sent.size(), 4u) << t.Name;
    EXPECT_EQ(Front.Payload(3), Bytes({1, 7, 0})) << t.Name << ": the check's read";
    Front.Answer(3, Bytes({1, 7, 0, 0, 0}));
    EXPECT_TRUE(c.WriteBegan()) << t.Name;
    ASSERT_EQ(Front.Sent.size(), 6u) << t.Name;
    EXPECT_EQ(Front.Command(5), bcWriteRegisters) << t.Name << ": the write right after the check";
    Front.Answer(5, {});
    EXPECT_TRUE(c.IsEnded() && c.Failure().isEmpty()) << t.Name;
    Pump();
  }
}

TEST_F(IOChain3, AnIdentificationDuringAWritesReadsRefusesItAtTheCheckWithTheBox) {
  QStringList boxes;
  Gen.setOnWriteBox([&](const QString &What, const QString &Why) { boxes << What + "|" + Why; });
  int gated = 0;
  Gen.setWriteGate([&](TIOChainList3 &) { ++gated; });
  TIOChainList3 &c = Gen.newList().writes("набор");
  c.readReg(c.Buffer(Words({10})), c.Buffer()).writeReg(c.Buffer(Words({10, 5})));
  c.run();
  Gen.NextIdentEpoch();
  Front.Answer(1, Bytes({1, 10, 0, 4, 0}));
  EXPECT_TRUE(c.IsRefused());
  EXPECT_EQ(gated, 0);
  EXPECT_EQ(Front.Sent.size(), 2u) << "nothing written";
  EXPECT_EQ(boxes, QStringList{QString("набор|") + WriteTexts::PreparedForOther});
  Pump();
}

// A write that ends short reads back what it wrote as steps of its own: it is
// the running write until they end, its error handler has the failure first,
// its end handler comes last, and Failure() keeps the first failure.
TEST_F(IOChain3, AWriteEndedShortReadsBackInsideItselfBeforeItsEnd) {
  const struct {
    const char *Name;
    std::function<void(TIOChainList3 &C)> Fail; // at the second write's answer
    QString Failure;
    bool BackFails;
  } cases[] = {
      {"exception", [&](TIOChainList3 &) { Front.Answer(Front.Sent.size() - 1, {}, 2); }, "", false},
      {"abort", [&](TIOChainList3 &) { Gen.abort(); Front.Answer({}); }, "Прервано", false},
      {"cut", [&](TIOChainList3 &C) { C.CutWrite("cut"); }, "cut", false},
      {"read-back fails too", [&](TIOChainList3 &) { Front.Answer(Front.Sent.size() - 1, {}, 2); }, "", true},
  };
  for (const auto &t : cases) {
    QStringList order;
    Gen.setOnWriteBox([](const QString &, const QString &) {});
    TIOChainList3 &c = Gen.newList();
    c.writeReg(c.Buffer(Words({10, 5, 11, 6})));
    TIOChainList3 &back = Gen.newList();
    QBuffer &data = back.Buffer();
    back.readReg(back.Buffer(Words({10, 11})), data).exec([&] { order << "read " + data.data().toHex(); });
    c.afterFailure(back)
        .setOnEnd([&] { order << "end"; })
        .setEvent(0, [&](TIOChain3 *, const QList<int> &) { order << "abort"; })
        .setEvent(1, [&](TIOChain3 *, const QList<int> &) { order << "error"; })
        .run();
    Front.Answer(Front.Sent.size() - 1, {}); // the first word went
    const TReplyId written = c.ReplyId();
    t.Fail(c);
    EXPECT_EQ(order.size(), 1) << t.Name << ": " << order.join(",").toStdString();
    EXPECT_EQ(Gen.RunningWrite(), &c) << t.Name << ": still the running write";
    ASSERT_EQ(Front.Command(Front.Sent.size() - 1), bcReadRegisters) << t.Name;
    EXPECT_NE(c.ReplyId(), written) << t.Name << ": late answers of the write are not the read's";
    if (t.BackFails)
      Front.Answer(Front.Sent.size() - 1, {}, 4);
    else
      Front.Answer(Front.Sent.size() - 1, Bytes({2, 10, 0, 5, 0, 11, 0, 0, 0}));
    EXPECT_TRUE(c.IsEnded()) << t.Name;
    EXPECT_EQ(Gen.RunningWrite(), nullptr) << t.Name;
    EXPECT_EQ(order.last(), "end") << t.Name;
    if (!t.BackFails)
      EXPECT_EQ(order[1], "read " + Words({10, 5, 11, 0}).toHex()) << t.Name;
    EXPECT_FALSE(c.Failure().isEmpty()) << t.Name;
    if (!t.Failure.isEmpty())
      EXPECT_EQ(c.Failure(), t.Failure) << t.Name;
    Pump();
  }
  // A failure before the write began has nothing to read back.
  TIOChainList3 &early = Gen.newList();
  early.readReg(early.Buffer(Words({10})), early.Buffer()).writeReg(early.Buffer(Words({10, 5})));
  early.afterFailure(Gen.newList().readReg(early.Buffer(Words({10})), early.Buffer())).run();
  const size_t sent = Front.Sent.size();
  Front.Answer(sent - 1, {}, 2);
  EXPECT_TRUE(early.IsEnded());
  EXPECT_EQ(Front.Sent.size(), sent);
  Pump();
}

TEST_F(IOChain3, AWriteMarkedShortKeepsItsFirstFailure) {
  TIOChainList3 &c = Gen.newList();
  c.writeReg(c.Buffer(Words({10, 5}))).exec([&] { c.MarkShort("not kept"); }).exec([&] { c.MarkShort("other"); });
  c.run();
  Front.Answer(Front.Sent.size() - 1, {});
  EXPECT_TRUE(c.IsEnded());
  EXPECT_EQ(c.Failure(), "not kept");
  Pump();
}

namespace {
class TTiedPage : public QObject {
public:
  int Ties() const { return receivers(SIGNAL(destroyed(QObject *))); }
};
} // namespace

TEST_F(IOChain3, AnEndedChainLeavesNoTieToItsPage) {
  TTiedPage page;
  for (int i = 0; i < 1000; ++i) {
    TIOChainList3 &c = Gen.newList();
    c.ownedBy(&page).readReg(c.Buffer(Words({10})), c.Buffer());
    if (i % 2)
      c.run(), Front.Answer(Front.Sent.size() - 1, Bytes({1, 10, 0, 1, 0}));
    else
      c.run(), Gen.abort(), Front.Answer({});
  }
  Pump();
  EXPECT_EQ(Gen.ChainCount(), 0);
  EXPECT_EQ(page.Ties(), 0);
}

TEST_F(IOChain3, OnlyALostLinkIsToldAsALinkFailureAndBeforeTheChainsEnd) {
  const struct {
    QString Cause;
    uint8_t Status;
    bool Lost;
  } cases[] = {
      {"Нет ответа от устройства", 1, true},
      {"Связь с 127.0.0.1:502 разорвана", 1, true},
      {"Порт /dev/ttyS9 недоступен: No such file or directory", 2, true},
      {"Неполный ответ устройства", 4, false},
      {"", 2, false}, // a device's exception 02
  };
  for (const auto &t : cases) {
    QStringList order;
    Gen.setOnLinkFailure([&] { order << "link"; });
    TAddrList found;
    Gen.newList().poll(1, found).setOnEnd([&] { order << "end"; }).run();
    Front.Deliver(Front.Sent.back().mid(2, 18) + char(0) + char(t.Status), t.Cause);
    EXPECT_EQ(order, t.Lost ? QStringList({"link", "end"}) : QStringList{"end"}) << t.Cause.toStdString();
  }
  // In the interface's language too.
  SetLinkTextTranslator([](const QString &Key) {
    return Key == "Нет соединения с %1:%2" ? QStringLiteral("No connection to %1:%2") : QString();
  });
  EXPECT_TRUE(IsLinkLossText("No connection to 10.0.0.1:502"));
  SetLinkTextTranslator({});
}

TEST_F(IOChain3, AWritePreparedUnderAnotherIdentificationIsRefusedWithTheBoxNothingSent) {
  TIo io(Words({1, 0x11}));
  QStringList boxes;
  Gen.setOnWriteBox([&](const QString &What, const QString &Why) { boxes << What + "|" + Why; });
  int gated = 0;
  Gen.setWriteGate([&](TIOChainList3 &) { ++gated; });
  const uint64_t before = Gen.IdentEpoch();
  TIOChainList3 &made = Gen.newList().writeReg(io.In).writes("время");
  TIOChainList3 &stamped = Gen.newList().writeReg(io.In).preparedFor(before);
  TIOChainList3 &read = Gen.newList().readReg(io.In, io.Out);
  Gen.NextIdentEpoch();
  TIOChainList3 &fresh = Gen.newList().writeReg(io.In);
  TIOChainList3 &restamped = Gen.newList().writeReg(io.In).preparedFor(Gen.IdentEpoch());
  for (TIOChainList3 *c : {&made, &stamped, &read})
    c->run();
  EXPECT_TRUE(made.IsRefused() && stamped.IsRefused() && !read.IsRefused());
  EXPECT_EQ(Front.Sent.size(), 2u) << "only the read's records";
  EXPECT_EQ(boxes, (QStringList{QString("время|") + WriteTexts::PreparedForOther,
                                QString(WriteTexts::WritesDefault) + "|" + WriteTexts::PreparedForOther}));
  EXPECT_EQ(gated, 0) << "refused before the identity gate";
  for (TIOChainList3 *c : {&fresh, &restamped}) {
    c->run();
    EXPECT_FALSE(c->IsRefused());
    Front.Answer(Front.Sent.size() - 2, {});
    Front.Answer(Bytes({}));
    EXPECT_TRUE(c->IsEnded());
  }
  EXPECT_EQ(gated, 2);
}

TEST_F(IOChain3, OneWriteAtATimeAndItsReportsGoToTheWriteReport) {
  TIo io(Words({1, 0x11}));
  QStringList reports;
  Gen.setOnWriteReport([&](const QString &T) { reports << T; });
  TIOChainList3 &first = Gen.newList().writeReg(io.In);
  first.run();
  const size_t sent = Front.Sent.size();
  TIOChainList3 &second = Gen.newList().msg("m").writeTime(io.In);
  second.run();
  EXPECT_TRUE(second.IsRefused());
  EXPECT_EQ(Front.Sent.size(), sent) << "a second press starts nothing";
  TIOChainList3 &read = Gen.newList().readReg(io.In, io.Out);
  read.run();
  EXPECT_FALSE(read.IsRefused()) << "only writes wait for writes";
  EXPECT_EQ(reports, QStringList{WriteTexts::AnotherWriteRuns});
  Messages.clear();
  Front.Answer(sent - 1, {}, 1); // the first write's answer fails: reported to stay
  Front.Answer(Front.Sent.size() - 1, {}, 4); // the read's
  EXPECT_EQ(reports.size(), 2);
  EXPECT_EQ(Messages.size(), 1) << "a read's failure is a plain message";
  TIOChainList3 &third = Gen.newList().writeTime(io.In);
  third.run();
  EXPECT_FALSE(third.IsRefused()) << "once the first has ended";
  Gen.abort();
  Front.Answer({});
  EXPECT_EQ(reports.last(), "Прервано");
  // A write chain with its own end handler reports its failure itself.
  Messages.clear();
  Gen.newList().writeTime(io.In).setOnEnd([] {}).run();
  Front.Answer(Front.Sent.size() - 1, {}, 1);
  EXPECT_EQ(reports.size(), 3);
  EXPECT_EQ(Messages.size(), 1);
}

TEST_F(IOChain3, AFailedAnswerToTheStepsBeforeAWriteRefusesItWithoutItsHandlers) {
  const struct {
    const char *Name;
    uint8_t Status;
    QString Cause;
    bool Box;
  } cases[] = {
      {"no answer", 1, "Нет ответа от устройства", false},
      {"device exception", 2, "Ошибка устройства 02", true},
  };
  TIo io(Words({1, 0x11}));
  for (const auto &t : cases) {
    QStringList order;
    Gen.setOnWriteBox([&](const QString &, const QString &Why) { order << "box " + Why; });
    Gen.setOnLinkFailure([&] { order << "link"; });
    Gen.setWriteGate([&](TIOChainList3 &C) {
      TIOChainList3 &check = Gen.newList();
      check.readReg(io.In, io.Out).setEvent(1, [&](TIOChain3 *, const QList<int> &) { order << "check"; });
      C.Precede(check);
    });
    TIOChainList3 &c = Gen.newList().writeReg(io.In);
    c.setOnEnd([&] { order << "end"; }).setEvent(1, [&](TIOChain3 *, const QList<int> &) { order << "error"; });
    c.run();
    const size_t sent = Front.Sent.size();
    Front.Deliver(Front.Sent.back().mid(2, 18) + char(0) + char(t.Status), t.Cause);
    QStringList expected = t.Box ? QStringList{"check", "box " + t.Cause} : QStringList{"link", "check"};
    EXPECT_EQ(order, expected) << t.Name;
    EXPECT_TRUE(c.IsRefused() && Front.Sent.size() == sent) << t.Name;
    Pump();
  }
}

TEST_F(IOChain3, AWriteCutAfterItsOwnStepsBeganEndsThroughItsHandlersAndSendsNoMore) {
  TIo io(Words({1, 0x11, 2, 0x22}));
  QStringList order;
  Gen.setOnWriteBox([&](const QString &, const QString &Why) { order << "box " + Why; });
  TIOChainList3 &c = Gen.newList().writeReg(io.In).writeTime(io.In);
  c.setOnEnd([&] { order << "end"; }).setEvent(1, [&](TIOChain3 *, const QList<int> &) { order << "error"; });
  c.run();
  const size_t sent = Front.Sent.size();
  c.CutWrite("cut");
  EXPECT_EQ(order, (QStringList{"end", "box cut", "error"})) << "what the handlers tell is not lost";
  Front.Answer(sent - 1, {});
  EXPECT_EQ(Front.Sent.size(), sent) << "the clock write never goes";
  Pump();
}

TEST_F(IOChain3, APageClosedEndsItsReadSilentlyButItsWriteRunsToItsEnd) {
  for (const bool write : {false, true}) {
    auto *page = new QObject;
    int ended = 0, shown = 0;
    TIOChainList3 &c = Gen.newList();
    QBuffer &in = c.Buffer(Words({10, 0x1234}));
    if (write)
      c.writeReg(in);
    else
      c.readReg(in, c.Buffer());
    c.exec(Guarded(page, [&](QObject *) { ++shown; })).setOnEnd([&] { ++ended; }).ownedBy(page).run();
    EXPECT_EQ(Gen.RunningWriteFor(page), write ? &c : nullptr);
    const size_t sent = Front.Sent.size();
    const TReplyId id = c.ReplyId();
    delete page;
    EXPECT_EQ(c.IsEnded(), !write);
    EXPECT_EQ(std::count(Front.Forgotten.begin(), Front.Forgotten.end(), id), write ? 0 : 1)
        << "records of the read not yet sent are dropped";
    Front.Answer(sent - 1, write ? QByteArray() : Bytes({1, 10, 0, 0x34, 0x12}));
    EXPECT_EQ(Front.Sent.size(), sent) << write;
    EXPECT_EQ(ended, write ? 1 : 0) << "a cancelled read tells none of its handlers";
    EXPECT_EQ(shown, 0) << "the continuation finds its page gone";
    Pump();
  }
}

TEST_F(IOChain3, StorageOfStepsPutBeforeAChainGoesWithThem) {
  QByteArray read;
  Gen.setWriteGate([&](TIOChainList3 &C) {
    TIOChainList3 &check = Gen.newList();
    QBuffer &out = check.Buffer();
    check.readReg(check.Buffer(Words({7})), out).exec([&] { read = out.data(); });
    C.Precede(check);
  });
  TIOChainList3 &c = Gen.newList();
  c.writeReg(c.Buffer(Words({1, 0x11}))).run();
  Pump(); // the check's own list has gone
  Front.Answer(Front.Sent.size() - 2, {});
  Front.Answer(Front.Sent.size() - 1, Bytes({1, 7, 0, 5, 0}));
  EXPECT_EQ(read, Words({7, 5}));
  Pump();
}

TEST_F(IOChain3, AWatchIsToldOnceOfAChangedIdentificationOrALostLinkAndOnlyWhileHeld) {
  const struct {
    const char *Name;
    std::function<void()> Happen;
    bool Told;
  } cases[] = {
      {"epoch", [&] { Gen.NextIdentEpoch(); }, true},
      {"link lost", [&] {
         TAddrList found;
         Gen.newList().poll(1, found).run();
         Front.Deliver(Front.Sent.back().mid(2, 18) + char(0) + char(1), "Нет ответа от устройства");
       }, true},
      {"device exception", [&] {
         TAddrList found;
         Gen.newList().poll(1, found).run();
         Front.Deliver(Front.Sent.back().mid(2, 18) + char(0) + char(2), "");
       }, false},
  };
  for (const auto &t : cases) {
    int told = 0;
    {
      TIdentWatch watch(Gen, [&] { ++told; });
      t.Happen();
      t.Happen();
      EXPECT_EQ(told, t.Told ? 1 : 0) << t.Name;
      EXPECT_EQ(watch.Changed(), t.Told) << t.Name;
    }
    t.Happen();
    EXPECT_EQ(told, t.Told ? 1 : 0) << t.Name << ": not told after the watch went";
  }
  // A listener that removes itself and another while told.
  int a = 0, b = 0, tokenB = 0;
  int tokenA = Gen.AddIdentListener([&] { ++a; Gen.RemoveIdentListener(tokenA); Gen.RemoveIdentListener(tokenB); });
  tokenB = Gen.AddIdentListener([&] { ++b; });
  Gen.NextIdentEpoch();
  Gen.NextIdentEpoch();
  EXPECT_EQ(a + b, 1);
  // A write's report falls back to the message sink.
  Messages.clear();
  Gen.WriteReport("r");
  QStringList reports;
  Gen.setOnWriteReport([&](const QString &T) { reports << T; });
  Gen.WriteReport("s");
  EXPECT_EQ(Messages, QStringList{"r"});
  EXPECT_EQ(reports, QStringList{"s"});
}

namespace {
// Whether record Index asks to go only over the connection open now.
bool Held(const TFakeFront &Front, size_t Index) {
  return (uint8_t(Front.Sent.at(Index).at(RecordFlagsAt)) & RecordHoldsConnection) != 0;
}
} // namespace

// A read marked checked has the read gate's check before its first step; a
// failed answer to the check fails it through its own handlers, as its own
// read would, with no write box; a gate that refuses it leaves nothing sent.
TEST_F(IOChain3, ACheckedReadHasTheCheckFirstAndFailsAtItAsAtItsOwnRead) {
  const struct {
    const char *Name;
    bool Marked;
    int CheckStatus; // -1: the gate refuses the read
  } cases[] = {{"check passes", true, 0}, {"check fails", true, 2}, {"refused", true, -1}, {"not marked", false, 0}};
  for (const auto &t : cases) {
    QStringList order, boxes;
    int asked = 0;
    Gen.setOnWriteBox([&](const QString &, const QString &Why) { boxes << Why; });
    Gen.setReadGate([&](TIOChainList3 &C) {
      ++asked;
      if (t.CheckStatus < 0)
        return C.Refuse("other relay");
      TIOChainList3 &check = Gen.newList();
      check.readReg(check.Buffer(Words({7})), check.Buffer());
      check.setEvent(1, [&](TIOChain3 *, const QList<int> &) { order << "check failed"; });
      C.Precede(check);
    });
    Front.Sent.clear();
    Messages.clear();
    TIOChainList3 &c = Gen.newList();
    if (t.Marked)
      c.checkedRead();
    c.msg("reading").readReg(c.Buffer(Words({10})), c.Buffer()).msg("done");
    c.setEvent(1, [&](TIOChain3 *, const QList<int> &) { order << "error"; });
    c.run();
    EXPECT_EQ(asked, t.Marked ? 1 : 0) << t.Name;
    if (t.CheckStatus < 0) {
      EXPECT_TRUE(Front.Sent.empty() && c.IsEnded() && Messages == QStringList{"other relay"}) << t.Name;
      continue;
    }
    if (t.Marked) {
      ASSERT_EQ(Front.Sent.size(), 2u) << t.Name << ": the check's read first";
      EXPECT_EQ(Front.Payload(1), Bytes({1, 7, 0})) << t.Name;
      EXPECT_FALSE(Held(Front, 1)) << t.Name << ": the check may go over a new connection";
      Front.Answer(1, t.CheckStatus ? QByteArray() : Bytes({1, 7, 0, 0, 0}), uint8_t(t.CheckStatus));
    }
    if (t.CheckStatus) {
      EXPECT_EQ(order, (QStringList{"check failed", "error"})) << t.Name;
      EXPECT_EQ(Messages.last(), c.Failure()) << t.Name;
      EXPECT_TRUE(boxes.isEmpty() && c.IsEnded() && Front.Sent.size() == 2u) << t.Name;
      continue;
    }
    ASSERT_EQ(Front.Command(Front.Sent.size() - 1), bcReadRegisters) << t.Name;
    EXPECT_EQ(Held(Front, Front.Sent.size() - 1), t.Marked) << t.Name << ": after the check, its connection only";
    Front.Answer(Bytes({1, 10, 0, 4, 0}));
    EXPECT_TRUE(c.IsEnded() && c.Failure().isEmpty() && order.isEmpty()) << t.Name;
    Pump();
  }
  // A chain that writes is checked by the write gate alone.
  int readGate = 0;
  Gen.setReadGate([&](TIOChainList3 &) { ++readGate; });
  Gen.setWriteGate([](TIOChainList3 &) {});
  Gen.newList().checkedRead().writeReg(Gen.newList().Buffer(Words({10, 5}))).run();
  EXPECT_EQ(readGate, 0);
  Gen.abort();
  Pump();
}

// From its check on a write's records hold the connection, its read-back
// after a failure too; what it read before the check, and the check, do not.
TEST_F(IOChain3, AWritesRecordsFromItsCheckOnHoldTheConnection) {
  Gen.setOnWriteBox([](const QString &, const QString &) {});
  Gen.setWriteGate([&](TIOChainList3 &C) {
    TIOChainList3 &check = Gen.newList();
    check.readReg(check.Buffer(Words({7})), check.Buffer());
    C.Precede(check);
  });
  Front.Sent.clear();
  TIOChainList3 &c = Gen.newList();
  c.readReg(c.Buffer(Words({10})), c.Buffer()).writeReg(c.Buffer(Words({10, 5, 11, 6})));
  TIOChainList3 &back = Gen.newList();
  back.readReg(back.Buffer(Words({10, 11})), back.Buffer());
  c.afterFailure(back).run();
  Front.Answer(1, Bytes({1, 10, 0, 4, 0}));
  Front.Answer(3, Bytes({1, 7, 0, 0, 0}));
  Front.Answer(Front.Sent.size() - 1, {});
  Front.Answer(Front.Sent.size() - 1, {}, 1); // the second write's answer lost
  ASSERT_EQ(Front.Command(Front.Sent.size() - 1), bcReadRegisters);
  std::vector<bool> held;
  for (size_t i = 0; i < Front.Sent.size(); ++i)
    held.push_back(Held(Front, i));
  // Area and read before the check, the check's area and read, the writes'
  // area and two writes, the read-back's area and read.
  EXPECT_EQ(held, (std::vector<bool>{false, false, false, false, true, true, true, true, true}));
  Front.Answer(Front.Sent.size() - 1, Bytes({2, 10, 0, 5, 0, 11, 0, 6, 0}));
  EXPECT_TRUE(c.IsEnded());
  Pump();
}

namespace {
// The connection record Index is held to; none when it is not held.
std::optional<uint32_t> HeldTo(const TFakeFront &Front, size_t Index) {
  if (!Held(Front, Index))
    return std::nullopt;
  const auto *b = reinterpret_cast<const uint8_t *>(Front.Sent.at(Index).constData() + RecordConnectionAt);
  return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}
} // namespace

// A write's records from its check on are held to the connection its
// check's answers came over (none when they came over two); a cut knows a
// held record it waits for as unsent once an answer came over another
// connection, and says "not written" only while no write was answered.
TEST_F(IOChain3, AHeldRecordNamesItsChecksConnectionAndACutKnowsWhatWasNotSent) {
  QStringList boxes;
  Gen.setOnWriteBox([&](const QString &, const QString &Why) { boxes << Why; });
  int checkReads = 1;
  Gen.setWriteGate([&](TIOChainList3 &C) {
    TIOChainList3 &check = Gen.newList();
    for (int i = 0; i < checkReads; ++i)
      check.readReg(check.Buffer(Words({7})), check.Buffer());
    C.Precede(check);
  });
  const auto answerOver = [&](uint32_t Connection, const QByteArray &Payload, uint8_t Status = 0) {
    QByteArray a = Front.Sent.back().mid(2, 18);
    for (int i = 0; i < 4; ++i)
      a[AnswerConnectionAt + i] = char(uint8_t(Connection >> (8 * i)));
    Front.Deliver(a + char(0) + char(Status) + Payload);
  };
  const QByteArray checkRead = Bytes({1, 7, 0, 0, 0});
  const struct {
    const char *Name;
    std::vector<uint32_t> Check; // the connections of the check's answers
    uint32_t HeldTo;
  } holds[] = {
      {"one connection", {5}, 5},
      {"two connections", {5, 6}, TIOChainList3::NoConnection},
      {"the serial line", {0}, 0},
  };
  for (const auto &t : holds) {
    checkReads = int(t.Check.size());
    Front.Sent.clear();
    TIOChainList3 &c = Gen.newList();
    c.writeReg(c.Buffer(Words({10, 5}))).run();
    for (uint32_t connection : t.Check)
      answerOver(connection, checkRead);
    ASSERT_EQ(Front.Command(Front.Sent.size() - 1), bcWriteRegisters) << t.Name;
    EXPECT_EQ(HeldTo(Front, Front.Sent.size() - 1), std::optional<uint32_t>(t.HeldTo)) << t.Name;
    answerOver(t.HeldTo, {});
    EXPECT_TRUE(c.IsEnded() && c.Failure().isEmpty()) << t.Name;
    Pump();
  }

  checkReads = 1;
  const struct {
    const char *Name;
    bool WriteAnswered; // the write's answer came, its read-back is awaited
    bool Replaced;      // another chain's answer came over another connection since
    bool Unsent, Boxed;
  } cuts[] = {
      {"cut after the check, its connection replaced", false, true, true, true},
      {"cut after the check, its connection still the latest", false, false, false, true},
      {"cut after the write's answer, its connection replaced", true, true, true, false},
  };
  for (const auto &t : cuts) {
    boxes.clear();
    TIOChainList3 &c = Gen.newList();
    c.writeReg(c.Buffer(Words({10, 5}))).readReg(c.Buffer(Words({10})), c.Buffer()).run();
    answerOver(5, checkRead);
    if (t.WriteAnswered)
      answerOver(5, {});
    if (t.Replaced) {
      TIOChainList3 &other = Gen.newList();
      other.readReg(other.Buffer(Words({20})), other.Buffer()).run();
      answerOver(6, Bytes({1, 20, 0, 0, 0}));
      EXPECT_TRUE(other.IsEnded()) << t.Name;
    }
    c.CutWrite("cut");
    EXPECT_TRUE(c.IsEnded()) << t.Name;
    EXPECT_EQ(c.FailureUnsent(), t.Unsent) << t.Name;
    EXPECT_EQ(c.CutBoxed(), t.Boxed) << t.Name;
    EXPECT_EQ(boxes, t.Boxed ? QStringList{"cut"} : QStringList{}) << t.Name;
    Pump();
  }
  // The worker's own word: the write's record was not sent.
  TIOChainList3 &c = Gen.newList();
  c.writeReg(c.Buffer(Words({10, 5}))).run();
  answerOver(5, checkRead);
  answerOver(0, {}, StatusNotSent);
  EXPECT_TRUE(c.IsEnded() && c.FailureUnsent() && !c.CutBoxed());
  Pump();
}
