// The opener list shared by physical and in-memory file objects.
#include "engine/files/abstract_file.h"

namespace engine {

int TAbstractFile::FindOpener(std::int32_t id) const {
  for (std::size_t i = 0; i < openers_.size(); ++i) {
    if (openers_[i].id == id) return static_cast<int>(i);
  }
  return -1;
}

std::int32_t TAbstractFile::AddOpener() {
  // The id is the list length after the append, unless an earlier close left
  // that number in use; then one more than the largest id in use.
  auto id = static_cast<std::int32_t>(openers_.size() + 1);
  if (FindOpener(id) >= 0) {
    for (const Opener& opener : openers_) id = std::max(id, opener.id + 1);
  }
  openers_.push_back(Opener{id, 0});
  return id;
}

bool TAbstractFile::RemoveOpener(std::int32_t id) {
  const int index = FindOpener(id);
  if (index < 0) return false;
  openers_.erase(openers_.begin() + index);
  return true;
}

}  // namespace engine
