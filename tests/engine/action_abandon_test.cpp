// The end of the program for actions, when the running execution ignores its cancel: it
// is waited for up to the bound and then abandoned; it finishes on its own later and
// touches no alert, monitor or user interface. A program of its own, because the shutdown
// lasts for the rest of the process.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "engine/actions/action.h"
#include "tests/engine/action_exit_scene.h"

namespace engine {
namespace {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

class ActionAbandonTest : public testing::ActionExitTest {};

TEST_F(ActionAbandonTest, LeavesTheRunningExecutionAfterTheBound) {
  smtp_.blockInConnect = true;
  smtp_.cancellableClients = 0;
  const std::string running = AddAlert(first_, mail_);
  ASSERT_EQ(Fire(first_, mail_, running), platform::kOk);
  ASSERT_TRUE(smtp_.WaitForConnects(1));
  ASSERT_EQ(Fire(second_, notice_, AddAlert(second_, notice_)), platform::kOk);

  EXPECT_FALSE(Action::ShutdownWorkers(200ms));
  EXPECT_EQ(smtp_.Count("Cancel"), 1);
  EXPECT_EQ(Log(second_->id), Strings{"1|Action Notice Cancelled"});

  // The abandoned execution finishes on its own and touches nothing.
  smtp_.Release();
  EXPECT_TRUE(Action::WaitForRunningActions(60s));
  EXPECT_TRUE(ui_.Calls().empty());
  EXPECT_FALSE(AlertCopy(first_, running).done);
  EXPECT_TRUE(Log(first_->id).empty());
  EXPECT_EQ(smtp_.Count("Release"), 1);
}

}  // namespace
}  // namespace engine
