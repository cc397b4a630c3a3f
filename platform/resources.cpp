#include "platform/resources.h"

#include "res/strings.h"

namespace platform {

std::string LoadResourceString(unsigned id) {
  const char* text = res::FindString(id);
  return text != nullptr ? std::string(text) : std::string();
}

}  // namespace platform
