// The connection test: a worker connects with a monitor's connection text and disconnects,
// or runs one test query in between, and its running log is shown in a modal dialog.
// The pure parts (the log texts, the inputs, the parsing of the settings fields) are free
// functions; the dialog only shows what the worker reports.
#pragma once

#include <wx/dialog.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/store/monitor_snapshot.h"
#include "platform/odbc.h"

class wxButton;
class wxTextCtrl;

namespace app {

// The least and greatest polling interval in minutes: 0 would poll without pause, and more
// minutes than this overflow the wait in milliseconds.
inline constexpr std::int32_t kMinPollingInterval = 1;
inline constexpr std::int32_t kMaxPollingInterval = 71582;

// The polling interval typed in a field: decimal digits only (blanks around allowed), within
// the bounds above; empty otherwise.
std::optional<std::int32_t> ParsePollingInterval(std::string_view text);
// A time-out typed in a field, in seconds: its leading integer, 0 for text that is not a
// number and for negative numbers.
std::int32_t ParseTimeout(std::string_view text);

// What the worker needs, copied before it starts.
struct ConnectionTestInput {
  std::string connectionText;
  std::int32_t loginTimeout = engine::kDefaultOdbcTimeout;  // seconds
  std::int32_t queryTimeout = engine::kDefaultOdbcTimeout;  // seconds
  std::optional<std::string> query;                         // the test query to run, if any

  bool operator==(const ConnectionTestInput&) const = default;
};

// The input for monitor settings: the connection text a poll would use; the settings'
// time-outs when customTimeoutsAllowed and the settings ask for them, else the defaults.
ConnectionTestInput MakeConnectionTestInput(const engine::MonitorSettings& settings,
                                            bool customTimeoutsAllowed,
                                            std::optional<std::string> query = std::nullopt);

// The stages of a test, in order; the log of a stage holds the lines of every stage before.
enum class TestStage {
  kStarted,        // "Running connectivity tests..." and a blank line
  kAttempting,     // "Attempting connection"
  kConnected,      // "Connection established", then the option line or the query line
  kDisconnecting,  // "Disconnecting from server"
};

// The log as it stands once `stage` is reached (CRLF line ends).
std::string TestLogText(TestStage stage, bool queryTest);
// The end of the log: the success line, or the failure's text with its "\n" as "\r\n"
// followed by the failure line.
std::string TestLogEnding(const platform::OdbcError& error);

// Runs the test on the calling thread, handing every new state of the whole log to show;
// the last call carries the ending. Returns the first failure (code 0 on success).
platform::OdbcError RunConnectionTest(platform::IOdbc& odbc, const ConnectionTestInput& input,
                                      const std::function<void(const std::string& log)>& show);

// The log shown in a text control: CRLF line ends as "\n".
wxString LogForDisplay(const std::string& log);

// The modal "Test Connection" dialog. The test starts when the dialog is shown; OK is
// disabled while it runs, but Escape and the close box close the dialog at once. A driver
// call still running then stays with the worker, which owns everything it uses and reports
// nothing once the dialog is gone. UI thread only.
class TestConnectionDialog : public wxDialog {
 public:
  // odbc must outlive every worker started on it (the system driver manager does).
  TestConnectionDialog(wxWindow* parent, ConnectionTestInput input,
                       platform::IOdbc& odbc = platform::SystemOdbc());
  // The worker keeps odbc alive until it ends.
  TestConnectionDialog(wxWindow* parent, ConnectionTestInput input,
                       std::shared_ptr<platform::IOdbc> odbc);
  ~TestConnectionDialog() override;

  // Starts the worker (once); ShowModal calls it. False when it could not be started.
  bool StartTest();
  bool Running() const;
  // The whole log so far, with CRLF line ends.
  std::string Log() const;

  wxButton* OkButton() const { return ok_; }
  wxTextCtrl* LogCtrl() const { return log_; }

  int ShowModal() override;

  // The state the worker reports into; it outlives the dialog.
  struct Session;

 private:
  void OnOk(wxCommandEvent& event);
  void OnCharHook(wxKeyEvent& event);
  void ShowLog();

  ConnectionTestInput input_;
  std::shared_ptr<platform::IOdbc> odbc_;
  std::shared_ptr<Session> session_;
  wxButton* ok_ = nullptr;
  wxTextCtrl* log_ = nullptr;
};

}  // namespace app
