#include "platform/guid.h"

#include <glib.h>

namespace platform {

std::string NewGuidString() {
  gchar* text = g_uuid_string_random();
  std::string out(text);
  g_free(text);
  return out;
}

std::string GuidToString(const Guid& guid) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(36);
  for (std::size_t i = 0; i < guid.bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
    out += kHex[guid.bytes[i] >> 4];
    out += kHex[guid.bytes[i] & 0x0F];
  }
  return out;
}

}  // namespace platform
