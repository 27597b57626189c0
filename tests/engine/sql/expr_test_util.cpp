// Helpers of the expression tests (see expr_test_util.h).
#include "engine/sql/expr_test_util.h"

#include <cctype>

namespace expr_test {

using namespace engine;

namespace {

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

TestTable::TestTable(std::vector<TestColumn> columns) : columns_(std::move(columns)) {
  for (const TestColumn& c : columns_) {
    ExpTree v = NewToken();
    v->SetType(c.type, c.subType, c.size, c.scale);
    v->SetNull();
    row_.push_back(std::move(v));
  }
}

bool TestTable::ResolveColumn(TExpToken& node) {
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (!SameName(columns_[i].name, node.columnName)) continue;
    const TestColumn& c = columns_[i];
    node.fieldNo = static_cast<int>(i) + 1;
    node.sourceTable = this;
    node.SetType(c.type, c.subType, c.size, c.scale);
    return true;
  }
  return false;
}

void TestTable::ReadColumn(const TExpToken& column, TExpToken& value) {
  const TExpToken& stored = *row_.at(static_cast<std::size_t>(column.fieldNo - 1));
  value.value = stored.value;
  value.isNull = stored.isNull;
}

TExpToken& TestTable::Value(const std::string& name) {
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (SameName(columns_[i].name, name)) return *row_[i];
  }
  throw std::out_of_range("no column " + name);
}

TestTable MakeAllTypesTable() {
  return TestTable({
      {"Str", kFieldString, 0, 21},
      {"Memo", kFieldBlob, kSubtypeMemo, 8},
      {"Bin", kFieldBlob, kSubtypeBinary, 8},
      {"Day", kFieldDate, 0, 4},
      {"Flag", kFieldBoolean, 0, 2},
      {"Small", kFieldInt16, 0, 2},
      {"Int", kFieldInt32, 0, 4},
      {"Real", kFieldFloat, 0, 8},
      {"Money", kFieldBcd, 0, 8, 2},
      {"Raw", kFieldBytes, 0, 4},
      {"Clock", kFieldTime, 0, 4},
      {"Stamp", kFieldTimestamp, 0, 8},
      {"Word", kFieldUInt16, 0, 2},
      {"FileName", kFieldString, 0, 251},
      {"Path", kFieldString, 0, 251},
  });
}

ExpTree Parse(const std::string& text, int permissions, std::vector<TExpToken*>* parameters) {
  TExpressionParser parser(kErrSql, "", "test expression");
  parser.SetParameterList(parameters);
  parser.SetText(text);
  parser.ReadToken();
  ExpTree tree = parser.ParseExpression(permissions);
  EXPECT_EQ(parser.TokenKind(), kTokenEnd) << "left over in: " << text;
  return tree;
}

ExpTree Analyse(const std::string& text, TestTable* table, bool condition, int permissions) {
  ExpTree tree = Parse(text, permissions);
  AnalysisContext context;
  context.errorCode = kErrSql;
  context.contextName = "test expression";
  context.condition = condition;
  context.resolver = table;
  AnalyseExpression(context, tree);
  return tree;
}

ExpTree Evaluate(const std::string& text, TestTable& table) {
  ExpTree tree = Analyse(text, &table);
  EvaluationContext context;
  context.reader = &table;
  return EvaluateExpression(*tree, context);
}

std::string Dump(const TExpToken& node) {
  switch (node.tokenClass) {
    case kClassConstant:
      if (node.isNull) return node.isParameter ? "?" : "NULL";
      if (node.dataType == kFieldString) return "'" + std::string(node.AsString()) + "'";
      return node.text;
    case kClassColumn:
      return node.correlationName.empty() ? node.columnName
                                          : node.correlationName + "." + node.columnName;
    default: {
      std::string out = "(" + node.text;
      for (const TExpToken* child : {node.left, node.right, node.third}) {
        if (child == nullptr) continue;
        out += " " + Dump(*child);
        for (const TExpToken* item = child->next; item; item = item->next) {
          out += " " + Dump(*item);
        }
      }
      return out + ")";
    }
  }
}

void ExpectError(const std::function<void()>& action, const std::string& message, int code,
                 const std::string& table) {
  try {
    action();
    ADD_FAILURE() << "no error; expected: " << message;
  } catch (const EZORVADEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), code);
    const std::string expected = code == kErrFilter
                                     ? "Filter error for table '" + table + "' - " + message
                                     : "SQL error - " + message;
    EXPECT_EQ(e.Errors(0).Message(), expected.substr(0, kMaxErrorText));
  }
}

}  // namespace expr_test
