// Format settings and their process-wide swap (see format_settings.h).
#include "engine/sql/format_settings.h"

#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace engine {
namespace {

// The format lock: held from before a swap to after the restore.
std::recursive_mutex& FormatLock() {
  static std::recursive_mutex* lock = new std::recursive_mutex();
  return *lock;
}

const FormatSettings& Language0Settings() {
  static const FormatSettings* settings = new FormatSettings();
  return *settings;
}

// Installed settings; written only under the format lock.
const FormatSettings* g_current = nullptr;

// Settings of a language other than 0. The host layer does not yet offer the
// locale's date, time and number items, so these are the documented
// fallbacks: "M/d/yyyy" and "dddd, MMMM dd, yyyy" dates, 24-hour times with
// leading zeros, and the language-0 separators and names.
// TODO(locale formats): read the items from the host's locale data once the
// host layer offers them (one call site, here).
FormatSettings BuildLocaleSettings(std::uint16_t /*languageId*/, std::uint16_t /*sortId*/) {
  FormatSettings s;
  s.dateSeparator = '/';
  s.shortDateFormat = "M/d/yyyy";
  s.longDateFormat = "dddd, MMMM dd, yyyy";
  return s;
}

}  // namespace

const FormatSettings& FormatSettingsFor(std::uint16_t languageId, std::uint16_t sortId) {
  if (languageId == 0) return Language0Settings();
  static std::mutex cacheLock;
  static auto* cache = new std::map<std::pair<std::uint16_t, std::uint16_t>,
                                    std::unique_ptr<const FormatSettings>>();
  std::lock_guard<std::mutex> guard(cacheLock);
  auto& slot = (*cache)[{languageId, sortId}];
  if (!slot) slot = std::make_unique<const FormatSettings>(BuildLocaleSettings(languageId, sortId));
  return *slot;
}

const FormatSettings& CurrentFormatSettings() {
  std::lock_guard<std::recursive_mutex> guard(FormatLock());
  return g_current ? *g_current : Language0Settings();
}

FormatSettingsScope::FormatSettingsScope(std::uint16_t languageId, std::uint16_t sortId) {
  const FormatSettings& settings = FormatSettingsFor(languageId, sortId);
  FormatLock().lock();
  previous_ = g_current;
  g_current = &settings;
}

FormatSettingsScope::~FormatSettingsScope() {
  g_current = previous_;
  FormatLock().unlock();
}

}  // namespace engine
