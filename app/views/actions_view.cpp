#include "app/views/actions_view.h"

#include <wx/button.h>
#include <wx/dataview.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "app/dialogs/action_dialogs.h"
#include "app/modal_command.h"
#include "app/wx_text.h"
#include "controls/accessible_name.h"
#include "controls/font_scale.h"
#include "engine/store/window_store.h"

namespace app {

namespace {

constexpr const char* kRemoveAllQuestion = "Remove all actions?";
constexpr const char* kListNames[] = {"E-Mail Actions", "SMS Actions", "Execute SQL Actions",
                                      "Execute Program Actions", "User Interface Actions"};

}  // namespace

std::vector<ActionColumn> ActionColumns(int kind) {
  using L = LayoutSettings;
  switch (kind) {
    case 0:
      return {{"Name", &L::actionsEmailNameWidth},
              {"Polls Count", &L::actionsEmailPollsWidth},
              {"SMTP Server", &L::actionsEmailServerWidth},
              {"Recipient EMail", &L::actionsEmailSendToWidth}};
    case 1:
      return {{"Name", &L::actionsSMSNameWidth},
              {"Polls Count", &L::actionsSMSPollsWidth},
              {"SMTP Server", &L::actionsSMSServerWidth},
              {"Recipient EMail", &L::actionsSMSSendToWidth}};
    case 2:
      return {{"Name", &L::actionsSQLNameWidth},
              {"Polls Count", &L::actionsSQLPollsWidth},
              {"ODBC Datasource Name", &L::actionsSQLDatasourceNameWidth},
              {"SQL Query", &L::actionsSQLQueryWidth}};
    case 3:
      return {{"Name", &L::actionsProgramNameWidth},
              {"Polls Count", &L::actionsProgramPollsWidth},
              {"Path to execute Program", &L::actionsProgramPathWidth}};
    case 4:
      return {{"Name", &L::actionsUINameWidth},
              {"Polls Count", &L::actionsUIPollsWidth},
              {"Action", &L::actionsUITypeWidth}};
    default:
      return {};
  }
}

std::string ActionPollsText(std::int32_t pollsCount) {
  return pollsCount == -1 ? "-" : std::to_string(pollsCount);
}

std::string SqlQueryCell(const std::string& query) {
  const std::size_t end = query.find('\n');
  if (end == std::string::npos) return query;
  std::string first = query.substr(0, end);
  if (!first.empty() && first.back() == '\r') first.pop_back();
  return first + "...";
}

std::string UiTypeText(std::int32_t uiType) {
  constexpr auto kCount = static_cast<std::int32_t>(std::size(kUiTypeNames));
  return uiType >= 0 && uiType < kCount ? kUiTypeNames[uiType] : "-";
}

std::vector<std::string> ActionRowTexts(int kind, const engine::ActionSettings& action) {
  std::vector<std::string> cells{action.name, ActionPollsText(action.pollsCount)};
  switch (kind) {
    case 0:
    case 1:
      cells.push_back(action.server);
      cells.push_back(action.toAddress);
      break;
    case 2:
      cells.push_back(action.datasourceName);
      cells.push_back(SqlQueryCell(action.sqlQuery));
      break;
    case 3:
      cells.push_back(action.path);
      break;
    case 4:
      cells.push_back(UiTypeText(action.uiType));
      break;
    default:
      return {};
  }
  return cells;
}

// ---- the model ----

ActionsModel::ActionsModel(engine::IWindowStore& storage, int kind)
    : storage_(storage), kind_(kind) {}

void ActionsModel::Load() {
  const int keep = selected_ >= 0 ? selected_ : 0;
  rows_.clear();
  for (engine::ActionSnapshot& action : storage_.GetActionSnapshots()) {
    if (action.settings.type == kind_) rows_.push_back(std::move(action));
  }
  selected_ = keep < static_cast<int>(rows_.size()) ? keep : -1;
}

void ActionsModel::Select(int row) {
  selected_ = row >= 0 && row < static_cast<int>(rows_.size()) ? row : -1;
}

const engine::ActionSnapshot* ActionsModel::SelectedAction() const {
  return selected_ >= 0 ? &rows_[static_cast<std::size_t>(selected_)] : nullptr;
}

engine::ActionSettings ActionsModel::NewAction() const {
  engine::ActionSettings settings;
  settings.type = kind_;
  return settings;
}

bool ActionsModel::Add(engine::ActionSettings settings) {
  settings.type = kind_;
  int status = 0;
  const std::string id = storage_.AddAction(settings, &status);
  Load();
  const auto added =
      std::find_if(rows_.begin(), rows_.end(),
                   [&id](const engine::ActionSnapshot& row) { return row.id == id; });
  if (added != rows_.end()) selected_ = static_cast<int>(added - rows_.begin());
  return !id.empty() && status == 0;
}

bool ActionsModel::Change(const std::string& id, const engine::ActionSettings& settings) {
  const int status = storage_.ChangeAction(id, settings);
  Load();
  return status == 0;
}

bool ActionsModel::Remove() {
  const engine::ActionSnapshot* action = SelectedAction();
  if (!action) return false;
  const int index = selected_;
  const int status = storage_.DeleteAction(action->id);
  Load();
  Select(std::min(index, static_cast<int>(rows_.size()) - 1));
  return status == 0;
}

bool ActionsModel::RemoveAll(bool confirmed) {
  if (!confirmed) return false;
  std::vector<std::string> ids;
  for (const engine::ActionSnapshot& action : rows_) ids.push_back(action.id);
  const int status = storage_.DeleteActions(ids);
  selected_ = -1;
  Load();
  return status == 0;
}

bool ActionsModel::Test() {
  const engine::ActionSnapshot* action = SelectedAction();
  return action && storage_.TestAction(action->id) == 0;
}

// ---- the view ----

ActionsView::ActionsView(wxWindow* parent, SnapshotSource snapshots, engine::IWindowStore& storage,
                         int kind, std::function<void()> pagesChanged, Confirm confirm,
                         RunDialog runDialog)
    : BaseView(parent, std::move(snapshots)),
      model_(storage, kind),
      pagesChanged_(std::move(pagesChanged)),
      confirm_(std::move(confirm)),
      runDialog_(std::move(runDialog)),
      columns_(ActionColumns(kind)) {
  if (!confirm_) {
    confirm_ = [this](const wxString& question) {
      return wxMessageBox(question, "Lumivar", wxYES_NO | wxICON_QUESTION, this) == wxYES;
    };
  }
  if (!runDialog_) runDialog_ = [](ActionDialog& dialog) { return dialog.ShowModal(); };

  list_ = new wxDataViewListCtrl(this, wxID_ANY, wxDefaultPosition, FromDIP(wxSize(500, 200)),
                                 wxDV_SINGLE | wxDV_ROW_LINES | wxDV_HORIZ_RULES | wxDV_VERT_RULES);
  const bool known = kind >= 0 && kind < static_cast<int>(std::size(kListNames));
  controls::SetAccessibleName(list_, known ? kListNames[kind] : "Actions");
  const LayoutSettings layout = Settings::Instance().GetLayout();
  const LayoutSettings defaults;
  for (unsigned i = 0; i < columns_.size(); ++i) {
    const ActionColumn& column = columns_[i];
    columnDefaults_.Add(list_, i, defaults.*column.width, column.title);
    list_->AppendTextColumn(column.title, wxDATAVIEW_CELL_INERT,
                            columnDefaults_.Shown(i, layout.*column.width), wxALIGN_LEFT,
                            wxDATAVIEW_COL_RESIZABLE);
  }
  columnDefaults_.FitOnResize(list_);
  // An empty last column takes the room the others leave, which GTK gives to the last
  // column; every listed column then keeps the width the user gave it.
  list_->AppendTextColumn("", wxDATAVIEW_CELL_INERT, 20, wxALIGN_LEFT, 0)->SetMinWidth(20);

  add_ = new wxButton(this, wxID_ANY, "&Add...");
  edit_ = new wxButton(this, wxID_ANY, "&Edit...");
  remove_ = new wxButton(this, wxID_ANY, "&Remove");
  removeAll_ = new wxButton(this, wxID_ANY, "Remove A&ll");
  test_ = new wxButton(this, wxID_ANY, "&Test...");
  auto* buttons = new wxBoxSizer(wxVERTICAL);
  for (wxButton* button : {add_, edit_, remove_, removeAll_, test_}) {
    wxString name = button->GetLabelText();
    name.Replace("...", "");
    controls::SetAccessibleName(button, name);
    buttons->Add(button, 0, wxEXPAND | wxBOTTOM, FromDIP(4));
  }
  auto* top = new wxBoxSizer(wxHORIZONTAL);
  top->Add(list_, 1, wxEXPAND);
  top->Add(buttons, 0, wxLEFT, FromDIP(6));
  Body()->Add(top, 1, wxEXPAND | wxALL, FromDIP(6));

  list_->Bind(wxEVT_DATAVIEW_SELECTION_CHANGED, &ActionsView::OnSelectionChanged, this);
  list_->Bind(wxEVT_DATAVIEW_ITEM_ACTIVATED, [this](wxDataViewEvent& event) {
    const int row = list_->ItemToRow(event.GetItem());
    if (row == wxNOT_FOUND) return;
    model_.Select(row);
    OpenModalLater(this, [this] { Edit(); });
  });
  add_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OpenModalLater(this, [this] { Add(); }); });
  edit_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OpenModalLater(this, [this] { Edit(); }); });
  remove_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Remove(); });
  removeAll_->Bind(wxEVT_BUTTON,
                   [this](wxCommandEvent&) { OpenModalLater(this, [this] { RemoveAll(); }); });
  test_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Test(); });
  UpdateButtons();
}

void ActionsView::OnInitView(bool firstInit) {
  if (firstInit) SetWidths();
}

bool ActionsView::UpdateView(bool save, int hint) {
  if (save) {
    if (pagesChanged_) pagesChanged_();
  } else {
    model_.Load();
    FillList();
  }
  StoreWidths();
  return BaseView::UpdateView(save, hint);
}

void ActionsView::Add() {
  const std::unique_ptr<ActionDialog> dialog = MakeActionDialog(this, model_.NewAction());
  if (!dialog) return;
  if (runDialog_(*dialog) == wxID_OK) {
    model_.Add(dialog->Settings());
  } else {
    model_.Load();
  }
  FillList();
  list_->SetFocus();
}

void ActionsView::Edit() {
  const engine::ActionSnapshot* action = model_.SelectedAction();
  if (!action) return;
  const std::string id = action->id;
  const std::unique_ptr<ActionDialog> dialog = MakeActionDialog(this, action->settings);
  if (!dialog) return;
  if (runDialog_(*dialog) == wxID_OK) {
    model_.Change(id, dialog->Settings());
  } else {
    model_.Load();
  }
  FillList();
}

void ActionsView::Remove() {
  if (!model_.SelectedAction()) return;
  model_.Remove();
  FillList();
}

void ActionsView::RemoveAll() {
  model_.Load();
  if (model_.Rows().empty()) {
    FillList();
    return;
  }
  model_.RemoveAll(confirm_(kRemoveAllQuestion));
  model_.Load();
  FillList();
}

void ActionsView::Test() { model_.Test(); }

void ActionsView::RemovalRefused(const std::string& monitorId) {
  if (!monitorId.empty()) return;
  model_.Load();
  FillList();
}

void ActionsView::FillList() {
  filling_ = true;
  list_->DeleteAllItems();
  for (const engine::ActionSnapshot& action : model_.Rows()) {
    wxVector<wxVariant> values;
    for (const std::string& cell : ActionRowTexts(model_.Kind(), action.settings)) {
      values.push_back(wxVariant(Wx(cell)));
    }
    values.push_back(wxVariant(wxString()));
    list_->AppendItem(values);
  }
  if (model_.Selected() >= 0) {
    const wxDataViewItem item = list_->RowToItem(model_.Selected());
    list_->Select(item);
    list_->SetCurrentItem(item);
    list_->EnsureVisible(item);
  }
  filling_ = false;
  UpdateButtons();
}

void ActionsView::UpdateButtons() {
  const bool selected = model_.SelectedAction() != nullptr;
  edit_->Enable(selected);
  remove_->Enable(selected);
  test_->Enable(selected);
}

void ActionsView::SetWidths() {
  const LayoutSettings layout = Settings::Instance().GetLayout();
  for (unsigned i = 0; i < columns_.size(); ++i) {
    list_->GetColumn(i)->SetWidth(columnDefaults_.Shown(i, layout.*columns_[i].width));
  }
}

void ActionsView::StoreWidths() {
  if (list_->GetColumnCount() < columns_.size()) return;
  LayoutSettings layout = Settings::Instance().GetLayout();
  for (unsigned i = 0; i < columns_.size(); ++i) {
    // A list that is not laid out yet (a view refreshed as it is first shown) reads 0 for
    // every column: that is no width the user gave it.
    const int width = list_->GetColumn(i)->GetWidth();
    if (width > 0) layout.*columns_[i].width = columnDefaults_.Stored(i, width);
  }
  Settings::Instance().SetLayout(layout);
}

void ActionsView::OnSelectionChanged(wxDataViewEvent&) {
  if (filling_) return;
  model_.Select(list_->GetSelectedRow());
  UpdateButtons();
}

}  // namespace app
