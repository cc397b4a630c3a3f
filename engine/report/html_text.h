// Data values on the program's HTML pages. Names, data sources, SQL texts, paths,
// addresses and alert titles go into a page through AppendHtmlText: the five characters
// that HTML gives a meaning are escaped and every character outside ASCII becomes a
// numeric character reference, so a page is pure ASCII whatever the data holds and text
// without those characters passes unchanged. Pure functions; any thread may call.
#pragma once

#include <string>
#include <string_view>

namespace engine {

// Appends the UTF-8 text to the page: '&' as "&amp;", '<' as "&lt;", '>' as "&gt;", '"'
// as "&quot;", '\'' as "&#39;", each character above U+007F as "&#N;" (N its code point in
// decimal). An ill-formed UTF-8 sequence becomes "&#65533;" (the replacement character).
void AppendHtmlText(std::string& page, std::string_view utf8);

// The same as a new string.
std::string HtmlText(std::string_view utf8);

}  // namespace engine
