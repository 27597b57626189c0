// Engine errors: the one exception class of the table engine, its error codes
// and the process-wide error context from which its messages are built.
//
// A failing site never writes a message itself. It names a code and the
// objects concerned (table, field, index, free text) through RaiseEngineError;
// the message is then built from the code's template (errors.cpp) and those
// names. Invariants:
//  * the error context is one record for the whole process; every read and
//    write of it holds its critical section;
//  * every name kept in the context is at most kMaxContextName (255) bytes;
//  * an exception's message is built when it is created, so a later error
//    never changes the text of an earlier one;
//  * the engine creates EZORVADEngineError with exactly one entry.
//
// The component layer raises plain EDatabaseError (database_error.h) with its
// own fixed texts; both derive from EDatabaseError, so a caller that catches
// EDatabaseError sees either kind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_error.h"

namespace engine {

// ---- Error codes -------------------------------------------------------------
// A code is a 16-bit number; the file layer returns it negated (-11010 ...)
// and its callers raise it. Grouped as in the message table of errors.cpp.

// Cursor positions and records.
inline constexpr int kErrBeginOfFile = 8705;       // 0x2201
inline constexpr int kErrEndOfFile = 8706;         // 0x2202
inline constexpr int kErrRecordChanged = 8708;     // 0x2204, changed/deleted by another user
inline constexpr int kErrNoCurrentRecord = 8709;   // 0x2205
inline constexpr int kErrRecordNotFound = 8710;    // 0x2206
inline constexpr int kErrBlobEndPremature = 8711;  // 0x2207

// Consistency checks of stored content.
inline constexpr int kErrHeaderCorrupt = 8961;        // 0x2301
inline constexpr int kErrRecordBufferCorrupt = 8962;  // 0x2302
inline constexpr int kErrBlobBufferCorrupt = 8963;    // 0x2303
inline constexpr int kErrIndexPageCorrupt = 8965;     // 0x2305

// Input and output.
inline constexpr int kErrReadFailed = 9217;         // 0x2401, fewer bytes read than asked
inline constexpr int kErrWriteFailed = 9218;        // 0x2402, short write or failed flush
inline constexpr int kErrCannotDeleteTable = 9220;  // 0x2404
inline constexpr int kErrHeaderAccess = 9221;       // 0x2405

// Limits.
inline constexpr int kErrRecordSizeExceeded = 9477;  // 0x2505
inline constexpr int kErrTableFull = 9479;           // 0x2507
inline constexpr int kErrTooManyFilters = 9482;      // 0x250a
inline constexpr int kErrIndexLimits = 9487;         // 0x250f
inline constexpr int kErrFieldLimits = 9492;         // 0x2514
inline constexpr int kErrTooManyBlobs = 9494;        // 0x2516
inline constexpr int kErrBlobDefinition = 9498;      // 0x251a

// Values and keys.
inline constexpr int kErrDuplicateKey = 9729;       // 0x2601
inline constexpr int kErrValueBelowMinimum = 9730;  // 0x2602
inline constexpr int kErrValueAboveMaximum = 9731;  // 0x2603
inline constexpr int kErrValueRequired = 9732;      // 0x2604

// Definitions and handles.
inline constexpr int kErrInvalidField = 9985;             // 0x2701
inline constexpr int kErrPrimaryIndexExists = 9993;       // 0x2709
inline constexpr int kErrInvalidBlobOffset = 9998;        // 0x270e
inline constexpr int kErrInvalidFieldDefinition = 10000;  // 0x2710
inline constexpr int kErrInvalidValidityCheck = 10006;    // 0x2716
inline constexpr int kErrIndexNameMissing = 10010;        // 0x271a
inline constexpr int kErrInvalidPassword = 10015;         // 0x271f
inline constexpr int kErrInvalidIndexName = 10022;        // 0x2726
inline constexpr int kErrInvalidIndexField = 10023;       // 0x2727
inline constexpr int kErrInvalidKeySize = 10026;          // 0x272a
inline constexpr int kErrIndexExists = 10027;             // 0x272b
inline constexpr int kErrInvalidBlobLength = 10029;       // 0x272d
inline constexpr int kErrInvalidBlobHandle = 10030;       // 0x272e
inline constexpr int kErrTableInUse = 10031;              // 0x272f
inline constexpr int kErrInvalidFieldName = 10038;        // 0x2736, invalid or duplicate
inline constexpr int kErrInvalidFilterHandle = 10050;     // 0x2742
inline constexpr int kErrFilter = 10051;                  // 0x2743, with a free message
inline constexpr int kErrPrimaryIndexRemove = 10055;      // 0x2747

// Locks.
inline constexpr int kErrTableLocked = 10241;       // 0x2801
inline constexpr int kErrUnlockFailed = 10242;      // 0x2802
inline constexpr int kErrLockFailed = 10249;        // 0x2809, general lock failure
inline constexpr int kErrExclusiveNeeded = 10253;   // 0x280d
inline constexpr int kErrRecordLocked = 10258;      // 0x2812, record in use by another user
inline constexpr int kErrPasswordRequired = 10498;  // 0x2902

// Engine, files and the operating system.
inline constexpr int kErrInvalidBlobField = 10753;      // 0x2a01
inline constexpr int kErrEngineNotInitialized = 10758;  // 0x2a06
inline constexpr int kErrInvalidPath = 11010;           // 0x2b02
inline constexpr int kErrTooManyOpenFiles = 11012;      // 0x2b04
inline constexpr int kErrAccessDenied = 11013;          // 0x2b05
inline constexpr int kErrInvalidFileHandle = 11014;     // 0x2b06
inline constexpr int kErrOutOfMemory = 11016;           // 0x2b08
inline constexpr int kErrInvalidMemoryLength = 11017;   // 0x2b09
inline constexpr int kErrDeviceAccessDenied = 11023;    // 0x2b0f
inline constexpr int kErrTableMoved = 11025;            // 0x2b11
inline constexpr int kErrUnknownOsError = 11047;        // 0x2b27

// Language, versions and SQL.
inline constexpr int kErrSql = 11949;                    // 0x2ead, with a free message
inline constexpr int kErrWrongVersion = 12035;           // 0x2f03
inline constexpr int kErrInvalidIndexFieldType = 12292;  // 0x3004
inline constexpr int kErrTableExists = 13060;            // 0x3304
inline constexpr int kErrLanguageDriver = 15878;         // 0x3e06

// Longest name or free text kept in the error context, in bytes.
inline constexpr std::size_t kMaxContextName = 255;
// Longest message text of one entry, in bytes.
inline constexpr std::size_t kMaxErrorText = 254;

// ---- Exceptions --------------------------------------------------------------

// The database error of the toolkit: an exception with a message. Base of
// both the engine's errors and the components' errors.
class EDatabaseError : public std::exception {
 public:
  explicit EDatabaseError(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 protected:
  void SetMessage(std::string message) { message_ = std::move(message); }

 private:
  std::string message_;
};

// One entry of an engine error: a code and its message text.
class TZORVADError {
 public:
  TZORVADError(std::string text, int code)
      : text_(std::move(text)), code_(static_cast<std::int16_t>(code)) {}
  std::int16_t ErrorCode() const noexcept { return code_; }
  const std::string& Message() const noexcept { return text_; }

 private:
  std::string text_;
  std::int16_t code_;
};

// The engine's exception. Message() is "ZORVAD Engine Error # <code> <text>",
// the code printed as an unsigned 16-bit number.
class EZORVADEngineError : public EDatabaseError {
 public:
  // Builds the exception for `code`, its text from the current error context.
  explicit EZORVADEngineError(int code);
  // Builds the exception for `code` with an already built entry text.
  EZORVADEngineError(int code, std::string text);
  // Frees the entries from the last to the first.
  ~EZORVADEngineError() override;
  EZORVADEngineError(const EZORVADEngineError&) = default;
  EZORVADEngineError& operator=(const EZORVADEngineError&) = default;

  // Appends one more entry; the message stays that of entry 0.
  void AddError(std::string text, int code);
  int ErrorCount() const noexcept { return static_cast<int>(errors_.size()); }
  // Entry `index` (0-based); std::out_of_range past the end.
  const TZORVADError& Errors(int index) const;
  // The code of entry 0, the one every handler reads.
  std::int16_t ErrorCode() const noexcept { return errors_.empty() ? 0 : errors_[0].ErrorCode(); }

 private:
  std::vector<TZORVADError> errors_;
};

// ---- Raising -----------------------------------------------------------------

// Clears the error context, stores the given names (each cut to 255 bytes) and
// raises EZORVADEngineError for `code`. Every detecting site in the engine
// raises through this, passing empty strings for names it has no use for.
[[noreturn]] void RaiseEngineError(int code, std::string_view tableName = {},
                                   std::string_view fieldName = {}, std::string_view message = {},
                                   std::string_view indexName = {});
// Runs `body`; an allocation in it that the process cannot get (the standard
// library's std::bad_alloc, for a buffer of a large BLOB) is raised as the
// engine's out-of-memory error 11016 naming `tableName`.
template <typename F>
decltype(auto) WithinMemory(std::string_view tableName, F&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    RaiseEngineError(kErrOutOfMemory, tableName);
  }
}
// Raises EZORVADEngineError for `code` with whatever the last error left in
// the context.
[[noreturn]] void RaiseErrorCode(int code);
// Nothing for 0, otherwise RaiseErrorCode(code).
void CheckErrorCode(int code);
// The code of the last raised error (0 before any).
int LastEngineErrorCode();

// Kinds for ContextName.
inline constexpr int kContextField = 0;
inline constexpr int kContextTable = 1;
inline constexpr int kContextIndex = 2;
// The field name (0), table name (1) or index name (2) of the context; empty otherwise.
std::string ContextName(int kind);

// The message text for `code` built from the context, at most 254 bytes.
std::string EngineErrorText(int code);

// The engine code for a Windows error number (2, 3 -> 11010; 4 -> 11012;
// 5, 32, 65 -> 11013; 6 -> 11014; 8 -> 11016; 15 -> 11023; 17 -> 11025;
// anything else -> 11047).
int EngineCodeForOsError(platform::WinError error);
// EngineCodeForOsError(platform::GetLastError()).
int EngineCodeForLastOsError();

}  // namespace engine
