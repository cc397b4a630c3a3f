#include "controls/font_scale.h"

#include <wx/dataview.h>
#include <wx/dcscreen.h>
#include <wx/settings.h>
#include <wx/tokenzr.h>
#include <wx/window.h>

#include <algorithm>
#include <cmath>

namespace controls {

namespace {

constexpr const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
// What a GTK list's heading button adds around its title (its padding and border on both
// sides, and room for a sort mark), and what a cell adds around its text.
constexpr int kHeadingPadding = 28;
constexpr int kCellPadding = 16;

}  // namespace

int ScaleToFont(int partPixels, int alphabetWidth) {
  if (alphabetWidth <= 0) return partPixels;
  return static_cast<int>(
      std::lround(static_cast<double>(partPixels) * alphabetWidth / kLayoutAlphabetWidth));
}

int WidthForTexts(int scaledDefault, std::initializer_list<int> textWidths, int padding) {
  int width = scaledDefault;
  for (int text : textWidths) width = std::max(width, text + padding);
  return width;
}

int ShownColumnWidth(int stored, int layoutDefault, int defaultWidth) {
  return stored == layoutDefault || stored <= 0 ? defaultWidth : stored;
}

int StoredColumnWidth(int shown, int layoutDefault, int defaultWidth) {
  return shown == defaultWidth ? layoutDefault : shown;
}

std::vector<int> FitWidthsInto(std::vector<int> widths, const std::vector<int>& least,
                               int available) {
  long total = 0;
  long slack = 0;
  for (std::size_t i = 0; i < widths.size(); ++i) {
    total += widths[i];
    if (i < least.size()) slack += std::max(0, widths[i] - least[i]);
  }
  const long missing = total - available;
  if (missing <= 0 || slack <= 0) return widths;
  long taken = 0;
  for (std::size_t i = 0; i < widths.size() && i < least.size(); ++i) {
    const int above = std::max(0, widths[i] - least[i]);
    const long share = std::min<long>(above, (above * missing + slack - 1) / slack);
    widths[i] -= static_cast<int>(share);
    taken += share;
    if (taken >= missing) break;
  }
  return widths;
}

std::vector<int> FlowIntoLines(const std::vector<int>& widths, int available) {
  std::vector<int> lines;
  int line = 0;
  int used = 0;
  for (int width : widths) {
    if (used > 0 && used + width > available) {
      ++line;
      used = 0;
    }
    used += width;
    lines.push_back(line);
  }
  return lines;
}

int AlphabetWidth() {
  static const int width = [] {
    wxScreenDC dc;
    dc.SetFont(wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT));
    return dc.GetTextExtent(kAlphabet).x;
  }();
  return width;
}

int FontScaled(int partPixels) { return ScaleToFont(partPixels, AlphabetWidth()); }

wxSize FontScaled(wxSize partSize) {
  return wxSize(partSize.x < 0 ? partSize.x : FontScaled(partSize.x),
                partSize.y < 0 ? partSize.y : FontScaled(partSize.y));
}

int HeadingPadding(const wxWindow* list) { return list->FromDIP(kHeadingPadding); }

int CellPadding(const wxWindow* list) { return list->FromDIP(kCellPadding); }

int TextWidth(const wxWindow* window, const wxString& text) {
  int widest = 0;
  for (const wxString& line : wxSplit(text, '\n', '\0'))
    widest = std::max(widest, window->GetTextExtent(line).x);
  return widest;
}

int DefaultColumnWidth(const wxWindow* list, int layoutPixels, const wxString& heading,
                       std::initializer_list<wxString> typicalValues) {
  int width =
      WidthForTexts(FontScaled(layoutPixels), {TextWidth(list, heading)}, HeadingPadding(list));
  for (const wxString& value : typicalValues)
    width = WidthForTexts(width, {TextWidth(list, value)}, CellPadding(list));
  return width;
}

}  // namespace controls

namespace controls {

void ColumnDefaults::Add(const wxWindow* list, unsigned index, int layoutPixels,
                         const wxString& heading, std::initializer_list<wxString> typicalValues) {
  Column column;
  column.index = index;
  column.layoutPixels = layoutPixels;
  column.scaled = DefaultColumnWidth(list, layoutPixels, heading, typicalValues);
  column.width = column.scaled;
  column.least = DefaultColumnWidth(list, 0, heading, typicalValues);
  state_->columns.push_back(column);
}

int ColumnDefaults::Shown(std::size_t i, int stored) const {
  Column& column = state_->columns.at(i);
  const int shown = ShownColumnWidth(stored, column.layoutPixels, column.width);
  column.atDefault = shown == column.width;
  return shown;
}

int ColumnDefaults::Stored(std::size_t i, int shown) const {
  Column& column = state_->columns.at(i);
  if (column.atDefault && (shown == column.width || shown == column.previous))
    return column.layoutPixels;
  column.atDefault = false;
  return shown;
}

void ColumnDefaults::FitOnResize(wxDataViewCtrl* list) {
  list->Bind(wxEVT_SIZE, [list, state = state_](wxSizeEvent& event) {
    event.Skip();
    if (state->pending) return;
    // Sizing columns inside the size event would fight the native widget's allocation.
    state->pending = true;
    list->CallAfter([list, state] {
      state->pending = false;
      Fit(list, *state);
    });
  });
}

void ColumnDefaults::Fit(wxDataViewCtrl* list, State& state) {
  const unsigned count = list->GetColumnCount();
  if (count == 0 || list->GetClientSize().x <= 0) return;
  std::vector<bool> fitting(count, false);
  std::vector<int> widths;
  std::vector<int> least;
  std::vector<Column*> columns;
  for (Column& column : state.columns) {
    if (column.index >= count || !column.atDefault) continue;
    // A laid-out column whose width is no longer the one given it was resized by the user.
    const int shown = list->GetColumn(column.index)->GetWidth();
    if (list->IsShownOnScreen() && shown > 0 && shown != column.width && shown != column.previous) {
      column.atDefault = false;
      continue;
    }
    fitting[column.index] = true;
    widths.push_back(column.scaled);
    least.push_back(column.least);
    columns.push_back(&column);
  }
  // GTK keeps a pixel on either side of the columns.
  int available = list->GetClientSize().x - wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, list) -
                  list->FromDIP(2);
  for (unsigned i = 0; i < count; ++i) {
    // A column not laid out yet reads a width of 0: its least width stands for it. A last
    // column without a heading only fills what the others leave, down to its least width.
    wxDataViewColumn* column = list->GetColumn(i);
    const bool filler = i + 1 == count && column->GetTitle().empty();
    if (!fitting[i] && column->IsShown())
      available -=
          filler ? column->GetMinWidth() : std::max(column->GetWidth(), column->GetMinWidth());
  }
  const std::vector<int> fitted = FitWidthsInto(widths, least, available);
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (columns[i]->width != fitted[i]) columns[i]->previous = columns[i]->width;
    columns[i]->width = fitted[i];
    if (list->GetColumn(columns[i]->index)->GetWidth() != fitted[i])
      list->GetColumn(columns[i]->index)->SetWidth(fitted[i]);
  }
}

}  // namespace controls
