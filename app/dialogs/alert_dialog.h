// The modal "Configure Alert" dialog: edits a copy of an alert's settings, offering the
// monitor's attributes and the store's actions as they were when it opened. OK stores the
// controls into the copy only when an attribute and an action are chosen; the caller then
// writes the copy through the store. UI thread only.
#pragma once

#include <wx/dialog.h>

#include <functional>
#include <vector>

#include "engine/store/monitor_snapshot.h"

class wxComboBox;
class wxRadioButton;
class wxStaticText;
class wxTextCtrl;

namespace app {

class AlertDialog : public wxDialog {
 public:
  // Shows a message with an OK button.
  using Message = std::function<void(const wxString& text)>;

  AlertDialog(wxWindow* parent, engine::AlertSettings alert,
              std::vector<engine::AttributeSnapshot> attributes,
              std::vector<engine::ActionSnapshot> actions, Message message = {});

  // The OK button's work: without an attribute or an action, says so and returns false
  // (the dialog stays open); else stores the controls into the copy, ends a modal run with
  // wxID_OK and returns true.
  bool Accept();
  // The copy: as given until Accept succeeded.
  const engine::AlertSettings& Alert() const { return alert_; }

  wxRadioButton* ErrorButton() const { return error_; }
  wxRadioButton* ClearButton() const { return clear_; }
  wxComboBox* AttributeCombo() const { return attribute_; }
  wxComboBox* ConditionCombo() const { return condition_; }
  wxTextCtrl* ThresholdEdit() const { return threshold_; }
  wxComboBox* ActionCombo() const { return action_; }
  wxStaticText* ConditionLabel() const { return conditionLabel_; }
  wxStaticText* ThresholdLabel() const { return thresholdLabel_; }

  // Enables the condition, the threshold and their labels for a numeric attribute and
  // disables them for a boolean one; nothing changes without a selection.
  void FollowAttribute();

 private:
  engine::AlertSettings alert_;
  std::vector<engine::AttributeSnapshot> attributes_;
  std::vector<engine::ActionSnapshot> actions_;
  Message message_;
  wxRadioButton* error_ = nullptr;
  wxRadioButton* clear_ = nullptr;
  wxComboBox* attribute_ = nullptr;
  wxStaticText* conditionLabel_ = nullptr;
  wxComboBox* condition_ = nullptr;
  wxStaticText* thresholdLabel_ = nullptr;
  wxTextCtrl* threshold_ = nullptr;
  wxComboBox* action_ = nullptr;
};

}  // namespace app
