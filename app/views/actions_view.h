// The actions views: one per kind of action (e-mail, SMS, SQL, program, user interface),
// listing the store's actions of that kind with the columns that matter for it. Add, Edit,
// Remove, Remove All and Test go through the store's calls by action identifier; the rows
// map to identifiers and are refilled from the store after every dialog, so a row never
// outlives its action. A new action reaches the store only when its dialog's OK is
// accepted. UI thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/settings/settings.h"
#include "app/views/base_view.h"
#include "controls/font_scale.h"

class wxButton;
class wxDataViewEvent;
class wxDataViewListCtrl;

namespace app {

class ActionDialog;

// A column of a kind's list: its heading and the layout setting holding its width.
struct ActionColumn {
  const char* title;
  int LayoutSettings::*width;
};

// The columns of a kind (0 to 4); none for any other kind.
std::vector<ActionColumn> ActionColumns(int kind);
// The polls count as listed: "-" for -1, else the number.
std::string ActionPollsText(std::int32_t pollsCount);
// The SQL column: the query, or its first line followed by "..." when it has more (a CR
// ending that line is dropped).
std::string SqlQueryCell(const std::string& query);
// The user-interface kind's name, "-" outside 0 to 2.
std::string UiTypeText(std::int32_t uiType);
// The cells of an action's row in a kind's list, one per column.
std::vector<std::string> ActionRowTexts(int kind, const engine::ActionSettings& action);

// The actions of one kind as the view lists them, with the selected row, kept in step with
// the store: every change goes to the store first and the rows are read back from it.
class ActionsModel {
 public:
  ActionsModel(engine::IWindowStore& storage, int kind);

  // Reads the kind's actions in store order. The selected index stays (0 when none was
  // selected) when that row still exists, else nothing is selected.
  void Load();

  int Kind() const { return kind_; }
  const std::vector<engine::ActionSnapshot>& Rows() const { return rows_; }
  // -1 for none.
  int Selected() const { return selected_; }
  void Select(int row);
  const engine::ActionSnapshot* SelectedAction() const;

  // The settings a new action of the kind starts with.
  engine::ActionSettings NewAction() const;
  // Adds the action (its type forced to the kind) and selects its row; false when the
  // store refused.
  bool Add(engine::ActionSettings settings);
  // Changes the action with this identifier; the selection stays.
  bool Change(const std::string& id, const engine::ActionSettings& settings);
  // Removes the selected action; the same index, or the new last row, is selected after.
  bool Remove();
  // Removes every action of the kind when confirmed, all or none; other kinds stay.
  bool RemoveAll(bool confirmed);
  // Starts a test run of the selected action; false without a selection or when it did
  // not start.
  bool Test();

 private:
  engine::IWindowStore& storage_;
  int kind_;
  std::vector<engine::ActionSnapshot> rows_;
  int selected_ = -1;
};

class ActionsView : public BaseView {
 public:
  // Asks a Yes/No question; true for Yes.
  using Confirm = std::function<bool(const wxString& question)>;
  // Runs a dialog modally and returns its result (wxID_OK when accepted).
  using RunDialog = std::function<int(ActionDialog& dialog)>;

  // kind: 0 e-mail, 1 SMS, 2 SQL, 3 program, 4 user interface. pagesChanged runs each time
  // the view is saved (the actions may have changed), to have the HTML pages rewritten.
  ActionsView(wxWindow* parent, SnapshotSource snapshots, engine::IWindowStore& storage, int kind,
              std::function<void()> pagesChanged = {}, Confirm confirm = {},
              RunDialog runDialog = {});

  // Loading refills the list from the store; saving asks for the pages. Either direction
  // stores the column widths.
  bool UpdateView(bool save, int hint) override;
  void RemovalRefused(const std::string& monitorId) override;

  // The buttons' commands.
  void Add();
  void Edit();
  void Remove();
  void RemoveAll();
  void Test();

  int Kind() const { return model_.Kind(); }
  const ActionsModel& Model() const { return model_; }
  wxDataViewListCtrl* List() const { return list_; }
  wxButton* AddButton() const { return add_; }
  wxButton* EditButton() const { return edit_; }
  wxButton* RemoveButton() const { return remove_; }
  wxButton* RemoveAllButton() const { return removeAll_; }
  wxButton* TestButton() const { return test_; }

 protected:
  void OnInitView(bool firstInit) override;

 private:
  void FillList();
  void UpdateButtons();
  void SetWidths();
  void StoreWidths();
  void OnSelectionChanged(wxDataViewEvent& event);

  ActionsModel model_;
  std::function<void()> pagesChanged_;
  Confirm confirm_;
  RunDialog runDialog_;
  std::vector<ActionColumn> columns_;
  wxDataViewListCtrl* list_ = nullptr;
  controls::ColumnDefaults columnDefaults_;
  wxButton* add_ = nullptr;
  wxButton* edit_ = nullptr;
  wxButton* remove_ = nullptr;
  wxButton* removeAll_ = nullptr;
  wxButton* test_ = nullptr;
  // Set while the view changes the list itself, so its events change no selection.
  bool filling_ = false;
};

}  // namespace app
