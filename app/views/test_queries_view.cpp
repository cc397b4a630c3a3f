#include "app/views/test_queries_view.h"

#include <wx/button.h>
#include <wx/dataview.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <utility>

#include "app/dialogs/test_connection_dialog.h"
#include "app/modal_command.h"
#include "app/settings/settings.h"
#include "app/wx_text.h"
#include "controls/accessible_name.h"
#include "controls/font_scale.h"
#include "controls/graphic.h"
#include "engine/store/window_store.h"

namespace app {

namespace {

constexpr const char* kValueTitle = "Test Query Value";
constexpr const char* kRemoveAllQuestion = "Are you sure you want remove all queries?";
// Titles and labels, without the legend.
constexpr int kLegendMode = 1;
// The chart draws every fourth time label from this many points on.
constexpr int kDenseLimit = 10;

}  // namespace

std::string QueryFirstLine(const std::string& query) {
  std::size_t end = query.find('\n');
  if (end == std::string::npos) return query;
  if (end > 0 && query[end - 1] == '\r') --end;
  return query.substr(0, end);
}

std::string QueryResultText(std::int32_t value) {
  return value == -1 ? "-" : std::to_string(value);
}

controls::GraphPoints QueryHistorySeries(const engine::TestQuerySnapshot& query) {
  controls::GraphPoints points;
  for (const engine::TestQueryHistoryEntry& entry : query.history) {
    controls::Graphic::AddPoint(
        points, {entry.value == -1 ? -1.0 : static_cast<double>(entry.value), entry.time});
  }
  return points;
}

// ---- the model ----

TestQueriesModel::TestQueriesModel(engine::IWindowStore& storage, std::string monitorId)
    : storage_(storage), monitorId_(std::move(monitorId)) {}

void TestQueriesModel::Load(const engine::MonitorSnapshot& monitor) {
  const std::string selectedId = SelectedQuery() ? SelectedQuery()->id : std::string();
  std::vector<engine::TestQuerySnapshot> rows = monitor.testQueries;
  std::set<std::string> typed;
  for (engine::TestQuerySnapshot& row : rows) {
    if (!typed_.contains(row.id)) continue;
    const auto old =
        std::find_if(rows_.begin(), rows_.end(),
                     [&](const engine::TestQuerySnapshot& r) { return r.id == row.id; });
    if (old == rows_.end()) continue;
    row.settings = old->settings;
    typed.insert(row.id);
  }
  rows_ = std::move(rows);
  typed_ = std::move(typed);
  selected_ = -1;
  for (std::size_t row = 0; row < rows_.size(); ++row) {
    if (!selectedId.empty() && rows_[row].id == selectedId) selected_ = static_cast<int>(row);
  }
}

void TestQueriesModel::RefreshValues(const engine::MonitorSnapshot& monitor) {
  for (engine::TestQuerySnapshot& row : rows_) {
    if (const engine::TestQuerySnapshot* now = monitor.FindTestQuery(row.id)) {
      row.value = now->value;
      row.errorCode = now->errorCode;
      row.errorDescription = now->errorDescription;
      row.history = now->history;
    }
  }
}

void TestQueriesModel::Select(int row) {
  selected_ = row >= 0 && row < static_cast<int>(rows_.size()) ? row : -1;
}

const engine::TestQuerySnapshot* TestQueriesModel::SelectedQuery() const {
  return selected_ >= 0 ? &rows_[static_cast<std::size_t>(selected_)] : nullptr;
}

bool TestQueriesModel::Add() {
  Commit();
  int status = 0;
  const std::string id = storage_.AddTestQuery(monitorId_, {}, &status);
  if (id.empty()) return false;
  if (const std::optional<engine::MonitorSnapshot> monitor =
          storage_.GetMonitorSnapshot(monitorId_)) {
    Load(*monitor);
  }
  selected_ = -1;
  for (std::size_t row = 0; row < rows_.size(); ++row) {
    if (rows_[row].id == id) selected_ = static_cast<int>(row);
  }
  return status == 0;
}

bool TestQueriesModel::Remove() {
  const engine::TestQuerySnapshot* query = SelectedQuery();
  if (!query) return false;
  Commit();
  const int removed = selected_;
  const int status = storage_.DeleteTestQuery(monitorId_, query->id);
  selected_ = -1;
  if (const std::optional<engine::MonitorSnapshot> monitor =
          storage_.GetMonitorSnapshot(monitorId_)) {
    Load(*monitor);
  }
  Select(std::min(removed, static_cast<int>(rows_.size()) - 1));
  return status == 0;
}

bool TestQueriesModel::RemoveAll(bool confirmed) {
  if (!confirmed) return false;
  Commit();
  const int status = storage_.DeleteAllTestQueries(monitorId_);
  selected_ = -1;
  if (const std::optional<engine::MonitorSnapshot> monitor =
          storage_.GetMonitorSnapshot(monitorId_)) {
    Load(*monitor);
  }
  return status == 0;
}

bool TestQueriesModel::SetName(const std::string& name) {
  const engine::TestQuerySnapshot* query = SelectedQuery();
  if (!query) return false;
  engine::TestQuerySettings settings = query->settings;
  settings.name = name;
  return Change(settings);
}

bool TestQueriesModel::SetQuery(const std::string& text) {
  const engine::TestQuerySnapshot* query = SelectedQuery();
  if (!query) return false;
  engine::TestQuerySettings settings = query->settings;
  settings.query = text;
  return Change(settings);
}

bool TestQueriesModel::Change(const engine::TestQuerySettings& settings) {
  engine::TestQuerySnapshot& query = rows_[static_cast<std::size_t>(selected_)];
  query.settings = settings;
  typed_.insert(query.id);
  return true;
}

void TestQueriesModel::Commit() {
  std::set<std::string> typed;
  typed.swap(typed_);
  for (const engine::TestQuerySnapshot& row : rows_) {
    // A failed save is told by the store, and the edit waits there for the next commit.
    if (typed.contains(row.id)) storage_.ChangeTestQuery(monitorId_, row.id, row.settings);
  }
}

bool TestQueriesModel::SetEnabled(int row, bool enable) {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return false;
  engine::TestQuerySnapshot& query = rows_[static_cast<std::size_t>(row)];
  if (storage_.EnableTestQuery(monitorId_, query.id, enable) != 0) return false;
  query.enable = enable;
  return true;
}

// ---- the view ----

TestQueriesView::TestQueriesView(wxWindow* parent, SnapshotSource snapshots,
                                 engine::IWindowStore& storage, Confirm confirm)
    : BaseView(parent, std::move(snapshots)), storage_(storage), confirm_(std::move(confirm)) {
  if (!confirm_) {
    confirm_ = [this](const wxString& question) {
      return wxMessageBox(question, "Lumivar", wxYES_NO | wxICON_QUESTION, this) == wxYES;
    };
  }
  const LayoutSettings layout = Settings::Instance().GetLayout();
  list_ = new wxDataViewListCtrl(this, wxID_ANY, wxDefaultPosition, wxSize(500, 160),
                                 wxDV_SINGLE | wxDV_ROW_LINES);
  controls::SetAccessibleName(list_, "Test Queries");
  controls::KeepAccessibleCellsCurrent(list_);
  const LayoutSettings defaults;
  columnDefaults_.Add(list_, kNameColumn, defaults.testQueriesNameWidth, "Name");
  columnDefaults_.Add(list_, kQueryColumn, defaults.testQueriesQueryWidth, "Query");
  columnDefaults_.Add(list_, kResultColumn, defaults.testQueriesResultWidth, "Result",
                      {"1234567890"});
  list_->AppendToggleColumn("", wxDATAVIEW_CELL_ACTIVATABLE, controls::FontScaled(28))
      ->SetMinWidth(controls::FontScaled(28));
  list_->AppendTextColumn("Name", wxDATAVIEW_CELL_INERT,
                          columnDefaults_.Shown(0, layout.testQueriesNameWidth));
  list_->AppendTextColumn("Query", wxDATAVIEW_CELL_INERT,
                          columnDefaults_.Shown(1, layout.testQueriesQueryWidth));
  list_->AppendTextColumn("Result", wxDATAVIEW_CELL_INERT,
                          columnDefaults_.Shown(2, layout.testQueriesResultWidth));
  columnDefaults_.FitOnResize(list_);
  // An empty last column takes the room the others leave, which GTK gives to the last
  // column; the Result column then keeps the width the user gave it, and that is stored.
  list_->AppendTextColumn("", wxDATAVIEW_CELL_INERT, 20, wxALIGN_LEFT, 0)->SetMinWidth(20);

  add_ = new wxButton(this, wxID_ANY, "&Add");
  remove_ = new wxButton(this, wxID_ANY, "&Remove");
  removeAll_ = new wxButton(this, wxID_ANY, "Remove A&ll");
  test_ = new wxButton(this, wxID_ANY, "&Test...");
  for (wxButton* button : {add_, remove_, removeAll_, test_}) {
    controls::SetAccessibleName(button, button->GetLabelText());
  }

  auto* nameLabel = new wxStaticText(this, wxID_ANY, "&Name:");
  name_ = new wxTextCtrl(this, wxID_ANY);
  controls::SetAccessibleName(name_, "Name", nameLabel);
  auto* queryLabel = new wxStaticText(this, wxID_ANY, "&Query:");
  query_ = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wxSize(-1, 70), wxTE_MULTILINE);
  controls::SetAccessibleName(query_, "Query", queryLabel);

  chart_ = new controls::Graphic(this, wxID_ANY, kValueTitle, wxDefaultPosition, wxSize(-1, 160));
  chart_->SetLegendMode(kLegendMode);
  chart_->SetDenseLimit(kDenseLimit);
  chart_->SetAxisTitles(kValueTitle, "Time");
  chart_->SetSeriesNames({kValueTitle});

  auto* buttons = new wxBoxSizer(wxVERTICAL);
  for (wxButton* button : {add_, remove_, removeAll_, test_}) {
    buttons->Add(button, 0, wxEXPAND | wxBOTTOM, 4);
  }
  auto* top = new wxBoxSizer(wxHORIZONTAL);
  top->Add(list_, 1, wxEXPAND);
  top->Add(buttons, 0, wxLEFT, 6);

  auto* fields = new wxFlexGridSizer(2, 4, 6);
  fields->AddGrowableCol(1);
  fields->Add(nameLabel, 0, wxALIGN_CENTER_VERTICAL);
  fields->Add(name_, 1, wxEXPAND);
  fields->Add(queryLabel, 0, wxALIGN_TOP);
  fields->Add(query_, 1, wxEXPAND);

  Body()->Add(top, 1, wxEXPAND | wxALL, 6);
  Body()->Add(fields, 0, wxEXPAND | wxLEFT | wxRIGHT, 6);
  Body()->Add(chart_, 0, wxEXPAND | wxALL, 6);

  list_->Bind(wxEVT_DATAVIEW_SELECTION_CHANGED, &TestQueriesView::OnSelectionChanged, this);
  list_->Bind(wxEVT_DATAVIEW_ITEM_VALUE_CHANGED, &TestQueriesView::OnValueChanged, this);
  add_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
    if (!model_) return;
    model_->Add();
    FillList();
    name_->SetFocus();
  });
  remove_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
    if (!model_) return;
    model_->Remove();
    FillList();
  });
  removeAll_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
    OpenModalLater(this, [this] {
      if (!model_ || model_->Rows().empty() || !confirm_(kRemoveAllQuestion)) return;
      // Every row goes at once, with nothing selected; they come back if the file refuses.
      model_->RemoveAll(true);
      FillList();
    });
  });
  test_->Bind(wxEVT_BUTTON,
              [this](wxCommandEvent&) { OpenModalLater(this, [this] { RunTest(); }); });
  name_->Bind(wxEVT_TEXT, [this](wxCommandEvent&) {
    if (filling_ || !model_ || !model_->SetName(name_->GetValue().utf8_string())) return;
    filling_ = true;
    list_->SetTextValue(name_->GetValue(), static_cast<unsigned>(model_->Selected()), kNameColumn);
    filling_ = false;
  });
  // Leaving a field commits what was typed in it.
  for (wxTextCtrl* field : {name_, query_}) {
    field->Bind(wxEVT_KILL_FOCUS, [this](wxFocusEvent& event) {
      event.Skip();
      if (model_) model_->Commit();
    });
  }
  query_->Bind(wxEVT_TEXT, [this](wxCommandEvent&) {
    const std::string text = query_->GetValue().utf8_string();
    if (filling_ || !model_ || !model_->SetQuery(text)) return;
    filling_ = true;
    list_->SetTextValue(Wx(QueryFirstLine(text)), static_cast<unsigned>(model_->Selected()),
                        kQueryColumn);
    filling_ = false;
  });
  ShowSelection();
}

void TestQueriesView::OnInitView(bool firstInit) {
  if (!firstInit) return;
  const LayoutSettings layout = Settings::Instance().GetLayout();
  list_->GetColumn(kNameColumn)->SetWidth(columnDefaults_.Shown(0, layout.testQueriesNameWidth));
  list_->GetColumn(kQueryColumn)->SetWidth(columnDefaults_.Shown(1, layout.testQueriesQueryWidth));
  list_->GetColumn(kResultColumn)
      ->SetWidth(columnDefaults_.Shown(2, layout.testQueriesResultWidth));
}

bool TestQueriesView::UpdateView(bool save, int hint) {
  if (save && model_) model_->Commit();
  if (!save) {
    if (hint == kRefreshNotify && model_) {
      if (const std::optional<engine::MonitorSnapshot> monitor = SelectedMonitor()) {
        model_->RefreshValues(*monitor);
        filling_ = true;
        const auto& rows = model_->Rows();
        for (unsigned row = 0; row < rows.size() && static_cast<int>(row) < list_->GetItemCount();
             ++row) {
          list_->SetTextValue(Wx(QueryResultText(rows[row].value)), row, kResultColumn);
        }
        filling_ = false;
        RefreshChart();
      }
    } else {
      ReloadModel();
    }
  }
  StoreWidths();
  return BaseView::UpdateView(save, hint);
}

void TestQueriesView::RemovalRefused(const std::string& monitorId) {
  if (model_ && model_->MonitorId() == monitorId) ReloadModel();
}

void TestQueriesView::ReloadModel() {
  const std::optional<engine::MonitorSnapshot> monitor = SelectedMonitor();
  if (!monitor) {
    model_.reset();
  } else {
    if (!model_ || model_->MonitorId() != monitor->id) {
      model_ = std::make_unique<TestQueriesModel>(storage_, monitor->id);
    }
    model_->Load(*monitor);
  }
  FillList();
}

void TestQueriesView::FillList() {
  filling_ = true;
  list_->DeleteAllItems();
  if (model_) {
    for (const engine::TestQuerySnapshot& query : model_->Rows()) {
      wxVector<wxVariant> values;
      values.push_back(wxVariant(query.enable));
      values.push_back(wxVariant(Wx(query.settings.name)));
      values.push_back(wxVariant(Wx(QueryFirstLine(query.settings.query))));
      values.push_back(wxVariant(Wx(QueryResultText(query.value))));
      values.push_back(wxVariant(wxString()));
      list_->AppendItem(values);
    }
    if (model_->Selected() >= 0) list_->SelectRow(static_cast<unsigned>(model_->Selected()));
  }
  filling_ = false;
  ShowSelection();
}

void TestQueriesView::ShowSelection() {
  const engine::TestQuerySnapshot* query = model_ ? model_->SelectedQuery() : nullptr;
  filling_ = true;
  name_->ChangeValue(query ? Wx(query->settings.name) : wxString());
  query_->ChangeValue(query ? Wx(query->settings.query) : wxString());
  filling_ = false;
  name_->Enable(query != nullptr);
  query_->Enable(query != nullptr);
  remove_->Enable(query != nullptr);
  test_->Enable(query != nullptr);
  add_->Enable(model_ != nullptr);
  removeAll_->Enable(model_ && !model_->Rows().empty());
  RefreshChart();
}

void TestQueriesView::RunTest() {
  const engine::TestQuerySnapshot* query = model_ ? model_->SelectedQuery() : nullptr;
  const std::optional<engine::MonitorSnapshot> monitor = SelectedMonitor();
  if (!query || !monitor) return;
  TestConnectionDialog dialog(
      this, MakeConnectionTestInput(monitor->settings, true, query->settings.query));
  dialog.ShowModal();
}

void TestQueriesView::RefreshChart() {
  const engine::TestQuerySnapshot* query = model_ ? model_->SelectedQuery() : nullptr;
  chart_->SetSeries(query ? QueryHistorySeries(*query) : controls::GraphPoints{}, 0);
  chart_->Enable(query != nullptr);
}

void TestQueriesView::StoreWidths() {
  if (list_->GetColumnCount() <= kResultColumn) return;
  LayoutSettings layout = Settings::Instance().GetLayout();
  // A list that is not laid out yet reads 0 for every column: no width the user gave it.
  auto store = [this](unsigned column, std::size_t i, int& width) {
    const int shown = list_->GetColumn(column)->GetWidth();
    if (shown > 0) width = columnDefaults_.Stored(i, shown);
  };
  store(kNameColumn, 0, layout.testQueriesNameWidth);
  store(kQueryColumn, 1, layout.testQueriesQueryWidth);
  store(kResultColumn, 2, layout.testQueriesResultWidth);
  Settings::Instance().SetLayout(layout);
}

void TestQueriesView::OnSelectionChanged(wxDataViewEvent&) {
  if (filling_ || !model_) return;
  model_->Commit();
  model_->Select(list_->GetSelectedRow());
  ShowSelection();
}

void TestQueriesView::OnValueChanged(wxDataViewEvent& event) {
  if (filling_ || !model_ || event.GetColumn() != static_cast<int>(kEnableColumn)) return;
  const int row = list_->ItemToRow(event.GetItem());
  if (row == wxNOT_FOUND) return;
  const bool enable = list_->GetToggleValue(static_cast<unsigned>(row), kEnableColumn);
  if (!model_->SetEnabled(row, enable)) {
    filling_ = true;
    list_->SetToggleValue(!enable, static_cast<unsigned>(row), kEnableColumn);
    filling_ = false;
  }
}

}  // namespace app
