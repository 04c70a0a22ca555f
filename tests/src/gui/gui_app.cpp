// One application object for the widget tests of the shell (offscreen).
#include <QApplication>
#include <gtest/gtest.h>

namespace {
class TAppEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "gui_test";
    static char *argv[] = {name, nullptr};
    FApp = new QApplication(argc, argv);
  }
  void TearDown() override {
    delete FApp;
    FApp = nullptr;
  }

private:
  QApplication *FApp = nullptr;
};

[[maybe_unused]] ::testing::Environment *const Env = ::testing::AddGlobalTestEnvironment(new TAppEnvironment);
} // namespace
