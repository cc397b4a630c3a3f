// The codes that describe an action without being part of the action class: its type and,
// for a user-interface action, its kind, as stored and as ActionSettings carries them.
// Plain values; any thread.
#pragma once

#include <cstdint>

namespace engine {

// An action's type.
inline constexpr std::int32_t kActionEmail = 0;
inline constexpr std::int32_t kActionSms = 1;
inline constexpr std::int32_t kActionExecuteSql = 2;
inline constexpr std::int32_t kActionExecuteProgram = 3;
inline constexpr std::int32_t kActionUserInterface = 4;

// A user-interface action's kind (uiType).
inline constexpr std::int32_t kUiActionMessageBox = 0;
inline constexpr std::int32_t kUiActionBalloon = 1;
inline constexpr std::int32_t kUiActionRestoreWindow = 2;

}  // namespace engine
