// The ODBC stand-in: connections to data sources through the unixODBC driver manager, the
// first value of a query, statements without a result, cancel, and the list of data
// sources. Failures are values (OdbcError): the failing call's return code and the text of
// all its diagnostic records; nothing throws out of this layer.
//
// Threads: IOdbc may be used from any number of threads at once. A connection is used by
// one thread at a time; only Cancel may come from another thread. Text is UTF-8 both
// ways: the layer uses the narrow calls, which the driver manager passes unchanged to
// drivers with narrow entry points (the SQLite and PostgreSQL drivers have them), whatever
// the locale.
//
// unixODBC reads ODBCSYSINI and ODBCINI when the process first needs them and keeps the
// paths; a program (or test) that points them elsewhere must do so before its first ODBC
// call. A driver set to "Threading = 3" in odbcinst.ini makes the driver manager run one
// call at a time in the whole process, and a Cancel then waits for the statement it
// should end; the default (no Threading line) keeps connections independent.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The return code of a failed ODBC call (SQL_ERROR) as it reaches a sample or a status.
inline constexpr std::int32_t kOdbcFailed = -1;

// The text of a failed connection attempt for which the driver left no diagnostic.
inline constexpr std::string_view kOdbcConnectionFailedText = "Connection failed.";
// The text of a statement refused because the connection was cancelled or closed.
inline constexpr std::string_view kOdbcCancelledText = "Operation cancelled.";
inline constexpr std::string_view kOdbcClosedText = "The connection is closed.";

// The outcome of an ODBC operation. code 0 is success; otherwise it is the failing call's
// SQLRETURN sign-extended from 16 bits (normally -1, SQL_ERROR), and never 0.
struct OdbcError {
  std::int32_t code = 0;
  // The messages of all the call's diagnostic records, in order, joined by "\n" (each
  // without trailing line breaks). May be empty when the driver left none.
  std::string text;
  // The SQLSTATE of the first record ("IM002", "08001", ...), "" when there is none.
  std::string sqlState;

  bool Failed() const { return code != 0; }
};

// The first column of the first row of a query's result.
struct OdbcFirstValue {
  enum class Kind {
    kNoRow,  // no result set, or one without rows
    kNull,   // the first column of the first row is NULL
    kText,   // the column's value as text, in `text`
  };
  Kind kind = Kind::kNoRow;
  // The value as the driver formats it for a character column (UTF-8); at most
  // kOdbcMaxValueBytes of it are read.
  std::string text;
};
inline constexpr std::size_t kOdbcMaxValueBytes = 4096;

// One data source of the driver manager's list.
struct OdbcDataSource {
  std::string name;
  std::string description;  // what the driver manager gives: the name of its driver
  bool system = false;      // a system data source, else a user one
};

// One open connection. Destroying it closes it (prefer an explicit Close on the thread
// that used it: a disconnect may wait for the network).
class IOdbcConnection {
 public:
  virtual ~IOdbcConnection() = default;

  // Runs sql as a forward-only, read-only result set and reads the first column of the
  // first row as text. queryTimeoutSeconds > 0 bounds the statement (the driver's query
  // time-out), 0 means none, < 0 leaves the driver's default.
  virtual OdbcError QueryFirstValue(std::string_view sql, int queryTimeoutSeconds,
                                    OdbcFirstValue* value) = 0;

  // Runs sql without reading a result: every result it gives is discarded; "no data" (a
  // statement that touched no row) counts as success. Time-out as above.
  virtual OdbcError Execute(std::string_view sql, int queryTimeoutSeconds) = 0;

  // Any thread, any time: ends the statement running on this connection (its call returns
  // with the driver's error), and makes every later statement fail at once with
  // kOdbcCancelledText. Safe against the statement ending at the same moment. It may wait
  // while the driver sends the cancel request to the server. A statement that reaches the
  // driver in the very instant of the cancel may escape it; its time-out still bounds it.
  // A connection attempt cannot be cancelled: only its login time-out bounds it.
  virtual void Cancel() = 0;

  // Disconnects. Later statements fail with kOdbcClosedText. Idempotent.
  virtual void Close() = 0;
};

class IOdbc {
 public:
  virtual ~IOdbc() = default;

  // Opens a connection with the connection text; the driver manager never prompts.
  // loginTimeoutSeconds > 0 bounds the login (for drivers that honour it), 0 means none,
  // < 0 leaves the driver's default. On failure *connection stays empty and the error
  // carries a non-zero code and a text (kOdbcConnectionFailedText when the driver gave
  // none).
  virtual OdbcError Connect(std::string_view connectionText, int loginTimeoutSeconds,
                            std::shared_ptr<IOdbcConnection>* connection) = 0;

  // The data sources the driver manager knows: the user ones, then the system ones, each
  // in the driver manager's order.
  virtual OdbcError ListDataSources(std::vector<OdbcDataSource>* sources) = 0;
};

// The process-wide driver manager. Each connection (and each listing) has an ODBC 3
// environment of its own, freed with it, so that drivers which keep the connections of an
// environment in one unlocked list never see two threads at once; connects are never
// serialised, so one slow login holds up no other.
IOdbc& SystemOdbc();

// A value as it goes into a connection text: unchanged, unless it contains ';', '{', '}'
// or begins or ends with a blank or tab; then it is enclosed in braces with every '}'
// doubled, so that it cannot end early or add attributes.
std::string QuoteConnectionValue(std::string_view value);

// "DSN=<dsn>;UID=<user>;PWD=<password>" with each value quoted as above; plain values
// give exactly that text.
std::string BuildDsnConnectionString(std::string_view dsn, std::string_view user,
                                     std::string_view password);

// The integer at the start of a value's text: leading white space and one sign allowed,
// then decimal digits up to the first other character; 0 when there are none ("42abc" 42,
// "  -7" -7, "12.9" 12, "abc" 0). Numbers beyond 32 bits are clamped to the int32 range.
std::int32_t LeadingInteger(std::string_view text);

}  // namespace platform
