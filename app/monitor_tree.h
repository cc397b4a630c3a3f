// The monitor tree on the left of the main window: "Monitors" with one subtree per monitor
// and "Actions" with the action kinds. Its selection decides which monitor the commands and
// views work on and which view the window shows. Nodes hold the monitor's identifier and
// their kind, never a pointer into the store. UI thread only.
#pragma once

#include <wx/dataview.h>

#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/store/monitor_snapshot.h"

namespace app {

// Node kinds; a node's kind is also its image index in res::TreeStrip().
enum TreeImage : int {
  kTreeMonitors = 0,
  kTreeMonitor = 1,
  kTreeConnectionTime = 3,
  kTreeTestQueries = 4,
  kTreeHistory = 5,
  kTreeAvailabilityHistory = 6,
  kTreeHealthHistory = 7,
  kTreeConnectionTimeHistory = 8,
  kTreeTestQueriesHistory = 9,
  kTreeAlerts = 10,
  kTreeLog = 11,
  kTreeActions = 12,
  kTreeEmail = 13,
  kTreeSms = 14,
  kTreeExecuteSql = 15,
  kTreeExecuteProgram = 16,
  kTreeUserInterface = 17
};

// One node of the tree as built from the store: parent is the index of its parent's row in
// the same list (-1 for a top-level node); monitorId "" for nodes that belong to no monitor.
struct TreeRow {
  int parent = -1;
  std::string text;
  int image = 0;
  std::string monitorId;
  bool operator==(const TreeRow&) const = default;
};

// "Monitors" with each monitor's subtree in store order, then "Actions" with its five kinds.
// A monitor of another type than an ODBC data source gets the image of "Monitors" and no
// history reports.
std::vector<TreeRow> BuildTreeRows(const std::vector<engine::MonitorSummary>& monitors);

// The view code the main window shows for a node of this image (monitorType: the node's
// monitor's type, used by "Connection Time": 8 for type 2, else 0).
int ViewCodeForImage(int image, int monitorType);

class MonitorTree : public wxDataViewTreeCtrl {
 public:
  using SummarySource = std::function<std::vector<engine::MonitorSummary>()>;
  using SelectionHandler = std::function<void(const std::string& monitorId, int viewCode)>;

  MonitorTree(wxWindow* parent, wxWindowID id, SummarySource monitors);

  // Called on every selection change (after the selected identifier has changed) with the
  // new node's monitor identifier ("" for none) and view code. When nothing ends up
  // selected it gets ("", 0).
  void SetSelectionHandler(SelectionHandler h);
  std::string GetSelectedServerId() const { return selectedId_; }
  int GetSelectedImage() const { return selectedImage_; }  // -1 when nothing is selected

  // "" rebuilds the whole tree from the source: "Monitors" expanded when it has children,
  // then "Monitors" selected. An identifier: that monitor's node gets its current name, or
  // the node (with its subtree) is added at the end; an identifier the source does not know
  // changes nothing.
  void UpdateServer(const std::string& monitorId);
  // UpdateServer for each identifier ("" among them: one rebuild), reading the source once;
  // the second form takes the summaries read by the caller. In time linear in the
  // identifiers and the monitors: a burst of reports from hundreds of monitors is one pass.
  void UpdateServers(const std::vector<std::string>& monitorIds);
  void UpdateServers(const std::vector<std::string>& monitorIds,
                     const std::vector<engine::MonitorSummary>& monitors);
  // Removes the monitor's node (and its subtree) at once; unknown: nothing. When the
  // selection was in that subtree nothing is selected afterwards and the handler is not
  // called: the caller selects the node that should follow.
  void RemoveServer(const std::string& monitorId);
  // Selects the monitor's node, or (image != 0) its direct child with that image; no such
  // node or child: nothing ends up selected. Fires the selection handler once.
  void SelectServer(const std::string& monitorId, int image);
  void SelectMonitorsRoot();
  // The width that shows every node but a monitor's name whole without sideways scrolling.
  int WidestFixedNodeWidth();
  // The monitor's node; an invalid item when none.
  wxDataViewItem FindServerItem(const std::string& monitorId) const;

 private:
  struct Node;

  const Node* NodeOf(const wxDataViewItem& item) const;
  wxDataViewItem MonitorsRoot() const;
  // Appends rows whose parents come before them; a row with parent -1 goes under `root`.
  void AppendRows(const std::vector<TreeRow>& rows, const wxDataViewItem& root,
                  const std::vector<engine::MonitorSummary>& monitors);
  void Rebuild(const std::vector<engine::MonitorSummary>& monitors);
  // Renames the monitor's node (`item`, when it has one) or appends its subtree.
  void UpdateOne(const engine::MonitorSummary& monitor, const wxDataViewItem& item);
  // Selects `item` (invalid: nothing) without the toolkit's event, then reports it.
  void SelectByCode(const wxDataViewItem& item);
  void ScrollTo(const wxDataViewItem& item);
  // Takes `item` as the selection; the handler runs when it differs from the one last
  // reported, or always when forced.
  void ApplySelection(const wxDataViewItem& item, bool force);
  bool Contains(const wxDataViewItem& ancestor, wxDataViewItem item) const;

  void OnSelectionChanged(wxDataViewEvent& event);
  void OnContextMenu(wxDataViewEvent& event);

  SummarySource monitors_;
  SelectionHandler handler_;
  std::string selectedId_;
  int selectedImage_ = -1;
  wxDataViewItem reported_;  // the item last reported to the handler
  bool quiet_ = false;       // toolkit selection events are ours: ignore them
};

}  // namespace app
