// The grammars of the data definition statements.
//
//   CREATE TABLE [MEMORY] table ( definition {, definition} [primary key]
//     [options] )
//   definition  := column type [DESCRIPTION t] [NOT NULL] [DEFAULT t]
//                  [MIN|MINIMUM t] [MAX|MAXIMUM t] [CHARCASE UPPER|LOWER|NOCHANGE]
//                  (no attributes when the type is directly followed by ',')
//   primary key := [CONSTRAINT name] [UNIQUE] [ASC|ASCENDING|DESC|DESCENDING]
//                  [NOCASE] PRIMARY KEY ( column {, column} ) [compress]
//   compress    := COMPRESS FULL|DUPBYTE|TRAILBYTE|NONE
//   options     := [DESCRIPTION t] [BLOB BLOCK SIZE n] [LANGUAGE name [SORT name]]
//                  [ENCRYPTED WITH password] [USER MAJOR VERSION n]
//                  [USER MINOR VERSION n]
//   CREATE [UNIQUE] [ASC|...|DESC|...] [NOCASE] INDEX name ON [MEMORY] table
//     ( column {, column} ) [compress]
//   ALTER TABLE [MEMORY] table [action {, action}] [options]
//     [LAST AUTOINC n] [NOBACKUP]
//   action := ADD primary key | REDEFINE primary key
//           | ADD [COLUMN] column type [AT n] attributes
//           | REDEFINE [COLUMN] column [type] [new name [type]] [AT n] attributes
//           | DROP [CONSTRAINT name] PRIMARY KEY | DROP [COLUMN] column
//   DROP TABLE [MEMORY] table
//   DROP INDEX [MEMORY] table.index
//
// A value (DESCRIPTION, DEFAULT, MIN, MAX) is the text of one token; a sign
// directly before a number is taken with it, so DEFAULT -1 reads "-1".
// Data type argument messages end with " in " and the table's name.
#include "engine/files/table_names.h"
#include "engine/sql/statement_parser.h"

namespace engine {

namespace {

// Tokens that end the column list of CREATE TABLE (besides ')').
constexpr std::string_view kColumnListStops[] = {
    "CONSTRAINT", "PRIMARY",     "UNIQUE", "ASC",      "ASCENDING", "DESC", "DESCENDING",
    "NOCASE",     "DESCRIPTION", "BLOB",   "LANGUAGE", "ENCRYPTED", "USER"};

constexpr std::string_view kPrimaryKeyStarts[] = {"CONSTRAINT", "PRIMARY", "UNIQUE",     "ASC",
                                                  "ASCENDING",  "DESC",    "DESCENDING", "NOCASE"};

// Tokens after a REDEFINE column (and its type) that are not its new name:
// its attributes, and the table options that may follow the last action, so
// that none of them is silently read as a new column name.
constexpr std::string_view kRedefineNameStops[] = {
    "AT",       "DESCRIPTION", "NOT",      "DEFAULT",   "MIN",  "MINIMUM", "MAX",     "MAXIMUM",
    "CHARCASE", "BLOB",        "LANGUAGE", "ENCRYPTED", "USER", "LAST",    "NOBACKUP"};

struct KeywordValue {
  std::string_view keyword;
  int value;
};
constexpr KeywordValue kCharCases[] = {
    {"UPPER", kCharCaseUpper}, {"LOWER", kCharCaseLower}, {"NOCHANGE", kCharCaseNoChange}};
constexpr KeywordValue kCompressions[] = {{"FULL", kIndexCompressFull},
                                          {"DUPBYTE", kIndexCompressDupByte},
                                          {"TRAILBYTE", kIndexCompressTrailByte},
                                          {"NONE", kIndexCompressNone}};

}  // namespace

// ---- CREATE TABLE -------------------------------------------------------------

void TStatementParser::ParseCreateTable(TDataQuery& query) {
  query.statementKind = kStatementCreateTable;
  if (!AtName()) FailAtToken("Table name expected after CREATE TABLE keywords, instead found '");
  ReadResultTable(query);
  ExpectChar('(', "Left parentheses expected before list of table columns, instead found '");
  for (;;) {
    bool stop = IsKind(')');
    for (std::string_view k : kColumnListStops) stop = stop || IsKeyword(k);
    if (stop) break;
    TCreateField field;
    ParseColumnDefinition(field, query.resultTableName, true, false);
    field.fieldNo = static_cast<int>(query.createFields.size()) + 1;
    query.createFields.push_back(std::move(field));
    if (!IsKind(',')) break;
    Next();
  }
  if (AtPrimaryKeyClause()) {
    TCreateIndex index;
    ParsePrimaryKeyClause(index);
    query.createIndexes.push_back(std::move(index));
  }
  ParseTableOptions(query);
  ExpectChar(')', "Right parentheses expected after CREATE TABLE statement, instead found '");
  ExpectEnd("CREATE TABLE");
}

void TStatementParser::ParseColumnDefinition(TCreateField& field, std::string_view tableName,
                                             bool typeRequired, bool withPosition) {
  ExpTree name = ColumnReference("table column", "Table column name is empty");
  field.name = ColumnNameOf(*name);
  if (typeRequired || p_.IsDataTypeKeyword()) ParseDataTypeInto(field, tableName);
  if (!IsKind(',')) ParseColumnAttributes(field, withPosition);
}

void TStatementParser::ParseDataTypeInto(TCreateField& field, std::string_view tableName) {
  ExpTree type = NewToken();
  p_.SetContextName("table column");
  p_.ParseDataType(*type, false);
  p_.SetContextName(kContextStatement);
  p_.CheckDataTypeArguments(*type, kErrSql, tableName);
  field.dataTypeGiven = true;
  field.dataType = type->dataType;
  field.subType = type->subType;
  // The declared size: characters of a string (its value size counts the
  // terminator), bytes of BYTES, nothing for the fixed-size types.
  field.size = type->dataType == kFieldString  ? type->size - 1
               : type->dataType == kFieldBytes ? type->size
                                               : 0;
  field.scale = type->scale;
}

void TStatementParser::ParseColumnAttributes(TCreateField& field, bool withPosition) {
  if (withPosition && Accept("AT")) {
    const std::int64_t n = IntegerArgument("column position", "column position is empty");
    field.atPosition = static_cast<std::uint16_t>(n);
    field.atGiven = true;
  }
  if (Accept("DESCRIPTION")) {
    field.description = ValueToken();
    field.descriptionGiven = true;
  }
  if (Accept("NOT")) {
    Expect("NULL", "NULL keyword expected after NOT keyword, instead found '");
    field.required = true;
    field.requiredGiven = true;
  }
  if (Accept("DEFAULT")) {
    field.defaultValue = ValueToken();
    field.defaultGiven = true;
  }
  if (Accept("MIN") || Accept("MINIMUM")) {
    field.minimum = ValueToken();
    field.minimumGiven = true;
  }
  if (Accept("MAX") || Accept("MAXIMUM")) {
    field.maximum = ValueToken();
    field.maximumGiven = true;
  }
  if (Accept("CHARCASE")) {
    const KeywordValue* found = nullptr;
    for (const KeywordValue& c : kCharCases) {
      if (IsKeyword(c.keyword)) found = &c;
    }
    if (found == nullptr) {
      FailAtToken(
          "UPPER, LOWER, or NOCHANGE keyword expected after CHARCASE keyword, instead found '");
    }
    field.charCase = found->value;
    field.charCaseGiven = true;
    Next();
  }
}

std::string TStatementParser::ValueToken() {
  std::string text = p_.TokenText();
  if (AtEnd()) return text;
  const bool sign = IsKind('-') || IsKind('+');
  Next();
  if (sign && (IsKind(kTokenInteger) || IsKind(kTokenFloat))) {
    text += p_.TokenText();
    Next();
  }
  return text.substr(0, kMaxDefinitionValueText);
}

// ---- Indexes ----------------------------------------------------------------------

bool TStatementParser::AtPrimaryKeyClause() const {
  for (std::string_view k : kPrimaryKeyStarts) {
    if (IsKeyword(k)) return true;
  }
  return false;
}

void TStatementParser::ParsePrimaryKeyClause(TCreateIndex& index) {
  index.primaryKey = true;
  if (Accept("CONSTRAINT")) {
    index.constraintName = p_.TokenText().substr(0, kMaxStatementName);
    if (!AtEnd()) Next();
  }
  index.unique = Accept("UNIQUE");
  if (Accept("ASC") || Accept("ASCENDING")) {
    index.descending = kOrderAscending;
  } else if (Accept("DESC") || Accept("DESCENDING")) {
    index.descending = kOrderDescending;
  }
  index.caseInsensitive = Accept("NOCASE");
  Expect("PRIMARY", "PRIMARY keyword expected, instead found '");
  Expect("KEY", "KEY keyword expected after PRIMARY keyword, instead found '");
  ExpectChar('(', "Left parentheses expected after KEY keyword, instead found '");
  ParseIndexColumns(index);
  ExpectChar(')', "Right parentheses expected after primary key clause, instead found '");
  ParseCompress(index);
}

void TStatementParser::ParseIndexColumns(TCreateIndex& index) {
  for (;;) {
    ExpTree column = ColumnReference("index column", "Index column name is empty");
    index.columns.push_back(ColumnNameOf(*column));
    if (!IsKind(',')) return;
    Next();
  }
}

void TStatementParser::ParseCompress(TCreateIndex& index) {
  if (!Accept("COMPRESS")) return;
  for (const KeywordValue& c : kCompressions) {
    if (IsKeyword(c.keyword)) {
      index.compression = c.value;
      Next();
      return;
    }
  }
  FailAtToken(
      "FULL, DUPBYTE, TRAILBYTE, or NONE keyword expected after COMPRESS keyword, instead found '");
}

void TStatementParser::ParseCreateIndex(TDataQuery& query) {
  query.statementKind = kStatementCreateIndex;
  TCreateIndex index;
  index.add = true;
  index.unique = Accept("UNIQUE");
  if (Accept("ASC") || Accept("ASCENDING")) {
    index.descending = kOrderAscending;
  } else if (Accept("DESC") || Accept("DESCENDING")) {
    index.descending = kOrderDescending;
  }
  index.caseInsensitive = Accept("NOCASE");
  Expect("INDEX", "INDEX keyword expected, instead found '");
  index.name = ReadName("Index name expected after INDEX keyword, instead found '");
  Expect("ON", "ON keyword expected after index name, instead found '");
  if (!AtName()) FailAtToken("Table name expected after ON keyword, instead found '");
  ReadResultTable(query);
  ExpectChar('(', "Left parentheses expected after KEY keyword, instead found '");
  ParseIndexColumns(index);
  ExpectChar(')', "Right parentheses expected after primary key clause, instead found '");
  ParseCompress(index);
  query.createIndexes.push_back(std::move(index));
  ExpectEnd("CREATE INDEX");
}

// ---- Table options ----------------------------------------------------------------

void TStatementParser::ParseTableOptions(TDataQuery& query) {
  if (Accept("DESCRIPTION")) {
    query.description = ValueToken();
    query.descriptionGiven = true;
  }
  if (Accept("BLOB")) {
    Expect("BLOCK", "BLOCK keyword expected after BLOB keyword, instead found '");
    Expect("SIZE", "SIZE keyword expected after BLOCK keyword, instead found '");
    const std::int64_t n = IntegerArgument("BLOB block size", "BLOB block size is empty");
    query.blobBlockSize = static_cast<std::uint16_t>(n);
    query.blobBlockSizeGiven = true;
  }
  ParseLanguage(query);
  ParseEncrypted(query);
  if (!Accept("USER")) return;
  auto version = [this](std::uint16_t& value, bool& given, std::string_view after) {
    Expect("VERSION",
           "VERSION keyword expected after " + std::string(after) + " keyword, instead found '");
    value = static_cast<std::uint16_t>(
        IntegerArgument("user version number", "User version number is empty"));
    given = true;
  };
  if (Accept("MAJOR")) {
    version(query.userMajorVersion, query.userMajorVersionGiven, "MAJOR");
    if (!Accept("USER")) return;
    Expect("MINOR", "MINOR keyword expected after USER keyword, instead found '");
    version(query.userMinorVersion, query.userMinorVersionGiven, "MINOR");
  } else if (Accept("MINOR")) {
    version(query.userMinorVersion, query.userMinorVersionGiven, "MINOR");
  } else {
    FailAtToken("MAJOR keyword expected after USER keyword, instead found '");
  }
}

// ---- ALTER TABLE ------------------------------------------------------------------

void TStatementParser::ParseAlterTable(TDataQuery& query) {
  query.statementKind = kStatementAlterTable;
  if (!AtName()) FailAtToken("Table name expected after ALTER TABLE keywords, instead found '");
  ReadResultTable(query);
  while (IsKeyword("ADD") || IsKeyword("REDEFINE") || IsKeyword("DROP")) {
    ParseAlterAction(query);
    if (!IsKind(',')) break;
    Next();
  }
  ParseTableOptions(query);
  if (Accept("LAST")) {
    Expect("AUTOINC", "AUTOINC keyword expected after LAST keyword, instead found '");
    const std::int64_t n =
        IntegerArgument("next auto-increment number", "Next auto-increment number is empty");
    query.lastAutoInc = static_cast<std::int32_t>(n);
    query.lastAutoIncGiven = true;
  }
  query.noBackup = Accept("NOBACKUP");
  ExpectEnd("ALTER TABLE");
}

void TStatementParser::ParseAlterAction(TDataQuery& query) {
  if (Accept("DROP")) {
    if (IsKeyword("CONSTRAINT") || IsKeyword("PRIMARY")) {
      TCreateIndex index;
      index.primaryKey = true;
      index.drop = true;
      if (Accept("CONSTRAINT")) {
        index.constraintName = p_.TokenText().substr(0, kMaxStatementName);
        if (!AtEnd()) Next();
      }
      Expect("PRIMARY", "PRIMARY keyword expected, instead found '");
      Expect("KEY", "KEY keyword expected after PRIMARY keyword, instead found '");
      query.createIndexes.push_back(std::move(index));
      return;
    }
    Accept("COLUMN");
    TCreateField field;
    field.drop = true;
    field.name = ColumnNameOf(*ColumnReference("table column", "Table column name is empty"));
    query.createFields.push_back(std::move(field));
    return;
  }
  const bool add = Accept("ADD");
  if (!add) Next();  // REDEFINE
  if (AtPrimaryKeyClause()) {
    TCreateIndex index;
    ParsePrimaryKeyClause(index);
    index.add = add;
    index.redefine = !add;
    query.createIndexes.push_back(std::move(index));
    return;
  }
  Accept("COLUMN");
  TCreateField field;
  field.add = add;
  field.redefine = !add;
  if (add) {
    ParseColumnDefinition(field, query.resultTableName, true, true);
  } else {
    field.name = ColumnNameOf(*ColumnReference("table column", "Table column name is empty"));
    if (p_.IsDataTypeKeyword()) ParseDataTypeInto(field, query.resultTableName);
    bool stop = AtEnd() || IsKind(',') || IsKind(';');
    for (std::string_view k : kRedefineNameStops) stop = stop || IsKeyword(k);
    if (!stop) {
      // A second name: the first is the current name, this the new one, and
      // only a type written after it counts.
      field.previousName = field.name;
      field.name = ColumnNameOf(*ColumnReference("table column", "Table column name is empty"));
      field.dataTypeGiven = false;
      field.dataType = field.subType = field.size = field.scale = 0;
      if (p_.IsDataTypeKeyword()) ParseDataTypeInto(field, query.resultTableName);
    }
    if (!IsKind(',')) ParseColumnAttributes(field, true);
  }
  query.createFields.push_back(std::move(field));
}

// ---- DROP -------------------------------------------------------------------------

void TStatementParser::ParseDropTable(TDataQuery& query) {
  query.statementKind = kStatementDropTable;
  if (!AtName()) FailAtToken("Table name expected after TABLE keyword, instead found '");
  ReadResultTable(query);
  ExpectEnd("DROP TABLE");
}

void TStatementParser::ParseDropIndex(TDataQuery& query) {
  query.statementKind = kStatementDropIndex;
  if (!AtName()) FailAtToken("Table name expected after INDEX keyword, instead found '");
  query.inMemoryResult = Accept("MEMORY");
  if (!AtName()) FailAtToken("Table name expected, instead found '");
  ExpTree reference = Term(0, "index name expression");
  if (!reference) Fail("Index name expression is empty");
  if (reference->tokenClass == kClassColumn) {
    query.indexName = reference->columnName.substr(0, kMaxStatementName);
    // The table part as written (its path kept), not only its correlation
    // form: the text is "table.index".
    const std::string& text = reference->text;
    const std::string& column = reference->columnName;
    if (text.size() > column.size() && text.ends_with(column) &&
        text[text.size() - column.size() - 1] == '.') {
      query.resultTableName =
          text.substr(0, text.size() - column.size() - 1).substr(0, kMaxStatementName);
    }
  } else {
    query.indexName = ColumnNameOf(*reference);
  }
  ExpectEnd("DROP INDEX");
}

}  // namespace engine
