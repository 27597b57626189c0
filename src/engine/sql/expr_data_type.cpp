// Data types in CREATE TABLE, ALTER TABLE and CAST: the keyword table, the
// grammar of their arguments and the argument checks.
//
//   keyword           type  subtype   arguments                 size
//   SMALLINT            5             none                      2
//   WORD               12             none                      2
//   INTEGER, INT        6             none                      4
//   AUTOINC             6    29       none                      4
//   DECIMAL             8             [(precision [, scale])]   8, scale 0..4
//   NUMERIC, FLOAT      7             [(precision [, scale])]   8
//   MONEY               7    21       none                      8
//   CHARACTER, CHAR     1             (length), 1..250          length + 1
//   VARCHAR             1             (length), 1..250          length + 1
//   DATE, TIME          2, 10         none                      4
//   TIMESTAMP          11             none                      8
//   BOOLEAN             4             none                      2
//   BYTES               9             [(length)], 1..250        length, else 10
//   BLOB                3   21 + t    (0, t), t in 1 2 3 5 7    8
//
// Each argument is a primary; the first is kept in the node's `right`, the
// second in its `third`. Parsing only records them; CheckDataTypeArguments
// validates them and sets the size (CREATE TABLE calls it with the table name,
// the analysis of CAST with the context name).
#include "engine/sql/expr_error.h"
#include "engine/sql/expr_parser.h"

namespace engine {
namespace {

enum class TypeArguments { kNone, kPrecisionScale, kRequiredLength, kOptionalLength, kBlob };

struct DataTypeKeyword {
  std::string_view name;
  int type;
  int subtype;
  TypeArguments arguments;
  std::string_view label;  // as named in the grammar messages
};

constexpr DataTypeKeyword kDataTypes[] = {
    {"SMALLINT", kFieldInt16, 0, TypeArguments::kNone, ""},
    {"WORD", kFieldUInt16, 0, TypeArguments::kNone, ""},
    {"INTEGER", kFieldInt32, 0, TypeArguments::kNone, ""},
    {"INT", kFieldInt32, 0, TypeArguments::kNone, ""},
    {"AUTOINC", kFieldInt32, kSubtypeAutoIncrement, TypeArguments::kNone, ""},
    {"DECIMAL", kFieldBcd, 0, TypeArguments::kPrecisionScale, "DECIMAL"},
    {"NUMERIC", kFieldFloat, 0, TypeArguments::kPrecisionScale, "NUMERIC"},
    {"FLOAT", kFieldFloat, 0, TypeArguments::kPrecisionScale, "FLOAT"},
    {"MONEY", kFieldFloat, kSubtypeMoney, TypeArguments::kNone, ""},
    {"CHARACTER", kFieldString, 0, TypeArguments::kRequiredLength, "CHARACTER or CHAR"},
    {"CHAR", kFieldString, 0, TypeArguments::kRequiredLength, "CHARACTER or CHAR"},
    {"VARCHAR", kFieldString, 0, TypeArguments::kRequiredLength, "VARCHAR"},
    {"DATE", kFieldDate, 0, TypeArguments::kNone, ""},
    {"TIME", kFieldTime, 0, TypeArguments::kNone, ""},
    {"TIMESTAMP", kFieldTimestamp, 0, TypeArguments::kNone, ""},
    {"BOOLEAN", kFieldBoolean, 0, TypeArguments::kNone, ""},
    {"BYTES", kFieldBytes, 0, TypeArguments::kOptionalLength, "CHARACTER"},
    {"BLOB", kFieldBlob, 0, TypeArguments::kBlob, "BLOB"},
};

constexpr int kMaxStringLength = 250;  // characters of CHAR, VARCHAR and BYTES
constexpr int kDefaultBytesSize = 10;  // BYTES without a length
constexpr int kMaxDecimalScale = 4;    // the BCD form keeps the scale in one digit
constexpr int kBlobSubtypeBase = 21;   // subtype = 21 + BLOB type argument
constexpr int kBlobTypes[] = {1, 2, 3, 5, 7};

// The value of an integer constant argument, or false.
bool IntegerConstant(const TExpToken* node, std::int64_t& value) {
  if (node == nullptr || node->tokenClass != kClassConstant || node->isNull) return false;
  switch (node->dataType) {
    case kFieldInt32:
      value = node->AsInt32();
      return true;
    case kFieldInt16:
      value = node->AsInt16();
      return true;
    case kFieldUInt16:
      value = node->AsUInt16();
      return true;
    default:
      return false;
  }
}

void Attach(TExpToken& parent, TExpToken*& slot, ExpTree child) {
  child->parent = &parent;
  slot = child.release();
}

}  // namespace

bool TExpressionParser::IsDataTypeKeyword() const {
  for (const DataTypeKeyword& k : kDataTypes) {
    if (IsKeyword(k.name)) return true;
  }
  return false;
}

void TExpressionParser::ParseDataType(TExpToken& node, bool /*inExpression*/) {
  const DataTypeKeyword* keyword = nullptr;
  for (const DataTypeKeyword& k : kDataTypes) {
    if (IsKeyword(k.name)) keyword = &k;
  }
  if (keyword == nullptr) FailAtToken("SQL data type keyword expected, instead found '");
  node.SetType(keyword->type, keyword->subtype, 0, 0);
  ReadToken();
  const std::string label(keyword->label);
  switch (keyword->arguments) {
    case TypeArguments::kNone:
      return;
    case TypeArguments::kPrecisionScale:
      if (kind_ != '(') return;
      ReadToken();
      Attach(node, node.right, ParsePrimary(0));
      if (kind_ == ',') {
        ReadToken();
        Attach(node, node.third, ParsePrimary(0));
      } else if (kind_ != ')') {
        FailAtToken("Comma expected after first " + label + " argument, instead found '");
      }
      Expect(')',
             "Right parentheses expected after " + label + " data type arguments, instead found '");
      break;
    case TypeArguments::kRequiredLength:
      Expect('(', "Left parentheses expected after " + label + " data type, instead found '");
      ReadToken();
      Attach(node, node.right, ParsePrimary(0));
      Expect(')',
             "Right parentheses expected after " + label + " data type arguments, instead found '");
      break;
    case TypeArguments::kOptionalLength:
      if (kind_ != '(') return;
      ReadToken();
      Attach(node, node.right, ParsePrimary(0));
      Expect(')',
             "Right parentheses expected after " + label + " data type arguments, instead found '");
      break;
    case TypeArguments::kBlob:
      Expect('(', "Left parentheses expected after BLOB data type, instead found '");
      ReadToken();
      Attach(node, node.right, ParsePrimary(0));
      Expect(',', "Comma expected after first BLOB argument, instead found '");
      ReadToken();
      Attach(node, node.third, ParsePrimary(0));
      Expect(')', "Right parentheses expected after BLOB data type arguments, instead found '");
      break;
  }
  ReadToken();  // the closing parenthesis
}

void TExpressionParser::CheckDataTypeArguments(TExpToken& node, int errorCode,
                                               std::string_view name) {
  engine::CheckDataTypeArguments(node, errorCode, tableName_, name);
}

void CheckDataTypeArguments(TExpToken& node, int errorCode, std::string_view tableName,
                            std::string_view name) {
  const std::string in = " in " + std::string(name);
  auto fail = [&](const std::string& message) {
    RaiseExpressionError(errorCode, tableName, message);
  };
  std::int64_t value = 0;
  switch (node.dataType) {
    case kFieldString:
    case kFieldBytes: {
      if (node.dataType == kFieldBytes && node.right == nullptr) {
        node.size = kDefaultBytesSize;
        break;
      }
      if (!IntegerConstant(node.right, value)) fail("Length argument must be an integer" + in);
      if (value < 1 || value > kMaxStringLength) {
        fail("Length argument must be an integer greater than 0 and less than or equal to " +
             std::to_string(kMaxStringLength) + in);
      }
      node.size = static_cast<int>(value) + (node.dataType == kFieldString ? 1 : 0);
      break;
    }
    case kFieldDate:
    case kFieldInt32:
    case kFieldTime:
      node.size = kSize32;
      break;
    case kFieldBoolean:
    case kFieldInt16:
    case kFieldUInt16:
      node.size = kSize16;
      break;
    case kFieldFloat:
    case kFieldTimestamp:
      node.size = kSize64;
      break;
    case kFieldBcd:
      node.size = kSize64;
      node.scale = 0;
      if (node.third != nullptr) {
        if (!IntegerConstant(node.third, value)) fail("Scale argument must be an integer" + in);
        // A negative scale has no BCD form either.
        if (value < 0 || value > kMaxDecimalScale) {
          fail("Scale argument must be an integer less than or equal to 4 for the BCD data type " +
               std::string(name));
        }
        node.scale = static_cast<int>(value);
      }
      break;
    case kFieldBlob: {
      if (!IntegerConstant(node.right, value) || value != 0) {
        fail("First BLOB type argument must be an integer with the value of 0" + in);
      }
      if (!IntegerConstant(node.third, value)) fail("BLOB type argument must be an integer" + in);
      bool known = false;
      for (int t : kBlobTypes) known = known || value == t;
      if (!known) fail("BLOB type argument must be an integer equal to 1,2,3,5, or 7" + in);
      node.subType = kBlobSubtypeBase + static_cast<int>(value);
      node.size = kSize64;
      break;
    }
    default:
      break;
  }
}

}  // namespace engine
