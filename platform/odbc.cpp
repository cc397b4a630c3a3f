// The ODBC stand-in over unixODBC's C API. The narrow calls are used on purpose: the driver
// manager hands narrow text to every driver unchanged, so UTF-8 SQL, names and messages
// arrive intact, while its UTF-16 conversion for drivers without wide entry points (the
// SQLite driver among them) depends on the locale and loses characters.
#include "platform/odbc.h"

#include <dlfcn.h>
#include <sql.h>
#include <sqlext.h>

#include <climits>
#include <exception>
#include <mutex>
#include <new>

namespace platform {

namespace {

// Bounds against drivers that never say "no more".
constexpr SQLSMALLINT kMaxDiagRecords = 100;
constexpr int kMaxResults = 10000;

OdbcError OwnError(std::string_view text) {
  OdbcError error;
  error.code = kOdbcFailed;
  error.text = std::string(text);
  return error;
}

// Runs fn, turning anything thrown into an error value.
template <typename Fn>
OdbcError Guarded(Fn&& fn) {
  try {
    return fn();
  } catch (const std::bad_alloc&) {
    return OwnError("Out of memory.");
  } catch (const std::exception& e) {
    return OwnError(e.what());
  } catch (...) {
    return OwnError("Unexpected failure in the ODBC layer.");
  }
}

void TrimLineBreaks(std::string* text) {
  while (!text->empty() && (text->back() == '\n' || text->back() == '\r')) text->pop_back();
}

// The error of a call that returned rc on handle (of type type). Must be called right after
// that call: any later call on the handle replaces its diagnostics.
OdbcError Diagnose(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle) {
  OdbcError error;
  error.code = static_cast<std::int32_t>(rc);  // SQLRETURN is a signed 16-bit value
  if (error.code == 0) error.code = kOdbcFailed;
  std::string message(512, '\0');
  // The driver manager copies a driver's messages into records of at most
  // SQL_MAX_MESSAGE_LENGTH - 1 bytes, and some drivers (PostgreSQL's) hand a longer message
  // over in consecutive pieces of exactly that size, cut anywhere, even inside a character.
  // Such a piece is continued by the next record of the same state and native code.
  constexpr std::size_t kPieceBytes = SQL_MAX_MESSAGE_LENGTH - 1;
  bool continues = false;
  std::string previousState;
  SQLINTEGER previousNative = 0;
  for (SQLSMALLINT record = 1; record <= kMaxDiagRecords; ++record) {
    SQLCHAR state[SQL_SQLSTATE_SIZE + 1] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLRETURN got = SQLGetDiagRec(type, handle, record, state, &native,
                                  reinterpret_cast<SQLCHAR*>(message.data()),
                                  static_cast<SQLSMALLINT>(message.size()), &length);
    if (got == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size()) &&
        length < SHRT_MAX) {
      // Too long for the buffer: ask again with room for all of it.
      message.assign(static_cast<std::size_t>(length) + 1, '\0');
      got = SQLGetDiagRec(type, handle, record, state, &native,
                          reinterpret_cast<SQLCHAR*>(message.data()),
                          static_cast<SQLSMALLINT>(message.size()), &length);
    }
    if (!SQL_SUCCEEDED(got)) break;
    std::size_t size = length < 0 ? 0 : static_cast<std::size_t>(length);
    if (size >= message.size()) size = message.size() - 1;
    std::string text(message.data(), size);
    std::string recordState = reinterpret_cast<const char*>(state);
    if (record == 1) error.sqlState = recordState;
    if (record > 1 && !(continues && recordState == previousState && native == previousNative)) {
      TrimLineBreaks(&error.text);
      error.text += '\n';
    }
    error.text += text;
    continues = size == kPieceBytes;
    previousState = std::move(recordState);
    previousNative = native;
  }
  TrimLineBreaks(&error.text);
  return error;
}

// A new environment: ODBC 3 behaviour, no connection pooling; null when the driver manager
// could not make one. Each connection has an environment of its own, freed after it: a
// driver may keep all connections of one environment in a list that it edits without a
// lock (the SQLite driver does), so connections sharing one would race in the driver.
SQLHENV NewEnvironment() {
  static std::once_flag poolingOff;
  std::call_once(poolingOff, [] {
    SQLSetEnvAttr(SQL_NULL_HENV, SQL_ATTR_CONNECTION_POOLING,
                  reinterpret_cast<SQLPOINTER>(SQL_CP_OFF), SQL_IS_UINTEGER);
  });
  SQLHENV handle = SQL_NULL_HENV;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &handle))) {
    return SQL_NULL_HENV;
  }
  if (!SQL_SUCCEEDED(SQLSetEnvAttr(handle, SQL_ATTR_ODBC_VERSION,
                                   reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0))) {
    SQLFreeHandle(SQL_HANDLE_ENV, handle);
    return SQL_NULL_HENV;
  }
  return handle;
}

// An environment for one scope.
class ScopedEnvironment {
 public:
  ScopedEnvironment() : handle_(NewEnvironment()) {}
  ~ScopedEnvironment() {
    if (handle_ != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, handle_);
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  SQLHENV Get() const { return handle_; }
  // Hands the environment over to a connection that frees it.
  SQLHENV Release() {
    SQLHENV handle = handle_;
    handle_ = SQL_NULL_HENV;
    return handle;
  }

 private:
  SQLHENV handle_;
};

// The driver's own SQLCancel and its handle for a statement of the driver manager, so that
// a cancel from another thread reaches the driver without passing through the driver
// manager: unixODBC's SQLCancel edits the statement's diagnostics without a lock, racing
// the polling thread's own calls on that statement. The driver manager hands out the
// driver's library as the loader handle it opened it with. Both null when it cannot say.
using DriverCancelFn = SQLRETURN (*)(SQLHSTMT);

DriverCancelFn FindDriverCancel(SQLHDBC dbc) {
  using LoaderSymbolFn = void* (*)(void*, const char*);
  static const auto loaderSymbol =
      reinterpret_cast<LoaderSymbolFn>(dlsym(RTLD_DEFAULT, "lt_dlsym"));
  if (loaderSymbol == nullptr) return nullptr;
  void* library = nullptr;
  if (!SQL_SUCCEEDED(SQLGetInfo(dbc, SQL_DRIVER_HLIB, &library, sizeof library, nullptr)) ||
      library == nullptr) {
    return nullptr;
  }
  const auto cancel = reinterpret_cast<DriverCancelFn>(loaderSymbol(library, "SQLCancel"));
  // A driver without the function of its own may hand out the driver manager's, which
  // takes no driver handle.
  return cancel == &SQLCancel ? nullptr : cancel;
}

SQLHSTMT DriverStatement(SQLHDBC dbc, SQLHSTMT statement) {
  SQLHSTMT driverStatement = statement;
  if (!SQL_SUCCEEDED(
          SQLGetInfo(dbc, SQL_DRIVER_HSTMT, &driverStatement, sizeof driverStatement, nullptr))) {
    return SQL_NULL_HSTMT;
  }
  return driverStatement == statement ? SQL_NULL_HSTMT : driverStatement;
}

// A driver whose SQLCancel also closes the cursor of the statement it is given, without a
// lock against the thread that fetches from it: such a driver is cancelled through a spare
// idle statement of the same connection; its interrupt ends whatever the connection runs.
bool CancelClosesCursor(SQLHDBC dbc) {
  char name[256] = {};
  SQLSMALLINT length = 0;
  if (!SQL_SUCCEEDED(SQLGetInfo(dbc, SQL_DRIVER_NAME, name, sizeof name, &length))) return false;
  return std::string_view(name).find("sqlite3odbc") != std::string_view::npos;
}

constexpr std::string_view kNoEnvironmentText = "The ODBC driver manager could not be started.";

class UnixOdbcConnection final : public IOdbcConnection {
 public:
  // Takes over both handles; the environment is this connection's alone.
  UnixOdbcConnection(SQLHENV env, SQLHDBC dbc)
      : env_(env),
        dbc_(dbc),
        driverCancel_(FindDriverCancel(dbc)),
        cancelClosesCursor_(CancelClosesCursor(dbc)) {
    if (cancelClosesCursor_ && SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &spare_))) {
      spareDriver_ = DriverStatement(dbc, spare_);
    }
  }
  ~UnixOdbcConnection() override { Close(); }
  UnixOdbcConnection(const UnixOdbcConnection&) = delete;
  UnixOdbcConnection& operator=(const UnixOdbcConnection&) = delete;

  OdbcError QueryFirstValue(std::string_view sql, int queryTimeoutSeconds,
                            OdbcFirstValue* value) override {
    *value = OdbcFirstValue{};
    return Guarded([&] { return RunQuery(sql, queryTimeoutSeconds, value); });
  }

  OdbcError Execute(std::string_view sql, int queryTimeoutSeconds) override {
    return Guarded([&] { return RunStatement(sql, queryTimeoutSeconds); });
  }

  void Cancel() override {
    // Held throughout: the statement cannot be freed meanwhile (see ~Statement).
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_ = true;
    if (running_ == SQL_NULL_HSTMT) return;
    if (spare_ != SQL_NULL_HSTMT) {
      CancelThrough(spare_, spareDriver_);
    } else if (!cancelClosesCursor_) {
      CancelThrough(running_, runningDriver_);
    }
    // A driver whose cancel closes cursors, left without a spare statement, is not
    // cancelled at all: its statement runs on as without a cancel, and no later one starts.
  }

  void Close() override {
    SQLHSTMT spare = SQL_NULL_HSTMT;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (closed_) return;
      closed_ = true;
      std::swap(spare, spare_);
    }
    if (spare != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, spare);
    if (!SQL_SUCCEEDED(SQLDisconnect(dbc_))) {
      // A transaction left open keeps the connection; give it up and try again.
      SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
      SQLDisconnect(dbc_);
    }
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    dbc_ = SQL_NULL_HDBC;
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
    env_ = SQL_NULL_HENV;
  }

 private:
  // A statement of this connection, reachable by Cancel while it lives.
  class Statement {
   public:
    explicit Statement(UnixOdbcConnection& owner) : owner_(owner) {}
    ~Statement() {
      if (handle_ == SQL_NULL_HSTMT) return;
      {
        // Waits for a Cancel that is inside SQLCancel on this handle right now.
        std::lock_guard<std::mutex> lock(owner_.mutex_);
        owner_.running_ = SQL_NULL_HSTMT;
        owner_.runningDriver_ = SQL_NULL_HSTMT;
      }
      SQLFreeHandle(SQL_HANDLE_STMT, handle_);
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Allocates the statement with its attributes and makes it cancellable.
    OdbcError Begin(int queryTimeoutSeconds, bool readOnlyCursor) {
      if (OdbcError refused = owner_.Refusal(); refused.Failed()) return refused;
      SQLHSTMT handle = SQL_NULL_HSTMT;
      SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, owner_.dbc_, &handle);
      if (!SQL_SUCCEEDED(rc)) return Diagnose(rc, SQL_HANDLE_DBC, owner_.dbc_);
      // Time-outs and cursor options are requests: a driver without them runs the
      // statement all the same (forward-only and read-only are the defaults anyway).
      if (queryTimeoutSeconds >= 0) {
        SQLSetStmtAttr(handle, SQL_ATTR_QUERY_TIMEOUT,
                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(queryTimeoutSeconds)),
                       SQL_IS_UINTEGER);
      }
      if (readOnlyCursor) {
        SQLSetStmtAttr(handle, SQL_ATTR_CURSOR_TYPE,
                       reinterpret_cast<SQLPOINTER>(SQL_CURSOR_FORWARD_ONLY), SQL_IS_UINTEGER);
        SQLSetStmtAttr(handle, SQL_ATTR_CONCURRENCY,
                       reinterpret_cast<SQLPOINTER>(SQL_CONCUR_READ_ONLY), SQL_IS_UINTEGER);
      }
      const SQLHSTMT driverHandle =
          owner_.driverCancel_ != nullptr ? DriverStatement(owner_.dbc_, handle) : SQL_NULL_HSTMT;
      std::lock_guard<std::mutex> lock(owner_.mutex_);
      if (owner_.cancelled_) {
        SQLFreeHandle(SQL_HANDLE_STMT, handle);
        return OwnError(kOdbcCancelledText);
      }
      handle_ = handle;
      owner_.running_ = handle;
      owner_.runningDriver_ = driverHandle;
      return {};
    }

    SQLHSTMT Handle() const { return handle_; }

    // The error of a call on this statement, right after it.
    OdbcError Fail(SQLRETURN rc) const { return Diagnose(rc, SQL_HANDLE_STMT, handle_); }

   private:
    UnixOdbcConnection& owner_;
    SQLHSTMT handle_ = SQL_NULL_HSTMT;
  };

  // Why no statement may start now, or success.
  OdbcError Refusal() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return OwnError(kOdbcClosedText);
    if (cancelled_) return OwnError(kOdbcCancelledText);
    return {};
  }

  static OdbcError ExecDirect(const Statement& statement, std::string_view sql, bool* noData) {
    if (sql.size() > static_cast<std::size_t>(INT_MAX))
      return OwnError("The SQL text is too long.");
    std::string text(sql);  // the call wants a writable buffer
    SQLRETURN rc = SQLExecDirect(statement.Handle(), reinterpret_cast<SQLCHAR*>(text.data()),
                                 static_cast<SQLINTEGER>(text.size()));
    *noData = rc == SQL_NO_DATA;
    if (rc == SQL_NO_DATA || SQL_SUCCEEDED(rc)) return {};
    return statement.Fail(rc);
  }

  OdbcError RunQuery(std::string_view sql, int queryTimeoutSeconds, OdbcFirstValue* value) {
    Statement statement(*this);
    if (OdbcError error = statement.Begin(queryTimeoutSeconds, true); error.Failed()) return error;
    bool noData = false;
    if (OdbcError error = ExecDirect(statement, sql, &noData); error.Failed()) return error;
    if (noData) return {};
    SQLHSTMT handle = statement.Handle();
    SQLSMALLINT columns = 0;
    SQLRETURN rc = SQLNumResultCols(handle, &columns);
    if (!SQL_SUCCEEDED(rc)) return statement.Fail(rc);
    if (columns < 1) return {};
    rc = SQLFetch(handle);
    if (rc == SQL_NO_DATA) return {};
    if (!SQL_SUCCEEDED(rc)) return statement.Fail(rc);
    if (OdbcError error = ReadFirstColumn(statement, value); error.Failed()) {
      *value = OdbcFirstValue{};
      return error;
    }
    SQLCloseCursor(handle);
    return {};
  }

  static OdbcError ReadFirstColumn(const Statement& statement, OdbcFirstValue* value) {
    char buffer[1024];
    std::string text;
    for (;;) {
      SQLLEN indicator = 0;
      SQLRETURN rc =
          SQLGetData(statement.Handle(), 1, SQL_C_CHAR, buffer, sizeof buffer, &indicator);
      if (rc == SQL_NO_DATA) break;  // the last piece was read already
      if (!SQL_SUCCEEDED(rc)) return statement.Fail(rc);
      if (indicator == SQL_NULL_DATA) {
        value->kind = OdbcFirstValue::Kind::kNull;
        return {};
      }
      // A full buffer with a warning means the value goes on (or the driver does not know
      // how long it is); otherwise the indicator is the length of this last piece.
      bool more = rc == SQL_SUCCESS_WITH_INFO &&
                  (indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof buffer));
      std::size_t piece =
          more || indicator < 0 ? sizeof buffer - 1 : static_cast<std::size_t>(indicator);
      if (piece > sizeof buffer - 1) piece = sizeof buffer - 1;
      text.append(buffer, piece);
      if (!more) break;
      if (text.size() >= kOdbcMaxValueBytes) break;
    }
    if (text.size() > kOdbcMaxValueBytes) text.resize(kOdbcMaxValueBytes);
    value->kind = OdbcFirstValue::Kind::kText;
    value->text = std::move(text);
    return {};
  }

  OdbcError RunStatement(std::string_view sql, int queryTimeoutSeconds) {
    Statement statement(*this);
    if (OdbcError error = statement.Begin(queryTimeoutSeconds, false); error.Failed()) {
      return error;
    }
    bool noData = false;
    if (OdbcError error = ExecDirect(statement, sql, &noData); error.Failed()) return error;
    if (noData) return {};
    // Go through every further result so that the failure of a later statement of a batch
    // is seen.
    for (int i = 0; i < kMaxResults; ++i) {
      SQLRETURN rc = SQLMoreResults(statement.Handle());
      if (rc == SQL_NO_DATA) break;
      if (!SQL_SUCCEEDED(rc)) {
        OdbcError error = statement.Fail(rc);
        if (error.sqlState == "IM001") break;  // the driver has no further results to give
        return error;
      }
    }
    return {};
  }

  // Cancels the statement given by its driver manager handle, through the driver itself
  // when the driver's handle is known. Called under mutex_.
  void CancelThrough(SQLHSTMT statement, SQLHSTMT driverStatement) const {
    if (driverCancel_ != nullptr && driverStatement != SQL_NULL_HSTMT) {
      driverCancel_(driverStatement);
    } else {
      SQLCancel(statement);
    }
  }

  SQLHENV env_;
  SQLHDBC dbc_;
  const DriverCancelFn driverCancel_;  // null: cancel through the driver manager
  const bool cancelClosesCursor_;      // cancel only through the spare statement
  std::mutex mutex_;                   // guards the six below
  SQLHSTMT running_ = SQL_NULL_HSTMT;
  SQLHSTMT runningDriver_ = SQL_NULL_HSTMT;  // the driver's handle of running_, if known
  SQLHSTMT spare_ = SQL_NULL_HSTMT;          // idle, for drivers whose cancel closes cursors
  SQLHSTMT spareDriver_ = SQL_NULL_HSTMT;
  bool cancelled_ = false;
  bool closed_ = false;
};

// Drivers that read a data source's entries load the driver manager's installer library
// with each connection and unload it with the last one; its cache of those entries has no
// clean-up and is lost at every unload, so a monitor polling one named source would grow
// without end. Held from before the first connection to the end, the library loads once.
// The names are those drivers try, in their order; without any, polling goes on unheld.
void KeepInstallerLibraryLoaded() {
  for (const char* name : {"libodbcinst.so.2", "libodbcinst.so.1", "libodbcinst.so"}) {
    if (dlopen(name, RTLD_LAZY | RTLD_NODELETE) != nullptr) return;
  }
}

class UnixOdbc final : public IOdbc {
 public:
  UnixOdbc() { KeepInstallerLibraryLoaded(); }

  OdbcError Connect(std::string_view connectionText, int loginTimeoutSeconds,
                    std::shared_ptr<IOdbcConnection>* connection) override {
    connection->reset();
    return Guarded([&] { return Open(connectionText, loginTimeoutSeconds, connection); });
  }

  OdbcError ListDataSources(std::vector<OdbcDataSource>* sources) override {
    sources->clear();
    return Guarded([&] { return List(sources); });
  }

 private:
  static OdbcError Open(std::string_view connectionText, int loginTimeoutSeconds,
                        std::shared_ptr<IOdbcConnection>* connection) {
    if (connectionText.size() > static_cast<std::size_t>(SHRT_MAX)) {
      return OwnError("The connection text is too long.");
    }
    ScopedEnvironment environment;
    const SQLHENV env = environment.Get();
    if (env == SQL_NULL_HENV) return OwnError(kNoEnvironmentText);
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    if (!SQL_SUCCEEDED(rc)) return Diagnose(rc, SQL_HANDLE_ENV, env);
    if (loginTimeoutSeconds >= 0) {
      SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT,
                        reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(loginTimeoutSeconds)),
                        SQL_IS_UINTEGER);
    }
    std::string text(connectionText);
    rc = SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
                          static_cast<SQLSMALLINT>(text.size()), nullptr, 0, nullptr,
                          SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) {
      OdbcError error = Diagnose(rc, SQL_HANDLE_DBC, dbc);
      if (error.text.empty()) error.text = std::string(kOdbcConnectionFailedText);
      SQLFreeHandle(SQL_HANDLE_DBC, dbc);
      return error;
    }
    try {
      *connection = std::make_shared<UnixOdbcConnection>(env, dbc);
      environment.Release();
    } catch (...) {
      SQLDisconnect(dbc);
      SQLFreeHandle(SQL_HANDLE_DBC, dbc);
      throw;
    }
    return {};
  }

  static OdbcError List(std::vector<OdbcDataSource>* sources) {
    // The environment keeps the position of the listing: one of its own.
    ScopedEnvironment environment;
    const SQLHENV env = environment.Get();
    if (env == SQL_NULL_HENV) return OwnError(kNoEnvironmentText);
    for (SQLUSMALLINT first : {SQL_FETCH_FIRST_USER, SQL_FETCH_FIRST_SYSTEM}) {
      SQLUSMALLINT direction = first;
      for (;;) {
        SQLCHAR name[1024];
        SQLCHAR description[4096];
        SQLSMALLINT nameLength = 0;
        SQLSMALLINT descriptionLength = 0;
        SQLRETURN rc = SQLDataSources(env, direction, name, sizeof name, &nameLength, description,
                                      sizeof description, &descriptionLength);
        if (rc == SQL_NO_DATA) break;
        if (!SQL_SUCCEEDED(rc)) {
          sources->clear();
          return Diagnose(rc, SQL_HANDLE_ENV, env);
        }
        OdbcDataSource source;
        source.name = reinterpret_cast<const char*>(name);
        source.description = reinterpret_cast<const char*>(description);
        source.system = first == SQL_FETCH_FIRST_SYSTEM;
        sources->push_back(std::move(source));
        direction = SQL_FETCH_NEXT;
      }
    }
    return {};
  }
};

}  // namespace

IOdbc& SystemOdbc() {
  // Deliberately never destroyed: threads abandoned at exit may still call it.
  static UnixOdbc* const odbc = new UnixOdbc;
  return *odbc;
}

}  // namespace platform
