// Fakes for the action and e-mail report tests: an SMTP client that records every call and
// can hold a connection open until released (or cancelled), a user interface that records
// every call, an ODBC layer whose connects fail, and a trace of the threads that called
// them. All are thread-safe: workers call them.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/user_interface.h"
#include "mail/smtp.h"
#include "platform/odbc.h"

namespace engine::testing {

// While one exists, the fakes below note here what they were asked to do and on which
// thread, in call order across all of them.
class ThreadTrace {
 public:
  struct Call {
    std::string what;
    std::thread::id thread;
  };

  ThreadTrace() { Current() = this; }
  ~ThreadTrace() { Current() = nullptr; }

  static void Note(std::string what) {
    if (ThreadTrace* trace = Current()) {
      std::lock_guard lock(trace->mutex_);
      trace->calls_.push_back({std::move(what), std::this_thread::get_id()});
    }
  }
  std::vector<Call> Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  static std::atomic<ThreadTrace*>& Current() {
    static std::atomic<ThreadTrace*> current{nullptr};
    return current;
  }

  mutable std::mutex mutex_;
  std::vector<Call> calls_;
};

// An ODBC layer on which every connect fails with `code`.
class FailingOdbc : public platform::IOdbc {
 public:
  explicit FailingOdbc(std::int32_t code) : code_(code) {}

  platform::OdbcError Connect(std::string_view, int,
                              std::shared_ptr<platform::IOdbcConnection>*) override {
    ThreadTrace::Note("odbc");
    platform::OdbcError error;
    error.code = code_;
    error.text = "refused";
    return error;
  }
  platform::OdbcError ListDataSources(std::vector<platform::OdbcDataSource>*) override {
    return {};
  }

 private:
  const std::int32_t code_;
};

// The fake SMTP server side of every FakeSmtpClient: scripted answers and the record.
// Install with Action::SetSmtpClientFactory(&FakeSmtp::Create); the FakeSmtp made last
// serves every client.
class FakeSmtp {
 public:
  static platform::Status Create(Smtp::IClient** client);

  FakeSmtp() { Current() = this; }
  ~FakeSmtp() { Current() = nullptr; }

  platform::Status connectStatus = 0;
  // Connect waits until Release, or the client's Cancel for the first
  // `cancellableClients` clients made.
  bool blockInConnect = false;
  int cancellableClients = 1 << 30;

  void Release() {
    {
      std::lock_guard lock(mutex_);
      released_ = true;
    }
    cv_.notify_all();
  }
  // Waits until `count` clients have entered Connect.
  bool WaitForConnects(int count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, timeout, [&] { return connects_ >= count; });
  }
  std::vector<std::string> Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  int Count(const std::string& call) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count(calls_.begin(), calls_.end(), call));
  }
  int Clients() const {
    std::lock_guard lock(mutex_);
    return clients_;
  }

 private:
  friend class FakeSmtpClient;
  static FakeSmtp*& Current() {
    static FakeSmtp* current = nullptr;
    return current;
  }
  void Record(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::string> calls_;
  bool released_ = false;
  int connects_ = 0;
  int clients_ = 0;
};

class FakeSmtpClient final : public Smtp::IClient {
 public:
  FakeSmtpClient(FakeSmtp& smtp, bool cancellable) : smtp_(smtp), cancellable_(cancellable) {}

  platform::Status Release() override {
    smtp_.Record("Release");
    delete this;
    return 0;
  }
  platform::Status Cancel() override {
    {
      std::lock_guard lock(smtp_.mutex_);
      cancelled_ = true;
      smtp_.calls_.push_back("Cancel");
    }
    smtp_.cv_.notify_all();
    return 0;
  }
  platform::Status Connect(const Smtp::IConnectionParams& p) override {
    ThreadTrace::Note("smtp");
    smtp_.Record("Connect " + p.GetServer() + ":" + std::to_string(p.GetPort()) +
                 " auth=" + std::to_string(p.GetUseAuthentication()) + " " + p.GetUserName() + "/" +
                 p.GetPassword() + " tls=" + std::to_string(p.GetUseStartTls()) +
                 " timeout=" + std::to_string(p.GetTimeout()));
    std::unique_lock lock(smtp_.mutex_);
    ++smtp_.connects_;
    smtp_.cv_.notify_all();
    if (smtp_.blockInConnect) {
      smtp_.cv_.wait(lock, [&] { return smtp_.released_ || (cancelled_ && cancellable_); });
    }
    if (cancelled_) return platform::kWsaEintr;
    return smtp_.connectStatus;
  }
  platform::Status Disconnect(bool sendQuit) override {
    smtp_.Record(sendQuit ? "Disconnect QUIT" : "Disconnect");
    return 0;
  }
  platform::Status BeginMessage(Smtp::IMessageBody**, int, const Smtp::IMessageInfo&,
                                std::uint16_t) override {
    smtp_.Record("BeginMessage");
    return 1;
  }
  platform::Status SendText(const std::string& text, const Smtp::IMessageInfo& info,
                            std::uint16_t codePage) override {
    smtp_.Record("SendText " + Describe(info, codePage) + " text=" + text);
    return 0;
  }
  platform::Status SendHtml(const std::string& html, const Smtp::IMessageInfo& info,
                            std::uint16_t codePage) override {
    smtp_.Record("SendHtml " + Describe(info, codePage) + " html=" + html);
    return 0;
  }
  platform::Status EndMessage() override {
    smtp_.Record("EndMessage");
    return 0;
  }

 private:
  static std::string Describe(const Smtp::IMessageInfo& info, std::uint16_t codePage) {
    std::string text = "cp=" + std::to_string(codePage) + " from=\"" + info.GetSender().GetName() +
                       "\" <" + info.GetSender().GetAddress() + "> to=";
    for (std::uint32_t i = 0; i < info.GetRecipientCount(); ++i) {
      text +=
          "\"" + info.GetRecipient(i).GetName() + "\" <" + info.GetRecipient(i).GetAddress() + ">";
    }
    return text + " subject=" + info.GetSubject();
  }

  FakeSmtp& smtp_;
  const bool cancellable_;
  bool cancelled_ = false;  // guarded by smtp_.mutex_
};

inline platform::Status FakeSmtp::Create(Smtp::IClient** client) {
  FakeSmtp* smtp = Current();
  if (smtp == nullptr) return platform::kFailure;
  bool cancellable = false;
  {
    std::lock_guard lock(smtp->mutex_);
    cancellable = smtp->clients_++ < smtp->cancellableClients;
  }
  *client = new FakeSmtpClient(*smtp, cancellable);
  return 0;
}

class RecordingUi : public IUserInterface {
 public:
  void MonitorUpdated(std::string monitorId) override { Record("updated:" + monitorId); }
  void ShowBalloon(std::string title, std::string text, MessageKind kind) override {
    ThreadTrace::Note("balloon");
    Record("balloon:" + title + "|" + text + "|" + Kind(kind));
  }
  void RestoreMainWindow() override {
    ThreadTrace::Note("restore");
    Record("restore");
  }
  void ShowAlertMessage(std::string caption, std::string text, MessageKind kind) override {
    ThreadTrace::Note("box");
    Record("box:" + caption + "|" + text + "|" + Kind(kind));
  }
  void ShowActionTestResult(std::uint32_t status) override {
    if (onTestResult) onTestResult();
    Record("test:" + std::to_string(status));
  }

  std::vector<std::string> Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    calls_.clear();
  }

  // Runs on the worker's thread before a test result is recorded; set it before the run.
  std::function<void()> onTestResult;

 private:
  static std::string Kind(MessageKind kind) {
    return kind == MessageKind::kError ? "error" : "info";
  }
  void Record(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }

  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
};

}  // namespace engine::testing
