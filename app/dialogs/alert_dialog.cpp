#include "app/dialogs/alert_dialog.h"

#include <wx/button.h>
#include <wx/combobox.h>
#include <wx/msgdlg.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <utility>

#include "app/modal_command.h"
#include "app/views/alert_rows.h"
#include "app/wx_text.h"
#include "controls/accessible_name.h"
#include "engine/monitor/alert.h"
#include "engine/monitor/health_attribute.h"

namespace app {

namespace {

constexpr const char* kSelectBoth = "Select Attribute and Action.";

wxComboBox* ReadOnlyCombo(wxWindow* parent, int width) {
  return new wxComboBox(parent, wxID_ANY, "", wxDefaultPosition, wxSize(width, -1), 0, nullptr,
                        wxCB_READONLY);
}

}  // namespace

AlertDialog::AlertDialog(wxWindow* parent, engine::AlertSettings alert,
                         std::vector<engine::AttributeSnapshot> attributes,
                         std::vector<engine::ActionSnapshot> actions, Message message)
    : wxDialog(parent, wxID_ANY, "Configure Alert"),
      alert_(std::move(alert)),
      attributes_(std::move(attributes)),
      actions_(std::move(actions)),
      message_(std::move(message)) {
  if (!message_) {
    message_ = [this](const wxString& text) {
      OpenModalLater(
          this, [this, text] { wxMessageBox(text, "Lumivar", wxOK | wxICON_INFORMATION, this); });
    };
  }
  auto* alertLabel = new wxStaticText(this, wxID_ANY, "Alert:");
  error_ = new wxRadioButton(this, wxID_ANY, "Error", wxDefaultPosition, wxDefaultSize, wxRB_GROUP);
  clear_ = new wxRadioButton(this, wxID_ANY, "Clear");
  auto* attributeLabel = new wxStaticText(this, wxID_ANY, "Attribute:");
  attribute_ = ReadOnlyCombo(this, FromDIP(260));
  conditionLabel_ = new wxStaticText(this, wxID_ANY, "If attribute");
  condition_ = ReadOnlyCombo(this, FromDIP(70));
  thresholdLabel_ = new wxStaticText(this, wxID_ANY, "then threshold:");
  threshold_ = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wxSize(FromDIP(90), -1));
  auto* actionLabel = new wxStaticText(this, wxID_ANY, "Action:");
  action_ = ReadOnlyCombo(this, FromDIP(260));
  auto* ok = new wxButton(this, wxID_OK, "OK");
  auto* cancel = new wxButton(this, wxID_CANCEL, "Cancel");

  controls::SetAccessibleName(error_, "Error");
  controls::SetAccessibleName(clear_, "Clear");
  controls::SetAccessibleName(attribute_, "Attribute", attributeLabel);
  controls::SetAccessibleName(condition_, "Condition", conditionLabel_);
  controls::SetAccessibleName(threshold_, "Threshold", thresholdLabel_);
  controls::SetAccessibleName(action_, "Action", actionLabel);
  controls::SetAccessibleName(ok, "OK");
  controls::SetAccessibleName(cancel, "Cancel");

  for (const engine::AttributeSnapshot& attribute : attributes_) {
    attribute_->Append(Wx(attribute.displayName));
    if (attribute.id == alert_.healthAttributeId)
      attribute_->SetSelection(attribute_->GetCount() - 1);
  }
  for (const engine::ActionSnapshot& action : actions_) {
    action_->Append(Wx(action.settings.name));
    if (action.id == alert_.actionId) action_->SetSelection(action_->GetCount() - 1);
  }
  for (std::string_view op : engine::kConditionOperators) condition_->Append(Wx(op));
  if (alert_.condition >= 0 && alert_.condition < static_cast<int>(condition_->GetCount())) {
    condition_->SetSelection(alert_.condition);
  }
  threshold_->ChangeValue(ThresholdText(alert_.threshold));
  (alert_.alertType == engine::Alert::kError ? error_ : clear_)->SetValue(true);
  // Also for an alert whose attribute or action has been deleted since.
  if (attribute_->GetSelection() == wxNOT_FOUND) attribute_->SetHint("<Select attribute>");
  if (action_->GetSelection() == wxNOT_FOUND) action_->SetHint("<Select action>");
  FollowAttribute();

  const int gap = FromDIP(6);
  auto* fields = new wxFlexGridSizer(2, gap, gap);
  fields->AddGrowableCol(1);
  auto* types = new wxBoxSizer(wxHORIZONTAL);
  types->Add(error_, 0, wxRIGHT, FromDIP(12));
  types->Add(clear_);
  fields->Add(alertLabel, 0, wxALIGN_CENTER_VERTICAL);
  fields->Add(types, 0, wxALIGN_CENTER_VERTICAL);
  fields->Add(attributeLabel, 0, wxALIGN_CENTER_VERTICAL);
  fields->Add(attribute_, 1, wxEXPAND);
  fields->AddSpacer(0);
  auto* condition = new wxBoxSizer(wxHORIZONTAL);
  condition->Add(conditionLabel_, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, gap);
  condition->Add(condition_, 0, wxRIGHT, gap);
  condition->Add(thresholdLabel_, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, gap);
  condition->Add(threshold_, 1);
  fields->Add(condition, 1, wxEXPAND);
  fields->Add(actionLabel, 0, wxALIGN_CENTER_VERTICAL);
  fields->Add(action_, 1, wxEXPAND);

  auto* buttons = new wxStdDialogButtonSizer;
  buttons->AddButton(ok);
  buttons->AddButton(cancel);
  buttons->Realize();
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(fields, 1, wxEXPAND | wxALL, FromDIP(10));
  sizer->Add(buttons, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, FromDIP(10));
  SetSizerAndFit(sizer);
  ok->SetDefault();

  attribute_->Bind(wxEVT_COMBOBOX, [this](wxCommandEvent&) { FollowAttribute(); });
  ok->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Accept(); });
}

void AlertDialog::FollowAttribute() {
  const int selected = attribute_->GetSelection();
  if (selected < 0 || selected >= static_cast<int>(attributes_.size())) return;
  const bool numeric =
      attributes_[static_cast<std::size_t>(selected)].type == engine::HealthAttribute::kNumeric;
  for (wxWindow* window :
       std::initializer_list<wxWindow*>{conditionLabel_, condition_, thresholdLabel_, threshold_}) {
    window->Enable(numeric);
  }
}

bool AlertDialog::Accept() {
  const int attribute = attribute_->GetSelection();
  const int action = action_->GetSelection();
  if (attribute < 0 || attribute >= static_cast<int>(attributes_.size()) || action < 0 ||
      action >= static_cast<int>(actions_.size())) {
    message_(kSelectBoth);
    return false;
  }
  alert_.threshold = ParseThreshold(threshold_->GetValue().utf8_string());
  alert_.condition = condition_->GetSelection();
  alert_.alertType = error_->GetValue() ? engine::Alert::kError : engine::Alert::kClear;
  alert_.healthAttributeId = attributes_[static_cast<std::size_t>(attribute)].id;
  alert_.actionId = actions_[static_cast<std::size_t>(action)].id;
  if (IsModal()) EndModal(wxID_OK);
  return true;
}

}  // namespace app
