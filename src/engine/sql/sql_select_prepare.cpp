// Preparation of a SELECT: result columns (* expanded, analysed, named),
// ORDER BY and GROUP BY bound to result columns, HAVING matched with the
// aggregate columns, and the result table created (sql_executor.h).
#include <algorithm>

#include "engine/files/table_names.h"
#include "engine/sql/expr_error.h"
#include "engine/sql/sql_executor.h"
#include "engine/table/data_directory.h"
#include "engine/table/data_session.h"

namespace engine {

namespace {

constexpr const char* kSourceColumns = "source columns";
constexpr const char* kMemoryAlias = "MEMORY";
constexpr std::size_t kMaxResultName = 30;    // characters, the longest field name
constexpr int kMaxFixedExpressionSize = 251;  // string and bytes results, with the terminator

[[noreturn]] void Fail(const std::string& message) {
  RaiseExpressionError(kErrSql, {}, message);
}

int AggregateKind(int code) {
  switch (code) {
    case kFnSum:
      return kAggregateSum;
    case kFnMin:
      return kAggregateMin;
    case kFnMax:
      return kAggregateMax;
    case kFnAvg:
      return kAggregateAvg;
    case kFnCount:
      return kAggregateCount;
    default:
      return kAggregateNone;
  }
}

const char* AggregatePrefix(int kind) {
  static constexpr const char* kPrefixes[] = {"",        "Sum Of ",     "Min Of ",
                                              "Max Of ", "Average Of ", "Count Of "};
  return kPrefixes[kind];
}

std::string LastChars(const std::string& s, std::size_t n) {
  return s.size() > n ? s.substr(s.size() - n) : s;
}

ExpTree ColumnNode(const std::string& correlation, const std::string& name) {
  ExpTree node = NewToken();
  node->tokenClass = kClassColumn;
  node->columnName = name;
  node->correlationName = correlation;
  node->text = correlation.empty() ? name : correlation + "." + name;
  return node;
}

bool TreesEqual(const TExpToken* a, const TExpToken* b) {
  if (a == nullptr || b == nullptr) return a == b;
  if (a->tokenClass != b->tokenClass || a->code != b->code) return false;
  if (a->tokenClass == kClassColumn) {
    if (a->sourceTable != b->sourceTable || a->fieldNo != b->fieldNo ||
        !SameText(a->columnName, b->columnName))
      return false;
  } else if (a->tokenClass == kClassConstant) {
    if (a->isNull != b->isNull || a->value != b->value || a->dataType != b->dataType) return false;
  }
  return TreesEqual(a->left, b->left) && TreesEqual(a->right, b->right) &&
         TreesEqual(a->third, b->third) && TreesEqual(a->next, b->next);
}

}  // namespace

void TQueryExecutor::PrepareSelect() {
  TQueryBlock& b = *FBlock;
  if (b.distinct && b.groupByGiven) b.distinct = false;
  OpenSources(!b.requestLive);
  MarkOuterJoins(b.where.get());
  std::vector<std::string> aliases;
  for (TQueryColumn& c : b.columns) {
    const TExpToken& e = *c.expression;
    if (e.tokenClass == kClassColumn && e.columnName == "*") {
      if (!c.alias.empty())
        Fail("Invalid use of column correlation name '" + c.alias + "'" + " for " + "'" + e.text +
             "'" + " specified in source columns");
      std::vector<TOpenSource*> tables;
      if (e.correlationName.empty()) {
        for (auto& s : FSources) tables.push_back(s.get());
      } else if (TOpenSource* s = FColumns->FindSource(e.correlationName)) {
        tables.push_back(s);
      } else {
        Fail("Invalid column name '" + e.columnName + "'" + " or table correlation name " + "'" +
             e.correlationName + "'" + " specified in source columns");
      }
      for (TOpenSource* s : tables) {
        for (const TFieldDefinition& f : s->Cursor().Fields()) {
          AddResultColumn(ColumnNode(s->CorrelationName(), f.Name()), {}, {});
          aliases.emplace_back();
        }
      }
      continue;
    }
    AddResultColumn(CopyTree(e), c.alias, c.text);
    aliases.push_back(c.alias);
  }
  if (FResult.size() > static_cast<std::size_t>(kMaxResultColumns))
    Fail("Maximum number of columns (" + std::to_string(kMaxResultColumns) +
         ") in result set exceeded");
  const bool anyAggregate =
      std::any_of(FResult.begin(), FResult.end(), [](const auto& r) { return r.aggregate != 0; });
  const bool allAggregate =
      std::all_of(FResult.begin(), FResult.end(), [](const auto& r) { return r.aggregate != 0; });
  if (anyAggregate && !allAggregate && !b.groupByGiven)
    Fail("Invalid use of aggregate function(s), the necessary GROUP BY clause is missing");
  NameResultColumns(aliases);
  if (!b.groupByGiven) {
    if (b.having) Fail("A GROUP BY clause must exist in order to use the HAVING clause");
    if (allAggregate && !FResult.empty()) FAggregateOnly = FGrouped = true;
  } else {
    FGrouped = true;
  }
  FOrderKeys = BindItems(b.orderBy, "ORDER BY");
  if (FGrouped && !FAggregateOnly) {
    FGroupKeys = BindItems(b.groupBy, "GROUP BY");
  } else if (b.distinct) {
    if (FResult.size() > static_cast<std::size_t>(kMaxResultColumns))
      Fail("Maximum number of columns (" + std::to_string(kMaxResultColumns) +
           ") in DISTINCT clause exceeded");
    for (std::size_t i = 0; i < FResult.size(); ++i) {
      if (FResult[i].type->dataType == kFieldBlob)
        Fail("Invalid BLOB column '" + FResult[i].name + "'" + " specified in DISTINCT clause");
    }
  }
  if (b.having) PrepareHaving();
  FLive = LiveResultPossible();
  if (!FLive) CreateResultTable();
}

// A live result is the source table's own cursor with the conditions as its
// filters. It is given here when the result columns are the table's own
// columns in table order (no computed or renamed column, which would need
// fields the table does not have), over one table without DISTINCT,
// grouping, ORDER BY, INTO or sub-selects.
bool TQueryExecutor::LiveResultPossible() const {
  const TQueryBlock& b = *FBlock;
  if (!b.requestLive || !b.intoName.empty() || b.distinct || FGrouped || b.having ||
      !b.orderBy.empty() || FSources.size() != 1 || !b.subSelects.empty())
    return false;
  TDataCursor& cursor = FSources.front()->Cursor();
  if (FResult.size() != cursor.FieldCount()) return false;
  for (std::size_t i = 0; i < FResult.size(); ++i) {
    const TResultColumn& r = FResult[i];
    if (!r.plain || r.field != i + 1 || r.name != cursor.Fields()[i].Name()) return false;
  }
  return true;
}

// The later of the two tables of a LEFT or RIGHT JOIN comparison (a RIGHT
// JOIN's table stands first) is the NULL-extended one.
void TQueryExecutor::MarkOuterJoins(const TExpToken* node) {
  if (node == nullptr) return;
  if (node->tokenClass == kClassBinary && IsComparisonCode(node->code) &&
      (node->joinKind == kJoinLeft || node->joinKind == kJoinRight)) {
    std::vector<const TExpToken*> pending{node};
    TOpenSource* latest = nullptr;
    while (!pending.empty()) {
      const TExpToken* n = pending.back();
      pending.pop_back();
      TOpenSource* source = nullptr;
      std::uint32_t field = 0;
      if (n->tokenClass == kClassColumn &&
          FColumns->Lookup(n->correlationName, n->columnName, source, field) &&
          (latest == nullptr || source->Ordinal() > latest->Ordinal()))
        latest = source;
      for (const TExpToken* child : {n->left, n->right, n->third, n->next})
        if (child != nullptr) pending.push_back(child);
    }
    if (latest != nullptr && latest != FSources.front().get()) latest->SetJoinType(kSourceOuter);
    return;
  }
  for (const TExpToken* child : {node->left, node->right, node->third}) MarkOuterJoins(child);
}

void TQueryExecutor::AddResultColumn(ExpTree expression, const std::string& alias,
                                     const std::string& text) {
  TResultColumn r;
  Analyse(expression, kSourceColumns, false);
  TExpToken& e = *expression;
  r.type = NewToken();
  if (e.tokenClass == kClassColumn) {
    r.plain = true;
    r.source = static_cast<TOpenSource*>(e.sourceTable);
    r.field = static_cast<std::uint32_t>(e.fieldNo);
  } else if (e.tokenClass == kClassFunction && IsAggregateCode(e.code)) {
    r.aggregate = AggregateKind(e.code);
    r.countAll =
        e.code == kFnCount && e.left->tokenClass == kClassColumn && e.left->columnName == "*";
    r.argumentType = NewToken();
    if (r.countAll) {
      r.argumentType->SetType(kFieldInt32, 0, kSize32, 0);
    } else {
      r.argumentType->SetType(e.left->dataType, e.left->subType, e.left->size, e.left->scale);
    }
  }
  r.type->SetType(e.dataType, e.subType, e.size, e.scale);
  if (r.aggregate == kAggregateAvg) r.type->SetType(kFieldFloat, 0, kSize64, 0);
  if (r.aggregate == kAggregateSum && (e.dataType == kFieldInt16 || e.dataType == kFieldUInt16))
    r.type->SetType(kFieldInt32, 0, kSize32, 0);
  if (r.type->dataType == kFieldInvalid) r.type->SetType(kFieldString, 0, 2, 0);
  if (!r.plain && ((r.type->dataType == kFieldString && r.type->size > kMaxFixedExpressionSize) ||
                   (r.type->dataType == kFieldBytes && r.type->size > kMaxFixedExpressionSize - 1)))
    Fail("Column expression '" + text + "'" + " exceeds the maximum allowable field size");
  r.expression = std::move(expression);
  (void)alias;
  FResult.push_back(std::move(r));
}

void TQueryExecutor::NameResultColumns(const std::vector<std::string>& aliases) {
  for (std::size_t i = 0; i < FResult.size(); ++i) {
    TResultColumn& r = FResult[i];
    const TExpToken& e = *r.expression;
    std::string name;
    if (!aliases[i].empty()) {
      name = LastChars(aliases[i], kMaxResultName);
    } else if (r.plain) {
      name = e.columnName;
    } else if (r.aggregate != kAggregateNone) {
      const TExpToken& argument = *e.left;
      name = AggregatePrefix(r.aggregate) +
             (argument.tokenClass == kClassColumn ? argument.columnName : std::string("Expr"));
    } else {
      name = "Expression";
    }
    name = LastChars(name, kMaxResultName);
    const auto taken = [&](const std::string& n) {
      for (std::size_t j = 0; j < i; ++j)
        if (SameText(FResult[j].name, n)) return true;
      return false;
    };
    std::string candidate = name;
    for (int k = 1; taken(candidate); ++k) {
      const std::string suffix = "_" + std::to_string(k);
      candidate = LastChars(name, kMaxResultName - suffix.size()) + suffix;
    }
    r.name = candidate;
  }
}

std::vector<TQueryExecutor::TSortKey> TQueryExecutor::BindItems(
    const std::vector<TQueryOrderItem>& items, const char* clause) {
  const std::string suffix = std::string(" specified in ") + clause + " clause";
  if (items.size() > static_cast<std::size_t>(kMaxResultColumns))
    Fail("Maximum number of columns (" + std::to_string(kMaxResultColumns) + ") in " + clause +
         " clause " + "exceeded");
  const bool groupBy = std::string(clause) == "GROUP BY";
  std::vector<TSortKey> keys;
  for (const TQueryOrderItem& item : items) {
    std::size_t found = FResult.size();
    if (item.columnName.empty()) {
      if (item.number >= 1 && static_cast<std::size_t>(item.number) <= FResult.size())
        found = static_cast<std::size_t>(item.number) - 1;
      if (found == FResult.size() || (!groupBy && FResult[found].type->dataType == kFieldBlob))
        Fail("Invalid column number '" + std::to_string(item.number) + "'" + suffix);
    } else {
      for (std::size_t i = 0; i < FResult.size() && found == FResult.size(); ++i) {
        const TResultColumn& r = FResult[i];
        const bool columnMatch = r.plain && SameText(r.expression->columnName, item.columnName);
        if (!item.correlationName.empty()) {
          if (columnMatch && SameText(r.source->CorrelationName(), item.correlationName)) found = i;
        } else if (columnMatch || SameText(r.name, item.columnName)) {
          found = i;
        }
      }
      if (found == FResult.size())
        Fail("Invalid column name '" + item.columnName + "'" + " or table correlation name " + "'" +
             item.correlationName + "'" + suffix);
    }
    if (groupBy && FResult[found].type->dataType == kFieldBlob)
      Fail("Invalid BLOB column '" + FResult[found].name + "'" + suffix);
    keys.push_back({found, item.descending});
  }
  return keys;
}

void TQueryExecutor::PrepareHaving() {
  AnalyseCondition(FBlock->having, "HAVING clause", "HAVING clause must be a boolean expression");
  FHaving = CopyTree(*FBlock->having);
  // Aggregates and columns of the copy read the merged row's result columns.
  std::vector<TExpToken*> pending{FHaving.get()};
  while (!pending.empty()) {
    TExpToken* n = pending.back();
    pending.pop_back();
    const bool aggregate = n->tokenClass == kClassFunction && IsAggregateCode(n->code);
    if (aggregate || n->tokenClass == kClassColumn) {
      std::size_t found = FResult.size();
      for (std::size_t i = 0; i < FResult.size() && found == FResult.size(); ++i) {
        const TResultColumn& r = FResult[i];
        if (aggregate ? (r.aggregate != 0 && TreesEqual(r.expression.get(), n))
                      : (r.plain && r.source == n->sourceTable &&
                         r.field == static_cast<std::uint32_t>(n->fieldNo)))
          found = i;
      }
      if (found == FResult.size()) Fail("Expression in HAVING clause not found in source columns");
      if (aggregate) {
        TExpTokenStack::Instance().FreeTree(n->left);
        n->left = nullptr;
      }
      n->tokenClass = kClassColumn;
      n->code = 0;
      n->fieldNo = static_cast<int>(found) + 1;
      n->sourceTable = this;
      const TExpToken& t = *FResult[found].type;
      n->SetType(t.dataType, t.subType, t.size, t.scale);
      continue;
    }
    for (TExpToken* child : {n->left, n->right, n->third, n->next})
      if (child != nullptr) pending.push_back(child);
  }
}

void TQueryExecutor::CreateResultTable() {
  TQueryBlock& b = *FBlock;
  TDataSession& session = *FDirectory->Session();
  std::string name;
  TCursorOptions options;
  options.exclusive = true;
  if (!b.intoName.empty() && b.intoMemory) {
    const std::size_t slash = b.intoName.find_last_of('\\');
    name = slash == std::string::npos ? b.intoName : b.intoName.substr(slash + 1);
    FResultDirectory = session.OpenDirectory("MEMORY", "");
    options.inMemory = true;
  } else if (!b.intoName.empty() && b.intoName.find_first_of(":\\") != std::string::npos) {
    const std::size_t slash = b.intoName.find_last_of('\\');
    const std::string path =
        slash == std::string::npos ? b.intoName.substr(0, 2) : b.intoName.substr(0, slash + 1);
    name = slash == std::string::npos ? b.intoName.substr(2) : b.intoName.substr(slash + 1);
    FResultDirectory = session.OpenDirectory("", path);
  } else {
    FResultDirectory = session.OpenDirectory("", session.TempDirectory());
    name = b.intoName.empty() ? FResultDirectory->TempTableName() : b.intoName;
    if (b.intoName.empty()) options.temporary = options.dropOnClose = true;
  }
  const TTableDefinition d = ResultDefinition();
  FResultCursor = std::make_unique<TDataCursor>(FResultDirectory, name);
  FResultCursor->SetOptions(options);
  const bool addPassword = d.encrypted && !session.HasPassword(b.password);
  if (addPassword) session.AddPassword(b.password);
  try {
    FResultCursor->CreateTable(d);
    FResultCursor->Open();
  } catch (...) {
    if (addPassword) session.RemovePassword(b.password);
    throw;
  }
  if (addPassword) session.RemovePassword(b.password);
}

// A small result of a run without INTO, kept in memory (sql_executor.h).
TDataCursor& TQueryExecutor::MemoryResult() {
  if (FMemoryResult) return *FMemoryResult;
  TDataSession& session = *FDirectory->Session();
  FMemoryDirectory = session.OpenDirectory(kMemoryAlias, "");
  TCursorOptions options;
  options.exclusive = true;
  options.inMemory = true;
  options.temporary = options.dropOnClose = true;
  auto cursor = std::make_unique<TDataCursor>(FMemoryDirectory, FMemoryDirectory->TempTableName());
  cursor->SetOptions(options);
  cursor->CreateTable(ResultDefinition());
  cursor->Open();
  FMemoryResult = std::move(cursor);
  return *FMemoryResult;
}

TTableDefinition TQueryExecutor::ResultDefinition() const {
  const TQueryBlock& b = *FBlock;
  TTableDefinition d;
  d.languageId = b.languageId;
  d.sortId = b.sortId;
  d.overwrite = true;
  d.noPrimaryKey = true;
  d.encrypted = !b.password.empty();
  d.password = b.password;
  for (const TResultColumn& r : FResult) {
    const TExpToken& t = *r.type;
    std::uint8_t size = 0;
    if (r.plain) {
      const TFieldDefinition& f = r.source->Cursor().Fields()[r.field - 1];
      TFieldDefinition& out = AppendField(d.fields, r.name, f.Type(), f.Size());
      out.SetSubtype(f.IsAutoIncrement() ? 0 : f.Subtype());
      out.SetScale(f.Scale());
      out.SetCharCase(f.CharCase());
      out.SetDescription(f.Description());
      continue;
    }
    if (t.dataType == kFieldString) size = static_cast<std::uint8_t>(std::max(1, t.size - 1));
    if (t.dataType == kFieldBytes || t.dataType == kFieldVarBytes)
      size = static_cast<std::uint8_t>(std::max(1, t.size));
    TFieldDefinition& out =
        AppendField(d.fields, r.name, static_cast<std::uint8_t>(t.dataType), size);
    out.SetSubtype(static_cast<std::uint8_t>(t.subType));
    if (t.dataType == kFieldBcd) out.SetScale(static_cast<std::uint8_t>(t.scale));
  }
  return d;
}

}  // namespace engine
