#include "controls/color_list.h"

#include <wx/settings.h>

#include "controls/accessible_name.h"
#include "controls/value_text.h"

namespace controls {

ColorList::ColorList(wxWindow* parent, wxWindowID id, const wxString& accessibleName,
                     const wxPoint& pos, const wxSize& size, long style)
    : wxDataViewListCtrl(parent, id, pos, size, style) {
  SetAccessibleName(this, accessibleName);
  KeepAccessibleCellsCurrent(this);
  Bind(wxEVT_SIZE, &ColorList::OnSize, this);
}

wxDataViewColumn* ColorList::AddColumn(const wxString& title, int width, wxAlignment align) {
  return AppendIconTextColumn(title, wxDATAVIEW_CELL_INERT, width, align, wxDATAVIEW_COL_RESIZABLE);
}

unsigned ColorList::AddRow(const std::vector<wxString>& texts) {
  wxVector<wxVariant> values;
  for (unsigned column = 0; column < GetColumnCount(); ++column) {
    wxVariant value;
    value << wxDataViewIconText(column < texts.size() ? texts[column] : wxString());
    values.push_back(value);
  }
  AppendItem(values);
  return static_cast<unsigned>(GetItemCount() - 1);
}

bool ColorList::ValidCell(unsigned row, unsigned column) const {
  return row < static_cast<unsigned>(GetItemCount()) && column < GetColumnCount();
}

wxDataViewIconText ColorList::Cell(unsigned row, unsigned column) const {
  wxDataViewIconText cell;
  if (!ValidCell(row, column)) return cell;
  wxVariant value;
  GetStore()->GetValueByRow(value, row, column);
  if (value.GetType() == "wxDataViewIconText") cell << value;
  return cell;
}

void ColorList::StoreCell(unsigned row, unsigned column, const wxDataViewIconText& cell) {
  wxVariant value;
  value << cell;
  SetValue(value, row, column);
}

void ColorList::SetCellText(unsigned row, unsigned column, const wxString& text) {
  if (!ValidCell(row, column)) return;
  wxDataViewIconText cell = Cell(row, column);
  if (cell.GetText() == text) return;
  cell.SetText(text);
  StoreCell(row, column, cell);
}

wxString ColorList::GetCellText(unsigned row, unsigned column) const {
  return Cell(row, column).GetText();
}

void ColorList::RegisterImage(int id, const wxBitmapBundle& image) {
  if (id != 0) images_[id] = image;
}

void ColorList::SetCellBitmap(unsigned row, unsigned column, int id) {
  const auto found = id == 0 ? images_.end() : images_.find(id);
  SetCellBitmap(row, column, found == images_.end() ? wxBitmapBundle() : found->second);
}

void ColorList::SetCellBitmap(unsigned row, unsigned column, const wxBitmapBundle& image) {
  if (!ValidCell(row, column)) return;
  wxDataViewIconText cell = Cell(row, column);
  cell.SetBitmapBundle(image);
  StoreCell(row, column, cell);
}

bool ColorList::HasCellBitmap(unsigned row, unsigned column) const {
  return Cell(row, column).GetBitmapBundle().IsOk();
}

wxBitmap ColorList::GetCellBitmap(unsigned row, unsigned column) const {
  const wxBitmapBundle image = Cell(row, column).GetBitmapBundle();
  return image.IsOk() ? image.GetBitmap(wxDefaultSize) : wxBitmap();
}

void ColorList::SetFitColumns(bool fit) { fitColumns_ = fit; }

int ColorList::ScrollBarWidth() const { return wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, this); }

void ColorList::FitColumns() {
  const FitWidth fit =
      FitColumnWidth(GetClientSize().GetWidth(), ScrollBarWidth(), GetColumnCount());
  if (!fit.apply) return;
  for (unsigned column = 0; column < GetColumnCount(); ++column) {
    wxDataViewColumn* col = GetColumn(column);
    if (col->GetWidth() != fit.width) col->SetWidth(fit.width);
  }
}

void ColorList::OnSize(wxSizeEvent& event) {
  event.Skip();
  if (!fitColumns_ || fitPending_) return;
  // Fitting inside the size event would fight the native widget's own allocation.
  fitPending_ = true;
  CallAfter([this] {
    fitPending_ = false;
    FitColumns();
  });
}

}  // namespace controls
