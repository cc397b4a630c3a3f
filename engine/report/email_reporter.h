// The periodic e-mail report. Once an hour the main frame asks CheckAndSend whether the
// report is due (daily, weekly or monthly since the time stored under
// "EMailReport\lastReportTime"); when it is, the time is stored and a thread of its own
// builds the report page from a snapshot of the store and mails it as HTML in UTF-8.
// Nothing of a report is shown or logged. CheckAndSend and Shutdown run on the UI
// thread; the reporter outlives its report threads or cancels them at exit.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/settings_source.h"
#include "platform/status.h"

namespace Smtp {
class IClient;
}

namespace engine {

class EMailReporter {
 public:
  static constexpr const char* kLastReportTimePath = "EMailReport\\lastReportTime";
  static constexpr std::int64_t kDay = 86'400;
  // A check that comes this much early still counts as due, so that a report does not slip
  // a whole hour when the hourly timer fires a little before the span has passed.
  static constexpr std::int64_t kEarlyTolerance = 60;
  static constexpr std::uint32_t kTimeoutMs = 30'000;  // per wait of the SMTP exchange

  EMailReporter();
  // Shutdown with a short bound.
  ~EMailReporter();
  EMailReporter(const EMailReporter&) = delete;
  EMailReporter& operator=(const EMailReporter&) = delete;

  // The hourly check with the user's settings (Services::Settings()); nothing while the
  // report is switched off.
  void CheckAndSend();
  // The check with these settings, a copy of which goes to the report thread. Mode 0
  // never sends. When due, stores the current time and starts the report thread; when
  // the time cannot be stored, nothing is sent (else every check would send again).
  // True when a report thread was started.
  bool CheckAndSend(const MailSettings& settings);

  // Seconds between reports: 1, 7 or 30 days for modes 1, 2 and 3; 0 for any other mode
  // (a report at every check).
  static std::int64_t ReportSpan(int mode);
  // The time stored under kLastReportTimePath; 0 when it is missing or does not read as
  // a time. A text of the hour repeated when summer time ends reads as its later time.
  static std::int64_t ReadLastReportTime();
  // Whether a report is due at `now` after one at `last` (0: never sent).
  static bool IsDue(std::int64_t last, std::int64_t now, std::int64_t span);

  // The report thread's work: the report page of the store as it is now, sent with these
  // settings. Returns the status of the send, 0 for success (nobody else reads it).
  static platform::Status SendReport(const MailSettings& settings);
  // Sends a page already built, with the subject "Lumivar Report <current time>": create,
  // connect, send as HTML in UTF-8, end, QUIT only after full success, release. Settings
  // that cannot work (no port, an unusable address) fail before anything is sent.
  static platform::Status SendPage(const MailSettings& settings, const std::string& page);

  // Waits up to the bound for running report threads to end; true when none runs.
  bool WaitForReports(std::chrono::milliseconds bound);
  // At exit: no report starts any more, running sends are cancelled and waited for up to
  // the bound, then abandoned (they touch nothing of the reporter). True when none was
  // still running.
  bool Shutdown(std::chrono::milliseconds bound);

  // The SMTP client factory of the report threads; null restores the real one. For
  // tests; set only while no report runs.
  using SmtpClientFactory = platform::Status (*)(Smtp::IClient** client);
  static void SetSmtpClientFactory(SmtpClientFactory factory);

 private:
  struct Job;

  static void ThreadProc(std::shared_ptr<Job> job, MailSettings settings);
  static platform::Status Send(const MailSettings& settings, const std::string& page, Job* job);

  std::mutex mutex_;
  bool closing_ = false;
  std::vector<std::shared_ptr<Job>> jobs_;
};

}  // namespace engine
