// The program's own art, embedded as PNG data. Read-only; any thread may call.
#pragma once

#include <cstddef>

namespace res {

struct PngData {
  const unsigned char* data;
  std::size_t size;
};

// The program's icon at 16, 32 or 48 pixels; {nullptr, 0} for other sizes.
PngData AppIconPng(int size);

}  // namespace res
