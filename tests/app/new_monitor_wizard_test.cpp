// The new-monitor wizard without a display: the summary text, the alert rows the chosen
// actions allow, and the data source names read through the real driver manager from ini
// files of the test's own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <functional>
#include <string>

#include "app/dialogs/new_monitor_wizard.h"
#include "tests/support/temp_dir.h"

namespace app {
namespace {

TEST(NewMonitorWizard, SummaryLinesInOrderWithThePasswordMasked) {
  const std::string head =
      "Monitor will be created with settings:\n\nName: Sales\n"
      "ODBC Datasource: db\n";
  const std::string user = "Username: ann\nPassword: ********\n";
  const std::string interval = "Polling Interval: 15 minutes\n\n";
  const std::string actions = "Actions:\n- Message Box Action\n- Popup Balloon Action\n\n";
  const std::string alerts =
      "Alerts:\n- Monitor Availability Error (Message Box)\n"
      "- Monitor Availability Clear (Popup Balloon)\n- Monitor Health Error (Message Box)\n"
      "- Monitor Health Clear (Popup Balloon)\n- Monitor Connection Time Error (Popup Balloon)\n"
      "- Monitor Connection Time Clear (Popup Balloon)\n\n";
  const struct {
    const char* name;
    std::function<void(NewMonitorData&)> change;
    std::string text;
  } cases[] = {
      {"everything", [](auto&) {}, head + user + interval + actions + alerts},
      {"no user name", [](auto& d) { d.userName.clear(); }, head + interval + actions + alerts},
      {"nothing chosen",
       [](auto& d) {
         d.password = "a much longer password";
         d.messageBoxAction = d.balloonAction = false;
         for (int row = 0; row < kWizardAlertRows; ++row) WizardAlertRowFlag(d, row) = false;
       },
       head + user + interval},
      {"some",
       [](auto& d) {
         d.balloonAction = d.availabilityClear = d.healthClear = d.connectionTimeError = false;
       },
       head + user + interval + "Actions:\n- Message Box Action\n\n" +
           "Alerts:\n- Monitor Availability Error (Message Box)\n"
           "- Monitor Health Error (Message Box)\n"
           "- Monitor Connection Time Clear (Popup Balloon)\n\n"},
  };
  for (const auto& c : cases) {
    NewMonitorData data;
    data.name = "Sales";
    data.dataSource = "db";
    data.userName = "ann";
    data.password = "secret";
    c.change(data);
    EXPECT_EQ(NewMonitorSummary(data), c.text) << c.name;
  }
}

TEST(NewMonitorWizard, TheChosenActionsAllowAlertRowsAndClearTheOthers) {
  using Rows = std::array<bool, kWizardAlertRows>;
  const struct {
    bool messageBox, balloon;
    Rows allowed;
  } cases[] = {{true, true, {1, 1, 1, 1, 1, 1}},
               {true, false, {1, 0, 1, 0, 0, 0}},
               {false, true, {0, 1, 0, 1, 1, 1}},
               {false, false, {0, 0, 0, 0, 0, 0}}};
  for (const auto& c : cases) {
    NewMonitorData data;
    data.messageBoxAction = c.messageBox;
    data.balloonAction = c.balloon;
    ClearBlockedWizardAlerts(data);
    Rows allowed{}, flags{};
    for (int row = 0; row < kWizardAlertRows; ++row) {
      allowed[row] = WizardAlertRowAllowed(data, row);
      flags[row] = WizardAlertRowFlag(data, row);
    }
    EXPECT_EQ(allowed, c.allowed) << c.messageBox << c.balloon;
    EXPECT_EQ(flags, c.allowed) << c.messageBox << c.balloon;
  }
}

TEST(NewMonitorWizard, DataSourcesUserThenSystemEachNameOnceLongNamesKept) {
  testing_support::TempDir dir;
  const std::string longName(70, 'L');
  std::ofstream(dir.File("odbcinst.ini")) << "";
  std::ofstream(dir.File("user-odbc.ini"))
      << "[Zeta Sales]\nDriver=None\n[Alpha]\nDriver=None\n[" << longName << "]\nDriver=None\n";
  std::ofstream(dir.File("odbc.ini")) << "[Alpha]\nDriver=Other\n[System Only]\nDriver=Other\n";
  // The driver manager reads these at the process's first call.
  testing_support::ScopedEnv system("ODBCSYSINI", dir.Path());
  testing_support::ScopedEnv user("ODBCINI", dir.File("user-odbc.ini"));

  std::vector<platform::OdbcDataSource> sources;
  const platform::OdbcError error = platform::SystemOdbc().ListDataSources(&sources);
  ASSERT_FALSE(error.Failed()) << error.text;
  EXPECT_THAT(DataSourceNames(sources),
              testing::ElementsAre("Zeta Sales", "Alpha", longName, "System Only"));
}

}  // namespace
}  // namespace app
