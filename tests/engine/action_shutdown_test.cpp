// The end of the program for actions, when the running execution gives way to its cancel:
// the firings still queued are dropped, each with a log row on its monitor, the running
// one is cancelled and ends within the bound, and nothing starts any more. A program of
// its own, because the shutdown lasts for the rest of the process.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "engine/actions/action.h"
#include "engine/monitor/server_health.h"
#include "tests/engine/action_exit_scene.h"

namespace engine {
namespace {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

class ActionShutdownTest : public testing::ActionExitTest {};

TEST_F(ActionShutdownTest, DropsTheQueueAndCancelsTheRunningExecution) {
  smtp_.blockInConnect = true;
  const std::string running = AddAlert(first_, mail_);
  ASSERT_EQ(Fire(first_, mail_, running), platform::kOk);
  ASSERT_TRUE(smtp_.WaitForConnects(1));

  // Queued behind it; only firings of actions and monitors still there leave a row.
  auto deletedAction = std::make_shared<Action>(Action::kUserInterface);
  store_.AddAction(deletedAction);
  auto deletedMonitor = store_.AddNewODBCDataSource();
  const struct {
    std::shared_ptr<ODBCDataSource> monitor;
    std::shared_ptr<Action> action;
  } queued[] = {
      {first_, mail_},         {second_, notice_},      {first_, notice_},
      {first_, deletedAction}, {deletedMonitor, mail_},
  };
  for (const auto& q : queued) {
    ASSERT_EQ(Fire(q.monitor, q.action, AddAlert(q.monitor, q.action)), platform::kOk);
  }
  ASSERT_EQ(notice_->RunTest(), platform::kOk);  // a test run goes without a trace
  store_.DeleteActionById(deletedAction->id);
  store_.DeleteServer(deletedMonitor->id);

  EXPECT_TRUE(Action::ShutdownWorkers(60s));
  EXPECT_EQ(AlertCopy(first_, running).lastResult, platform::kWsaEintr);
  EXPECT_TRUE(AlertCopy(first_, running).done);
  EXPECT_EQ(Log(first_->id), (Strings{"1|ERROR: s t", "1|Action Mail Failed",
                                      "1|Action Mail Cancelled", "1|Action Notice Cancelled"}));
  EXPECT_EQ(Log(second_->id), Strings{"1|Action Notice Cancelled"});
  EXPECT_EQ(Log(deletedMonitor->id), Strings{});
  EXPECT_EQ(ui_.Calls(), Strings{"updated:" + first_->id});  // no queued one started
  EXPECT_EQ(smtp_.Clients(), 1);
  EXPECT_EQ(smtp_.Count("Cancel"), 1);

  // Nothing starts any more, and an alert whose action cannot start shows that failure
  // instead of an action running for ever.
  EXPECT_EQ(mail_->RunTest(), platform::kFailure);
  {
    std::lock_guard lock(first_->Mutex());
    first_->FindAlert(running)->done = false;
  }
  std::vector<AlertFiring> firings(1);
  firings[0].action = mail_;
  firings[0].monitorId = first_->id;
  firings[0].alertId = running;
  firings[0].actionId = mail_->id;
  ServerHealth::FireAlerts(std::move(firings));
  EXPECT_TRUE(AlertCopy(first_, running).done);
  EXPECT_EQ(AlertCopy(first_, running).lastResult, platform::kFailure);
  EXPECT_TRUE(Action::WaitForRunningActions(10s));
  EXPECT_EQ(smtp_.Clients(), 1);
}

}  // namespace
}  // namespace engine
