// ColorList: a report list (a native GtkTreeView through wxDataViewListCtrl) whose every
// cell holds a text and an optional small image drawn before it. An image is part of its
// cell's value, so it moves with its row when rows are inserted or deleted. Optionally the
// list keeps its columns at equal widths that fill its client width. UI thread only.
#pragma once

#include <wx/bmpbndl.h>
#include <wx/dataview.h>

#include <map>
#include <vector>

namespace controls {

class ColorList : public wxDataViewListCtrl {
 public:
  // Rows are never lower than this: the image part of every cell keeps room for a 16-pixel
  // image whether or not it shows one, whatever the font.
  static constexpr int kMinRowHeight = 16;

  // The accessible name is the list's title (e.g. its group box's).
  ColorList(wxWindow* parent, wxWindowID id, const wxString& accessibleName,
            const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize,
            long style = wxDV_SINGLE | wxDV_ROW_LINES);

  // Appends a column of icon-and-text cells. Cells must be read and written through
  // SetCellText / GetCellText / SetCellBitmap, not through the base's text accessors.
  wxDataViewColumn* AddColumn(const wxString& title, int width = wxCOL_WIDTH_DEFAULT,
                              wxAlignment align = wxALIGN_LEFT);

  // Appends a row; missing texts are empty, surplus ones ignored. Returns its index.
  unsigned AddRow(const std::vector<wxString>& texts);

  // Out-of-range rows and columns are ignored (GetCellText then returns "").
  void SetCellText(unsigned row, unsigned column, const wxString& text);
  wxString GetCellText(unsigned row, unsigned column) const;

  // Makes an image known to the list under a non-zero id.
  void RegisterImage(int id, const wxBitmapBundle& image);
  // Shows the image registered under id in the cell, before its text. Id 0 or an id with no
  // image clears the cell's image; a row at or beyond the row count is ignored.
  void SetCellBitmap(unsigned row, unsigned column, int id);
  void SetCellBitmap(unsigned row, unsigned column, const wxBitmapBundle& image);
  bool HasCellBitmap(unsigned row, unsigned column) const;
  // The cell's image (invalid when it has none).
  wxBitmap GetCellBitmap(unsigned row, unsigned column) const;

  // When on, every resize is followed (once the resize has finished) by FitColumns.
  void SetFitColumns(bool fit);
  // Gives every column the same width, filling the client width less a vertical scroll
  // bar. Does nothing when there are no columns.
  void FitColumns();

 protected:
  // The width a vertical scroll bar takes.
  int ScrollBarWidth() const;

 private:
  bool ValidCell(unsigned row, unsigned column) const;
  wxDataViewIconText Cell(unsigned row, unsigned column) const;
  void StoreCell(unsigned row, unsigned column, const wxDataViewIconText& cell);
  void OnSize(wxSizeEvent& event);

  std::map<int, wxBitmapBundle> images_;
  bool fitColumns_ = false;
  bool fitPending_ = false;
};

}  // namespace controls
