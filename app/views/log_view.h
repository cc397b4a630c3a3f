// The log view: the selected monitor's log rows, newest first, in a virtual list of three
// columns (type, date and time, message; one line a row), the full message of the selected
// line in a scrollable multi-line text under the list, and "Clear", which deletes the monitor's
// rows after the user agrees. The rows are read, and cleared, on a worker of the view; results come
// back to the UI thread and reach the view only while it lives. A show, a change of monitor and
// Clear read the whole log; a poll of the monitor shown reads only the rows written since and puts
// them on top, keeping the selected line. A whole log goes into the list a slice at a time across
// turns of the event loop, newest rows first, so no turn walks all of it. The column widths come
// from the settings and go back to them. UI thread only, but the free functions may run on any
// thread.
#pragma once

#include <wx/string.h>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/views/base_view.h"
#include "controls/font_scale.h"
#include "engine/data/data_reads.h"

class wxButton;
class wxDataViewCtrl;
class wxIdleEvent;
class wxTextCtrl;
template <class T>
class wxWeakRef;

namespace engine {
class IWindowStore;
}

namespace app {

// One line of the list as shown.
struct LogLine {
  std::string type;  // "ALERT" or "INFO"
  std::string time;  // "14 Nov 2023 10:13 PM"
  std::string message;

  bool operator==(const LogLine&) const = default;
};

// "ALERT" for type 1, "INFO" for any other type.
std::string LogTypeText(std::int32_t type);

// The lines for rows read oldest first (equal times in the order written): newest first.
std::vector<LogLine> MakeLogLines(const std::vector<engine::LogRow>& rowsOldestFirst);

// What of a monitor tells that its log may have new rows: its latest poll and the end of
// its latest alert action (both write rows).
struct LogState {
  std::int64_t pollTime = 0;
  std::int64_t alertTime = 0;

  bool operator==(const LogState&) const = default;
};
LogState LogStateOf(const engine::MonitorSnapshot& monitor);

// Whether a refresh must read the log again. shownId is the monitor whose rows the list
// holds ("" for none) and shownState its state when they were asked for. A show always
// reads; a notification only when it comes from the monitor shown and that monitor's
// state has moved on.
bool LogNeedsReload(int hint, const std::string& shownId, const LogState& shownState,
                    const engine::MonitorSnapshot& monitor);

// A message with "\n" line ends: a line break is LF, CR, or CRs before an LF.
std::string MessageLines(const std::string& message);
// A message as one list row shows it: each line break as one blank.
std::string OneLine(const std::string& message);

// The widths to store for the list's column widths: only when all three columns exist and
// have a width (a list not laid out yet reads 0 for every column).
std::optional<std::array<int, 3>> LogWidthsToStore(const std::vector<int>& columnWidths);

// Asks the user a yes/no question; true for yes.
using ConfirmFunction = std::function<bool(wxWindow* parent, const wxString& question)>;

class LogView : public BaseView {
 public:
  // confirm: the question before Clear (a message box with Yes/No and an exclamation by
  // default).
  LogView(wxWindow* parent, SnapshotSource snapshots, engine::IWindowStore& storage,
          ConfirmFunction confirm = {});
  ~LogView() override;

  // Loading reads the log when LogNeedsReload says so (a failed read leaves the list as it
  // was) and empties the list without a monitor; either direction stores the column widths.
  // A notification from the monitor whose rows the list holds reads only the rows written
  // since and adds them on top: the selected line stays selected, and the lines in view stay
  // in view unless the list was scrolled to its top, where it stays. Anything else reads the
  // whole log and starts the list afresh.
  bool UpdateView(bool save, int hint) override;

  // After the question, clears the selected monitor's log on the worker and reads it
  // again; nothing happens without a monitor or when the user says no.
  void ClearLog();

  // A read or clear has been asked for and its rows have not arrived yet, or the list does
  // not show all the rows read yet.
  bool Busy() const;
  // The lines read, newest first; the list shows the first of them (all once it is full).
  const std::deque<LogLine>& Lines() const { return lines_; }
  wxString MessageText() const;
  wxDataViewCtrl* List() const { return list_; }
  wxButton* ClearButton() const { return clear_; }

 protected:
  void OnInitView(bool firstInit) override;

 private:
  class Model;
  class Worker;
  struct Read;

  // whole: every row, else the rows written since those the list holds (mark_).
  void Request(bool clear, bool whole);
  // read: empty when the read failed.
  void Deliver(std::uint64_t generation, const std::string& id, std::optional<Read> read);
  // Hands the lines to the worker to free, off the UI thread.
  void ReleaseLines();
  // Adds lines read at the bottom of the list for about one slice of time; true while more
  // wait.
  bool FillSome();
  void OnIdle(wxIdleEvent& event);
  void StoreWidths();

  engine::IWindowStore& storage_;
  ConfirmFunction confirm_;
  wxDataViewCtrl* list_ = nullptr;
  wxTextCtrl* message_ = nullptr;
  wxButton* clear_ = nullptr;
  controls::ColumnDefaults columnDefaults_;
  Model* model_ = nullptr;  // owned by the list through its reference count
  std::deque<LogLine> lines_;
  std::string shownId_;
  LogState shownState_;
  // The monitor whose rows the list holds and what it holds of them; "" while it holds none
  // or a whole read is on its way.
  std::string listId_;
  engine::LogMark mark_;
  std::uint64_t generation_ = 0;
  int pending_ = 0;
  std::shared_ptr<wxWeakRef<LogView>> self_;
  std::unique_ptr<Worker> worker_;
};

}  // namespace app
