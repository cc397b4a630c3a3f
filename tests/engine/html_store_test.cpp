// The pages read from the live monitor store: what the snapshot copies, the two page
// files that Update and the page writer write, and page builds while the user interface
// edits, adds and deletes monitors and actions (run under the sanitizers).
#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "engine/actions/action.h"
#include "engine/clock.h"
#include "engine/data/data_files.h"
#include "engine/monitor/odbc_data_source.h"
#include "engine/report/html_report.h"
#include "engine/report/page_writer.h"
#include "engine/services.h"
#include "engine/store/server_storage.h"
#include "engine/user_interface.h"
#include "tests/support/temp_dir.h"

namespace engine {
namespace {

using testing_support::ScopedEnv;
using testing_support::TempDir;

class HtmlStoreTest : public testing::Test {
 protected:
  void SetUp() override {
    tzset();
    DataFiles::CreateConfigTables();
    DataFiles::CreateDataTables();
    Services::SetStorage(&store_);
  }
  void TearDown() override {
    Services::SetStorage(nullptr);
    tz_.reset();
    tzset();
  }

  std::shared_ptr<ODBCDataSource> AddMonitor(const std::string& name) {
    auto monitor = store_.AddNewODBCDataSource();
    std::lock_guard lock(monitor->Mutex());
    monitor->name = name;
    monitor->address = name + "_dsn";
    return monitor;
  }
  std::string ReadPage(const std::string& name) const {
    std::ifstream in(docs_.Path() + "/Lumivar/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  TempDir docs_;
  ScopedEnv docsEnv_{"LUMIVAR_DOCUMENTS_DIR", docs_.Path()};
  std::optional<ScopedEnv> tz_{std::in_place, "TZ", "UTC"};
  FakeClock clock_{1765120500};
  ScopedClock scopedClock_{&clock_};
  ServerStorage store_;
};

TEST_F(HtmlStoreTest, TheSnapshotCopiesMonitorsAndActionsInStoreOrder) {
  auto mail = std::make_shared<Action>(Action::kSms);
  mail->name = "Page ops";
  mail->pollsCount = 3;
  mail->fromAddress = "lumivar@example.com";
  mail->toAddress = "ops@example.com";
  store_.AddAction(mail);
  auto program = std::make_shared<Action>(Action::kExecuteProgram);
  program->name = "Restart";
  program->path = "/usr/bin/restart";
  store_.AddAction(program);

  auto first = AddMonitor("First");
  auto second = AddMonitor("Second");
  std::string alertId, attributeId;
  {
    std::lock_guard lock(second->Mutex());
    second->running = true;
    second->current.available = false;
    second->current.health = false;
    second->current.time = 1765119600;
    second->current.connectionTime = 250;
    attributeId = second->healthAttributes.at(0).id;
    alertId = second->AddAlert(mail->id, attributeId, 0, 0, Alert::kClear).id;
  }

  const HtmlSnapshot s = HtmlReport::TakeSnapshot();
  {
    std::lock_guard lock(second->Mutex());
    second->running = false;  // it never started
  }
  EXPECT_EQ(s.now, 1765120500);
  ASSERT_EQ(s.monitors.size(), 2u);
  EXPECT_EQ(s.monitors[0].id, first->id);
  EXPECT_EQ(s.monitors[0].name, "First");
  EXPECT_FALSE(s.monitors[0].running);
  EXPECT_TRUE(s.monitors[0].available);  // a new monitor's sample
  EXPECT_FALSE(s.monitors[0].health);
  EXPECT_EQ(s.monitors[0].connectionTime, -1);
  const HtmlMonitorInfo& m = s.monitors[1];
  EXPECT_EQ(m.name, "Second");
  EXPECT_EQ(m.address, "Second_dsn");
  EXPECT_TRUE(m.running);
  EXPECT_FALSE(m.available);
  EXPECT_EQ(m.time, 1765119600);
  EXPECT_EQ(m.connectionTime, 250);
  ASSERT_EQ(m.attributes.size(), 4u);  // the built-in ones
  EXPECT_EQ(m.attributes[0].id, attributeId);
  EXPECT_FALSE(m.attributes[0].name.empty());
  ASSERT_EQ(m.alerts.size(), 1u);
  EXPECT_EQ(m.alerts[0].id, alertId);
  EXPECT_EQ(m.alerts[0].healthAttributeId, attributeId);
  EXPECT_EQ(m.alerts[0].alertType, Alert::kClear);

  ASSERT_EQ(s.actions.size(), 2u);
  EXPECT_EQ(s.actions[0].id, mail->id);
  EXPECT_EQ(s.actions[0].name, "Page ops");
  EXPECT_EQ(s.actions[0].type, Action::kSms);
  EXPECT_EQ(s.actions[0].pollsCount, 3);
  EXPECT_EQ(s.actions[0].toAddress, "ops@example.com");
  EXPECT_EQ(s.actions[1].path, "/usr/bin/restart");

  Services::SetStorage(nullptr);
  const HtmlSnapshot none = HtmlReport::TakeSnapshot();
  EXPECT_TRUE(none.monitors.empty());
  EXPECT_TRUE(none.actions.empty());
  EXPECT_EQ(none.now, 1765120500);
}

TEST_F(HtmlStoreTest, UpdateWritesBothPages) {
  AddMonitor("Orders");
  auto action = std::make_shared<Action>(Action::kUserInterface);
  action->name = "Box";
  store_.AddAction(action);
  HtmlReport::Update();
  const HtmlSnapshot s = HtmlReport::TakeSnapshot();
  std::string index, actions;
  HtmlReport::BuildSnapshotPage(s, index);
  HtmlReport::BuildActionsPage(s, actions);
  EXPECT_EQ(ReadPage("index.html"), index);
  EXPECT_EQ(ReadPage("actions.html"), actions);
  EXPECT_NE(index.find(">Orders</td>"), std::string::npos);
  EXPECT_NE(actions.find(">Box</td>"), std::string::npos);
}

TEST_F(HtmlStoreTest, ThePageWriterWritesBothPagesOfTheStoreAndTellsTheUi) {
  struct Ui : IUserInterface {
    void MonitorUpdated(std::string) override {}
    void PagesWritten() override { ++written; }
    void ShowBalloon(std::string, std::string, MessageKind) override {}
    void RestoreMainWindow() override {}
    void ShowAlertMessage(std::string, std::string, MessageKind) override {}
    void ShowActionTestResult(std::uint32_t) override {}
    std::atomic<int> written{0};
  } ui;
  Services::SetUi(&ui);
  AddMonitor("Orders");
  {
    PageWriter writer;
    writer.Request();
    ASSERT_TRUE(writer.WaitUntilIdle(std::chrono::seconds(30)));
    EXPECT_EQ(ui.written, 1);
  }
  Services::SetUi(nullptr);
  const HtmlSnapshot s = HtmlReport::TakeSnapshot();
  std::string index, actions;
  HtmlReport::BuildSnapshotPage(s, index);
  HtmlReport::BuildActionsPage(s, actions);
  EXPECT_EQ(ReadPage("index.html"), index);
  EXPECT_EQ(ReadPage("actions.html"), actions);
  EXPECT_NE(index.find(">Orders</td>"), std::string::npos);
}

TEST_F(HtmlStoreTest, PagesAreBuiltWhileTheStoreChanges) {
  std::atomic<bool> stop{false};
  std::atomic<int> builds{0};
  std::thread reporter([&] {
    while (!stop) {
      std::string page;
      HtmlReport::BuildReportPage(page);
      HtmlReport::Update();
      ++builds;
    }
  });
  for (int i = 0; i < 40; ++i) {
    auto monitor = AddMonitor("M" + std::to_string(i));
    auto action = std::make_shared<Action>(i % 5);
    action->name = "A" + std::to_string(i);
    store_.AddAction(action);
    {
      std::lock_guard lock(monitor->Mutex());
      monitor->name += " renamed";
      monitor->AddAlert(action->id, monitor->healthAttributes.at(0).id, 0, 0, Alert::kError);
    }
    {
      std::lock_guard lock(action->Mutex());
      action->name += " renamed";
    }
    if (i % 2 == 0) {
      store_.DeleteServer(monitor->id);
      store_.DeleteActionById(action->id);
    }
    if (i % 10 == 9) std::this_thread::yield();
  }
  while (builds < 3) std::this_thread::yield();
  stop = true;
  reporter.join();
  std::string page;
  HtmlReport::BuildSnapshotPage(page);
  EXPECT_NE(page.find(">M39 renamed</td>"), std::string::npos);
  EXPECT_EQ(page.find(">M38 renamed</td>"), std::string::npos);
}

}  // namespace
}  // namespace engine
