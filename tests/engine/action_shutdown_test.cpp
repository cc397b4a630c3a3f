// The end of the program for actions: running SMTP exchanges are cancelled, running
// executions are waited for up to a bound and then left to finish without touching
// anything, and no execution starts any more. A program of its own, because the shutdown
// lasts for the rest of the process.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "engine/actions/action.h"
#include "engine/monitor/odbc_data_source.h"
#include "engine/monitor/server_health.h"
#include "engine/services.h"
#include "engine/store/data_files.h"
#include "engine/store/server_storage.h"
#include "tests/engine/action_fakes.h"
#include "tests/support/temp_dir.h"

namespace engine {
namespace {

using namespace std::chrono_literals;

TEST(ActionShutdownTest, CancelsWaitsWithABoundAndThenTouchesNothing) {
  testing_support::TempDir dir;
  testing_support::ScopedEnv documents("LUMIVAR_DOCUMENTS_DIR", dir.Path());
  DataFiles::CreateConfigTables();
  DataFiles::CreateDataTables();
  testing::RecordingUi ui;
  testing::FakeSmtp smtp;
  ServerStorage store;
  Services::SetUi(&ui);
  Services::SetStorage(&store);
  Action::SetSmtpClientFactory(&testing::FakeSmtp::Create);

  auto monitor = store.AddNewODBCDataSource();
  auto mail = std::make_shared<Action>(Action::kEmail);
  mail->name = "Mail";
  mail->fromAddress = "ops@example.com";
  mail->toAddress = "dba@example.com";
  store.AddAction(mail);
  std::string first;
  std::string second;
  {
    std::lock_guard lock(monitor->Mutex());
    const std::string attribute = monitor->healthAttributes.front().id;
    first = monitor->AddAlert(mail->id, attribute, 0, 0, Alert::kError).id;
    second = monitor->AddAlert(mail->id, attribute, 0, 0, Alert::kError).id;
  }
  auto alert = [&](const std::string& id) {
    std::lock_guard lock(monitor->Mutex());
    return *monitor->FindAlert(id);
  };

  // The first exchange can be cancelled; the second, queued behind it, cannot.
  smtp.blockInConnect = true;
  smtp.cancellableClients = 1;
  ASSERT_EQ(mail->Run(FiringAlert{monitor->id, first, Alert::kError}, "s", "t"), platform::kOk);
  ASSERT_TRUE(smtp.WaitForConnects(1));
  ASSERT_EQ(mail->Run(FiringAlert{monitor->id, second, Alert::kError}, "s", "t"), platform::kOk);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Action::ShutdownWorkers(500ms));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_EQ(alert(first).lastResult, platform::kWsaEintr);
  EXPECT_TRUE(alert(first).done);
  ASSERT_TRUE(smtp.WaitForConnects(2));

  // Nothing starts any more, and an alert whose action cannot start shows that failure
  // instead of an action running for ever.
  EXPECT_EQ(mail->RunTest(), platform::kFailure);
  {
    std::lock_guard lock(monitor->Mutex());
    monitor->FindAlert(first)->done = false;
  }
  std::vector<AlertFiring> firings(1);
  firings[0].action = mail;
  firings[0].monitorId = monitor->id;
  firings[0].alertId = first;
  firings[0].actionId = mail->id;
  ServerHealth::FireAlerts(std::move(firings));
  EXPECT_TRUE(alert(first).done);
  EXPECT_EQ(alert(first).lastResult, platform::kFailure);

  // The execution left running finishes on its own and touches nothing.
  ui.Clear();
  smtp.Release();
  EXPECT_TRUE(Action::WaitForRunningActions(10s));
  EXPECT_TRUE(ui.Calls().empty());
  EXPECT_FALSE(alert(second).done);
  EXPECT_EQ(smtp.Count("Cancel"), 2);

  Action::SetSmtpClientFactory(nullptr);
  Services::SetStorage(nullptr);
  Services::SetUi(nullptr);
}

}  // namespace
}  // namespace engine
