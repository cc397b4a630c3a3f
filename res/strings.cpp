#include "res/strings.h"

#include <algorithm>
#include <iterator>

namespace res {
namespace {

struct Entry {
  unsigned id;
  const char* text;
};

// Sorted by identifier.
constexpr Entry kStrings[] = {
    {111, "OK"},
    {112, "ERROR"},
    {113, "UP"},
    {114, "DOWN"},
    {116, " is available"},
    {117, "Monitor stopped"},
    {118, "Monitor running"},
    {122, "Test Query Value"},
    {130, "Zephrane Software"},
    {131, "Lumivar"},
    {3000, "Monitor Availability"},
    {3002, "Monitor Health"},
    {3004, "Connection Time (ms.)"},
    {3006, "Total Queries Total Time (ms)"},
    {32774, "Create new ODBC Data Source monitor."},
    {32775, "Delete selected monitor."},
    {32777, "Start selected monitor."},
    {32778, "Stop selected monitor."},
    {32779, "Duplicate selected monitor."},
    {32798, "Open settings dialog."},
    {32800, "Browse online help."},
    {0xE000, "Lumivar"},
    {57664, "Show the program's name and version."},
    {59392, "Show or hide the toolbar."},
    {59393, "Show or hide the status bar."},
};

}  // namespace

const char* FindString(unsigned id) {
  auto it = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                             [](const Entry& e, unsigned v) { return e.id < v; });
  return it != std::end(kStrings) && it->id == id ? it->text : nullptr;
}

}  // namespace res
