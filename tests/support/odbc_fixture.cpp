#include "tests/support/odbc_fixture.h"

#include <arpa/inet.h>
#include <glob.h>
#include <netinet/in.h>
#include <poll.h>
#include <sql.h>
#include <sqlext.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testing_support {

namespace {

// The installed driver library of that file name (in the multiarch ODBC folder).
std::string FindDriver(const std::string& fileName) {
  glob_t found{};
  std::string pattern = "/usr/lib/*/odbc/" + fileName;
  std::string path;
  if (glob(pattern.c_str(), 0, nullptr, &found) == 0 && found.gl_pathc > 0) {
    path = found.gl_pathv[0];
  }
  globfree(&found);
  if (path.empty() && access(("/usr/lib/odbc/" + fileName).c_str(), R_OK) == 0) {
    path = "/usr/lib/odbc/" + fileName;
  }
  if (path.empty()) throw std::runtime_error("ODBC driver " + fileName + " is not installed");
  return path;
}

// Writes a file whole under a temporary name and renames it into place, so that the
// driver manager never reads half of it.
void ReplaceFile(const std::string& path, const std::string& text) {
  std::string temporary = path + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) throw std::runtime_error("cannot write " + temporary);
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    throw std::runtime_error("cannot replace " + path);
  }
}

}  // namespace

OdbcTestConfig& OdbcTestConfig::Get() {
  // Destroyed at exit, which removes the folder.
  static OdbcTestConfig config;
  return config;
}

OdbcTestConfig::OdbcTestConfig() {
  std::ostringstream drivers;
  drivers << "[ODBC]\nTrace = No\n\n"
          << "[" << kSqliteDriverName << "]\n"
          << "Description = SQLite3 ODBC Driver\n"
          << "Driver = " << FindDriver("libsqlite3odbc.so") << "\n\n"
          << "[" << kPostgresDriverName << "]\n"
          << "Description = PostgreSQL ODBC driver (Unicode version)\n"
          << "Driver = " << FindDriver("psqlodbcw.so") << "\n";
  ReplaceFile(dir_.File("odbcinst.ini"), drivers.str());
  WriteDsnFiles();
  setenv("ODBCSYSINI", dir_.Path().c_str(), 1);
  setenv("ODBCINI", dir_.File("user-odbc.ini").c_str(), 1);
}

void OdbcTestConfig::AddSqliteDsn(const std::string& name, const std::string& databasePath,
                                  const std::string& description, bool system) {
  AddDsn(name,
         {{"Description", description}, {"Driver", kSqliteDriverName}, {"Database", databasePath}},
         system);
}

void OdbcTestConfig::AddPostgresDsn(const std::string& name, int port, const std::string& database,
                                    const std::string& description, bool system) {
  AddDsn(name,
         {{"Description", description},
          {"Driver", kPostgresDriverName},
          {"Servername", "127.0.0.1"},
          {"Port", std::to_string(port)},
          {"Database", database},
          {"SSLmode", "disable"}},
         system);
}

void OdbcTestConfig::AddDsn(const std::string& name, const Entries& entries, bool system) {
  std::lock_guard<std::mutex> lock(mutex_);
  dsns_[name] = {system, entries};
  WriteDsnFiles();
}

void OdbcTestConfig::RemoveDsn(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  dsns_.erase(name);
  WriteDsnFiles();
}

void OdbcTestConfig::WriteDsnFiles() {
  for (bool system : {false, true}) {
    std::ostringstream text;
    for (const auto& [name, dsn] : dsns_) {
      if (dsn.first != system) continue;
      text << "[" << name << "]\n";
      for (const auto& [key, value] : dsn.second) text << key << " = " << value << "\n";
      text << "\n";
    }
    ReplaceFile(dir_.File(system ? "odbc.ini" : "user-odbc.ini"), text.str());
  }
}

void OdbcEnvironment::SetUp() {
  try {
    OdbcTestConfig::Get();
  } catch (const std::exception& e) {
    FAIL() << e.what();
  }
}

std::string SqliteConnectionString(const std::string& databasePath) {
  return std::string("Driver=") + kSqliteDriverName + ";Database=" + databasePath;
}

void RunSqliteStatements(const std::string& databasePath,
                         const std::vector<std::string>& statements) {
  OdbcTestConfig::Get();
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  std::string failure;
  auto diagnose = [&](SQLSMALLINT type, SQLHANDLE handle, const std::string& what) {
    SQLCHAR state[6] = {};
    SQLCHAR message[1024] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, &length);
    failure = what + ": " + reinterpret_cast<const char*>(message);
  };
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
    throw std::runtime_error("no ODBC environment");
  }
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  std::string connection = SqliteConnectionString(databasePath);
  SQLRETURN rc = SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(connection.data()),
                                  SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) {
    diagnose(SQL_HANDLE_DBC, dbc, connection);
  } else {
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    for (const std::string& statement : statements) {
      std::string text = statement;
      rc = SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS);
      if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
        diagnose(SQL_HANDLE_STMT, stmt, statement);
        break;
      }
      SQLFreeStmt(stmt, SQL_CLOSE);
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    SQLDisconnect(dbc);
  }
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  if (!failure.empty()) throw std::runtime_error(failure);
}

SilentListener::SilentListener() {
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  wakeFd_ = eventfd(0, EFD_CLOEXEC);
  if (listenFd_ < 0 || wakeFd_ < 0) throw std::runtime_error("socket/eventfd");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listenFd_, 64) != 0 ||
      getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(listenFd_);
    close(wakeFd_);
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { AcceptLoop(); });
}

SilentListener::~SilentListener() {
  std::uint64_t one = 1;
  if (write(wakeFd_, &one, sizeof one) < 0) {
    // Nothing more can be done; the loop also ends when the socket closes.
  }
  thread_.join();
  for (int fd : connections_) {
    if (fd >= 0) close(fd);
  }
  close(listenFd_);
  close(wakeFd_);
}

int SilentListener::Accepted() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(connections_.size());
}

void SilentListener::HangUp() {
  std::lock_guard<std::mutex> lock(mutex_);
  hungUp_ = true;
  for (int& fd : connections_) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

void SilentListener::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if (fds[0].revents & POLLIN) {
      int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (hungUp_) {
          close(fd);
          fd = -1;
        }
        connections_.push_back(fd);
      }
    }
  }
}

}  // namespace testing_support
