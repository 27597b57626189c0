// Rewrites of analysed expression trees (see expr_rewrite.h).
#include "engine/sql/expr_rewrite.h"

#include <utility>
#include <vector>

namespace engine {

bool ContainsColumn(const TExpToken& node) {
  // The node's own `next` links a list sibling, not part of its tree.
  std::vector<const TExpToken*> pending;
  if (node.tokenClass == kClassColumn) return true;
  for (const TExpToken* child : {node.left, node.right, node.third}) {
    if (child != nullptr) pending.push_back(child);
  }
  while (!pending.empty()) {
    const TExpToken* n = pending.back();
    pending.pop_back();
    if (n->tokenClass == kClassColumn) return true;
    for (const TExpToken* child : {n->left, n->right, n->third, n->next}) {
      if (child != nullptr) pending.push_back(child);
    }
  }
  return false;
}

bool TurnComparisonAround(TExpToken& root) {
  TExpToken* node = &root;
  while (node->tokenClass == kClassUnary && node->left != nullptr) node = node->left;
  if (node->tokenClass != kClassBinary || !IsComparisonCode(node->code) || !node->left ||
      !node->right || ContainsColumn(*node->left) || !ContainsColumn(*node->right)) {
    return false;
  }
  std::swap(node->left, node->right);
  struct Mirror {
    int code;
    int mirrored;
    const char* text;
  };
  static constexpr Mirror kMirrors[] = {{kOpLess, kOpGreater, ">"},
                                        {kOpGreater, kOpLess, "<"},
                                        {kOpLessEqual, kOpGreaterEqual, ">="},
                                        {kOpGreaterEqual, kOpLessEqual, "<="}};
  for (const Mirror& m : kMirrors) {
    if (node->code == m.code) {
      node->code = m.mirrored;
      node->text = m.text;
      break;
    }
  }
  return true;
}

}  // namespace engine
