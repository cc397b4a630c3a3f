// The alerts view of a monitor: a check-box list of its alerts (attribute, condition,
// threshold, action, alert type, the attribute's current value and the alert's run-time
// status), with Add, Edit, Remove and Remove All. Rows map to alert identifiers; every
// change goes through the store's calls for the views, and the list is filled again from
// a fresh snapshot after every dialog and on every refresh. UI thread only.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/views/alert_rows.h"
#include "app/views/base_view.h"
#include "controls/font_scale.h"

class wxButton;
class wxDataViewEvent;
class wxDataViewListCtrl;
class wxKeyEvent;

namespace app {

class AlertDialog;

class AlertsView : public BaseView {
 public:
  // Asks a Yes/No question; true for Yes.
  using Ask = std::function<bool(const wxString& question)>;
  // Shows a message with an OK button.
  using Message = std::function<void(const wxString& text)>;
  // Runs the alert dialog modally and returns its result (wxID_OK or wxID_CANCEL).
  using RunDialog = std::function<int(AlertDialog& dialog)>;

  static constexpr unsigned kEnableColumn = 0;
  // The first of the seven text columns, in the order of AlertRowTexts.
  static constexpr unsigned kFirstTextColumn = 1;

  AlertsView(wxWindow* parent, SnapshotSource snapshots, engine::IWindowStore& storage,
             Ask ask = {}, Message message = {}, RunDialog runDialog = {});

  // Loading (any hint) fills the list from the selected monitor; either direction stores
  // the column widths.
  bool UpdateView(bool save, int hint) override;
  void RemovalRefused(const std::string& monitorId) override;

  // The button commands; each does nothing without a selected monitor.
  void Add();
  void Edit();
  void Remove();
  void RemoveAll();

  wxDataViewListCtrl* List() const { return list_; }
  wxButton* AddButton() const { return add_; }
  wxButton* EditButton() const { return edit_; }
  wxButton* RemoveButton() const { return remove_; }
  wxButton* RemoveAllButton() const { return removeAll_; }
  // The alert identifier of each row.
  const std::vector<std::string>& RowIds() const { return rowIds_; }

 protected:
  void OnInitView(bool firstInit) override;

 private:
  // Fills the list from the monitor as it is now. Rows that still show the same alerts are
  // updated in place; otherwise the list is rebuilt and the first selected row index (0 when
  // none) is selected again while it exists, or the row of selectId when given.
  void FillList(const std::string& selectId = {});
  // Edit and Remove follow the selection, or are enabled by force (an arrow key) while
  // there are rows; Remove All while there are rows.
  void UpdateButtons(bool force);
  // The alert of the selected row, or of the first row when none is selected; "" when the
  // list is empty.
  std::string CurrentAlertId() const;
  void StoreWidths();

  void OnValueChanged(wxDataViewEvent& event);
  void OnActivated(wxDataViewEvent& event);
  void OnKeyDown(wxKeyEvent& event);

  engine::IWindowStore& storage_;
  Ask ask_;
  Message message_;
  Message dialogMessage_;  // as given: empty lets the dialog use its own
  RunDialog runDialog_;
  wxDataViewListCtrl* list_ = nullptr;
  controls::ColumnDefaults columnDefaults_;
  wxButton* add_ = nullptr;
  wxButton* edit_ = nullptr;
  wxButton* remove_ = nullptr;
  wxButton* removeAll_ = nullptr;
  std::vector<std::string> rowIds_;
  // Set while the view changes the list itself, so its events change nothing in the store.
  bool filling_ = false;
};

}  // namespace app
