#include "uAgentClient.h"

#include "uErrors.h"
#include "uSimAgent.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace {
class TCoreApp : public ::testing::Environment {
public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "agent_test";
    static char *argv[] = {name, nullptr};
    FApp = std::make_unique<QCoreApplication>(argc, argv);
  }
  void TearDown() override { FApp.reset(); }

private:
  std::unique_ptr<QCoreApplication> FApp;
};
[[maybe_unused]] ::testing::Environment *const Env = ::testing::AddGlobalTestEnvironment(new TCoreApp);

QString ErrorOf(TAgentClient &Client, const QString &Path) {
  try {
    Client.Get(Path);
  } catch (const EKvError &e) {
    return e.Text();
  }
  return {};
}
} // namespace

TEST(AgentClient, ReadsChannelsAndFailsOnMissingPathBrokenBodyAndSilence) {
  TSimAgent agent;
  agent.Channels = {{1, 3, QStringLiteral("Left bus")}};
  agent.Start();
  TAgentClient client(agent.BaseUrl(), 3000);
  const IXXMLDocument doc = client.Get(AgentKeys::ChannelQuery);
  EXPECT_EQ(doc->GetDocumentElement()->GetStrNode(R"(//array/object/value[@name="comment"])"), "Left bus");
  EXPECT_TRUE(ErrorOf(client, "other").contains("Not Found")) << ErrorOf(client, "other").toStdString();
  agent.Stop();

  TSimAgent broken;
  broken.RawBody = "{data:[}}}";
  broken.Start();
  TAgentClient brokenClient(broken.BaseUrl(), 3000);
  EXPECT_EQ(ErrorOf(brokenClient, AgentKeys::ChannelQuery), "unbalanced brackets or brases token \"}\" at position 9");

  TSimAgent silent;
  silent.Silent = true;
  silent.Start();
  TAgentClient silentClient(silent.BaseUrl(), 300);
  EXPECT_EQ(ErrorOf(silentClient, AgentKeys::ChannelQuery),
            silent.BaseUrl() + AgentKeys::ChannelQuery + ": no answer within 300 ms");
}
