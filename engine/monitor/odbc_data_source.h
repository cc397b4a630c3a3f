// The monitor of one ODBC data source: on each poll it connects (timed), runs each enabled
// test query (timed together), disconnects, and then commits the samples, keeps a short
// history, evaluates health and alerts, tells the user interface and stores the samples.
// Locking as for Server (server.h): the fields below are guarded by Mutex().
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "engine/monitor/server.h"
#include "engine/monitor/server_data.h"

namespace engine {

class ODBCDataSource : public Server {
 public:
  static constexpr std::int32_t kDefaultTimeout = kDefaultOdbcTimeout;
  static constexpr std::size_t kHistorySize = 10;

  ODBCDataSource();
  ~ODBCDataSource() override;

  using Server::Poll;
  int Poll(PollControl& control) override;
  void Evaluate() override;
  int StoreData() override;
  int Save(db::Database& database) override;
  int Load(db::Cursor& cursor, db::Database& database) override;

  // Caller holds Mutex().
  ServerData* GetData() override { return &current; }
  std::string GetTypeName() const override;
  // "Monitor stopped" when not running; else the first line of the latest error (after
  // its code in hexadecimal unless the code is -1); else "ODBC Data Source is
  // available"; else "Monitor running".
  std::string GetStatusText() const override;
  // Red while running with an error, else the colour of inactive captions.
  StatusColor GetStatusColor() const override;

  // The connection text a poll uses (caller holds Mutex()).
  std::string ConnectionText() const;

  bool customConnectionString = false;
  std::string connectionString;
  bool customTimeouts = false;                  // stored and edited; the poll does not look at it
  std::int32_t loginTimeout = kDefaultTimeout;  // seconds; -1: both time-outs 15
  std::int32_t queryTimeout = kDefaultTimeout;  // seconds
  ODBCDataSourceData current;
  ODBCDataSourceData previous;
  std::deque<ServerHistoryEntry> history;  // at most kHistorySize, oldest first

 private:
  struct PollInput;
  struct PollOutput;

  // The driver's part of a poll, on copies only.
  static PollOutput RunPoll(const PollInput& input, PollControl& control);
  // Everything after the driver: commit, history, evaluation, notification, storing.
  void OnPollDone(const PollOutput& output, const PollControl& control);
  void AddHistory();
  // True when the monitor's earliest stored row has that time, or when that cannot be read.
  bool IsFirstSample(db::Database& data, std::int64_t time) const;
};

}  // namespace engine
