// How long the user-interface thread is held by the log view of a monitor with 200,000 log
// rows: while the view opens and fills, and while it follows polls that each add three rows
// (the selected line stays selected). The view runs in a frame of its own over the real store
// and data file; a 5 ms one-shot timer on the UI thread, started again each time it fires,
// measures how much later than due it fires, and the view's calls count too. Each phase is
// measured until 300 ms after its rows are all in the list, so the repaints count. Prints the
// longest hold of the open and of each poll (target: at most 100 ms), how long the open took
// until every row was in the list, and the resident memory after each poll.
//
// First, where the time goes: on a bare list of the same kind (a wxDataViewCtrl, that is a
// GtkTreeView, over a virtual list model, its accessible object made), what a model reset to
// 200,000 rows and back costs, the longest turn of the event loop after each, the model's
// values the list asked for meanwhile, and what a row added at the bottom or on top costs;
// and what freeing 200,000 lines costs.
//
// With --atspi the program joins the accessibility bus of a D-Bus session of its own, and a
// screen reader's stand-in (this program again, in a process of its own) listens to every
// object event of it from the start, reads the list's first 40 lines once it is full, and
// after the polls reads the message of the list's first line.
//
// With LUMIVAR_SCREENSHOT_DIR set, the screen is saved there while the list fills and after
// the polls (each grab holds the UI thread, and counts).
//
// Needs a display: without DISPLAY the program runs itself again under `xvfb-run -a`.
// Not a Google Benchmark program: it prints its figures itself.
#include <atspi/atspi.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/dataview.h>
#include <wx/evtloop.h>
#include <wx/frame.h>
#include <wx/init.h>
#include <wx/sizer.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/ui_thread.h"
#include "app/views/log_view.h"
#include "bench/bench_support.h"
#include "bench/ui_bench_support.h"
#include "controls/accessible_name.h"
#include "engine/data/data_files.h"
#include "engine/data/log_writer.h"
#include "engine/services.h"
#include "engine/store/server_storage.h"
#include "tests/support/atspi_client.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kRows = 200'000;
constexpr int kPolls = 12;
constexpr int kRowsPerPoll = 3;
constexpr int kProbeMs = 5;
constexpr auto kSettle = 300ms;
constexpr double kTargetMs = 100;

// The monitor's log as weeks of failing polls leave it: one row every 20 s, oldest first.
void FillLog(const std::string& monitorId) {
  const std::string file = engine::DataFiles::DataFolder() + engine::DataFiles::kDataFileName;
  bench::RunSqlite(
      file,
      {"BEGIN",
       "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < " +
           std::to_string(kRows - 1) + ") INSERT INTO Log SELECT '" + monitorId +
           "', printf('%010d', 1700000000 + i * 20), CASE WHEN i % 3 = 0 THEN '1' ELSE '0' END, "
           "CASE WHEN i % 3 = 0 THEN 'Database is not available: [unixODBC][Driver Manager]Data "
           "source name not found and no default driver specified (poll ' || i || ')' ELSE "
           "'ERROR On Sales' || char(13, 10) || 'Value: ' || i || char(13, 10) || "
           "'Threshold: 10' END FROM n",
       "COMMIT"});
}

// ---- The screen reader's stand-in ----

constexpr std::string_view kReaderArgument = "--log-list-reader";
constexpr int kLinesRead = 40;

std::int64_t eventsHeard = 0;

void CountEvent(AtspiEvent* event, void*) {
  ++eventsHeard;
  g_boxed_free(ATSPI_TYPE_EVENT, event);
}

// A line of standard input without waiting: the line, "" while none is complete, nullopt at
// its end.
std::optional<std::string> ReadCommand(std::string& pending) {
  pollfd ready{STDIN_FILENO, POLLIN, 0};
  if (poll(&ready, 1, 5) > 0) {
    char buffer[256];
    const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
    if (got <= 0) return std::nullopt;
    pending.append(buffer, static_cast<std::size_t>(got));
  }
  const auto end = pending.find('\n');
  if (end == std::string::npos) return std::string();
  std::string line = pending.substr(0, end);
  pending.erase(0, end + 1);
  return line;
}

// The stand-in's main: listens to every object event from the start, says "ready" once it
// sees the program, on "read" finds the list and reads the cells of its first lines,
// answering "read <cells>", and on "top" answers "top <the first line's message>". Ends at
// the end of its input, after "events <n>".
int RunReader(pid_t program) {
  testing_support::AtspiClient client;
  std::string problem;
  if (!client.Connect(&problem)) {
    std::printf("failed: %s\n", problem.c_str());
    return 1;
  }
  AtspiEventListener* listener = atspi_event_listener_new(CountEvent, nullptr, nullptr);
  atspi_event_listener_register(listener, "object:", nullptr);
  testing_support::AtspiNode app;
  for (int i = 0; i < 300 && !app; ++i) {
    app = client.FindApplication(program);
    if (!app) usleep(100'000);
  }
  std::printf(app ? "ready\n" : "failed: the program is not on the accessibility bus\n");
  std::fflush(stdout);
  std::string pending;
  testing_support::AtspiNode list;
  for (;;) {
    client.Dispatch();
    const std::optional<std::string> command = ReadCommand(pending);
    if (!command) break;
    if (!list && !command->empty()) list = app.Find("table", "Log");
    if (*command == "top") {
      std::printf("top %s\n", list.CellAt(0, 2).CurrentName().c_str());
      std::fflush(stdout);
    }
    if (*command != "read") continue;
    int cells = 0;
    for (int row = 0; row < kLinesRead; ++row) {
      for (int column = 0; column < 3; ++column) {
        if (list.CellAt(row, column)) ++cells;
      }
    }
    std::printf("read %d\n", cells);
    std::fflush(stdout);
  }
  client.Dispatch();
  std::printf("events %lld\n", static_cast<long long>(eventsHeard));
  std::fflush(stdout);
  atspi_event_listener_deregister(listener, "object:", nullptr);
  g_object_unref(listener);
  return 0;
}

// The stand-in as the program sees it: started in a process of its own, told what to do
// through its standard input and heard through its standard output without waiting.
class Reader {
 public:
  Reader() {
    int toChild[2];
    int fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
    std::string self = "/proc/self/exe";
    std::string argument(kReaderArgument);
    std::string pid = std::to_string(getpid());
    char* args[] = {self.data(), argument.data(), pid.data(), nullptr};
    if (posix_spawn(&pid_, self.c_str(), &actions, nullptr, args, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    input_ = toChild[1];
    output_ = fromChild[0];
    fcntl(output_, F_SETFL, O_NONBLOCK);
  }
  ~Reader() {
    if (input_ >= 0) close(input_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    if (output_ >= 0) close(output_);
  }

  void Tell(const char* command) {
    const std::string line = std::string(command) + "\n";
    if (write(input_, line.data(), line.size()) < 0) std::perror("log_view_bench: reader");
  }
  // The next whole line it said, or "" when there is none yet.
  std::string Heard() {
    char buffer[256];
    ssize_t got = 0;
    while ((got = read(output_, buffer, sizeof buffer)) > 0) {
      pending_.append(buffer, static_cast<std::size_t>(got));
    }
    const auto end = pending_.find('\n');
    if (end == std::string::npos) return {};
    std::string line = pending_.substr(0, end);
    pending_.erase(0, end + 1);
    return line;
  }
  // Ends its input and waits for its last line.
  std::string Finish() {
    close(input_);
    input_ = -1;
    std::string last;
    for (int i = 0; i < 3000; ++i) {
      const std::string line = Heard();
      if (!line.empty()) last = line;
      if (last.starts_with("events")) break;
      usleep(10'000);
    }
    return last;
  }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::string pending_;
};

// ---- Where the time goes ----

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void PumpOnce() {
  wxTheApp->ProcessPendingEvents();
  wxYield();
  wxTheApp->ProcessIdle();
}

// Turns the event loop for a span; the longest turn in ms.
double LongestTurn(std::chrono::milliseconds span) {
  double longest = 0;
  const Clock::time_point start = Clock::now();
  while (Clock::now() - start < span) {
    const Clock::time_point turn = Clock::now();
    PumpOnce();
    longest = std::max(longest, MsSince(turn));
  }
  return longest;
}

struct ListCosts {
  double resetUp = 0;    // ms: a model reset from no rows to kRows
  double afterUp = 0;    // ms: the longest turn after it
  long valuesUp = 0;     // values the list asked for in both
  double resetDown = 0;  // ms: a model reset from kRows to none
  double afterDown = 0;  // ms: the longest turn after it
  double appendUs = 0;   // us: a row added at the bottom
  double prependUs = 0;  // us: a row added on top
  double freeLines = 0;  // ms: freeing kRows lines of the view
};

ListCosts MeasureList() {
  class Model : public wxDataViewVirtualListModel {
   public:
    unsigned int GetColumnCount() const override { return 3; }
    wxString GetColumnType(unsigned int) const override { return "string"; }
    void GetValueByRow(wxVariant& value, unsigned int, unsigned int col) const override {
      ++values;
      value = wxString::FromUTF8(col == 0   ? "ALERT"
                                 : col == 1 ? "14 Nov 2023 10:13 PM"
                                            : "Database is not available: login failed");
    }
    bool SetValueByRow(const wxVariant&, unsigned int, unsigned int) override { return false; }
    mutable long values = 0;
  };
  ListCosts costs;
  auto* frame = new wxFrame(nullptr, wxID_ANY, "list", wxPoint(0, 0), wxSize(1100, 800));
  auto* list =
      new wxDataViewCtrl(frame, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                         wxDV_SINGLE | wxDV_ROW_LINES | wxDV_HORIZ_RULES | wxDV_VERT_RULES);
  controls::SetAccessibleName(list, "Rows");
  auto* model = new Model;
  list->AssociateModel(model);
  model->DecRef();
  list->AppendTextColumn("Type", 0, wxDATAVIEW_CELL_INERT, 80);
  list->AppendTextColumn("Date/Time", 1, wxDATAVIEW_CELL_INERT, 170);
  list->AppendTextColumn("Message", 2, wxDATAVIEW_CELL_INERT, 600);
  frame->Show();
  LongestTurn(500ms);

  Clock::time_point start = Clock::now();
  model->Reset(kRows);
  costs.resetUp = MsSince(start);
  costs.afterUp = LongestTurn(300ms);
  costs.valuesUp = model->values;
  start = Clock::now();
  model->Reset(0);
  costs.resetDown = MsSince(start);
  costs.afterDown = LongestTurn(300ms);

  constexpr int kAdded = 20'000;
  model->Reset(500);
  LongestTurn(100ms);
  start = Clock::now();
  for (int i = 0; i < kAdded; ++i) model->RowAppended();
  costs.appendUs = MsSince(start) * 1000 / kAdded;
  LongestTurn(100ms);
  start = Clock::now();
  for (int i = 0; i < kAdded; ++i) model->RowPrepended();
  costs.prependUs = MsSince(start) * 1000 / kAdded;
  frame->Destroy();
  LongestTurn(100ms);

  std::vector<engine::LogRow> rows(kRows, engine::LogRow{1'700'000'000, 1,
                                                         "Database is not available: [unixODBC]"
                                                         "[Driver Manager]Data source name not "
                                                         "found"});
  auto lines = std::make_unique<std::vector<app::LogLine>>(app::MakeLogLines(rows));
  start = Clock::now();
  lines.reset();
  costs.freeLines = MsSince(start);
  return costs;
}

void ScreenshotIfAsked(const char* name) {
  const char* folder = std::getenv("LUMIVAR_SCREENSHOT_DIR");
  if (folder == nullptr || *folder == 0) return;
  wxYield();  // hands the painting done so far to the X server
  const std::string command =
      std::string("import -silent -window root '") + folder + "/" + name + ".png'";
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "log_view_bench: no screenshot\n");
}

unsigned int ListRows(app::LogView& view) {
  auto* model = static_cast<wxDataViewVirtualListModel*>(view.List()->GetModel());
  return model != nullptr ? model->GetCount() : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && argv[1] == kReaderArgument) return RunReader(std::atoi(argv[2]));
  const bool atspi = argc > 1 && std::strcmp(argv[1], "--atspi") == 0;
  bench::EnsureDisplay(argc, argv, "log_view_bench");
  bench::DocumentsFolder folder("lumivar-log-bench");
  std::optional<testing_support::DbusSession> session;
  std::optional<Reader> reader;
  if (atspi) {
    session.emplace();
    std::string problem;
    if (session->AccessibilityBusAddress(&problem).empty()) {
      std::fprintf(stderr, "log_view_bench: no accessibility bus: %s\n", problem.c_str());
      return 1;
    }
    setenv("DBUS_SESSION_BUS_ADDRESS", session->Address().c_str(), 1);
    unsetenv("NO_AT_BRIDGE");
  } else {
    setenv("NO_AT_BRIDGE", "1", 1);
  }

  wxApp::SetInstance(new wxApp);
  int wxArgc = 1;  // the options are this program's, not wx's
  if (!wxEntryStart(wxArgc, argv) || !wxTheApp->CallOnInit()) {
    std::fprintf(stderr, "log_view_bench: wx could not start\n");
    return 1;
  }
  wxGUIEventLoop loop;
  wxEventLoopBase::SetActive(&loop);  // for the pumps before the loop runs
  std::string readerSaid;
  if (atspi) {
    reader.emplace();
    const Clock::time_point start = Clock::now();
    while (readerSaid.empty() && Clock::now() - start < 60s) {
      PumpOnce();
      readerSaid = reader->Heard();
    }
    if (readerSaid != "ready") {
      std::fprintf(stderr, "log_view_bench: reader: %s\n", readerSaid.c_str());
      return 1;
    }
  }
  const ListCosts costs = MeasureList();
  {
    engine::DataFiles::CreateConfigTables();
    engine::DataFiles::CreateDataTables();
    engine::ServerStorage store;
    store.LoadAll();
    engine::MonitorSettings settings;
    settings.name = "Sales";
    settings.address = "lumivar-bench-no-such-source";
    const std::string id = store.AddMonitor(settings);
    FillLog(id);
    app::SetUiThreadReceiver(wxTheApp);
    engine::Services::SetStorage(&store);

    // A poll shows in the snapshot as a later time of the current sample.
    std::int64_t pollTime = 1'800'000'000;
    const app::SnapshotSource storeSnapshots = app::SnapshotsOf(store);
    auto snapshots = [&](const std::string& monitorId) {
      std::optional<engine::MonitorSnapshot> monitor = storeSnapshots(monitorId);
      if (monitor) monitor->current.time = pollTime;
      return monitor;
    };

    auto* frame = new wxFrame(nullptr, wxID_ANY, "log", wxPoint(0, 0), wxSize(1100, 800));
    auto* view = new app::LogView(frame, snapshots, store);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(view, 1, wxEXPAND);
    frame->SetSizer(sizer);
    frame->Show();
    view->InitView();

    enum class Phase { kWarmUp, kOpening, kReading, kPolling, kSettling, kTop, kDone };
    Phase phase = Phase::kWarmUp;
    const Clock::time_point started = Clock::now();
    Clock::time_point openAsked;
    Clock::time_point complete;
    double openMs = 0;
    double openHold = 0;
    unsigned int expected = kRows;
    int polls = 0;
    std::vector<double> pollHolds;
    std::vector<std::int64_t> residentKiB;
    bool selectionKept = true;
    bool filling = true;
    std::string lastMessage;
    std::string topRead;

    bench::HoldProbe probe(kProbeMs);
    auto finished = [&] { return !view->Busy() && ListRows(*view) == expected; };
    auto poll = [&] {
      lastMessage = "Database is not available (poll " + std::to_string(polls) + ")";
      for (int i = 0; i < kRowsPerPoll; ++i) engine::WriteLogRow(id, 1, lastMessage);
      pollTime += 60;
      expected += kRowsPerPoll;
      view->UpdateView(false, app::kRefreshNotify);
      phase = Phase::kPolling;
    };
    probe.Start([&] {
      const Clock::time_point now = Clock::now();
      switch (phase) {
        case Phase::kWarmUp:
          if (now - started < 1s) return;
          probe.Take();
          openAsked = Clock::now();
          view->SetMonitorId(id);
          view->UpdateView(false, app::kRefreshShow);
          phase = Phase::kOpening;
          return;
        case Phase::kOpening:
          if (filling && ListRows(*view) > 0 && ListRows(*view) < kRows) {
            filling = false;
            ScreenshotIfAsked("log_view_200000_filling");
          }
          if (!finished()) return;
          openMs = std::chrono::duration<double, std::milli>(now - openAsked).count();
          complete = now;
          if (reader) {
            reader->Tell("read");
            phase = Phase::kReading;
            return;
          }
          phase = Phase::kSettling;
          return;
        case Phase::kReading:
          readerSaid = reader->Heard();
          if (readerSaid.empty()) return;
          complete = Clock::now();
          phase = Phase::kSettling;
          return;
        case Phase::kPolling:
          if (!finished()) return;
          complete = now;
          phase = Phase::kSettling;
          return;
        case Phase::kSettling: {
          if (now - complete < kSettle) return;
          if (polls == 0) {
            openHold = probe.Take();
            // The line the user reads: the tenth from the top.
            view->List()->Select(
                static_cast<wxDataViewVirtualListModel*>(view->List()->GetModel())->GetItem(9));
          } else {
            pollHolds.push_back(probe.Take());
            const wxDataViewItem item = view->List()->GetSelection();
            const unsigned int row =
                item.IsOk() ? static_cast<wxDataViewVirtualListModel*>(view->List()->GetModel())
                                  ->GetRow(item)
                            : ~0u;
            selectionKept =
                selectionKept && row == 9u + static_cast<unsigned>(polls) * kRowsPerPoll;
          }
          residentKiB.push_back(bench::ResidentKiB());
          if (polls == kPolls) {
            ScreenshotIfAsked("log_view_200000_polled");
            if (reader) {
              reader->Tell("top");
              phase = Phase::kTop;
              return;
            }
            phase = Phase::kDone;
            loop.Exit();
            return;
          }
          ++polls;
          poll();
          return;
        }
        case Phase::kTop:
          topRead = reader->Heard();
          if (topRead.empty()) return;
          phase = Phase::kDone;
          loop.Exit();
          return;
        case Phase::kDone:
          return;
      }
    });
    loop.Run();
    probe.Stop();
    const std::string readerLast = reader ? reader->Finish() : std::string();

    frame->Destroy();
    wxTimer end;
    end.Bind(wxEVT_TIMER, [&](wxTimerEvent&) { loop.Exit(); });
    end.StartOnce(200);
    loop.Run();
    engine::Services::SetStorage(nullptr);
    app::SetUiThreadReceiver(nullptr);
    store.Clear();

    const double pollMax =
        pollHolds.empty() ? 0 : *std::max_element(pollHolds.begin(), pollHolds.end());
    std::printf("log_view_bench: the log view of a monitor with %d log rows, %s\n", kRows,
                atspi ? "a screen reader's client listening on the accessibility bus"
                      : "no accessibility bridge");
    std::printf("  where the time goes, on a bare list of the kind with its accessible object:\n");
    std::printf("    model reset to %d rows           %.1f ms, longest turn after %.1f ms\n", kRows,
                costs.resetUp, costs.afterUp);
    std::printf("    values the list asked for         %ld\n", costs.valuesUp);
    std::printf("    model reset to no rows            %.1f ms, longest turn after %.1f ms\n",
                costs.resetDown, costs.afterDown);
    std::printf("    a row added at the bottom         %.2f us\n", costs.appendUs);
    std::printf("    a row added on top                %.2f us\n", costs.prependUs);
    std::printf("    freeing %d lines              %.1f ms\n", kRows, costs.freeLines);
    if (atspi) {
      std::printf("  reader: after the open            %s\n", readerSaid.c_str());
      std::printf("  reader: at the end                %s\n", readerLast.c_str());
      const bool topSeen = topRead == "top " + lastMessage;
      std::printf("  reader: the first line's message  %s\n",
                  topSeen ? "the last poll's" : ("not the last poll's: " + topRead).c_str());
    }
    std::printf("  open: every row in the list after   %.0f ms\n", openMs);
    std::printf("  open: longest UI-thread hold         %.1f ms (target <= %.0f)\n", openHold,
                kTargetMs);
    std::printf("  polls of %d rows each                 %d\n", kRowsPerPoll, kPolls);
    std::printf("  polls: longest UI-thread hold of each:");
    for (double hold : pollHolds) std::printf(" %.1f", hold);
    std::printf(" ms\n");
    std::printf("  polls: longest UI-thread hold        %.1f ms (target <= %.0f)\n", pollMax,
                kTargetMs);
    std::printf("  selected line kept through the polls %s\n", selectionKept ? "yes" : "no");
    std::printf("  resident memory after the open       %lld MiB\n",
                static_cast<long long>(residentKiB.front() / 1024));
    std::printf("  resident memory after each poll (MiB):");
    for (std::size_t i = 1; i < residentKiB.size(); ++i) {
      std::printf(" %lld", static_cast<long long>(residentKiB[i] / 1024));
    }
    std::printf("\n");
    if (residentKiB.size() > 1) {
      std::printf("  resident memory per poll, all %d    %+.1f MiB (the first %+.1f MiB)\n", kPolls,
                  static_cast<double>(residentKiB.back() - residentKiB.front()) / 1024.0 /
                      static_cast<double>(residentKiB.size() - 1),
                  static_cast<double>(residentKiB[1] - residentKiB.front()) / 1024.0);
    }
    std::printf("  targets                              %s\n",
                openHold <= kTargetMs && pollMax <= kTargetMs ? "met" : "MISSED");
  }
  wxEventLoopBase::SetActive(nullptr);
  wxEntryCleanup();
  return 0;
}
