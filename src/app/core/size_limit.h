// The rules of the size-limit dialog that do not depend on any toolkit: the
// key filter of its edit, the presets of its combo box, the reading of a typed
// number, and the text the main window shows for a limit.
//
// A limit is a number of megabytes in a signed 32-bit integer; 0 means no limit.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace app {

// Control characters that every key filter lets through.
inline constexpr char kKeyBackspace = 8;
inline constexpr char kKeyEnter = 13;
inline constexpr char kKeyEscape = 27;
// Characters the size edit accepts besides the three above.
inline constexpr std::string_view kSizeKeySet = "0123456789";
// The size taken when the edit's text is not a number (an empty text included).
inline constexpr std::int32_t kInvalidSizeText = 10;

// True when `key` is in `set` or is Backspace, Enter or Escape; otherwise the
// key is replaced by the null character (the keystroke is swallowed) and the
// result is false.
bool KeyInSet(std::string_view set, char& key);

// The size of a preset of the combo box ("不限定" 0, "640MB" 640, "700MB" 700);
// nullopt for "自行設定" and for any other text.
std::optional<std::int32_t> PresetSize(std::string_view comboText);

// The edit's text read as a decimal signed 32-bit integer, or
// kInvalidSizeText when it is not one.
std::int32_t SizeFromText(std::string_view text);

// What the main window shows for a limit: "640 MB", or "不限定" for 0.
std::string SizeLimitText(std::int32_t megabytes);

}  // namespace app
