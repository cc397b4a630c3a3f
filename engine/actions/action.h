// Actions: what an alert does when it fires. An action sends an e-mail or an SMS message,
// executes an SQL statement on an ODBC data source, starts a program or document, or
// shows something on the user interface. Every firing and test run of every action goes
// into one queue, which one worker thread of the process serves in firing order: one
// execution at a time, holding the process-wide ActionLock. One row of the Actions table.
//
// Threads: the store owns actions (std::shared_ptr). The user-interface thread edits an
// action's fields holding Mutex() (or assigns a whole edited copy); every other thread
// reads them through Snapshot() or PollsCount(). Mutex() is taken last: no other lock is
// taken while it is held. `id` never changes once the action is in the store. An
// execution holds ActionLock and then may take the store's lock and a monitor's; nothing
// waits for ActionLock while holding either. Run may be called from any thread; an execution works
// on a snapshot of the action and names its alert by identifiers, so deleting the action, the
// alert or the monitor while it is queued or runs is safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "engine/actions/action_values.h"
#include "engine/db/cursor.h"
#include "engine/db/database.h"
#include "platform/status.h"

namespace platform {
class IOdbc;
}
namespace Smtp {
class IClient;
}

namespace engine {

// The alert whose firing started an execution, by identifiers.
struct FiringAlert {
  static constexpr std::int32_t kError = 0;  // alertType, as the alert's own
  static constexpr std::int32_t kClear = 1;

  std::string monitorId;
  std::string alertId;
  std::int32_t alertType = kError;
};

class Action;
struct ActionWorkerContext;
struct ActionWorkers;

// The process-wide lock held while an action executes. It is never destroyed, so a
// worker left running at exit never meets a destroyed mutex.
std::mutex& ActionLock();

class Action {
 public:
  static constexpr std::int32_t kEmail = engine::kActionEmail;
  static constexpr std::int32_t kSms = engine::kActionSms;
  static constexpr std::int32_t kExecuteSql = engine::kActionExecuteSql;
  static constexpr std::int32_t kExecuteProgram = engine::kActionExecuteProgram;
  static constexpr std::int32_t kUserInterface = engine::kActionUserInterface;

  static constexpr std::int32_t kMessageBox = engine::kUiActionMessageBox;  // uiType
  static constexpr std::int32_t kBalloon = engine::kUiActionBalloon;
  static constexpr std::int32_t kRestoreWindow = engine::kUiActionRestoreWindow;

  // The subject and text of a test run.
  static constexpr const char* kTestSubject = "Action Test";
  static constexpr const char* kTestTextSuffix = " Action Test";  // after the product name

  // A new action of that type with a fresh identifier: pollsCount 1, port 25, the rest
  // empty or 0.
  explicit Action(std::int32_t type = kEmail);
  // Copies the fields only; running executions stay with the action they were copied from.
  Action(const Action& other);
  // Copies the fields under both mutexes; running executions stay with the target.
  Action& operator=(const Action& other);
  // Abandons the running executions (CloseWorkerThreads).
  ~Action();

  // Guards the fields against a reader on another thread (see above).
  std::mutex& Mutex() const { return mutex_; }
  // A copy of the fields, taken under Mutex().
  Action Snapshot() const;
  std::int32_t PollsCount() const;

  // Reads the current row of a "SELECT * FROM Actions" cursor; SQLITE_MISUSE when the
  // cursor has no such row. Only on an action no other thread uses yet.
  int Load(db::Cursor& cursor);
  // Writes (or replaces) the action's row; the statement's result.
  int Save(db::Database& database) const;

  // Queues one execution behind all earlier ones and returns at once: 0 when it is
  // queued, else the status of the failure (1 once the program is shutting down; the
  // worker thread's creation error when it could not be started). With an alert, the end of the
  // execution is logged on its monitor, the alert's `done` and `lastResult` are set and the user
  // interface is told; without one (a test run) the user interface shows the result.
  platform::Status Run(std::optional<FiringAlert> alert, std::string subject, std::string text);
  // A test run: subject "Action Test", text "<product name> Action Test".
  platform::Status RunTest();

  // The action is gone: forgets every execution of it (queued ones never start; a running
  // one goes on to its end but then touches no alert, monitor or user interface) and Run
  // refuses from now on. Nothing is waited for.
  void CloseWorkerThreads();

  // ---- the whole process ----

  // Waits until the queue is empty and no execution runs (or the time is up); true then.
  static bool WaitForRunningActions(std::chrono::milliseconds bound);
  // At exit, after the monitors have stopped and before the store, the services or the
  // database library go: no execution starts any more; the running one's SMTP exchange or
  // SQL statement is cancelled and it is waited for up to the bound. Afterwards no
  // execution touches a monitor, the store or the user interface again, even one still
  // running. Each queued firing is dropped with the log row "Action <name> Cancelled"
  // (type 1) on its monitor; queued test runs go silently. True when none was still
  // running.
  static bool ShutdownWorkers(std::chrono::milliseconds bound = std::chrono::seconds(30));

  // The SMTP client factory and the ODBC layer that executions use; null restores the
  // real ones. For tests; set only while no execution runs.
  using SmtpClientFactory = platform::Status (*)(Smtp::IClient** client);
  static void SetSmtpClientFactory(SmtpClientFactory factory);
  static void SetOdbc(platform::IOdbc* odbc);

  // ---- fields ----

  std::string name;
  std::string id;
  std::int32_t type = kEmail;
  std::int32_t pollsCount = 1;  // consecutive met polls before an alert fires this action
  std::string server;           // SMTP server
  std::int32_t port = 25;       // SMTP port; its low 16 bits are used
  bool auth = false;            // log in at the SMTP server
  std::string userName;         // SMTP user, or ODBC user of an SQL action
  std::string password;         // SMTP password, or ODBC password of an SQL action
  std::string fromAddress;
  std::string toAddress;
  std::string datasourceName;  // ODBC data source of an SQL action
  std::string sqlQuery;        // statement of an SQL action
  std::string path;            // program, document or URL of a program action
  std::int32_t uiType = kMessageBox;

 private:
  // The executions by type; each returns a status, 0 for success.
  platform::Status Execute(const std::string& subject, const std::string& text,
                           const std::optional<FiringAlert>& alert) const;
  platform::Status SendEMail(const std::string& subject, const std::string& text) const;
  platform::Status ExecuteSql() const;
  platform::Status ExecuteProgram() const;
  platform::Status ShowUserInterface(const std::string& subject, const std::string& text,
                                     const std::optional<FiringAlert>& alert) const;

  // The worker thread: serves the queue for the rest of the process.
  static void WorkerLoop();
  static void ExecuteQueued(const std::shared_ptr<ActionWorkerContext>& context,
                            ActionWorkers& workers);
  static void OnActionDone(platform::Status status, const ActionWorkerContext& context);

  mutable std::mutex mutex_;
  std::shared_ptr<ActionWorkers> workers_;
};

// One execution: a snapshot of the action, the subject and text, and the firing alert
// (none for a test run).
struct ActionWorkerContext {
  Action action;
  std::string subject;
  std::string text;
  std::optional<FiringAlert> alert;
};

}  // namespace engine
