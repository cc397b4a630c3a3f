// The left pane's draggable edge: a native splitter, split vertically, whose left pane
// keeps its width while the window is resized and is never unsplit. The left pane is at
// least its content's minimum plus the edge on either side; the right pane never gets less
// than its minimum. The width starts at InitialWidth() and is not remembered. UI thread only.
#pragma once

#include <wx/splitter.h>

namespace controls {

// The range of the left pane's width (the sash position) for a given client width.
struct SplitterLimits {
  int minimum = 0;
  int maximum = 0;

  bool operator==(const SplitterLimits&) const = default;
};

// leftContent: the widest the left pane's content needs (the info panel's width); the pane
// adds the edge on both sides. rightMinimum: the least width the right pane may have.
// sashWidth: the width of the draggable band. When the client is too narrow for both
// minimums, the left minimum wins (maximum == minimum).
SplitterLimits ComputeSplitterLimits(int clientWidth, int leftContent, int rightMinimum,
                                     int sashWidth);

// position held within the limits.
int ClampSashPosition(int position, const SplitterLimits& limits);

class PaneSplitter : public wxSplitterWindow {
 public:
  static constexpr int kInitialWidth = 240;
  // The blank around the left pane's content, on each side.
  static constexpr int kEdge = 5;

  PaneSplitter(wxWindow* parent, wxWindowID id = wxID_ANY);

  // The left pane's width at the start: kInitialWidth scaled to the font unless set.
  int InitialWidth() const;
  void SetInitialWidth(int width) { initialWidth_ = width; }
  // Shows left and right side by side, the left one InitialWidth() wide (or its minimum).
  void SplitPanes(wxWindow* left, wxWindow* right);
  // Sets the left content's minimum width and the right pane's; the current width is
  // brought within the new limits.
  void SetPaneMinimums(int leftContent, int rightMinimum);

  SplitterLimits Limits() const;
  int LeftWidth() const { return GetSashPosition(); }

  // Every move of the sash by the user passes here: the position is held within Limits().
  int OnSashPositionChanging(int newSashPosition) override;

 private:
  void OnDoubleClick(wxSplitterEvent& event);
  void OnSize(wxSizeEvent& event);
  void Reclamp();

  int initialWidth_ = 0;
  int leftContent_ = 0;
  int rightMinimum_ = 0;
  // Whether the first real size has been seen (until then the initial width is pending).
  bool sized_ = false;
};

}  // namespace controls
