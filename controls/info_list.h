// InfoList: a titled box holding an attribute list that keeps the height of its rows and
// sits at the bottom of the box, under whatever a derived list puts above it.
// InfoGraphicList puts a chart there: when the panel grows, the box and the chart grow
// both ways, and the list widens and follows the bottom edge. UI thread only.
#pragma once

#include <wx/panel.h>

#include <string>
#include <vector>

class wxStaticBox;
class wxStaticBoxSizer;

namespace controls {

class AttributeList;
class Graphic;

class InfoList : public wxPanel {
 public:
  // accessibleName names the list (the box's title may be empty).
  InfoList(wxWindow* parent, wxWindowID id, const wxString& accessibleName);

  // The list's rows, one per name in order (replacing any rows it had), and the box's title.
  void SetItems(const std::vector<wxString>& names, const wxString& title);

  AttributeList* GetList() const { return list_; }
  wxStaticBox* GetBox() const;

 protected:
  // Puts window (a child of GetBox()) above the list, taking all the height the list
  // leaves; at most once.
  void PutAboveList(wxWindow* window);

 private:
  void FitListToRows();

  wxStaticBoxSizer* boxSizer_ = nullptr;
  AttributeList* list_ = nullptr;
};

class InfoGraphicList : public InfoList {
 public:
  // The chart's value axis is 55 pixels from its left edge.
  static constexpr int kChartLeftMargin = 55;

  InfoGraphicList(wxWindow* parent, wxWindowID id, const wxString& accessibleName);

  // The chart's legend names, series 0 first.
  void SetSeriesNames(const std::vector<std::string>& names);
  Graphic* GetChart() const { return chart_; }

 private:
  Graphic* chart_ = nullptr;
};

}  // namespace controls
