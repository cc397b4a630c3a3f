#include "app/dialogs/test_connection_dialog.h"

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>

#include <atomic>
#include <cctype>
#include <mutex>
#include <thread>
#include <utility>

#include "app/ui_thread.h"
#include "controls/accessible_name.h"

namespace app {

std::optional<std::int32_t> ParsePollingInterval(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  if (text.empty() || text.size() > 9) return std::nullopt;
  std::int32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < kMinPollingInterval || value > kMaxPollingInterval) return std::nullopt;
  return value;
}

std::int32_t ParseTimeout(std::string_view text) {
  const std::int32_t value = platform::LeadingInteger(text);
  return value < 0 ? 0 : value;
}

ConnectionTestInput MakeConnectionTestInput(const engine::MonitorSettings& settings,
                                            bool customTimeoutsAllowed,
                                            std::optional<std::string> query) {
  // The engine's own rule, so that a test and a poll connect alike.
  ConnectionTestInput input;
  input.connectionText =
      engine::MonitorConnectionText(settings.customConnectionString, settings.connectionString,
                                    settings.address, settings.username, settings.password);
  if (customTimeoutsAllowed && settings.customTimeouts) {
    input.loginTimeout = settings.loginTimeout;
    input.queryTimeout = settings.queryTimeout;
  }
  input.query = std::move(query);
  return input;
}

std::string TestLogText(TestStage stage, bool queryTest) {
  std::string log = "Running connectivity tests...\r\n\r\n";
  if (stage >= TestStage::kAttempting) log += "Attempting connection\r\n";
  if (stage >= TestStage::kConnected) {
    log += "Connection established\r\n";
    log += queryTest ? "Execute test query\r\n" : "Verifying option settings\r\n";
  }
  if (stage >= TestStage::kDisconnecting) log += "Disconnecting from server\r\n";
  return log;
}

std::string TestLogEnding(const platform::OdbcError& error) {
  if (!error.Failed()) return "\r\nTESTS COMPLETED SUCCESSFULLY!\r\n";
  std::string text;
  text.reserve(error.text.size() + 32);
  for (const char c : error.text) {
    if (c == '\n') text += '\r';
    text += c;
  }
  return text + "\r\nTESTS FAILED!\r\n";
}

platform::OdbcError RunConnectionTest(platform::IOdbc& odbc, const ConnectionTestInput& input,
                                      const std::function<void(const std::string& log)>& show) {
  const bool queryTest = input.query.has_value();
  show(TestLogText(TestStage::kStarted, queryTest));
  show(TestLogText(TestStage::kAttempting, queryTest));
  std::shared_ptr<platform::IOdbcConnection> connection;
  platform::OdbcError error = odbc.Connect(input.connectionText, input.loginTimeout, &connection);
  if (!error.Failed() && connection == nullptr) {
    error = {platform::kOdbcFailed, std::string(platform::kOdbcConnectionFailedText), ""};
  }
  TestStage reached = TestStage::kAttempting;
  if (!error.Failed()) {
    reached = TestStage::kConnected;
    if (queryTest) {
      // Opened forward-only and closed again: no value is looked at.
      platform::OdbcFirstValue value;
      error = connection->QueryFirstValue(*input.query, input.queryTimeout, &value);
    }
    if (!error.Failed()) {
      reached = TestStage::kDisconnecting;
      show(TestLogText(reached, queryTest));
    }
    connection->Close();
  }
  show(TestLogText(reached, queryTest) + TestLogEnding(error));
  return error;
}

wxString LogForDisplay(const std::string& log) {
  std::string text;
  text.reserve(log.size());
  for (std::size_t i = 0; i < log.size(); ++i) {
    if (log[i] == '\r' && i + 1 < log.size() && log[i + 1] == '\n') continue;
    text += log[i];
  }
  return wxString::FromUTF8(text);
}

// Shared by the dialog and its worker. Only `abandoned` is read on the worker; the rest is
// read and written on the UI thread, where the worker's reports arrive as posted work.
struct TestConnectionDialog::Session {
  std::string log;
  bool started = false;
  bool running = false;
  // The dialog while it exists; cleared by its destructor.
  TestConnectionDialog* dialog = nullptr;
  // Set when the dialog goes: the worker posts nothing more.
  std::atomic<bool> abandoned = false;
};

TestConnectionDialog::TestConnectionDialog(wxWindow* parent, ConnectionTestInput input,
                                           platform::IOdbc& odbc)
    : TestConnectionDialog(parent, std::move(input),
                           std::shared_ptr<platform::IOdbc>(std::shared_ptr<void>(), &odbc)) {}

TestConnectionDialog::TestConnectionDialog(wxWindow* parent, ConnectionTestInput input,
                                           std::shared_ptr<platform::IOdbc> odbc)
    : wxDialog(parent, wxID_ANY, "Test Connection", wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      input_(std::move(input)),
      odbc_(std::move(odbc)),
      session_(std::make_shared<Session>()) {
  session_->dialog = this;
  log_ = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, FromDIP(wxSize(420, 220)),
                        wxTE_MULTILINE | wxTE_READONLY);
  controls::SetAccessibleName(log_, "Test log");
  ok_ = new wxButton(this, wxID_OK, "OK");
  controls::SetAccessibleName(ok_, "OK");
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(log_, 1, wxEXPAND | wxALL, FromDIP(8));
  sizer->Add(ok_, 0, wxALIGN_RIGHT | wxLEFT | wxRIGHT | wxBOTTOM, FromDIP(8));
  SetSizerAndFit(sizer);
  SetEscapeId(wxID_NONE);
  ok_->Bind(wxEVT_BUTTON, &TestConnectionDialog::OnOk, this);
  Bind(wxEVT_CHAR_HOOK, &TestConnectionDialog::OnCharHook, this);
}

TestConnectionDialog::~TestConnectionDialog() {
  session_->dialog = nullptr;
  session_->abandoned = true;
}

bool TestConnectionDialog::StartTest() {
  if (session_->started) return false;
  session_->started = true;
  session_->running = true;
  ok_->Disable();
  try {
    // The worker holds no pointer to the dialog: what it reports goes through the session,
    // and only while the dialog exists.
    std::thread([session = session_, input = input_, odbc = odbc_] {
      RunConnectionTest(*odbc, input, [&session](const std::string& log) {
        if (session->abandoned) return;
        PostToUiThread([session, log] {
          session->log = log;
          if (session->dialog) session->dialog->ShowLog();
        });
      });
      if (session->abandoned) return;
      PostToUiThread([session] {
        session->running = false;
        if (session->dialog) session->dialog->ok_->Enable();
      });
    }).detach();
  } catch (const std::system_error&) {
    session_->running = false;
    ok_->Enable();
    return false;
  }
  return true;
}

bool TestConnectionDialog::Running() const { return session_->running; }

std::string TestConnectionDialog::Log() const { return session_->log; }

int TestConnectionDialog::ShowModal() {
  StartTest();
  return wxDialog::ShowModal();
}

void TestConnectionDialog::ShowLog() {
  log_->ChangeValue(LogForDisplay(session_->log));
  log_->ShowPosition(log_->GetLastPosition());
}

void TestConnectionDialog::OnOk(wxCommandEvent& event) {
  if (Running()) return;
  event.Skip();
}

void TestConnectionDialog::OnCharHook(wxKeyEvent& event) {
  if (event.GetKeyCode() == WXK_ESCAPE) {
    if (IsModal()) {
      EndModal(wxID_CANCEL);
    } else {
      Close();
    }
    return;
  }
  event.Skip();
}

}  // namespace app
