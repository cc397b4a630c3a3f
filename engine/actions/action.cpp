#include "engine/actions/action.h"

#include <sqlite3.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <shared_mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "engine/actions/program_launcher.h"
#include "engine/clock.h"
#include "engine/data/log_writer.h"
#include "engine/data/statements.h"
#include "engine/monitor_directory.h"
#include "engine/services.h"
#include "engine/user_interface.h"
#include "mail/smtp.h"
#include "platform/guid.h"
#include "platform/odbc.h"
#include "platform/resources.h"

namespace engine {

namespace {

constexpr unsigned kApplicationTitleId = 0xE000;
constexpr std::uint32_t kSmtpTimeoutMs = 20000;
// The SQL action's login and query time-outs, in seconds.
constexpr int kSqlTimeoutSeconds = 5000;

// Columns of an Actions row.
enum Column {
  kId,
  kName,
  kType,
  kServer,
  kPort,
  kAuth,
  kUserName,
  kPassword,
  kFromAddress,
  kToAddress,
  kDatasourceName,
  kSqlQuery,
  kPath,
  kUiType,
  kPollsCount,
  kColumnCount
};

// A way to end one running SMTP exchange or SQL statement from another thread. Called
// only while `active`, under its own mutex, so the worker can retire it safely before the
// object it reaches goes.
struct CancelHook {
  std::mutex mutex;
  bool active = true;
  std::function<void()> cancel;

  void Fire() {
    std::lock_guard lock(mutex);
    if (active) cancel();
  }
};

// One firing or test run waiting for the worker, with the executions of its action, which
// say whether it has been forgotten.
struct QueuedExecution {
  std::shared_ptr<ActionWorkerContext> context;
  std::shared_ptr<ActionWorkers> workers;
};

// What all executions of the process share: the queue that the one worker thread serves in
// firing order, whether it is executing one now (for the bounded waits), the cancel hooks of
// a running SMTP exchange or SQL statement, and the gate that closes the way to monitors,
// store and user interface at exit. Never destroyed, like ActionLock, so the worker thread
// never meets a destroyed object, not even at process exit.
struct Runtime {
  std::mutex mutex;
  std::condition_variable queued;  // the queue is no longer empty
  std::condition_variable idle;    // the queue is empty and nothing executes
  std::deque<QueuedExecution> queue;
  bool executing = false;
  bool workerStarted = false;
  bool accepting = true;
  std::vector<std::shared_ptr<CancelHook>> cancels;

  std::shared_mutex gate;
  bool closed = false;  // guarded by gate

  Action::SmtpClientFactory smtpFactory = nullptr;
  platform::IOdbc* odbc = nullptr;

  bool Idle() const { return queue.empty() && !executing; }
};

Runtime& GetRuntime() {
  static Runtime* runtime = new Runtime;
  return *runtime;
}

// Keeps a cancel hook registered for one scope. Registered after shutdown began, it
// cancels at once.
class CancelRegistration {
 public:
  explicit CancelRegistration(std::function<void()> cancel)
      : hook_(std::make_shared<CancelHook>()) {
    hook_->cancel = std::move(cancel);
    Runtime& rt = GetRuntime();
    {
      std::lock_guard lock(rt.mutex);
      if (rt.accepting) {
        rt.cancels.push_back(hook_);
        return;
      }
    }
    hook_->Fire();
  }
  ~CancelRegistration() {
    {
      std::lock_guard lock(hook_->mutex);
      hook_->active = false;
    }
    Runtime& rt = GetRuntime();
    std::lock_guard lock(rt.mutex);
    std::erase(rt.cancels, hook_);
  }
  CancelRegistration(const CancelRegistration&) = delete;
  CancelRegistration& operator=(const CancelRegistration&) = delete;

 private:
  std::shared_ptr<CancelHook> hook_;
};

// Runs fn with the way to monitors, store and user interface open; does nothing once it
// closed at exit.
template <typename Fn>
void ThroughGate(Fn fn) {
  Runtime& rt = GetRuntime();
  std::shared_lock lock(rt.gate);
  if (!rt.closed) fn();
}

bool IsCertificateFailure(platform::Status status) {
  return status == platform::kTlsWrongHost || status == platform::kTlsUntrusted ||
         status == platform::kTlsCertExpired;
}

// Control characters in a subject would end the mail's header line early.
std::string SubjectLine(const std::string& subject) {
  std::string line = subject;
  for (char& c : line) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) c = ' ';
  }
  return line;
}

}  // namespace

// The executions of one action that are queued or running and have not been forgotten.
struct ActionWorkers {
  std::mutex mutex;
  std::vector<std::shared_ptr<ActionWorkerContext>> list;
  bool closed = false;  // the action is gone: nothing more is run for it

  bool Contains(const std::shared_ptr<ActionWorkerContext>& context) {
    std::lock_guard lock(mutex);
    return std::find(list.begin(), list.end(), context) != list.end();
  }
  void Remove(const std::shared_ptr<ActionWorkerContext>& context) {
    std::lock_guard lock(mutex);
    std::erase(list, context);
  }
};

std::mutex& ActionLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

// ---- the record ----

Action::Action(std::int32_t type)
    : id(platform::NewGuidString()), type(type), workers_(std::make_shared<ActionWorkers>()) {}

Action::Action(const Action& other) : workers_(std::make_shared<ActionWorkers>()) { *this = other; }

Action& Action::operator=(const Action& other) {
  if (this == &other) return *this;
  std::scoped_lock lock(mutex_, other.mutex_);
  name = other.name;
  // Readers on other threads look actions up by id without the mutex: it is written only
  // when it really changes, which never happens to an action in the store.
  if (id != other.id) id = other.id;
  type = other.type;
  pollsCount = other.pollsCount;
  server = other.server;
  port = other.port;
  auth = other.auth;
  userName = other.userName;
  password = other.password;
  fromAddress = other.fromAddress;
  toAddress = other.toAddress;
  datasourceName = other.datasourceName;
  sqlQuery = other.sqlQuery;
  path = other.path;
  uiType = other.uiType;
  return *this;
}

Action::~Action() { CloseWorkerThreads(); }

Action Action::Snapshot() const { return Action(*this); }

std::int32_t Action::PollsCount() const {
  std::lock_guard lock(mutex_);
  return pollsCount;
}

int Action::Load(db::Cursor& cursor) {
  if (cursor.IsDone() || cursor.ColumnCount() < kColumnCount) return SQLITE_MISUSE;
  id = cursor.GetText(kId);
  name = cursor.GetText(kName);
  type = cursor.GetInt(kType);
  server = cursor.GetText(kServer);
  port = cursor.GetInt(kPort);
  auth = cursor.GetInt(kAuth) != 0;
  userName = cursor.GetText(kUserName);
  password = cursor.GetText(kPassword);
  fromAddress = cursor.GetText(kFromAddress);
  toAddress = cursor.GetText(kToAddress);
  datasourceName = cursor.GetText(kDatasourceName);
  sqlQuery = cursor.GetText(kSqlQuery);
  path = cursor.GetText(kPath);
  uiType = cursor.GetInt(kUiType);
  pollsCount = cursor.GetInt(kPollsCount);
  return SQLITE_OK;
}

int Action::Save(db::Database& database) const {
  sql::ActionRow row;
  {
    std::lock_guard lock(mutex_);
    row.id = id;
    row.name = name;
    row.type = type;
    row.server = server;
    row.port = port;
    row.auth = auth;
    row.userName = userName;
    row.password = password;
    row.fromAddress = fromAddress;
    row.toAddress = toAddress;
    row.datasourceName = datasourceName;
    row.sqlQuery = sqlQuery;
    row.path = path;
    row.uiType = uiType;
    row.pollsCount = pollsCount;
  }
  return db::Database::ExecSQL(database, sql::InsertOrReplaceAction(row));
}

// ---- starting and forgetting executions ----

platform::Status Action::Run(std::optional<FiringAlert> alert, std::string subject,
                             std::string text) {
  QueuedExecution execution{std::make_shared<ActionWorkerContext>(ActionWorkerContext{
                                Snapshot(), std::move(subject), std::move(text), std::move(alert)}),
                            workers_};
  // Registered before it is queued, so that the worker finds it however soon it starts. A
  // poll may still fire an action that was deleted since it took the action list.
  {
    std::lock_guard lock(execution.workers->mutex);
    if (execution.workers->closed) return platform::kFailure;
    execution.workers->list.push_back(execution.context);
  }
  Runtime& rt = GetRuntime();
  platform::Status status = platform::kOk;
  {
    std::lock_guard lock(rt.mutex);
    if (!rt.accepting) {
      status = platform::kFailure;
    } else if (!rt.workerStarted) {
      try {
        std::thread(WorkerLoop).detach();
        rt.workerStarted = true;
      } catch (const std::system_error& e) {
        status = platform::ErrnoToStatus(e.code().value());
        if (status == platform::kOk) status = platform::kFailure;
      }
    }
    if (status == platform::kOk) rt.queue.push_back(execution);
  }
  if (status != platform::kOk) {
    execution.workers->Remove(execution.context);
    return status;
  }
  rt.queued.notify_one();
  return platform::kOk;
}

platform::Status Action::RunTest() {
  return Run(std::nullopt, kTestSubject,
             platform::LoadResourceString(kApplicationTitleId) + kTestTextSuffix);
}

void Action::CloseWorkerThreads() {
  std::vector<std::shared_ptr<ActionWorkerContext>> forgotten;
  {
    std::lock_guard lock(workers_->mutex);
    workers_->closed = true;
    forgotten.swap(workers_->list);
  }
  if (forgotten.empty()) return;
  // Those still queued never start. They go after the lock is released: their snapshots'
  // destructors come back here.
  std::vector<QueuedExecution> dropped;
  Runtime& rt = GetRuntime();
  bool idle = false;
  {
    std::lock_guard lock(rt.mutex);
    for (auto it = rt.queue.begin(); it != rt.queue.end();) {
      if (std::find(forgotten.begin(), forgotten.end(), it->context) != forgotten.end()) {
        dropped.push_back(std::move(*it));
        it = rt.queue.erase(it);
      } else {
        ++it;
      }
    }
    idle = rt.Idle();
  }
  if (idle) rt.idle.notify_all();
}

bool Action::WaitForRunningActions(std::chrono::milliseconds bound) {
  Runtime& rt = GetRuntime();
  std::unique_lock lock(rt.mutex);
  return rt.idle.wait_for(lock, bound, [&rt] { return rt.Idle(); });
}

bool Action::ShutdownWorkers(std::chrono::milliseconds bound) {
  Runtime& rt = GetRuntime();
  std::deque<QueuedExecution> dropped;
  std::vector<std::shared_ptr<CancelHook>> hooks;
  {
    std::lock_guard lock(rt.mutex);
    rt.accepting = false;
    dropped.swap(rt.queue);
    hooks = rt.cancels;
  }
  rt.idle.notify_all();
  // A driver's cancel may wait for the server; the bound below must hold all the same.
  auto cancelAll = [hooks] {
    for (const auto& hook : hooks) hook->Fire();
  };
  try {
    std::thread(cancelAll).detach();
  } catch (const std::system_error&) {
    cancelAll();
  }
  bool idle = false;
  {
    std::unique_lock lock(rt.mutex);
    idle = rt.idle.wait_for(lock, bound, [&rt] { return rt.Idle(); });
  }
  {
    std::unique_lock gate(rt.gate);
    rt.closed = true;
  }
  // Each firing that never started is noted on its monitor, unless its action or its
  // monitor has been deleted; test runs leave no trace.
  IMonitorDirectory* directory = Services::Storage();
  for (const QueuedExecution& execution : dropped) {
    const ActionWorkerContext& context = *execution.context;
    if (!execution.workers->Contains(execution.context)) continue;
    execution.workers->Remove(execution.context);
    if (!context.alert || directory == nullptr) continue;
    if (directory->GetServerById(context.alert->monitorId) == nullptr) continue;
    WriteLogRow(context.alert->monitorId, 1, "Action " + context.action.name + " Cancelled");
  }
  return idle;
}

void Action::SetSmtpClientFactory(SmtpClientFactory factory) { GetRuntime().smtpFactory = factory; }

void Action::SetOdbc(platform::IOdbc* odbc) { GetRuntime().odbc = odbc; }

// ---- one execution ----

void Action::WorkerLoop() {
  Runtime& rt = GetRuntime();
  for (;;) {
    QueuedExecution execution;
    {
      std::unique_lock lock(rt.mutex);
      rt.executing = false;
      if (rt.queue.empty()) rt.idle.notify_all();
      rt.queued.wait(lock, [&rt] { return !rt.queue.empty(); });
      execution = std::move(rt.queue.front());
      rt.queue.pop_front();
      rt.executing = true;
    }
    try {
      ExecuteQueued(execution.context, *execution.workers);
    } catch (...) {
      // The worker serves every later execution: nothing may end it.
    }
  }
}

void Action::ExecuteQueued(const std::shared_ptr<ActionWorkerContext>& context,
                           ActionWorkers& workers) {
  // Forgotten after the worker took it from the queue: it never starts.
  if (!workers.Contains(context)) return;
  platform::Status status = platform::kFailure;
  {
    std::lock_guard lock(ActionLock());
    if (context->alert && workers.Contains(context)) {
      const FiringAlert& alert = *context->alert;
      ThroughGate([&] {
        if (IMonitorDirectory* directory = Services::Storage()) {
          directory->AlertActionStarted(alert.monitorId, alert.alertId);
        }
      });
    }
    try {
      status = context->action.Execute(context->subject, context->text, context->alert);
    } catch (...) {
      status = platform::kFailure;
    }
    if (context->alert && workers.Contains(context)) OnActionDone(status, *context);
  }
  // A test run's result is shown after the lock is released.
  if (!context->alert && workers.Contains(context)) {
    ThroughGate([&] {
      if (IUserInterface* ui = Services::Ui()) ui->ShowActionTestResult(status);
    });
  }
  workers.Remove(context);
}

void Action::OnActionDone(platform::Status status, const ActionWorkerContext& context) {
  const FiringAlert& alert = *context.alert;
  ThroughGate([&] {
    IMonitorDirectory* directory = Services::Storage();
    if (directory != nullptr &&
        directory->AlertActionDone(alert.monitorId, alert.alertId, status)) {
      WriteLogRow(alert.monitorId, 1,
                  (alert.alertType == FiringAlert::kError ? "ERROR: " : "CLEAR: ") +
                      context.subject + " " + context.text);
      WriteLogRow(alert.monitorId, 1,
                  "Action " + context.action.name + " " +
                      (status != platform::kOk ? "Failed" : "Succeeded"));
      // A mail server whose certificate could not be verified is named as the cause: the
      // user has to act on it, and nothing else in the log would say so.
      if (IsCertificateFailure(status)) {
        WriteLogRow(alert.monitorId, 1, platform::GetSystemErrorText(status));
      }
    }
    if (IUserInterface* ui = Services::Ui()) ui->MonitorUpdated(alert.monitorId);
  });
}

platform::Status Action::Execute(const std::string& subject, const std::string& text,
                                 const std::optional<FiringAlert>& alert) const {
  switch (type) {
    case kEmail:
    case kSms:
      return SendEMail(subject, text);
    case kExecuteSql:
      return ExecuteSql();
    case kExecuteProgram:
      return ExecuteProgram();
    case kUserInterface:
      return ShowUserInterface(subject, text, alert);
    default:
      return platform::kFailure;
  }
}

platform::Status Action::SendEMail(const std::string& subject, const std::string& text) const {
  Smtp::ConnectionValues params;
  params.server = server;
  params.port = static_cast<std::uint16_t>(port & 0xFFFF);
  params.useAuthentication = auth;
  params.userName = userName;
  params.password = password;
  params.timeoutMs = kSmtpTimeoutMs;
  // From the application title and the action's sender to its recipient field.
  const Smtp::SingleRecipientMessage info(
      Smtp::Mailbox(platform::LoadResourceString(kApplicationTitleId), fromAddress),
      Smtp::Mailbox("", toAddress), SubjectLine(subject));
  // An address that could break out of its SMTP command fails before any connection.
  if (platform::Status status = Smtp::ValidateMessageInfo(info); status != platform::kOk) {
    return status;
  }

  Smtp::IClient* raw = nullptr;
  SmtpClientFactory factory = GetRuntime().smtpFactory;
  platform::Status status = factory != nullptr ? factory(&raw) : Smtp::CreateClient(&raw);
  if (status != platform::kOk) return status;
  if (raw == nullptr) return platform::kFailure;
  Smtp::ClientPtr client(raw);

  CancelRegistration cancel([&client] { client->Cancel(); });
  return Smtp::SendOneMessage(*client, params, info, text, /*html=*/false);
}

platform::Status Action::ExecuteSql() const {
  platform::IOdbc* odbc = GetRuntime().odbc;
  if (odbc == nullptr) odbc = &platform::SystemOdbc();

  std::shared_ptr<platform::IOdbcConnection> connection;
  platform::OdbcError error =
      odbc->Connect(platform::BuildDsnConnectionString(datasourceName, userName, password),
                    kSqlTimeoutSeconds, &connection);
  if (error.Failed()) return static_cast<platform::Status>(error.code);
  if (connection == nullptr) return platform::kFailure;
  {
    CancelRegistration cancel([connection] { connection->Cancel(); });
    error = connection->Execute(sqlQuery, kSqlTimeoutSeconds);
  }
  connection->Close();
  return error.Failed() ? static_cast<platform::Status>(error.code) : platform::kOk;
}

platform::Status Action::ExecuteProgram() const { return StartProgram(path); }

platform::Status Action::ShowUserInterface(const std::string& subject, const std::string& text,
                                           const std::optional<FiringAlert>& alert) const {
  const auto kind = alert && alert->alertType == FiringAlert::kError
                        ? IUserInterface::MessageKind::kError
                        : IUserInterface::MessageKind::kInformation;
  ThroughGate([&] {
    IUserInterface* ui = Services::Ui();
    if (ui == nullptr) return;
    switch (uiType) {
      case kMessageBox:
        ui->ShowAlertMessage(subject, text, kind);
        break;
      case kBalloon:
        ui->ShowBalloon(subject, text, kind);
        break;
      case kRestoreWindow:
        ui->RestoreMainWindow();
        break;
      default:
        break;
    }
  });
  return platform::kOk;
}

}  // namespace engine
