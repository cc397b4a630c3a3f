#include "controls/info_list.h"

#include <wx/sizer.h>
#include <wx/statbox.h>

#include <algorithm>

#include "controls/accessible_name.h"
#include "controls/attribute_list.h"
#include "controls/graphic.h"

namespace controls {

namespace {

// Space between the box's frame and what it holds, and between the chart and the list.
constexpr int kGap = 4;
// The chart's least size at 96 dots per inch.
constexpr int kChartWidth = 458;
constexpr int kChartHeight = 216;
// A row of the list: its text or its image, and the tree view's padding around it.
constexpr int kRowPadding = 8;
// The list's frame, above and below its rows.
constexpr int kListFrame = 4;

}  // namespace

InfoList::InfoList(wxWindow* parent, wxWindowID id, const wxString& accessibleName)
    : wxPanel(parent, id) {
  boxSizer_ = new wxStaticBoxSizer(wxVERTICAL, this, "");
  SetAccessibleName(boxSizer_->GetStaticBox(), accessibleName);
  list_ = new AttributeList(boxSizer_->GetStaticBox(), wxID_ANY, accessibleName);
  // Until something is put above it, the list still sits at the bottom of the box.
  boxSizer_->AddStretchSpacer(1);
  boxSizer_->Add(list_, 0, wxEXPAND | wxALL, FromDIP(kGap));
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(boxSizer_, 1, wxEXPAND);
  SetSizer(sizer);
  FitListToRows();
}

wxStaticBox* InfoList::GetBox() const { return boxSizer_->GetStaticBox(); }

void InfoList::SetItems(const std::vector<wxString>& names, const wxString& title) {
  list_->DeleteAllItems();
  list_->Init(names);
  GetBox()->SetLabel(title);
  FitListToRows();
  Show();
}

void InfoList::PutAboveList(wxWindow* window) {
  if (boxSizer_->GetItemCount() != 2 || !boxSizer_->GetItem(size_t{0})->IsSpacer()) return;
  boxSizer_->Remove(0);
  boxSizer_->Insert(0, window, 1, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, FromDIP(kGap));
  Layout();
}

void InfoList::FitListToRows() {
  const int rows = std::max(1, list_->GetItemCount());
  const int rowHeight =
      std::max(list_->GetCharHeight(), ColorList::kMinRowHeight) + FromDIP(kRowPadding);
  const int height = rows * rowHeight + FromDIP(kListFrame);
  if (list_->GetMinSize().y == height) return;
  list_->SetMinSize(wxSize(0, height));
  // The list keeps this height: the panel's sizer gives any change to what is above it.
  list_->SetMaxSize(wxSize(-1, height));
  Layout();
}

InfoGraphicList::InfoGraphicList(wxWindow* parent, wxWindowID id, const wxString& accessibleName)
    : InfoList(parent, id, accessibleName) {
  chart_ = new Graphic(GetBox(), wxID_ANY, accessibleName + " chart");
  chart_->SetMinSize(FromDIP(wxSize(kChartWidth, kChartHeight)));
  chart_->RecalcLayout(kChartLeftMargin);
  PutAboveList(chart_);
}

void InfoGraphicList::SetSeriesNames(const std::vector<std::string>& names) {
  chart_->SetSeriesNames(names);
}

}  // namespace controls
