// TComponent: the little the components need of the toolkit's component
// model: a name, an owner, and the owner's list of the components it owns.
//
// Ownership here is bookkeeping only: the code that creates a component frees
// it (RAII); an owner that goes first lets its components go on without an
// owner. The session components use the owner's list to find their
// neighbours (an automatic session names every dataset and database of its
// owner).
#pragma once

#include <algorithm>
#include <string>
#include <vector>

namespace engine {

class TComponent {
 public:
  explicit TComponent(TComponent* owner = nullptr) : FOwner(owner) {
    if (FOwner) FOwner->FComponents.push_back(this);
  }
  virtual ~TComponent() {
    if (FOwner) std::erase(FOwner->FComponents, this);
    for (TComponent* child : FComponents) child->FOwner = nullptr;
  }
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const noexcept { return FOwner; }
  const std::string& Name() const noexcept { return FName; }
  void SetName(std::string name) { FName = std::move(name); }
  int ComponentCount() const noexcept { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int index) const {
    return FComponents.at(static_cast<std::size_t>(index));
  }

 private:
  TComponent* FOwner;
  std::string FName;
  std::vector<TComponent*> FComponents;
};

}  // namespace engine
