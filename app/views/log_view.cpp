#include "app/views/log_view.h"

#include <gtk/gtk.h>
#include <wx/button.h>
#include <wx/dataview.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>
#include <wx/weakref.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <iterator>
#include <mutex>
#include <thread>
#include <utility>

#include "app/modal_command.h"
#include "app/settings/settings.h"
#include "app/ui_thread.h"
#include "controls/accessible_name.h"
#include "controls/font_scale.h"
#include "engine/data/log_writer.h"
#include "engine/store/window_store.h"
#include "platform/time_format.h"

namespace app {

namespace {

constexpr int kGap = 6;
// The selected line's message: four lines of the layout font.
constexpr int kMessageHeight = 60;
// How long a read waits for log rows asked for before it to reach the file.
constexpr auto kLogWriteWait = std::chrono::seconds(5);
// A whole log goes into the list with this many rows (more than a screen shows), then a slice
// of about this long each idle turn of the event loop, checking the time every step of rows.
constexpr std::size_t kFirstRows = 500;
constexpr auto kFillSlice = std::chrono::milliseconds(10);
constexpr int kFillStep = 32;

bool AskYesNo(wxWindow* parent, const wxString& question) {
  return wxMessageBox(question, "Lumivar", wxYES_NO | wxICON_EXCLAMATION, parent) == wxYES;
}

}  // namespace

std::string LogTypeText(std::int32_t type) { return type == 1 ? "ALERT" : "INFO"; }

std::vector<LogLine> MakeLogLines(const std::vector<engine::LogRow>& rowsOldestFirst) {
  std::vector<LogLine> lines;
  lines.reserve(rowsOldestFirst.size());
  for (auto row = rowsOldestFirst.rbegin(); row != rowsOldestFirst.rend(); ++row) {
    lines.push_back(
        {LogTypeText(row->type), platform::FormatTimeForDisplay(row->time, 3), row->text});
  }
  return lines;
}

LogState LogStateOf(const engine::MonitorSnapshot& monitor) {
  return {monitor.current.time, monitor.lastAlertTime};
}

bool LogNeedsReload(int hint, const std::string& shownId, const LogState& shownState,
                    const engine::MonitorSnapshot& monitor) {
  if (hint != kRefreshNotify || monitor.id != shownId) return true;
  return LogStateOf(monitor) != shownState;
}

std::string MessageLines(const std::string& message) {
  std::string lines;
  lines.reserve(message.size());
  for (std::size_t i = 0; i < message.size(); ++i) {
    if (message[i] != '\r') {
      lines += message[i];
    } else if (i + 1 == message.size() || (message[i + 1] != '\r' && message[i + 1] != '\n')) {
      lines += '\n';
    }
  }
  return lines;
}

std::string OneLine(const std::string& message) {
  std::string line = MessageLines(message);
  std::replace(line.begin(), line.end(), '\n', ' ');
  return line;
}

std::optional<std::array<int, 3>> LogWidthsToStore(const std::vector<int>& columnWidths) {
  if (columnWidths.size() != 3) return std::nullopt;
  for (int width : columnWidths) {
    if (width <= 0) return std::nullopt;
  }
  return std::array<int, 3>{columnWidths[0], columnWidths[1], columnWidths[2]};
}

// The list's rows: the first lines the view holds, newest first, read by row number.
class LogView::Model : public wxDataViewVirtualListModel {
 public:
  explicit Model(const std::deque<LogLine>& lines) : lines_(lines) {}

  unsigned int GetColumnCount() const override { return 3; }
  wxString GetColumnType(unsigned int) const override { return "string"; }
  void GetValueByRow(wxVariant& value, unsigned int row, unsigned int col) const override {
    if (row >= lines_.size()) {
      value = wxString();
      return;
    }
    const LogLine& line = lines_[row];
    if (col == 2) {
      value = wxString::FromUTF8(OneLine(line.message));
      return;
    }
    value = wxString::FromUTF8(col == 0 ? line.type : line.time);
  }
  bool SetValueByRow(const wxVariant&, unsigned int, unsigned int) override { return false; }

 private:
  const std::deque<LogLine>& lines_;
};

// A read's result: the lines newest first, replacing those held (whole) or going on top.
struct LogView::Read {
  bool whole = true;
  std::deque<LogLine> lines;
  engine::LogMark mark;
};

// One thread running the view's reads and clears in the order asked. Jobs still queued at
// destruction are dropped; the running one is waited for.
class LogView::Worker {
 public:
  Worker() : thread_([this] { Run(); }) {}
  ~Worker() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
      jobs_.clear();
    }
    wake_.notify_all();
    thread_.join();
  }

  void Post(std::function<void()> job) {
    {
      std::lock_guard lock(mutex_);
      jobs_.push_back(std::move(job));
    }
    wake_.notify_all();
  }

 private:
  void Run() {
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
        if (stop_) return;
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      job();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  bool stop_ = false;
  std::thread thread_;
};

LogView::LogView(wxWindow* parent, SnapshotSource snapshots, engine::IWindowStore& storage,
                 ConfirmFunction confirm)
    : BaseView(parent, std::move(snapshots)),
      storage_(storage),
      confirm_(confirm ? std::move(confirm) : ConfirmFunction(AskYesNo)),
      self_(std::make_shared<wxWeakRef<LogView>>(this)),
      worker_(std::make_unique<Worker>()) {
  list_ = new wxDataViewCtrl(this, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                             wxDV_SINGLE | wxDV_ROW_LINES | wxDV_HORIZ_RULES | wxDV_VERT_RULES);
  controls::SetAccessibleName(list_, "Log");
  model_ = new Model(lines_);
  list_->AssociateModel(model_);
  model_->DecRef();  // the list holds it

  message_ = new wxTextCtrl(this, wxID_ANY, wxString(), wxDefaultPosition,
                            wxSize(-1, controls::FontScaled(kMessageHeight)),
                            wxTE_MULTILINE | wxTE_READONLY | wxTE_WORDWRAP);
  controls::SetAccessibleName(message_, "Message");
  clear_ = new wxButton(this, wxID_ANY, "&Clear");
  controls::SetAccessibleName(clear_, "Clear");

  Body()->Add(list_, wxSizerFlags(1).Expand().Border(wxLEFT | wxRIGHT | wxTOP, kGap));
  auto* bottom = new wxBoxSizer(wxHORIZONTAL);
  bottom->Add(message_, wxSizerFlags(1).Expand().Border(wxRIGHT, kGap));
  bottom->Add(clear_, wxSizerFlags().Top());
  Body()->Add(bottom, wxSizerFlags().Expand().Border(wxALL, kGap));

  list_->Bind(wxEVT_DATAVIEW_SELECTION_CHANGED, [this](wxDataViewEvent&) {
    const wxDataViewItem item = list_->GetSelection();
    if (!item.IsOk()) return;
    const unsigned int row = model_->GetRow(item);
    if (row < lines_.size()) {
      message_->ChangeValue(wxString::FromUTF8(MessageLines(lines_[row].message)));
    }
  });
  clear_->Bind(wxEVT_BUTTON,
               [this](wxCommandEvent&) { OpenModalLater(this, [this] { ClearLog(); }); });
  Bind(wxEVT_IDLE, &LogView::OnIdle, this);
  SetSizeLimits(true, true);
}

LogView::~LogView() {
  // Waits for a running read or clear, so nothing is posted after this; results already
  // queued find the reference cleared.
  worker_.reset();
  self_->Release();
}

void LogView::OnInitView(bool firstInit) {
  if (!firstInit) return;
  const LayoutSettings layout = Settings::Instance().GetLayout();
  const LayoutSettings defaults;
  columnDefaults_.Add(list_, 0, defaults.logTypeWidth, "Type", {"ALERT"});
  columnDefaults_.Add(list_, 1, defaults.logDateWidth, "Date/Time", {"28 Sep 2026 10:58 PM"});
  columnDefaults_.Add(list_, 2, defaults.logMessageWidth, "Message");
  list_->AppendTextColumn("Type", 0, wxDATAVIEW_CELL_INERT,
                          columnDefaults_.Shown(0, layout.logTypeWidth));
  list_->AppendTextColumn("Date/Time", 1, wxDATAVIEW_CELL_INERT,
                          columnDefaults_.Shown(1, layout.logDateWidth));
  list_->AppendTextColumn("Message", 2, wxDATAVIEW_CELL_INERT,
                          columnDefaults_.Shown(2, layout.logMessageWidth));
}

bool LogView::UpdateView(bool save, int hint) {
  if (!save) {
    const std::optional<engine::MonitorSnapshot> monitor = SelectedMonitor();
    if (!monitor) {
      ++generation_;  // rows still on their way belong to a monitor no longer shown
      shownId_.clear();
      shownState_ = {};
      listId_.clear();
      ReleaseLines();
      model_->Reset(0);
    } else if (LogNeedsReload(hint, shownId_, shownState_, *monitor)) {
      shownId_ = monitor->id;
      shownState_ = LogStateOf(*monitor);
      Request(false, hint != kRefreshNotify || listId_ != monitor->id);
    }
  }
  StoreWidths();
  return BaseView::UpdateView(save, hint);
}

void LogView::ClearLog() {
  if (!SelectedMonitor()) return;
  if (!confirm_(this, "Are you sure you want to clear log?")) return;
  // The monitor may have gone while the question was open.
  const std::optional<engine::MonitorSnapshot> monitor = SelectedMonitor();
  if (!monitor) return;
  shownId_ = monitor->id;
  shownState_ = LogStateOf(*monitor);
  Request(true, true);
}

bool LogView::Busy() const { return pending_ > 0 || model_->GetCount() < lines_.size(); }

wxString LogView::MessageText() const { return message_->GetValue(); }

void LogView::Request(bool clear, bool whole) {
  const std::uint64_t generation = ++generation_;
  ++pending_;
  std::optional<engine::LogMark> held;
  if (whole) {
    listId_.clear();  // until the whole log arrives, no read goes by the mark
  } else {
    held = mark_;
  }
  worker_->Post([&storage = storage_, clear, held, generation, id = shownId_, self = self_] {
    // Only the storage (which outlives the views) and copies are touched here.
    if (clear) storage.ClearLog(id);
    // Rows and clearings asked for before this read reach the file first.
    engine::WaitForLogWrites(std::chrono::steady_clock::now() + kLogWriteWait);
    int status = 0;
    engine::LogUpdate update = engine::LoadLogUpdate(id, held ? &*held : nullptr, &status);
    // Shared, so that the hand-over copies no line.
    auto read = std::make_shared<std::optional<Read>>();
    if (status == 0) {
      std::vector<LogLine> lines = MakeLogLines(update.rows);
      *read = Read{update.whole,
                   std::deque<LogLine>(std::make_move_iterator(lines.begin()),
                                       std::make_move_iterator(lines.end())),
                   update.mark};
    }
    PostToUiThread([self, generation, id, read] {
      if (LogView* view = self->get()) view->Deliver(generation, id, std::move(*read));
    });
  });
}

void LogView::Deliver(std::uint64_t generation, const std::string& id, std::optional<Read> read) {
  --pending_;
  if (generation != generation_) {
    // A later request answers what is shown; these lines are freed on the worker.
    if (read) worker_->Post([dropped = std::make_shared<Read>(std::move(*read))] {});
    return;
  }
  if (!read) return;  // a failed read leaves the list as it was
  listId_ = id;
  mark_ = read->mark;
  if (read->whole) {
    // The selection goes with the old rows; the message under the list stays.
    list_->UnselectAll();
    ReleaseLines();
    lines_ = std::move(read->lines);
    // Emptying the list costs little; every row added costs its share, so the rest follow
    // from idle time.
    model_->Reset(static_cast<unsigned int>(std::min(lines_.size(), kFirstRows)));
    return;
  }
  if (read->lines.empty()) return;
  GtkTreeView* tree = GTK_TREE_VIEW(list_->GtkGetTreeView());
  const bool atTop =
      gtk_adjustment_get_value(gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(tree))) <= 0;
  // Oldest first, each on top: the list's rows and the lines agree after every step. The
  // tree view moves its selection and the rows in view down with the rows they show.
  for (auto line = read->lines.rbegin(); line != read->lines.rend(); ++line) {
    lines_.push_front(std::move(*line));
    model_->RowPrepended();
  }
  if (atTop) {
    GtkTreePath* first = gtk_tree_path_new_first();
    gtk_tree_view_scroll_to_cell(tree, first, nullptr, TRUE, 0, 0);
    gtk_tree_path_free(first);
  }
}

void LogView::ReleaseLines() {
  if (lines_.empty()) return;
  auto lines = std::make_shared<std::deque<LogLine>>(std::move(lines_));
  lines_.clear();
  worker_->Post([lines] {});
}

bool LogView::FillSome() {
  std::size_t listed = model_->GetCount();
  if (listed >= lines_.size()) return false;
  const auto until = std::chrono::steady_clock::now() + kFillSlice;
  do {
    for (int i = 0; i < kFillStep && listed < lines_.size(); ++i, ++listed) model_->RowAppended();
  } while (listed < lines_.size() && std::chrono::steady_clock::now() < until);
  return listed < lines_.size();
}

void LogView::OnIdle(wxIdleEvent& event) {
  event.Skip();
  if (FillSome()) event.RequestMore();
}

void LogView::StoreWidths() {
  std::vector<int> widths;
  for (unsigned int i = 0; i < list_->GetColumnCount(); ++i) {
    widths.push_back(list_->GetColumn(i)->GetWidth());
  }
  const std::optional<std::array<int, 3>> store = LogWidthsToStore(widths);
  if (!store) return;
  LayoutSettings layout = Settings::Instance().GetLayout();
  layout.logTypeWidth = columnDefaults_.Stored(0, (*store)[0]);
  layout.logDateWidth = columnDefaults_.Stored(1, (*store)[1]);
  layout.logMessageWidth = columnDefaults_.Stored(2, (*store)[2]);
  Settings::Instance().SetLayout(layout);
}

}  // namespace app
