#include "controls/pane_splitter.h"

#include "controls/font_scale.h"

#include <algorithm>

namespace controls {

SplitterLimits ComputeSplitterLimits(int clientWidth, int leftContent, int rightMinimum,
                                     int sashWidth) {
  SplitterLimits limits;
  limits.minimum = std::max(leftContent, 0) + 2 * PaneSplitter::kEdge;
  limits.maximum =
      std::max(limits.minimum, clientWidth - std::max(sashWidth, 0) - std::max(rightMinimum, 0));
  return limits;
}

int ClampSashPosition(int position, const SplitterLimits& limits) {
  return std::clamp(position, limits.minimum, std::max(limits.minimum, limits.maximum));
}

PaneSplitter::PaneSplitter(wxWindow* parent, wxWindowID id)
    : wxSplitterWindow(parent, id, wxDefaultPosition, wxDefaultSize,
                       wxSP_LIVE_UPDATE | wxSP_NOBORDER | wxSP_3DSASH) {
  SetSashGravity(0.0);
  // Any minimum above 0 keeps the splitter from unsplitting on a drag to an edge; the
  // real limits are applied while dragging.
  SetMinimumPaneSize(2 * kEdge);
  Bind(wxEVT_SPLITTER_DOUBLECLICKED, &PaneSplitter::OnDoubleClick, this);
  Bind(wxEVT_SIZE, &PaneSplitter::OnSize, this);
}

int PaneSplitter::InitialWidth() const {
  return initialWidth_ > 0 ? initialWidth_ : FontScaled(kInitialWidth);
}

void PaneSplitter::SplitPanes(wxWindow* left, wxWindow* right) {
  const SplitterLimits limits = Limits();
  const int initial = ClampSashPosition(InitialWidth(), {limits.minimum, InitialWidth()});
  SplitVertically(left, right, initial);
  sized_ = limits.maximum >= initial;
}

void PaneSplitter::SetPaneMinimums(int leftContent, int rightMinimum) {
  leftContent_ = leftContent;
  rightMinimum_ = rightMinimum;
  if (IsSplit() && sized_) Reclamp();
}

SplitterLimits PaneSplitter::Limits() const {
  return ComputeSplitterLimits(GetClientSize().x, leftContent_, rightMinimum_, GetSashSize());
}

int PaneSplitter::OnSashPositionChanging(int newSashPosition) {
  const int position = wxSplitterWindow::OnSashPositionChanging(newSashPosition);
  if (position == -1) return -1;  // vetoed
  return ClampSashPosition(position, Limits());
}

void PaneSplitter::OnDoubleClick(wxSplitterEvent& event) { event.Veto(); }

void PaneSplitter::OnSize(wxSizeEvent& event) {
  event.Skip();
  // The splitter's own handler runs after this one and moves the sash (gravity 0 keeps
  // it); bring the width within the new limits once it has.
  CallAfter([this] {
    if (!IsSplit()) return;
    if (!sized_) {
      // Until the window is wide enough for the initial width (it may be laid out in
      // steps), the initial width stays requested rather than clamped away.
      const SplitterLimits limits = Limits();
      const int initial = ClampSashPosition(InitialWidth(), {limits.minimum, InitialWidth()});
      if (limits.maximum < initial) return;
      sized_ = true;
      SetSashPosition(initial);
      return;
    }
    Reclamp();
  });
}

void PaneSplitter::Reclamp() {
  const int clamped = ClampSashPosition(GetSashPosition(), Limits());
  if (clamped != GetSashPosition()) SetSashPosition(clamped);
}

}  // namespace controls
