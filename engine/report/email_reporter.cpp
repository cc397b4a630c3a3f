#include "engine/report/email_reporter.h"

#include <atomic>
#include <thread>

#include "engine/clock.h"
#include "engine/report/html_report.h"
#include "engine/services.h"
#include "mail/smtp.h"
#include "platform/registry.h"
#include "platform/resources.h"
#include "platform/time_format.h"

namespace engine {

using platform::Status;

namespace {

constexpr unsigned kProductNameId = 0xE000;
constexpr int kMinuteForm = 3;  // FormatTimeForDisplay: "%d %b %Y %I:%M %p"
constexpr auto kExitBound = std::chrono::seconds(5);

std::atomic<EMailReporter::SmtpClientFactory> clientFactory{nullptr};

}  // namespace

// One report thread: its client while it talks to the server, so that Shutdown can
// cancel it, and whether it has ended.
struct EMailReporter::Job {
  std::mutex mutex;
  std::condition_variable ended;
  Smtp::IClient* client = nullptr;  // while connected
  bool cancelled = false;
  bool done = false;

  void Cancel() {
    std::lock_guard lock(mutex);
    cancelled = true;
    if (client != nullptr) client->Cancel();
  }
  bool WaitUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex);
    return ended.wait_until(lock, deadline, [this] { return done; });
  }
};

EMailReporter::EMailReporter() = default;

EMailReporter::~EMailReporter() { Shutdown(kExitBound); }

std::int64_t EMailReporter::ReportSpan(int mode) {
  switch (mode) {
    case 1:
      return kDay;
    case 2:
      return 7 * kDay;
    case 3:
      return 30 * kDay;
    default:
      return 0;
  }
}

std::int64_t EMailReporter::ReadLastReportTime() {
  // A missing value and one that does not read as a time both read as 0: never sent.
  const std::string text = platform::ReadRegistryString(kLastReportTimePath);
  std::int64_t last = platform::StringToTime(text);
  // In the hour repeated when summer time ends one text names two times, and which one
  // the conversion picks depends on what it converted before. Take the later one, so the
  // answer is always the same and a report never goes out before its span.
  if (last != 0 && platform::TimeToString(last + 3600) == text) last += 3600;
  return last;
}

bool EMailReporter::IsDue(std::int64_t last, std::int64_t now, std::int64_t span) {
  return now - last >= span - (span > 0 ? kEarlyTolerance : 0);
}

void EMailReporter::CheckAndSend() {
  const ISettingsSource* settings = Services::Settings();
  if (settings == nullptr) return;
  const MailSettings mail = settings->GetMail();
  if (mail.mode != 0) CheckAndSend(mail);
}

bool EMailReporter::CheckAndSend(const MailSettings& settings) {
  if (settings.mode == 0) return false;
  const std::int64_t last = ReadLastReportTime();
  const std::int64_t now = Clock::Now();
  if (!IsDue(last, now, ReportSpan(settings.mode))) return false;
  // Stored before sending, whatever the send's outcome: a failed report is not retried
  // before the next span.
  if (!platform::WriteRegistryString(kLastReportTimePath, platform::TimeToString(now))) {
    return false;
  }

  std::lock_guard lock(mutex_);
  if (closing_) return false;
  std::erase_if(jobs_, [](const std::shared_ptr<Job>& job) {
    std::lock_guard jobLock(job->mutex);
    return job->done;
  });
  auto job = std::make_shared<Job>();
  try {
    std::thread(ThreadProc, job, settings).detach();
  } catch (...) {
    return false;  // no thread: no report in this period
  }
  jobs_.push_back(std::move(job));
  return true;
}

void EMailReporter::ThreadProc(std::shared_ptr<Job> job, MailSettings settings) {
  try {
    bool cancelled;
    {
      std::lock_guard lock(job->mutex);
      cancelled = job->cancelled;
    }
    if (!cancelled) {
      std::string page;
      HtmlReport::BuildReportPage(page);
      Send(settings, page, job.get());
    }
  } catch (...) {
    // A report that cannot be built or sent is lost for this period.
  }
  std::lock_guard lock(job->mutex);
  job->done = true;
  job->ended.notify_all();
}

Status EMailReporter::SendReport(const MailSettings& settings) {
  std::string page;
  HtmlReport::BuildReportPage(page);
  return Send(settings, page, nullptr);
}

Status EMailReporter::SendPage(const MailSettings& settings, const std::string& page) {
  return Send(settings, page, nullptr);
}

Status EMailReporter::Send(const MailSettings& settings, const std::string& page, Job* job) {
  if (settings.port < 1 || settings.port > 0xFFFF) return platform::kInvalidParameter;
  // Sender: the product name and the report's from address; the recipient field without a
  // display name.
  const Smtp::SingleRecipientMessage info(
      Smtp::Mailbox(platform::LoadResourceString(kProductNameId), settings.fromAddress),
      Smtp::Mailbox("", settings.toAddress),
      "Lumivar Report " + platform::FormatTimeForDisplay(Clock::Now(), kMinuteForm));
  Status status = Smtp::ValidateMessageInfo(info);
  if (status != platform::kOk) return status;

  Smtp::IClient* raw = nullptr;
  const SmtpClientFactory factory = clientFactory.load();
  status = factory != nullptr ? factory(&raw) : Smtp::CreateClient(&raw);
  if (status != platform::kOk || raw == nullptr) {
    return status != platform::kOk ? status : platform::kFailure;
  }
  Smtp::ClientPtr client(raw);
  if (job != nullptr) {
    std::lock_guard lock(job->mutex);
    if (job->cancelled) return platform::kWsaEintr;
    job->client = raw;
  }

  Smtp::ConnectionValues params;
  params.server = settings.server;
  params.port = static_cast<std::uint16_t>(settings.port);
  params.useAuthentication = settings.auth != 0;
  params.userName = settings.userName;
  params.password = settings.password;
  params.timeoutMs = EMailReporter::kTimeoutMs;
  status = Smtp::SendOneMessage(*client, params, info, page, /*html=*/true);

  if (job != nullptr) {
    std::lock_guard lock(job->mutex);
    job->client = nullptr;
  }
  return status;
}

bool EMailReporter::WaitForReports(std::chrono::milliseconds bound) {
  std::vector<std::shared_ptr<Job>> jobs;
  {
    std::lock_guard lock(mutex_);
    jobs = jobs_;
  }
  const auto deadline = std::chrono::steady_clock::now() + bound;
  bool allEnded = true;
  for (const auto& job : jobs) allEnded = job->WaitUntil(deadline) && allEnded;
  return allEnded;
}

bool EMailReporter::Shutdown(std::chrono::milliseconds bound) {
  std::vector<std::shared_ptr<Job>> jobs;
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
    jobs = jobs_;
  }
  for (const auto& job : jobs) job->Cancel();
  return WaitForReports(bound);
}

void EMailReporter::SetSmtpClientFactory(SmtpClientFactory factory) { clientFactory = factory; }

}  // namespace engine
