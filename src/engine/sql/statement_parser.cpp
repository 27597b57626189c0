// The statement dispatch and the pieces every statement grammar shares: names
// and tables, expressions under a context, integer arguments, COMMIT
// INTERVAL, LANGUAGE and SORT, ENCRYPTED WITH and the end of a statement.
//
// Dispatch on the first token:
//   SELECT 1   INSERT 2   UPDATE 3   DELETE 4
//   CREATE TABLE 5, CREATE [UNIQUE|ASC|ASCENDING|DESC|DESCENDING|NOCASE] INDEX 8
//   ALTER TABLE 6   DROP TABLE 7   DROP INDEX 9
// A statement ends with the end of the text or with a ';', after which
// nothing more is read.
#include "engine/sql/statement_parser.h"

#include <limits>

#include "engine/errors.h"
#include "engine/sql/expr_error.h"
#include "engine/table/data_directory.h"
#include "engine/table/data_session.h"
#include "engine/values/format_settings.h"
#include "platform/locale.h"

namespace engine {

namespace {

constexpr std::int64_t kMaxInt32 = std::numeric_limits<std::int32_t>::max();

// Keywords after CREATE that begin a CREATE INDEX; the token stays current.
constexpr std::string_view kCreateIndexStarts[] = {"INDEX", "UNIQUE",     "ASC",   "ASCENDING",
                                                   "DESC",  "DESCENDING", "NOCASE"};

}  // namespace

void StringToColumn(TExpToken& node) {
  if (node.tokenClass != kClassConstant || node.dataType != kFieldString || node.isParameter) {
    return;
  }
  const std::string name(node.AsString());
  node.writtenAsString = true;
  node.stringType = node.dataType;
  node.stringSubType = node.subType;
  node.stringSize = node.size;
  node.stringScale = node.scale;
  node.tokenClass = kClassColumn;
  node.columnName = name.substr(0, kMaxTokenName);
  node.isNull = false;
  node.value.clear();
  node.SetType(0, 0, 0, 0);  // typed when resolved
}

std::string ColumnNameOf(const TExpToken& node) {
  if (node.tokenClass == kClassColumn) return node.columnName;
  return node.text.substr(0, kMaxStatementName);
}

TStatementParser::TStatementParser(TQueryStatement& statement)
    : statement_(statement), p_(statement.Parser()) {
  InstallSubSelectParser();
}

std::size_t TStatementParser::ParseStatement() {
  TDataQuery& query = statement_.MainQuery();
  if (IsKeyword("SELECT")) {
    ParseSelect(query, false);
  } else if (IsKeyword("INSERT")) {
    ParseInsert(query);
  } else if (IsKeyword("UPDATE")) {
    ParseUpdate(query);
  } else if (IsKeyword("DELETE")) {
    ParseDelete(query);
  } else if (IsKeyword("CREATE")) {
    Next();
    if (Accept("TABLE")) {
      ParseCreateTable(query);
    } else {
      bool index = false;
      for (std::string_view k : kCreateIndexStarts) index = index || IsKeyword(k);
      if (!index) FailAtToken("TABLE or INDEX keyword expected, instead found '");
      ParseCreateIndex(query);
    }
  } else if (IsKeyword("ALTER")) {
    Next();
    Expect("TABLE", "TABLE keyword expected, instead found '");
    ParseAlterTable(query);
  } else if (IsKeyword("DROP")) {
    Next();
    if (Accept("TABLE")) {
      ParseDropTable(query);
    } else if (Accept("INDEX")) {
      ParseDropIndex(query);
    } else {
      FailAtToken("TABLE or INDEX keyword expected, instead found '");
    }
  } else {
    FailAtToken(
        "SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, or DROP keyword expected, instead found "
        "'");
  }
  // At a ';' the parse stops behind it; at the end, at the end.
  return IsKind(';') ? p_.TokenEnd() : p_.TokenStart();
}

void TStatementParser::ExpectEnd(std::string_view kindName) {
  if (AtEnd() || IsKind(';')) return;
  FailAtToken("End of " + std::string(kindName) + " statement expected, instead found '");
}

// ---- Tokens and names ----------------------------------------------------------

bool TStatementParser::IsAnyKeyword(std::initializer_list<std::string_view> keywords) const {
  for (std::string_view k : keywords) {
    if (IsKeyword(k)) return true;
  }
  return false;
}

bool TStatementParser::AtName() const {
  return IsKind(kTokenSymbol) || IsKind(kTokenString);
}

bool TStatementParser::AtNameOrBracket() const {
  return AtName() || IsKind(kTokenBracketed);
}

bool TStatementParser::Accept(std::string_view keyword) {
  if (!IsKeyword(keyword)) return false;
  Next();
  return true;
}

void TStatementParser::Expect(std::string_view keyword, std::string_view message) {
  if (!IsKeyword(keyword)) FailAtToken(message);
  Next();
}

void TStatementParser::ExpectChar(char c, std::string_view message) {
  if (!IsKind(static_cast<unsigned char>(c))) FailAtToken(message);
  Next();
}

void TStatementParser::Fail(std::string_view message) const {
  p_.Fail(message);
}

void TStatementParser::FailAtToken(std::string_view prefix) const {
  Fail(std::string(prefix) + p_.TokenText() + "'");
}

std::string TStatementParser::ReadName(std::string_view message) {
  if (!AtName()) FailAtToken(message);
  std::string name = p_.TokenText().substr(0, kMaxStatementName);
  Next();
  return name;
}

TSourceTable& TStatementParser::ReadSourceTable(TDataQuery& query, std::string_view message) {
  const bool memory = Accept("MEMORY");
  const std::string text = ReadName(message);
  const TTableNameParts parts = SplitTableName(text, memory, statement_.DirectoryPath());
  auto table = std::make_unique<TSourceTable>();
  table->tableName = parts.tableName;
  table->directory = parts.directory;
  table->pathGiven = parts.pathGiven;
  table->correlationName = parts.correlationName;
  table->memory = memory;
  table->ordinal = static_cast<int>(query.sourceTables.size()) + 1;
  query.sourceTables.push_back(std::move(table));
  return *query.sourceTables.back();
}

void TStatementParser::ReadResultTable(TDataQuery& query) {
  query.inMemoryResult = Accept("MEMORY");
  query.resultTableName = ReadName("Table name expected, instead found '");
}

std::string TStatementParser::ReadAsName() {
  Next();  // AS
  return ReadName("Symbol or string expected after AS keyword, instead found '");
}

void TStatementParser::CheckDuplicateCorrelation(const TDataQuery& query,
                                                 const TSourceTable& table) const {
  for (const auto& other : query.sourceTables) {
    if (other.get() != &table && SameText(other->correlationName, table.correlationName)) {
      Fail("Duplicate table correlation name '" + table.correlationName + "'" +
           " found in source tables");
    }
  }
}

// ---- Expressions -----------------------------------------------------------------

ExpTree TStatementParser::Expression(int permissions, std::string_view context) {
  p_.SetContextName(context);
  ExpTree tree = p_.ParseExpression(permissions);
  p_.SetContextName(kContextStatement);
  return tree;
}

ExpTree TStatementParser::Term(int permissions, std::string_view context) {
  p_.SetContextName(context);
  ExpTree tree = p_.ParseTerm(permissions);
  p_.SetContextName(kContextStatement);
  return tree;
}

ExpTree TStatementParser::ColumnReference(std::string_view context, std::string_view emptyMessage) {
  ExpTree node = Term(0, context);
  if (!node) Fail(emptyMessage);
  StringToColumn(*node);
  if (node->tokenClass == kClassColumn && node->columnName.empty()) Fail(emptyMessage);
  return node;
}

std::int64_t TStatementParser::IntegerArgument(std::string_view context,
                                               std::string_view emptyMessage) {
  ExpTree term = Term(0, context);
  if (!term) Fail(emptyMessage);
  int sign = 1;
  const TExpToken* value = term.get();
  if (value->tokenClass == kClassUnary && value->left != nullptr) {
    sign = value->code == kOpNegate ? -1 : 1;
    value = value->left;
  }
  if (value->tokenClass != kClassConstant || value->isNull || value->dataType != kFieldInt32) {
    return 0;
  }
  return sign * static_cast<std::int64_t>(value->AsInt32());
}

void TStatementParser::ParseCommitInterval(TDataQuery& query) {
  if (!Accept("COMMIT")) return;
  Expect("INTERVAL", "INTERVAL keyword expected after COMMIT keyword, instead found '");
  const std::int64_t n = IntegerArgument("commit interval", "Commit interval is empty");
  if (n <= 0) {
    Fail("COMMIT INTERVAL specified (" + std::to_string(n) + ") is invalid, it must be " +
         "greater than 0");
  }
  query.commitInterval = static_cast<std::int32_t>(std::min(n, kMaxInt32));
  query.commitIntervalGiven = true;
}

void TStatementParser::ParseLanguage(TDataQuery& query) {
  if (!Accept("LANGUAGE")) return;
  const std::string name = p_.TokenText();
  const std::optional<platform::LangId> language = platform::FindLanguage(name);
  if (!language) {
    Fail("Invalid language constant '" + name + "'" + " specified after LANGUAGE keyword");
  }
  query.languageId = *language;
  query.languageGiven = true;
  query.sortId = 0;
  Next();
  if (!Accept("SORT")) return;
  const std::string sortName = p_.TokenText();
  const std::optional<platform::SortId> sort = platform::FindSort(*language, sortName);
  if (!sort) Fail("Invalid sort constant '" + sortName + "'" + " specified after SORT keyword");
  query.sortId = *sort;
  query.sortGiven = true;
  Next();
}

void TStatementParser::ParseEncrypted(TDataQuery& query) {
  if (!Accept("ENCRYPTED")) return;
  Expect("WITH", "WITH keyword expected after ENCRYPTED keyword, instead found '");
  query.password = p_.TokenText().substr(0, kMaxStatementName);
  query.encrypted = !query.password.empty();
  query.passwordGiven = true;
  if (!AtEnd()) Next();
}

// ---- Sub-selects -------------------------------------------------------------------

TDataQuery& TStatementParser::NewSubQuery() {
  auto block = std::make_unique<TDataQuery>();
  block->isSubQuery = true;
  block->RequestLive = true;
  statement_.queries.push_back(std::move(block));
  return *statement_.queries.back();
}

void TStatementParser::InstallSubSelectParser() {
  p_.SetSubSelectParser([this](TExpressionParser& parser, TExpToken& node) {
    const std::string context = parser.ContextName();
    TDataQuery& block = NewSubQuery();
    node.subQuery = &block;
    ParseSelect(block, false);
    parser.SetContextName(context);
  });
}

// ---- The statement ---------------------------------------------------------------

std::size_t TQueryStatement::Parse(std::string_view text) {
  queries.resize(1);
  MainQuery().ResetParsed();
  parameters.clear();
  parser_.SetErrorCode(kErrSql);
  parser_.SetContextName(kContextStatement);
  std::uint16_t language = 0;
  std::uint16_t sort = 0;
  if (directory_ != nullptr && directory_->Session() != nullptr) {
    language = directory_->Session()->LanguageID;
    sort = directory_->Session()->SortID;
  }
  FormatSettingsScope settings(language, sort);
  parser_.SetText(text);
  parser_.ReadToken();
  // The grammar hooks itself into the parser for sub-selects; unhook it
  // whatever the outcome.
  struct Unhook {
    TExpressionParser& parser;
    ~Unhook() { parser.SetSubSelectParser(nullptr); }
  } unhook{parser_};
  TStatementParser grammar(*this);
  return grammar.ParseStatement();
}

}  // namespace engine
