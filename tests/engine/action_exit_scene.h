// Shared set-up of the programs that end the actions' worker (each shutdown lasts for the
// rest of its process): a store with two monitors, a mail action that uses the SMTP fake,
// a user-interface action, and helpers to fire them and read a monitor's log back.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/actions/action.h"
#include "engine/monitor/odbc_data_source.h"
#include "engine/services.h"
#include "engine/store/server_storage.h"
#include "tests/engine/action_fakes.h"
#include "tests/engine/monitor_fixture.h"

namespace engine::testing {

class ActionExitTest : public MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    Services::SetUi(&ui_);
    Services::SetStorage(&store_);
    Action::SetSmtpClientFactory(&FakeSmtp::Create);
    mail_->name = "Mail";
    mail_->fromAddress = "ops@example.com";
    mail_->toAddress = "dba@example.com";
    store_.AddAction(mail_);
    notice_->name = "Notice";
    notice_->uiType = Action::kBalloon;
    store_.AddAction(notice_);
  }
  void TearDown() override {
    smtp_.Release();
    EXPECT_TRUE(Action::WaitForRunningActions(std::chrono::seconds(60)));
    Action::SetSmtpClientFactory(nullptr);
    MonitorTest::TearDown();
  }

  // A new alert of the monitor that fires the action; its identifier.
  static std::string AddAlert(const std::shared_ptr<ODBCDataSource>& monitor,
                              const std::shared_ptr<Action>& action) {
    std::lock_guard lock(monitor->Mutex());
    return monitor->AddAlert(action->id, "", 0, 0, Alert::kError).id;
  }
  static platform::Status Fire(const std::shared_ptr<ODBCDataSource>& monitor,
                               const std::shared_ptr<Action>& action, const std::string& alertId) {
    return action->Run(FiringAlert{monitor->id, alertId, Alert::kError}, "s", "t");
  }
  static Alert AlertCopy(const std::shared_ptr<ODBCDataSource>& monitor,
                         const std::string& alertId) {
    std::lock_guard lock(monitor->Mutex());
    const Alert* alert = monitor->FindAlert(alertId);
    return alert != nullptr ? *alert : Alert();
  }
  // A monitor's log lines as "type|text", oldest first.
  static std::vector<std::string> Log(const std::string& monitorId) {
    std::vector<std::string> lines;
    for (const auto& row : DataRows("SELECT type, text FROM Log WHERE monitorId = '" + monitorId +
                                    "' ORDER BY rowid")) {
      lines.push_back(row[0] + "|" + row[1]);
    }
    return lines;
  }

  RecordingUi ui_;
  FakeSmtp smtp_;
  ServerStorage store_;
  std::shared_ptr<ODBCDataSource> first_ = store_.AddNewODBCDataSource();
  std::shared_ptr<ODBCDataSource> second_ = store_.AddNewODBCDataSource();
  std::shared_ptr<Action> mail_ = std::make_shared<Action>(Action::kEmail);
  std::shared_ptr<Action> notice_ = std::make_shared<Action>(Action::kUserInterface);
};

}  // namespace engine::testing
