#include "app/views/alerts_view.h"

#include <wx/button.h>
#include <wx/dataview.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>

#include <algorithm>
#include <utility>

#include "app/dialogs/alert_dialog.h"
#include "app/modal_command.h"
#include "app/settings/settings.h"
#include "app/wx_text.h"
#include "controls/accessible_name.h"
#include "controls/font_scale.h"
#include "engine/store/window_store.h"

namespace app {

namespace {

constexpr const char* kRemoveAllQuestion = "Are you sure you want remove all alerts?";
constexpr const char* kEnableQueryQuestion = "Enable Alert's associated Test Query?";
constexpr const char* kSelectBoth = "Select Attribute and Action.";
constexpr const char* kHeadings[kAlertColumnCount] = {
    "Attribute", "Condition", "Threshold", "Action", "Alert Type", "Current Value", "Status"};

// The stored widths in column order.
std::array<int*, kAlertColumnCount> Widths(LayoutSettings& layout) {
  return {&layout.alertsAttributeWidth, &layout.alertsConditionWidth,
          &layout.alertsThresholdWidth, &layout.alertsActionWidth,
          &layout.alertsAlertTypeWidth, &layout.alertsCurrentValueWidth,
          &layout.alertsStatusWidth};
}

}  // namespace

AlertsView::AlertsView(wxWindow* parent, SnapshotSource snapshots, engine::IWindowStore& storage,
                       Ask ask, Message message, RunDialog runDialog)
    : BaseView(parent, std::move(snapshots)),
      storage_(storage),
      ask_(std::move(ask)),
      message_(std::move(message)),
      runDialog_(std::move(runDialog)) {
  // Without one given, the dialog shows its messages over itself, not over this view.
  dialogMessage_ = message_;
  if (!ask_) {
    ask_ = [this](const wxString& question) {
      return wxMessageBox(question, "Lumivar", wxYES_NO | wxICON_QUESTION, this) == wxYES;
    };
  }
  if (!message_) {
    message_ = [this](const wxString& text) {
      wxMessageBox(text, "Lumivar", wxOK | wxICON_INFORMATION, this);
    };
  }
  if (!runDialog_) runDialog_ = [](AlertDialog& dialog) { return dialog.ShowModal(); };

  LayoutSettings layout = Settings::Instance().GetLayout();
  list_ = new wxDataViewListCtrl(this, wxID_ANY, wxDefaultPosition, wxSize(520, 180),
                                 wxDV_SINGLE | wxDV_ROW_LINES | wxDV_HORIZ_RULES);
  controls::SetAccessibleName(list_, "Alerts");
  controls::KeepAccessibleCellsCurrent(list_);
  list_->AppendToggleColumn("", wxDATAVIEW_CELL_ACTIVATABLE, controls::FontScaled(28))
      ->SetMinWidth(controls::FontScaled(28));
  const auto widths = Widths(layout);
  LayoutSettings layoutDefaults;
  const auto defaults = Widths(layoutDefaults);
  // Typical values: the longest attribute name, a threshold, the alert types.
  const std::initializer_list<wxString> typical[kAlertColumnCount] = {
      {"Connection Time (ms.)"}, {">="}, {"10000"}, {}, {"Error", "Clear"}, {"10000"}, {}};
  for (std::size_t column = 0; column < kAlertColumnCount; ++column) {
    const unsigned index = static_cast<unsigned>(kFirstTextColumn + column);
    columnDefaults_.Add(list_, index, *defaults[column], kHeadings[column], typical[column]);
    list_->AppendTextColumn(kHeadings[column], wxDATAVIEW_CELL_INERT,
                            columnDefaults_.Shown(column, *widths[column]), wxALIGN_LEFT,
                            wxDATAVIEW_COL_RESIZABLE);
  }
  columnDefaults_.FitOnResize(list_);
  // An empty last column takes the room the others leave, which GTK gives to the last
  // column; the Status column then keeps the width the user gave it, and that is stored.
  list_->AppendTextColumn("", wxDATAVIEW_CELL_INERT, 20, wxALIGN_LEFT, 0)->SetMinWidth(20);

  add_ = new wxButton(this, wxID_ANY, "&Add...");
  edit_ = new wxButton(this, wxID_ANY, "&Edit...");
  remove_ = new wxButton(this, wxID_ANY, "&Remove");
  removeAll_ = new wxButton(this, wxID_ANY, "Remove A&ll");
  auto* buttons = new wxBoxSizer(wxVERTICAL);
  for (wxButton* button : {add_, edit_, remove_, removeAll_}) {
    controls::SetAccessibleName(button, button->GetLabelText());
    buttons->Add(button, 0, wxEXPAND | wxBOTTOM, 4);
  }
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(list_, 1, wxEXPAND);
  row->Add(buttons, 0, wxLEFT, 6);
  Body()->Add(row, 1, wxEXPAND | wxALL, 6);

  add_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OpenModalLater(this, [this] { Add(); }); });
  edit_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OpenModalLater(this, [this] { Edit(); }); });
  remove_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Remove(); });
  removeAll_->Bind(wxEVT_BUTTON,
                   [this](wxCommandEvent&) { OpenModalLater(this, [this] { RemoveAll(); }); });
  list_->Bind(wxEVT_DATAVIEW_SELECTION_CHANGED, [this](wxDataViewEvent&) {
    if (!filling_) UpdateButtons(false);
  });
  list_->Bind(wxEVT_DATAVIEW_ITEM_VALUE_CHANGED, &AlertsView::OnValueChanged, this);
  list_->Bind(wxEVT_DATAVIEW_ITEM_ACTIVATED, &AlertsView::OnActivated, this);
  list_->Bind(wxEVT_KEY_DOWN, &AlertsView::OnKeyDown, this);
  if (list_->GetMainWindow() != list_) {
    list_->GetMainWindow()->Bind(wxEVT_KEY_DOWN, &AlertsView::OnKeyDown, this);
  }
  UpdateButtons(false);
}

void AlertsView::OnInitView(bool firstInit) {
  if (!firstInit) return;
  LayoutSettings layout = Settings::Instance().GetLayout();
  const auto widths = Widths(layout);
  for (unsigned column = 0; column < kAlertColumnCount; ++column) {
    list_->GetColumn(kFirstTextColumn + column)
        ->SetWidth(columnDefaults_.Shown(column, *widths[column]));
  }
}

bool AlertsView::UpdateView(bool save, int hint) {
  if (!save) FillList();
  StoreWidths();
  return BaseView::UpdateView(save, hint);
}

void AlertsView::FillList(const std::string& selectId) {
  const std::optional<engine::MonitorSnapshot> monitor = SelectedMonitor();
  std::vector<std::string> ids;
  std::vector<AlertRowTexts> texts;
  std::vector<bool> checks;
  if (monitor) {
    const std::vector<engine::ActionSnapshot> actions = storage_.GetActionSnapshots();
    for (const engine::AlertSnapshot& alert : monitor->alerts) {
      ids.push_back(alert.id);
      texts.push_back(
          MakeAlertRowTexts(*monitor, alert, FindActionSnapshot(actions, alert.settings.actionId)));
      checks.push_back(AlertChecked(*monitor, alert));
    }
  }
  filling_ = true;
  if (ids == rowIds_ && selectId.empty()) {
    // The same alerts: only changed cells are set, so selection and scrolling stay.
    for (unsigned row = 0; row < ids.size(); ++row) {
      if (list_->GetToggleValue(row, kEnableColumn) != checks[row]) {
        list_->SetToggleValue(checks[row], row, kEnableColumn);
      }
      for (unsigned column = 0; column < kAlertColumnCount; ++column) {
        const wxString text = Wx(texts[row][column]);
        if (list_->GetTextValue(row, kFirstTextColumn + column) != text) {
          list_->SetTextValue(text, row, kFirstTextColumn + column);
        }
      }
    }
  } else {
    int select = std::max(list_->GetSelectedRow(), 0);
    if (!selectId.empty()) {
      const auto it = std::find(ids.begin(), ids.end(), selectId);
      if (it != ids.end()) select = static_cast<int>(it - ids.begin());
    }
    list_->DeleteAllItems();
    for (std::size_t row = 0; row < ids.size(); ++row) {
      wxVector<wxVariant> values;
      values.push_back(wxVariant(static_cast<bool>(checks[row])));
      for (const std::string& text : texts[row]) values.push_back(wxVariant(Wx(text)));
      values.push_back(wxVariant(wxString()));
      list_->AppendItem(values);
    }
    rowIds_ = std::move(ids);
    if (select < static_cast<int>(rowIds_.size())) {
      list_->SelectRow(static_cast<unsigned>(select));
      list_->SetCurrentItem(list_->RowToItem(select));
    }
  }
  filling_ = false;
  UpdateButtons(false);
}

void AlertsView::RemovalRefused(const std::string& monitorId) {
  if (!monitorId.empty() && monitorId == MonitorId()) FillList();
}

void AlertsView::UpdateButtons(bool force) {
  const bool rows = !rowIds_.empty();
  const bool selected = list_->GetSelectedRow() != wxNOT_FOUND;
  add_->Enable(!MonitorId().empty());
  edit_->Enable(selected || (force && rows));
  remove_->Enable(selected || (force && rows));
  removeAll_->Enable(rows);
}

std::string AlertsView::CurrentAlertId() const {
  if (rowIds_.empty()) return {};
  const int row = list_->GetSelectedRow();
  return rowIds_[row >= 0 && row < static_cast<int>(rowIds_.size()) ? row : 0];
}

void AlertsView::Add() {
  const std::optional<engine::MonitorSnapshot> monitor = SelectedMonitor();
  if (!monitor) return;
  AlertDialog dialog(this, engine::AlertSettings{}, monitor->attributes,
                     storage_.GetActionSnapshots(), dialogMessage_);
  std::string added;
  if (runDialog_(dialog) == wxID_OK) {
    const std::optional<engine::MonitorSnapshot> now = SelectedMonitor();
    if (now && now->FindAttribute(dialog.Alert().healthAttributeId)) {
      added = storage_.AddAlert(now->id, dialog.Alert());
    } else {
      message_(kSelectBoth);
    }
  }
  FillList(added);
}

void AlertsView::Edit() {
  const std::optional<engine::MonitorSnapshot> monitor = SelectedMonitor();
  const std::string id = CurrentAlertId();
  if (!monitor || id.empty()) return;
  const auto alert = std::find_if(monitor->alerts.begin(), monitor->alerts.end(),
                                  [&](const engine::AlertSnapshot& a) { return a.id == id; });
  if (alert != monitor->alerts.end()) {
    AlertDialog dialog(this, alert->settings, monitor->attributes, storage_.GetActionSnapshots(),
                       dialogMessage_);
    if (runDialog_(dialog) == wxID_OK) storage_.ChangeAlert(monitor->id, id, dialog.Alert());
  }
  FillList();
}

void AlertsView::Remove() {
  const int row = list_->GetSelectedRow();
  if (MonitorId().empty() || row < 0 || row >= static_cast<int>(rowIds_.size())) return;
  storage_.DeleteAlert(MonitorId(), rowIds_[static_cast<std::size_t>(row)]);
  FillList();
}

void AlertsView::RemoveAll() {
  if (MonitorId().empty() || rowIds_.empty() || !ask_(kRemoveAllQuestion)) return;
  storage_.DeleteAllAlerts(MonitorId());
  FillList();
}

void AlertsView::StoreWidths() {
  if (list_->GetColumnCount() < kFirstTextColumn + kAlertColumnCount) return;
  LayoutSettings layout = Settings::Instance().GetLayout();
  const auto widths = Widths(layout);
  for (unsigned column = 0; column < kAlertColumnCount; ++column) {
    // A list that is not laid out yet reads 0 for every column: no width the user gave it.
    const int width = list_->GetColumn(kFirstTextColumn + column)->GetWidth();
    if (width > 0) *widths[column] = columnDefaults_.Stored(column, width);
  }
  Settings::Instance().SetLayout(layout);
}

void AlertsView::OnValueChanged(wxDataViewEvent& event) {
  if (filling_ || event.GetColumn() != static_cast<int>(kEnableColumn)) return;
  const int row = list_->ItemToRow(event.GetItem());
  if (row < 0 || row >= static_cast<int>(rowIds_.size())) return;
  const std::string id = rowIds_[static_cast<std::size_t>(row)];
  const bool enable = list_->GetToggleValue(static_cast<unsigned>(row), kEnableColumn);
  storage_.EnableAlert(MonitorId(), id, enable);
  // An alert on a disabled test query stays quiet: offer to enable the query too.
  const std::optional<engine::MonitorSnapshot> monitor = SelectedMonitor();
  const engine::TestQuerySnapshot* query = nullptr;
  if (monitor) {
    for (const engine::AlertSnapshot& alert : monitor->alerts) {
      if (alert.id != id) continue;
      const engine::AttributeSnapshot* attribute =
          monitor->FindAttribute(alert.settings.healthAttributeId);
      if (attribute && !attribute->testQueryId.empty()) {
        query = monitor->FindTestQuery(attribute->testQueryId);
      }
    }
  }
  if (query && !query->enable) {
    if (ask_(kEnableQueryQuestion)) {
      storage_.EnableTestQuery(monitor->id, query->id, true);
      FillList();
    } else {
      // The box stays checked until the next refresh shows the row's true state. The
      // question ran a modal loop, so the alert's row is looked up again.
      const auto now = std::find(rowIds_.begin(), rowIds_.end(), id);
      if (now != rowIds_.end()) {
        filling_ = true;
        list_->SetToggleValue(true, static_cast<unsigned>(now - rowIds_.begin()), kEnableColumn);
        filling_ = false;
      }
    }
  }
  UpdateButtons(false);
}

void AlertsView::OnActivated(wxDataViewEvent& event) {
  // A double click on a box only toggles it (twice).
  if (event.GetColumn() != static_cast<int>(kEnableColumn))
    OpenModalLater(this, [this] { Edit(); });
}

void AlertsView::OnKeyDown(wxKeyEvent& event) {
  if (event.GetKeyCode() == WXK_UP || event.GetKeyCode() == WXK_DOWN) UpdateButtons(true);
  event.Skip();
}

}  // namespace app
