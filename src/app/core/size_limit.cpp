// Size-limit rules; see size_limit.h.
#include "app/core/size_limit.h"

#include <charconv>

#include "app/core/texts.h"

namespace app {

bool KeyInSet(std::string_view set, char& key) {
  if (key == kKeyBackspace || key == kKeyEnter || key == kKeyEscape) return true;
  if (key != '\0' && set.find(key) != std::string_view::npos) return true;
  key = '\0';
  return false;
}

std::optional<std::int32_t> PresetSize(std::string_view comboText) {
  if (comboText == texts::kSizePresetNone) return 0;
  if (comboText == texts::kSizePreset640) return 640;
  if (comboText == texts::kSizePreset700) return 700;
  return std::nullopt;
}

std::int32_t SizeFromText(std::string_view text) {
  std::string_view digits = text;
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  if (digits.empty() || digits.front() == '+') return kInvalidSizeText;
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) return kInvalidSizeText;
  return value;
}

std::string SizeLimitText(std::int32_t megabytes) {
  if (megabytes == 0) return std::string(texts::kNoSizeLimit);
  return std::to_string(megabytes) + std::string(texts::kMegabyteSuffix);
}

}  // namespace app
