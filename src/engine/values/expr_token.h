// Token trees of the expression language: the node TExpToken, its class and
// operator codes, and the process-wide pool TExpTokenStack the nodes live in.
//
// A tree is built by the grammar (expr_parser.h), typed by the analysis
// (expr_analysis.h) and evaluated against records (expr_eval.h). Operands are
// linked as follows:
//
//   node                         left         right          third    next
//   unary operator (class 1)     operand      -              -        -
//   binary operator (class 2)    left         right          -        -
//   BETWEEN, NOT BETWEEN         tested       low bound      high     -
//   LIKE, NOT LIKE               tested       pattern        -        -
//   IN, NOT IN with a list       tested       first value    -        -
//     (each list value links the following one through `next`)
//   IN, NOT IN with a sub-select tested       sub-select     -        -
//   functions                    arguments in the order written
//     SUBSTRING(x FROM n FOR m)  x            n              m
//     REPLACE(s WITH t IN x)     s            t              x
//     POS / OCCURS(s IN x)       s            x              -
//     TRIM(... c FROM x)         c            x              -
//     IF(c THEN a ELSE b)        c            a              b
//     ROUND(x TO n)              x            n              -
//     CAST(x AS type)            x            type argument 1, type argument 2
//   a data type node (CREATE TABLE) keeps its arguments in right and third.
//
// Invariants:
//  - every node of a tree belongs to that tree only; freeing the root through
//    TExpTokenStack::FreeTree returns all of them to the pool;
//  - a value buffer never shrinks below kInitialValueCapacity and is given back
//    when a node returns to the pool with a larger one;
//  - a string value is stored zero-terminated (its data-type size counts the
//    terminator); every other value is stored in its field form (field_defs.h).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/field_defs.h"

namespace engine {

// Node classes.
inline constexpr int kClassUnary = 1;
inline constexpr int kClassBinary = 2;
inline constexpr int kClassStringCompare = 3;  // prepared string comparison of filters
inline constexpr int kClassColumn = 4;
inline constexpr int kClassConstant = 5;  // also a parameter
inline constexpr int kClassSubSelect = 6;
inline constexpr int kClassFunction = 10;
inline constexpr int kClassExtended = 12;  // LIKE, BETWEEN, IN

// Operator and function codes.
inline constexpr int kOpEqual = 3;
inline constexpr int kOpNotEqual = 4;
inline constexpr int kOpGreater = 5;
inline constexpr int kOpLess = 6;
inline constexpr int kOpGreaterEqual = 7;
inline constexpr int kOpLessEqual = 8;
inline constexpr int kOpNot = 9;
inline constexpr int kOpAnd = 10;
inline constexpr int kOpOr = 11;
inline constexpr int kOpNegate = 15;    // unary -
inline constexpr int kOpPlusSign = 16;  // unary +
inline constexpr int kOpAdd = 17;       // + and ||
inline constexpr int kOpSubtract = 18;
inline constexpr int kOpMultiply = 19;
inline constexpr int kOpDivide = 20;
inline constexpr int kFnSum = 23;
inline constexpr int kFnCount = 24;
inline constexpr int kFnMin = 25;
inline constexpr int kFnMax = 26;
inline constexpr int kFnAvg = 27;
inline constexpr int kOpLike = 31;
inline constexpr int kOpInList = 32;
inline constexpr int kOpInSelect = 33;
inline constexpr int kFnUpper = 35;
inline constexpr int kFnLower = 36;
inline constexpr int kOpBetween = 40;
inline constexpr int kOpNotBetween = 41;
inline constexpr int kOpNotLike = 42;
inline constexpr int kOpNotInList = 43;
inline constexpr int kOpNotInSelect = 44;
inline constexpr int kFnSubstring = 45;
inline constexpr int kFnReplace = 46;
inline constexpr int kFnPos = 47;
inline constexpr int kFnOccurs = 48;
inline constexpr int kFnTrimLeading = 49;
inline constexpr int kFnTrimTrailing = 50;
inline constexpr int kFnTrimBoth = 51;
inline constexpr int kFnCast = 52;
inline constexpr int kFnExtractYear = 53;
inline constexpr int kFnExtractMonth = 54;
inline constexpr int kFnExtractDay = 55;
inline constexpr int kFnExtractDayOfWeek = 56;
inline constexpr int kFnExtractHour = 57;
inline constexpr int kFnExtractMinute = 58;
inline constexpr int kFnExtractSecond = 59;
inline constexpr int kFnIf = 60;
inline constexpr int kFnAbs = 61;
inline constexpr int kFnRound = 62;

inline bool IsComparisonCode(int code) {
  return code >= kOpEqual && code <= kOpLessEqual;
}
inline bool IsAggregateCode(int code) {
  return code >= kFnSum && code <= kFnAvg;
}

// Value sizes in bytes of the fixed-size types.
inline constexpr int kSize16 = 2;  // BOOLEAN, SMALLINT, WORD
inline constexpr int kSize32 = 4;  // DATE, INTEGER, TIME
inline constexpr int kSize64 = 8;  // FLOAT, BCD, TIMESTAMP, BLOB

// BOOLEAN values as stored.
inline constexpr std::int16_t kBooleanTrue = -1;
inline constexpr std::int16_t kBooleanFalse = 0;

inline constexpr std::size_t kInitialValueCapacity = 251;  // bytes, a CHAR(250) value
inline constexpr std::size_t kMaxTokenName = 255;          // column and correlation names

class TExpToken {
 public:
  std::string text;  // the token as written
  int tokenClass = 0;
  int code = 0;
  int optimisationLevel = 0;
  int joinKind = 0;
  bool onClause = false;

  std::string columnName;       // at most kMaxTokenName
  std::string correlationName;  // at most kMaxTokenName
  int fieldNo = 0;              // of a resolved column
  void* sourceTable = nullptr;  // the resolver's table of a resolved column
  void* subQuery = nullptr;     // the statement layer's sub-query block

  std::vector<std::uint8_t> value;  // contents by data type (see top of file)
  bool isNull = false;
  bool isParameter = false;

  int dataType = 0;  // field type; 0 while unknown (an untyped NULL)
  int subType = 0;
  int size = 0;  // bytes; strings count their terminator
  int scale = 0;

  // A column reference that was written as a string, and what it was then.
  bool writtenAsString = false;
  int stringType = 0, stringSubType = 0, stringSize = 0, stringScale = 0;

  int partialLength = 0;  // prepared string comparison
  bool caseInsensitive = false;

  TExpToken* parent = nullptr;
  TExpToken* left = nullptr;
  TExpToken* right = nullptr;
  TExpToken* third = nullptr;
  TExpToken* next = nullptr;  // list link (IN lists)

  // Value access. Reads of a value shorter than its type read zeros for the
  // missing bytes, so a malformed value is never read past its end.
  std::string_view AsString() const;  // up to the first zero byte
  std::int16_t AsInt16() const;
  std::uint16_t AsUInt16() const;
  std::int32_t AsInt32() const;
  std::int64_t AsInt64() const;
  double AsDouble() const;
  bool AsBoolean() const { return AsInt16() != 0; }

  void SetString(std::string_view s);  // stores s and a terminating zero
  void SetBytes(const std::uint8_t* data, std::size_t length);
  void SetInt16(std::int16_t v);
  void SetUInt16(std::uint16_t v);
  void SetInt32(std::int32_t v);
  void SetInt64(std::int64_t v);
  void SetDouble(double v);
  void SetBoolean(bool v) { SetInt16(v ? kBooleanTrue : kBooleanFalse); }
  void SetNull() {
    value.clear();
    isNull = true;
  }

  // Type helpers.
  void SetType(int type, int sub, int sz, int sc) {
    dataType = type;
    subType = sub;
    size = sz;
    scale = sc;
  }
  bool IsMemo() const { return dataType == kFieldBlob && subType == kSubtypeMemo; }
  bool IsStringOrMemo() const { return dataType == kFieldString || IsMemo(); }
  bool IsNullConstant() const { return tokenClass == kClassConstant && isNull; }

  // Clears the node to the state of a fresh one.
  void Reset();

 private:
  template <typename T>
  T ReadFixed() const;
  template <typename T>
  void WriteFixed(T v);
};

// The pool of free nodes, shared by every thread under its critical section.
class TExpTokenStack {
 public:
  static TExpTokenStack& Instance();

  // A node reset to empty: a pooled one, or a new one when the pool is empty.
  TExpToken* Take();
  // Returns one node (its operands are not touched).
  void Give(TExpToken* node);
  // Returns every node of the tree rooted at `root`, depth first.
  void FreeTree(TExpToken* root);

  std::size_t FreeCount();

 private:
  static constexpr std::size_t kInitialPoolCapacity = 1024;  // nodes
  TExpTokenStack() { free_.reserve(kInitialPoolCapacity); }
  ~TExpTokenStack();
  std::recursive_mutex lock_;
  std::vector<TExpToken*> free_;
};

// Owner of a whole tree; frees it to the pool.
struct ExpTreeDeleter {
  void operator()(TExpToken* root) const { TExpTokenStack::Instance().FreeTree(root); }
};
using ExpTree = std::unique_ptr<TExpToken, ExpTreeDeleter>;

inline ExpTree NewToken() {
  return ExpTree(TExpTokenStack::Instance().Take());
}

// A deep copy of a tree (for callers that keep a prepared copy).
ExpTree CopyTree(const TExpToken& root);

}  // namespace engine
