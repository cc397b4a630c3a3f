#include "app/monitor_tree.h"

#include <gtk/gtk.h>
#include <wx/imaglist.h>
#include <wx/log.h>
#include <wx/menu.h>
#include <wx/settings.h>

#include <algorithm>
#include <memory>
#include <unordered_map>
#include <utility>

#include "app/main_menu.h"
#include "controls/accessible_name.h"
#include "controls/font_scale.h"
#include "controls/image_strip.h"
#include "engine/monitor/monitor_values.h"
#include "res/art.h"

namespace app {
namespace {

constexpr int kImageSize = 16;
// The widest text of a node that is not a monitor's name, and its depth ("Monitors" is 1).
constexpr const char* kWidestFixedNode = "Connection Time history";
constexpr int kFixedNodeDepth = 4;

int MonitorImage(int type) {
  return type == engine::kOdbcDataSourceType ? kTreeMonitor : kTreeMonitors;
}

// The rows of one monitor's subtree, its node's parent being row `parent`.
void AppendMonitorRows(std::vector<TreeRow>& rows, int parent,
                       const engine::MonitorSummary& monitor) {
  const int node = static_cast<int>(rows.size());
  rows.push_back({parent, monitor.name, MonitorImage(monitor.type), monitor.id});
  rows.push_back({node, "Connection Time", kTreeConnectionTime, monitor.id});
  rows.push_back({node, "Test queries", kTreeTestQueries, monitor.id});
  const int history = static_cast<int>(rows.size());
  rows.push_back({node, "History", kTreeHistory, monitor.id});
  if (monitor.type == engine::kOdbcDataSourceType) {
    rows.push_back({history, "Availability history", kTreeAvailabilityHistory, monitor.id});
    rows.push_back({history, "Health history", kTreeHealthHistory, monitor.id});
    rows.push_back({history, "Connection Time history", kTreeConnectionTimeHistory, monitor.id});
    rows.push_back({history, "Test Queries history", kTreeTestQueriesHistory, monitor.id});
  }
  rows.push_back({node, "Alerts", kTreeAlerts, monitor.id});
  rows.push_back({node, "Log", kTreeLog, monitor.id});
}

// Keeps every node where it was appended: the toolkit's own store puts containers before
// leaves, which would move "History" above "Connection Time".
class AppendOrderStore : public wxDataViewTreeStore {
 public:
  bool HasDefaultCompare() const override { return false; }
};

// The summaries by identifier (the first of each, as a search in order finds it).
std::unordered_map<std::string, const engine::MonitorSummary*> IndexSummaries(
    const std::vector<engine::MonitorSummary>& monitors) {
  std::unordered_map<std::string, const engine::MonitorSummary*> index;
  index.reserve(monitors.size());
  for (const engine::MonitorSummary& monitor : monitors) index.emplace(monitor.id, &monitor);
  return index;
}

}  // namespace

std::vector<TreeRow> BuildTreeRows(const std::vector<engine::MonitorSummary>& monitors) {
  std::vector<TreeRow> rows;
  rows.push_back({-1, "Monitors", kTreeMonitors, ""});
  for (const engine::MonitorSummary& monitor : monitors) AppendMonitorRows(rows, 0, monitor);
  const int actions = static_cast<int>(rows.size());
  rows.push_back({-1, "Actions", kTreeActions, ""});
  for (const auto& [text, image] : {std::pair{"E-Mail", kTreeEmail},
                                    {"SMS", kTreeSms},
                                    {"Execute SQL", kTreeExecuteSql},
                                    {"Execute Program", kTreeExecuteProgram},
                                    {"User Interface", kTreeUserInterface}}) {
    rows.push_back({actions, text, image, ""});
  }
  return rows;
}

int ViewCodeForImage(int image, int monitorType) {
  switch (image) {
    case kTreeMonitors:
      return 0;
    case kTreeMonitor:
      return 9;
    case kTreeConnectionTime:
      return monitorType == engine::kOdbcDataSourceType ? 8 : 0;
    case kTreeTestQueries:
      return 19;
    case kTreeHistory:
      return 20;
    case kTreeAvailabilityHistory:
      return 21;
    case kTreeHealthHistory:
      return 22;
    case kTreeConnectionTimeHistory:
      return 23;
    case kTreeTestQueriesHistory:
      return 24;
    case kTreeAlerts:
      return 27;
    case kTreeLog:
      return 26;
    case kTreeActions:
      return 33;
    case kTreeEmail:
    case kTreeSms:
    case kTreeExecuteSql:
    case kTreeExecuteProgram:
    case kTreeUserInterface:
      return 28 + (image - kTreeEmail);
    default:
      return 0;
  }
}

// What a node holds: its monitor's identifier and type ("" and 0 for no monitor) and its kind.
struct MonitorTree::Node : wxClientData {
  Node(std::string id, int monitorType, int kind)
      : monitorId(std::move(id)), type(monitorType), image(kind) {}
  std::string monitorId;
  int type;
  int image;
};

MonitorTree::MonitorTree(wxWindow* parent, wxWindowID id, SummarySource monitors)
    : wxDataViewTreeCtrl(parent, id, wxDefaultPosition, wxDefaultSize,
                         wxDV_NO_HEADER | wxDV_SINGLE | wxBORDER_THEME),
      monitors_(std::move(monitors)) {
  auto* store = new AppendOrderStore;
  AssociateModel(store);
  store->DecRef();
  const res::ArtStrip art = res::TreeStrip();
  const controls::ImageStrip strip =
      controls::ImageStrip::FromPng(art.png.data, art.png.size, art.imageSize, art.count);
  if (strip.IsOk() && art.imageSize == kImageSize) {
    auto* images = new wxImageList(kImageSize, kImageSize, true, strip.GetCount());
    for (int i = 0; i < strip.GetCount(); ++i) images->Add(strip.GetBitmap(i));
    AssignImageList(images);
  } else {
    wxLogError("The tree images could not be loaded.");
  }
  controls::SetAccessibleName(this, "Monitors View");
  // A renamed node is announced as a changed row, which is what updates its accessible cell.
  controls::KeepAccessibleCellsCurrent(this);
  // Nodes are named by the store: the tree's column is never edited in place.
  if (GetColumnCount() > 0) GetColumn(0)->GetRenderer()->SetMode(wxDATAVIEW_CELL_INERT);
  Bind(wxEVT_DATAVIEW_ITEM_START_EDITING, [](wxDataViewEvent& event) { event.Veto(); });
  Bind(wxEVT_DATAVIEW_SELECTION_CHANGED, &MonitorTree::OnSelectionChanged, this);
  Bind(wxEVT_DATAVIEW_ITEM_CONTEXT_MENU, &MonitorTree::OnContextMenu, this);
}

int MonitorTree::WidestFixedNodeWidth() {
  gint expander = 14;
  gint separator = 4;
  gtk_widget_style_get(GtkGetTreeView(), "expander-size", &expander, "horizontal-separator",
                       &separator, nullptr);
  // Every level, the node's own included, is indented by an expander and its margins; the
  // image and the text follow, then the cell's and the frame's padding.
  const int indent = expander + 2 * separator;
  return kFixedNodeDepth * indent + FromDIP(kImageSize + 4) +
         controls::TextWidth(this, kWidestFixedNode) + controls::CellPadding(this) +
         wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, this);
}

void MonitorTree::SetSelectionHandler(SelectionHandler h) { handler_ = std::move(h); }

const MonitorTree::Node* MonitorTree::NodeOf(const wxDataViewItem& item) const {
  return item.IsOk() ? static_cast<const Node*>(GetItemData(item)) : nullptr;
}

wxDataViewItem MonitorTree::MonitorsRoot() const {
  return GetChildCount(wxDataViewItem()) > 0 ? GetNthChild(wxDataViewItem(), 0) : wxDataViewItem();
}

wxDataViewItem MonitorTree::FindServerItem(const std::string& monitorId) const {
  const wxDataViewItem root = MonitorsRoot();
  if (!root.IsOk() || monitorId.empty()) return {};
  const int count = GetChildCount(root);
  for (int i = 0; i < count; ++i) {
    const wxDataViewItem child = GetNthChild(root, static_cast<unsigned>(i));
    const Node* node = NodeOf(child);
    if (node != nullptr && node->monitorId == monitorId) return child;
  }
  return {};
}

void MonitorTree::AppendRows(const std::vector<TreeRow>& rows, const wxDataViewItem& root,
                             const std::vector<engine::MonitorSummary>& monitors) {
  std::vector<bool> hasChildren(rows.size(), false);
  for (const TreeRow& row : rows) {
    if (row.parent >= 0) hasChildren[static_cast<std::size_t>(row.parent)] = true;
  }
  std::vector<wxDataViewItem> items;
  items.reserve(rows.size());
  const auto summaries = IndexSummaries(monitors);
  const engine::MonitorSummary* monitor = nullptr;  // of the row before
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const TreeRow& row = rows[i];
    const wxDataViewItem parent =
        row.parent >= 0 ? items[static_cast<std::size_t>(row.parent)] : root;
    if (monitor == nullptr || monitor->id != row.monitorId) {
      const auto found = summaries.find(row.monitorId);
      monitor = row.monitorId.empty() || found == summaries.end() ? nullptr : found->second;
    }
    auto* data = new Node(row.monitorId, monitor != nullptr ? monitor->type : 0, row.image);
    const wxString text = wxString::FromUTF8(row.text);
    // The first row of a whole tree, "Monitors", takes monitors later even when it has none
    // now; other nodes are containers when they have rows.
    const bool container = hasChildren[i] || (i == 0 && !root.IsOk());
    items.push_back(container ? AppendContainer(parent, text, row.image, row.image, data)
                              : AppendItem(parent, text, row.image, data));
  }
}

void MonitorTree::Rebuild(const std::vector<engine::MonitorSummary>& monitors) {
  quiet_ = true;
  DeleteAllItems();
  reported_ = wxDataViewItem();
  AppendRows(BuildTreeRows(monitors), wxDataViewItem(), monitors);
  const wxDataViewItem root = MonitorsRoot();
  if (!monitors.empty()) Expand(root);
  quiet_ = false;
  SelectByCode(root);
}

void MonitorTree::UpdateOne(const engine::MonitorSummary& monitor, const wxDataViewItem& item) {
  if (item.IsOk()) {
    const wxString name = wxString::FromUTF8(monitor.name);
    if (GetItemText(item) != name) SetItemText(item, name);
    return;
  }
  const wxDataViewItem root = MonitorsRoot();
  if (!root.IsOk()) return;
  std::vector<TreeRow> rows;
  AppendMonitorRows(rows, -1, monitor);
  quiet_ = true;
  AppendRows(rows, root, {monitor});
  quiet_ = false;
}

void MonitorTree::UpdateServer(const std::string& monitorId) { UpdateServers({monitorId}); }

void MonitorTree::UpdateServers(const std::vector<std::string>& monitorIds) {
  if (monitorIds.empty()) return;
  UpdateServers(monitorIds, monitors_());
}

void MonitorTree::UpdateServers(const std::vector<std::string>& monitorIds,
                                const std::vector<engine::MonitorSummary>& monitors) {
  if (monitorIds.empty()) return;
  if (std::find(monitorIds.begin(), monitorIds.end(), std::string()) != monitorIds.end()) {
    Rebuild(monitors);
    return;
  }
  const auto summaries = IndexSummaries(monitors);
  // The monitors' nodes by identifier, the first of each as FindServerItem finds it.
  std::unordered_map<std::string, wxDataViewItem> nodes;
  const wxDataViewItem root = MonitorsRoot();
  if (root.IsOk()) {
    const int count = GetChildCount(root);
    nodes.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
      const wxDataViewItem child = GetNthChild(root, static_cast<unsigned>(i));
      if (const Node* node = NodeOf(child); node != nullptr && !node->monitorId.empty()) {
        nodes.emplace(node->monitorId, child);
      }
    }
  }
  for (const std::string& id : monitorIds) {
    const auto summary = summaries.find(id);
    if (summary == summaries.end()) continue;
    const auto node = nodes.find(id);
    if (node != nodes.end()) {
      UpdateOne(*summary->second, node->second);
      continue;
    }
    if (!root.IsOk()) continue;
    UpdateOne(*summary->second, wxDataViewItem());
    // Appended last: a second report of the monitor renames the node just made.
    const unsigned count = static_cast<unsigned>(GetChildCount(root));
    if (count > 0) nodes.emplace(id, GetNthChild(root, count - 1));
  }
}

bool MonitorTree::Contains(const wxDataViewItem& ancestor, wxDataViewItem item) const {
  for (; item.IsOk(); item = GetItemParent(item)) {
    if (item == ancestor) return true;
  }
  return false;
}

void MonitorTree::RemoveServer(const std::string& monitorId) {
  const wxDataViewItem item = FindServerItem(monitorId);
  if (!item.IsOk()) return;
  const bool selectedInside = Contains(item, reported_);
  quiet_ = true;
  if (selectedInside) UnselectAll();
  DeleteItem(item);
  quiet_ = false;
  if (selectedInside) {
    reported_ = wxDataViewItem();
    selectedId_.clear();
    selectedImage_ = -1;
  }
}

void MonitorTree::SelectServer(const std::string& monitorId, int image) {
  wxDataViewItem item = FindServerItem(monitorId);
  if (item.IsOk() && image != 0) {
    const wxDataViewItem node = item;
    item = wxDataViewItem();
    const int count = GetChildCount(node);
    for (int i = 0; i < count && !item.IsOk(); ++i) {
      const wxDataViewItem child = GetNthChild(node, static_cast<unsigned>(i));
      const Node* data = NodeOf(child);
      if (data != nullptr && data->image == image) item = child;
    }
  }
  SelectByCode(item);
}

void MonitorTree::SelectMonitorsRoot() { SelectByCode(MonitorsRoot()); }

void MonitorTree::ScrollTo(const wxDataViewItem& item) {
  // Not EnsureVisible: it keeps the item for the next idle time, when it may be deleted.
  std::vector<int> indices;
  for (wxDataViewItem at = item; at.IsOk();) {
    const wxDataViewItem parent = GetItemParent(at);
    const int count = GetChildCount(parent);
    int index = 0;
    while (index < count && GetNthChild(parent, static_cast<unsigned>(index)) != at) ++index;
    indices.insert(indices.begin(), index);
    at = parent;
  }
  GtkTreePath* path = gtk_tree_path_new_from_indicesv(indices.data(), indices.size());
  gtk_tree_view_scroll_to_cell(GTK_TREE_VIEW(GtkGetTreeView()), path, nullptr, FALSE, 0, 0);
  gtk_tree_path_free(path);
}

void MonitorTree::SelectByCode(const wxDataViewItem& item) {
  quiet_ = true;
  if (item.IsOk()) {
    Select(item);
    ScrollTo(item);
  } else {
    UnselectAll();
  }
  quiet_ = false;
  ApplySelection(item, true);
}

void MonitorTree::ApplySelection(const wxDataViewItem& item, bool force) {
  if (!force && item == reported_) return;
  reported_ = item;
  const Node* node = NodeOf(item);
  selectedId_ = node != nullptr ? node->monitorId : std::string();
  selectedImage_ = node != nullptr ? node->image : -1;
  const int view = node != nullptr ? ViewCodeForImage(node->image, node->type) : 0;
  if (handler_) {
    // The handler may change the tree; it gets its own copy of the identifier.
    const std::string id = selectedId_;
    handler_(id, view);
  }
}

void MonitorTree::OnSelectionChanged(wxDataViewEvent& event) {
  event.Skip();
  if (quiet_) return;
  const wxDataViewItem item = GetSelection();
  if (item.IsOk()) {
    ApplySelection(item, false);
    return;
  }
  // The toolkit empties the selection before it selects a right-clicked row: an empty
  // selection is reported only when it still holds once this event has been handled.
  CallAfter([this] {
    if (!GetSelection().IsOk()) ApplySelection(wxDataViewItem(), false);
  });
}

void MonitorTree::OnContextMenu(wxDataViewEvent& event) {
  const wxDataViewItem item = event.GetItem();
  const Node* node = NodeOf(item);
  if (node == nullptr) return;
  const bool monitorNode = node->image == kTreeMonitor;
  quiet_ = true;
  Select(item);
  quiet_ = false;
  ApplySelection(item, false);
  if (!monitorNode) return;
  // The menu's commands travel up to the main window like any command event.
  const std::unique_ptr<wxMenu> menu(CreateMonitorMenu());
  PopupMenu(menu.get());
}

}  // namespace app
