// A direct test of record bytes for the commonest filter conditions, used
// instead of the general evaluator when a whole tree qualifies: comparisons
// (= <> < > <= >=) of a SMALLINT, INTEGER or WORD column with a non-NULL
// constant of the same type, combined with AND, OR and NOT.
//
// It answers exactly what the evaluator answers for those trees: a NULL
// column makes = and the orderings false and <> true; AND and OR of such
// comparisons are never NULL, so NOT is a plain negation.
//
// The column is read from its slot in the record: the null-flag byte at the
// field's offset (1 = value present), then the value, little-endian.
// Example: Num INTEGER at offset 13 holding 7 is 01 07 00 00 00 at 13..17.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/storage/field_defs.h"
#include "engine/values/expr_token.h"

namespace engine {

class TCompiledTest {
 public:
  // Null when the tree has a node outside the forms above.
  static std::unique_ptr<TCompiledTest> Compile(const TExpToken& tree,
                                                const TFieldDefinitions& fields,
                                                std::size_t recordSize);
  bool Passes(const std::uint8_t* record) const { return Run(0, record); }

 private:
  enum class Op : std::uint8_t { And, Or, Not, Compare };
  struct Step {
    Op op = Op::Compare;
    int code = 0;              // comparison operator
    std::uint8_t type = 0;     // column type
    std::uint16_t offset = 0;  // null-flag byte of the column
    std::int64_t constant = 0;
    int a = 0, b = 0;  // operand steps
  };
  int Add(const TExpToken& node, const TFieldDefinitions& fields, std::size_t recordSize);
  bool Run(int step, const std::uint8_t* record) const;
  std::vector<Step> FSteps;
  bool FFailed = false;
};

}  // namespace engine
