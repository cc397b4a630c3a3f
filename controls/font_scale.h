// Sizes made for the program's own font. The sizes the program was laid out with (column
// widths, control and window sizes in pixels) were made for an 8-point font whose 52
// letters "A".."Z" "a".."z" measure kLayoutAlphabetWidth pixels; on a desktop whose font is
// wider or narrower they are scaled by the ratio of the two alphabets' widths, measured
// once. The pure functions may run on any thread; the others on the UI thread only.
#pragma once

#include <wx/gdicmn.h>
#include <wx/string.h>

#include <initializer_list>
#include <memory>
#include <vector>

class wxDataViewCtrl;
class wxWindow;

namespace controls {

// The layout font's alphabet: 6 pixels a letter on average.
inline constexpr int kLayoutAlphabetWidth = 312;

// partPixels scaled from the layout font to one whose alphabet measures alphabetWidth
// (rounded to the nearest pixel); an alphabet width of 0 or less leaves it as it is.
int ScaleToFont(int partPixels, int alphabetWidth);

// A default width that shows every text whole: the scaled default, or the widest text plus
// the padding its cell or heading adds when that is more.
int WidthForTexts(int scaledDefault, std::initializer_list<int> textWidths, int padding);

// A column width read from the settings as the column shows it: a stored value equal to
// the layout default stands for "never set by the user" and shows as defaultWidth; any
// other value is the user's and shows as it is.
int ShownColumnWidth(int stored, int layoutDefault, int defaultWidth);
// The inverse when storing: a column still at defaultWidth is stored as the layout default,
// so that a later start with another font scales it again.
int StoredColumnWidth(int shown, int layoutDefault, int defaultWidth);

// Widths that add up to at most `available` where they can: the room missing is taken from
// the columns above their least width, in proportion to what each has above it, and none
// goes below its least width. Widths already within `available` come back unchanged.
std::vector<int> FitWidthsInto(std::vector<int> widths, const std::vector<int>& least,
                               int available);

// Parts of these widths laid out left to right in lines at most `available` wide: the line
// index of each part. A part wider than `available` still gets a line of its own.
std::vector<int> FlowIntoLines(const std::vector<int>& widths, int available);

// The width of the layout alphabet in the program's normal font, measured on first use.
int AlphabetWidth();
// partPixels (or a size; -1 parts stay -1) scaled to the program's font.
int FontScaled(int partPixels);
wxSize FontScaled(wxSize partSize);

// The room a list heading and a list cell add to their text's width (the heading button's
// and the cell's padding, and the sort mark's place), in pixels.
int HeadingPadding(const wxWindow* list);
int CellPadding(const wxWindow* list);

// A list column's default width: the layout default scaled, widened so that the heading and
// each typical value show whole in the list's font.
int DefaultColumnWidth(const wxWindow* list, int layoutPixels, const wxString& heading,
                       std::initializer_list<wxString> typicalValues = {});

// The default widths of a list's columns, and the link between the widths a list shows and
// the ones the settings keep. Each column's default is its layout width scaled to the font,
// widened to show its heading and typical values whole. Whenever the list is resized, the
// columns still at their defaults narrow (never below their heading's and values' width)
// so that together they fit it, or widen back up to their defaults. A column whose width
// the user has changed, or that came from a stored width of the user's, keeps it. UI
// thread only.
class ColumnDefaults {
 public:
  // Appends the next column's default (list column `index`).
  void Add(const wxWindow* list, unsigned index, int layoutPixels, const wxString& heading,
           std::initializer_list<wxString> typicalValues = {});

  // The width column i (in the order added) shows for a stored width, and the one to store.
  int Shown(std::size_t i, int stored) const;
  int Stored(std::size_t i, int shown) const;

  // From now on fits the columns at their defaults to the list's width at every resize.
  // Columns other than those added count with their width, or their least width until they
  // are laid out; a last column without a heading with its least width.
  void FitOnResize(wxDataViewCtrl* list);

 private:
  struct Column {
    unsigned index = 0;
    int layoutPixels = 0;
    int scaled = 0;    // the default before fitting
    int width = 0;     // the default as fitted
    int previous = 0;  // the one fitted before, which GTK may still report for a while
    int least = 0;
    bool atDefault = true;
  };
  struct State {
    std::vector<Column> columns;
    bool pending = false;
  };
  static void Fit(wxDataViewCtrl* list, State& state);

  std::shared_ptr<State> state_ = std::make_shared<State>();
};

// The widest line of a text (lines split at "\n") in the window's font.
int TextWidth(const wxWindow* window, const wxString& text);

}  // namespace controls
