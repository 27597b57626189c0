// Engine errors: the message table, the process-wide error context and the
// mapping of operating-system failures to engine codes.
//
// A message is built from the template of its code: each %s in the template
// takes the next context field named in the row's argument list, in order.
// Substitution is plain text replacement, so a '%' inside a table name is
// copied as it stands. The result is cut to 254 bytes. A code without a row
// gives the unknown-error template with the table name.
//
// Example: code 9729 with index "PK" and table "Back.Dat" in the context gives
// the entry text "Duplicate key found in index 'PK' of table 'Back.Dat'" and the
// exception message "ZORVAD Engine Error # 9729 Duplicate key found in ...".
//
// RaiseEngineError clears and fills the context and builds the text in one
// locked step, so two threads raising at the same moment keep their names
// apart in their messages.
#include "engine/errors.h"

#include <array>
#include <initializer_list>
#include <mutex>
#include <stdexcept>

namespace engine {
namespace {

// A template and the context fields its %s take, in order, one letter each:
// F field name, T table name, I index name, M free message.
struct MessageTemplate {
  int code;
  const char* text;
  const char* args;
};

// One row per code, ascending.
const MessageTemplate kTemplates[] = {
    {8705, "Beginning of file encountered in table '%s'", "T"},
    {8706, "End of file encountered in table '%s'", "T"},
    {8708,
     "Record has been changed or deleted by another user, session, or table cursor in table '%s'",
     "T"},
    {8709, "No current record in table '%s'", "T"},
    {8710, "Record not found in table '%s'", "T"},
    {8711, "End of blob data in table '%s' reached prematurely", "T"},
    {8961, "Header information corrupt in table '%s'", "T"},
    {8962, "Data record buffers corrupt in table '%s'", "T"},
    {8963, "BLOB block buffers corrupt in table '%s'", "T"},
    {8965, "Index page buffers corrupt in table '%s'", "T"},
    {9217, "Error reading from table '%s'", "T"},
    {9218, "Error writing to table '%s'", "T"},
    {9220, "Cannot delete table '%s'", "T"},
    {9221, "Error accessing header information for table '%s'", "T"},
    {9477, "Maximum record size exceeded in table '%s'", "T"},
    {9479, "The table '%s' is full and cannot contain any more data", "T"},
    {9482, "Too many filters defined for table '%s'", "T"},
    {9487,
     "Maximum or minimum limits on number of indexes or fields in an index exceeded in table '%s'",
     "T"},
    {9492,
     "Maximum or minimum limits on number of fields, auto-increment field value, or field size "
     "exceeded in table '%s'",
     "T"},
    {9494, "Too many blobs opened in table '%s'", "T"},
    {9498, "Too many blob fields or invalid blob block size specified for table '%s'", "T"},
    {9729, "Duplicate key found in index '%s' of table '%s'", "IT"},
    {9730, "The value for the field '%s' in table '%s' is below the minimum allowable value", "FT"},
    {9731, "The value for the field '%s' in table '%s' is above the maximum allowable value", "FT"},
    {9732, "A value must be provided for the field '%s' in table '%s'", "FT"},
    {9985, "Invalid field number or name '%s' specified for table '%s'", "FT"},
    {9993, "A primary index is already defined for table '%s' and cannot be added again", "T"},
    {9998, "Invalid blob offset into table '%s' specified", "T"},
    {10000, "Invalid field definition specified for the field '%s' in table '%s'", "FT"},
    {10006,
     "Invalid default, min or max validity check, or expression specified for '%s' in table '%s'",
     "FT"},
    {10010, "The secondary index name is missing or not specified for table '%s'", "T"},
    {10015, "Password provided for table '%s' is invalid", "T"},
    {10022, "Invalid secondary index name '%s' specified for table '%s'", "IT"},
    {10023, "Invalid field number '%s' specified in index '%s' for table '%s'", "FIT"},
    {10026, "Invalid key size specified in index '%s' for table '%s'", "IT"},
    {10027, "The secondary index '%s' already exists for table '%s'", "IT"},
    {10029, "Invalid blob length in table '%s'", "T"},
    {10030, "Invalid blob handle for table '%s' specified", "T"},
    {10031, "table '%s' is already in use", "T"},
    {10038, "Invalid or duplicate field name '%s' specified for table '%s'", "FT"},
    {10050, "Invalid filter handle specified for table '%s'", "T"},
    {10051, "Filter error for table '%s' - %s", "TM"},
    {10055, "The primary index cannot be removed from table '%s'", "T"},
    {10241, "The table '%s' is already locked by another user", "T"},
    {10242, "Cannot unlock table or record in table '%s'", "T"},
    {10249, "General lock failure with table '%s'", "T"},
    {10253, "table '%s' must be opened exclusively", "T"},
    {10258, "Record in table '%s' is in use by another user", "T"},
    {10498, "Insufficient rights to table '%s', a password is required", "T"},
    {10753, "Invalid blob field '%s' specified for table '%s'", "FT"},
    {10758, "Engine not initialized", ""},
    {11010, "Invalid path or file name for table '%s'", "T"},
    {11012, "Too many files open while attempting to open table '%s'", "T"},
    {11013, "Access denied to table '%s'", "T"},
    {11014, "Invalid file handle for table '%s'", "T"},
    {11016, "There is insufficient operating system memory available for the current operation",
     ""},
    {11017, "Invalid length for in-memory table '%s'", "T"},
    {11023, "Access denied to logical operating system device for table '%s'", "T"},
    {11025, "table '%s' has been moved", "T"},
    {11047, "An unknown operating system error occurred with table '%s'", "T"},
    {11949, "SQL error - %s", "M"},
    {12035, "table '%s' is not the correct version", "T"},
    {12292, "Invalid field type specified for index '%s' in table '%s'", "IT"},
    {13060, "The table '%s' already exists", "T"},
    {15878, "The language driver for table '%s' is not available or installed", "T"},
};

constexpr const char kUnknownTemplate[] = "Unknown error occurred with table '%S'";
constexpr const char kMessagePrefix[] = "ZORVAD Engine Error # ";

struct ErrorContext {
  std::int16_t code = 0;
  std::uint16_t osCode = 0;  // cleared with the rest; no message uses it
  std::string fieldName;
  std::string tableName;
  std::string message;
  std::string indexName;
};

// The one error context of the process and its critical section; never
// destroyed, so that errors can still be raised while the process exits.
std::recursive_mutex& ContextLock() {
  static auto* lock = new std::recursive_mutex;
  return *lock;
}
ErrorContext& Context() {
  static auto* context = new ErrorContext;
  return *context;
}

std::string Cut(std::string_view text, std::size_t limit) {
  return std::string(text.substr(0, std::min(text.size(), limit)));
}

const MessageTemplate* FindTemplate(int code) {
  for (const MessageTemplate& row : kTemplates) {
    if (row.code == code) return &row;
  }
  return nullptr;
}

const std::string& ArgValue(const ErrorContext& context, char arg) {
  switch (arg) {
    case 'F':
      return context.fieldName;
    case 'T':
      return context.tableName;
    case 'I':
      return context.indexName;
    default:
      return context.message;
  }
}

// Replaces each "%s" (or "%S") of `text` by the next of `values`.
std::string Fill(std::string_view text, std::initializer_list<const std::string*> values) {
  std::string out;
  auto next = values.begin();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && (text[i + 1] == 's' || text[i + 1] == 'S')) {
      if (next != values.end()) out += **next++;
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The text for `code` from `context`; the caller holds the context lock.
std::string BuildText(int code, const ErrorContext& context) {
  std::string text;
  if (const MessageTemplate* row = FindTemplate(code)) {
    std::array<const std::string*, 3> values{};
    std::size_t n = 0;
    for (const char* arg = row->args; *arg != '\0' && n < values.size(); ++arg) {
      values[n++] = &ArgValue(context, *arg);
    }
    switch (n) {
      case 0:
        text = row->text;
        break;
      case 1:
        text = Fill(row->text, {values[0]});
        break;
      case 2:
        text = Fill(row->text, {values[0], values[1]});
        break;
      default:
        text = Fill(row->text, {values[0], values[1], values[2]});
        break;
    }
  } else {
    text = Fill(kUnknownTemplate, {&context.tableName});
  }
  return Cut(text, kMaxErrorText);
}

std::string FullMessage(int code, const std::string& text) {
  return kMessagePrefix + std::to_string(static_cast<std::uint16_t>(code)) + " " + text;
}

}  // namespace

// ---- EZORVADEngineError -------------------------------------------------------

EZORVADEngineError::EZORVADEngineError(int code)
    : EZORVADEngineError(code, EngineErrorText(code)) {}

EZORVADEngineError::EZORVADEngineError(int code, std::string text) : EDatabaseError("") {
  SetMessage(FullMessage(code, text));
  AddError(std::move(text), code);
}

EZORVADEngineError::~EZORVADEngineError() {
  while (!errors_.empty()) errors_.pop_back();
}

void EZORVADEngineError::AddError(std::string text, int code) {
  errors_.emplace_back(std::move(text), code);
}

const TZORVADError& EZORVADEngineError::Errors(int index) const {
  if (index < 0 || index >= ErrorCount()) throw std::out_of_range("engine error entry");
  return errors_[static_cast<std::size_t>(index)];
}

// ---- Raising -------------------------------------------------------------------

void RaiseEngineError(int code, std::string_view tableName, std::string_view fieldName,
                      std::string_view message, std::string_view indexName) {
  std::string text;
  {
    std::lock_guard<std::recursive_mutex> guard(ContextLock());
    ErrorContext& context = Context();
    context = ErrorContext{};
    context.code = static_cast<std::int16_t>(code);
    context.tableName = Cut(tableName, kMaxContextName);
    context.fieldName = Cut(fieldName, kMaxContextName);
    context.message = Cut(message, kMaxContextName);
    context.indexName = Cut(indexName, kMaxContextName);
    text = BuildText(code, context);
  }
  throw EZORVADEngineError(code, std::move(text));
}

void RaiseErrorCode(int code) {
  std::string text;
  {
    std::lock_guard<std::recursive_mutex> guard(ContextLock());
    Context().code = static_cast<std::int16_t>(code);
    text = BuildText(code, Context());
  }
  throw EZORVADEngineError(code, std::move(text));
}

void CheckErrorCode(int code) {
  if (code != 0) RaiseErrorCode(code);
}

int LastEngineErrorCode() {
  std::lock_guard<std::recursive_mutex> guard(ContextLock());
  return Context().code;
}

std::string ContextName(int kind) {
  std::lock_guard<std::recursive_mutex> guard(ContextLock());
  switch (kind) {
    case kContextField:
      return Context().fieldName;
    case kContextTable:
      return Context().tableName;
    case kContextIndex:
      return Context().indexName;
    default:
      return {};
  }
}

std::string EngineErrorText(int code) {
  std::lock_guard<std::recursive_mutex> guard(ContextLock());
  return BuildText(code, Context());
}

// ---- Operating-system errors ------------------------------------------------

int EngineCodeForOsError(platform::WinError error) {
  switch (error) {
    case platform::kErrorFileNotFound:
    case platform::kErrorPathNotFound:
      return kErrInvalidPath;
    case platform::kErrorTooManyOpenFiles:
      return kErrTooManyOpenFiles;
    case platform::kErrorAccessDenied:
    case platform::kErrorSharingViolation:
    case platform::kErrorNetworkAccessDenied:
      return kErrAccessDenied;
    case platform::kErrorInvalidHandle:
      return kErrInvalidFileHandle;
    case platform::kErrorNotEnoughMemory:
      return kErrOutOfMemory;
    case platform::kErrorInvalidDrive:
      return kErrDeviceAccessDenied;
    case platform::kErrorNotSameDevice:
      return kErrTableMoved;
    default:
      return kErrUnknownOsError;
  }
}

int EngineCodeForLastOsError() {
  return EngineCodeForOsError(platform::GetLastError());
}

}  // namespace engine
