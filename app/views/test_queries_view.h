// The test queries view of a monitor: a check-box list of its test queries (name, the
// query's first line, the latest result), the selected query's name and SQL text in two
// edits, and a chart of its recent values. What the user types shows in the list at once
// and reaches the monitor (whose polls run it) and the file only when it is committed: an
// edit loses the focus, the selection or the view changes, or the window closes. Commits,
// adds, removes and the enable flag go through the store's calls for the views, by
// test-query identifier; the list's rows map to identifiers. A removal shows at once; one
// the file refuses brings its rows back when the window passes the notice on
// (RemovalRefused), and the store tells the user. A poll's notification refreshes only the
// Result column and the chart. UI thread only.
#pragma once

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/views/base_view.h"
#include "controls/chart_model.h"
#include "controls/font_scale.h"

class wxButton;
class wxDataViewEvent;
class wxDataViewListCtrl;
class wxTextCtrl;

namespace controls {
class Graphic;
}

namespace app {

// The query's first line: the text before the first LF, less a CR right before it.
std::string QueryFirstLine(const std::string& query);
// The result column's text: the value, or "-" for no value (-1).
std::string QueryResultText(std::int32_t value);
// The chart's points for the test query's history, oldest first; -1 stays a gap.
controls::GraphPoints QueryHistorySeries(const engine::TestQuerySnapshot& query);

// The test queries of one monitor as the view lists them, with the selected row. Adds,
// removals and the enable flag go to the store first and the rows follow it; a typed name
// or SQL text changes only its row until Commit hands it to the store.
class TestQueriesModel {
 public:
  TestQueriesModel(engine::IWindowStore& storage, std::string monitorId);

  // Takes the monitor's test queries; the selection stays on the same identifier when it
  // is still there, else none. A row with typing not yet committed keeps what was typed.
  void Load(const engine::MonitorSnapshot& monitor);
  // Takes only the values and histories of queries still listed (a poll's notification).
  void RefreshValues(const engine::MonitorSnapshot& monitor);

  const std::string& MonitorId() const { return monitorId_; }
  const std::vector<engine::TestQuerySnapshot>& Rows() const { return rows_; }
  // -1 for none.
  int Selected() const { return selected_; }
  void Select(int row);
  const engine::TestQuerySnapshot* SelectedQuery() const;

  // Add, Remove and RemoveAll commit the typing first.
  // Appends an empty enabled query without a value and selects it; false when the store
  // refused.
  bool Add();
  // Removes the selected query and selects the row now at its position, else the last
  // row (none when no row is left). False for a query the store no longer has.
  bool Remove();
  // Removes every query when confirmed, all or none; nothing is selected afterwards.
  bool RemoveAll(bool confirmed);
  // Change the selected query's row, for the next commit; false with no selection.
  bool SetName(const std::string& name);
  bool SetQuery(const std::string& query);
  // Hands the typing not yet committed to the store (IWindowStore::ChangeTestQuery), which
  // applies it to the monitor and saves it.
  void Commit();
  bool SetEnabled(int row, bool enable);

 private:
  bool Change(const engine::TestQuerySettings& settings);

  engine::IWindowStore& storage_;
  std::string monitorId_;
  std::vector<engine::TestQuerySnapshot> rows_;
  int selected_ = -1;
  std::set<std::string> typed_;  // rows with typing not yet committed, by identifier
};

class TestQueriesView : public BaseView {
 public:
  // Asks a Yes/No question; true for Yes.
  using Confirm = std::function<bool(const wxString& question)>;

  static constexpr unsigned kEnableColumn = 0;
  static constexpr unsigned kNameColumn = 1;
  static constexpr unsigned kQueryColumn = 2;
  static constexpr unsigned kResultColumn = 3;

  TestQueriesView(wxWindow* parent, SnapshotSource snapshots, engine::IWindowStore& storage,
                  Confirm confirm = {});

  // Loading with kRefreshShow fills everything; kRefreshNotify only results and the chart.
  // Either direction stores the column widths.
  bool UpdateView(bool save, int hint) override;
  void RemovalRefused(const std::string& monitorId) override;

  wxDataViewListCtrl* List() const { return list_; }
  wxTextCtrl* NameEdit() const { return name_; }
  wxTextCtrl* QueryEdit() const { return query_; }
  controls::Graphic* Chart() const { return chart_; }
  wxButton* AddButton() const { return add_; }
  wxButton* RemoveButton() const { return remove_; }
  wxButton* RemoveAllButton() const { return removeAll_; }
  wxButton* TestButton() const { return test_; }
  const TestQueriesModel* Model() const { return model_.get(); }

 protected:
  void OnInitView(bool firstInit) override;

 private:
  void FillList();
  void ShowSelection();
  void RefreshChart();
  // Runs the selected query in the connection-test dialog (modal).
  void RunTest();
  void StoreWidths();
  void ReloadModel();

  void OnSelectionChanged(wxDataViewEvent& event);
  void OnValueChanged(wxDataViewEvent& event);

  engine::IWindowStore& storage_;
  Confirm confirm_;
  std::unique_ptr<TestQueriesModel> model_;
  wxDataViewListCtrl* list_ = nullptr;
  controls::ColumnDefaults columnDefaults_;
  wxTextCtrl* name_ = nullptr;
  wxTextCtrl* query_ = nullptr;
  controls::Graphic* chart_ = nullptr;
  wxButton* add_ = nullptr;
  wxButton* remove_ = nullptr;
  wxButton* removeAll_ = nullptr;
  wxButton* test_ = nullptr;
  // Set while the view changes the list itself, so its events change nothing in the store.
  bool filling_ = false;
};

}  // namespace app
