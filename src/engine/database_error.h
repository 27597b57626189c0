// The component layer's database errors: fixed English texts raised as plain
// EDatabaseError (errors.h), never as engine errors.
//
// Each text below is used exactly as it stands; a %s takes the database,
// session, parameter or field name the message is about. The session and
// database components, the dataset, query and parameter components raise
// these through RaiseDatabaseError.
#pragma once

#include <string>
#include <string_view>

#include "engine/errors.h"

namespace engine {

// Queries and parameters.
inline constexpr char kMsgNoSqlStatement[] = "No SQL statement available";
inline constexpr char kMsgNoParameterValue[] = "No value for parameter '%s'";
// Transactions (the %s is the database name).
inline constexpr char kMsgTransactionActive[] = "Database %s already has an active transaction.";
inline constexpr char kMsgNoTransaction[] = "Database %s has no active transaction.";
// Names.
inline constexpr char kMsgMissingTableName[] = "Missing table name.";
inline constexpr char kMsgDuplicateDatabaseName[] = "Database name %s already exists.";
inline constexpr char kMsgDuplicateSessionName[] = "Session name %s already exists.";
inline constexpr char kMsgInvalidSessionName[] = "Session name %s is not valid.";
inline constexpr char kMsgInvalidDatabaseName[] = "Database name %s is not valid.";
inline constexpr char kMsgSessionNameMissing[] = "Session name is missing.";
inline constexpr char kMsgDatabaseNameMissing[] = "Database name is missing.";
// Operations refused in the current state.
inline constexpr char kMsgDatabaseOpen[] = "Cannot perform this operation on an open database.";
inline constexpr char kMsgDatabaseClosed[] = "Cannot perform this operation on a closed database.";
inline constexpr char kMsgSessionActive[] = "Cannot perform this operation on an active session.";
inline constexpr char kMsgAutoSessionActive[] =
    "Cannot perform this operation on the active auto-session.";
inline constexpr char kMsgAutoSessionOnly[] =
    "The active auto-session can be the only active session.";
inline constexpr char kMsgAutoSessionExists[] = "This auto-session already exists.";
// Handles and field types.
inline constexpr char kMsgNoTableHandle[] = "Error creating table handle.";
inline constexpr char kMsgUnknownFieldType[] = "Field '%s' is of unknown type";
inline constexpr char kMsgUnsupportedFieldType[] = "Field '%s' is of an unsupported type";

// `text` with its first %s replaced by `name` (plain replacement: a '%' in the
// name is copied as it stands).
std::string FormatDatabaseMessage(std::string_view text, std::string_view name = {});
// Raises EDatabaseError with FormatDatabaseMessage(text, name).
[[noreturn]] void RaiseDatabaseError(std::string_view text, std::string_view name = {});

}  // namespace engine
