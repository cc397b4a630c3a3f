// Texts between the engine, which holds UTF-8 in std::string, and wx.
#pragma once

#include <wx/string.h>
#include <wx/textentry.h>

#include <string>
#include <string_view>

namespace app {

inline wxString Wx(std::string_view text) { return wxString::FromUTF8(text.data(), text.size()); }

// The entry's text (an edit, an editable combo) as UTF-8.
inline std::string Text(const wxTextEntry* entry) { return entry->GetValue().utf8_string(); }

// Shows the text without sending a change event.
inline void SetText(wxTextEntry* entry, std::string_view text) { entry->ChangeValue(Wx(text)); }

}  // namespace app
