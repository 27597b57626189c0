// Engine errors: message templates, the error context, the exception's
// entries, the component layer's texts and the mapping of system errors.
#include "engine/errors.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "engine/database_error.h"
#include "engine/engine_test_util.h"
#include "platform/win_error.h"

namespace {

using engine::EDatabaseError;
using engine::EZORVADEngineError;

EZORVADEngineError Raised(int code, std::string_view table = {}, std::string_view field = {},
                          std::string_view message = {}, std::string_view index = {}) {
  try {
    engine::RaiseEngineError(code, table, field, message, index);
  } catch (const EZORVADEngineError& e) {
    return e;
  }
  ADD_FAILURE() << "no exception for " << code;
  return EZORVADEngineError(0, "");
}

struct MessageCase {
  int code;
  const char* table;
  const char* field;
  const char* message;
  const char* index;
  const char* expected;  // the full Message()
};

// One row per argument pattern of the templates, plus codes whose texts the
// storage layer relies on.
const MessageCase kMessageCases[] = {
    {9729, "Back.Dat", "", "", "Primary",
     "ZORVAD Engine Error # 9729 Duplicate key found in index 'Primary' of table 'Back.Dat'"},
    {8706, "T.DAT", "", "", "",
     "ZORVAD Engine Error # 8706 End of file encountered in table 'T.DAT'"},
    {9732, "T.DAT", "FileName", "", "",
     "ZORVAD Engine Error # 9732 A value must be provided for the field 'FileName' in table "
     "'T.DAT'"},
    {10023, "T.DAT", "7", "", "ByName",
     "ZORVAD Engine Error # 10023 Invalid field number '7' specified in index 'ByName' for table "
     "'T.DAT'"},
    {10051, "T.DAT", "", "missing operand", "",
     "ZORVAD Engine Error # 10051 Filter error for table 'T.DAT' - missing operand"},
    {11949, "ignored", "", "Expected FROM", "",
     "ZORVAD Engine Error # 11949 SQL error - Expected FROM"},
    {10758, "", "", "", "", "ZORVAD Engine Error # 10758 Engine not initialized"},
    {11016, "T.DAT", "", "", "",
     "ZORVAD Engine Error # 11016 There is insufficient operating system memory available for the "
     "current operation"},
    {10031, "x", "", "", "", "ZORVAD Engine Error # 10031 table 'x' is already in use"},
    {10258, "D:\\Bk\\Back.Dat", "", "", "",
     "ZORVAD Engine Error # 10258 Record in table 'D:\\Bk\\Back.Dat' is in use by another user"},
    {15878, "T", "", "", "",
     "ZORVAD Engine Error # 15878 The language driver for table 'T' is not available or installed"},
    // A code outside the table: the unknown-error text with the table name.
    {1, "Back.Dat", "", "", "",
     "ZORVAD Engine Error # 1 Unknown error occurred with table 'Back.Dat'"},
    // Codes print as unsigned 16-bit numbers.
    {-1, "T", "", "", "", "ZORVAD Engine Error # 65535 Unknown error occurred with table 'T'"},
    // A '%' in a name is copied, never taken as a placeholder.
    {9217, "100%s.DAT", "", "", "",
     "ZORVAD Engine Error # 9217 Error reading from table '100%s.DAT'"},
};

TEST(EngineErrors, MessagesFromTemplatesAndContext) {
  for (const MessageCase& c : kMessageCases) {
    SCOPED_TRACE(c.code);
    const EZORVADEngineError e = Raised(c.code, c.table, c.field, c.message, c.index);
    EXPECT_EQ(e.Message(), c.expected);
    EXPECT_STREQ(e.what(), c.expected);
    ASSERT_EQ(e.ErrorCount(), 1);
    EXPECT_EQ(e.Errors(0).ErrorCode(), static_cast<std::int16_t>(c.code));
    EXPECT_EQ(e.ErrorCode(), static_cast<std::int16_t>(c.code));
    EXPECT_EQ(engine::LastEngineErrorCode(), static_cast<std::int16_t>(c.code));
  }
}

TEST(EngineErrors, EveryCodeOfTheTableHasItsOwnText) {
  // Each listed code has a template of its own, so none falls back to the
  // unknown-error text.
  const int codes[] = {8705,  8706,  8708,  8709,  8710,  8711,  8961,  8962,  8963,  8965,  9217,
                       9218,  9220,  9221,  9477,  9479,  9482,  9487,  9492,  9494,  9498,  9729,
                       9730,  9731,  9732,  9985,  9993,  9998,  10000, 10006, 10010, 10015, 10022,
                       10023, 10026, 10027, 10029, 10030, 10031, 10038, 10050, 10051, 10055, 10241,
                       10242, 10249, 10253, 10258, 10498, 10753, 10758, 11010, 11012, 11013, 11014,
                       11016, 11017, 11023, 11025, 11047, 11949, 12035, 12292, 13060, 15878};
  for (int code : codes) {
    const EZORVADEngineError e = Raised(code, "TBL");
    EXPECT_EQ(e.Errors(0).Message().find("Unknown error"), std::string::npos) << code;
  }
}

TEST(EngineErrors, TextIsCutTo254AndNamesTo255) {
  const std::string longName(300, 'n');
  const EZORVADEngineError e = Raised(engine::kErrReadFailed, longName);
  EXPECT_EQ(engine::ContextName(engine::kContextTable), std::string(255, 'n'));
  EXPECT_EQ(e.Errors(0).Message().size(), 254u);
  EXPECT_EQ(e.Errors(0).Message(),
            ("Error reading from table '" + std::string(255, 'n')).substr(0, 254));
  EXPECT_EQ(e.Message(), "ZORVAD Engine Error # 9217 " + e.Errors(0).Message());
}

TEST(EngineErrors, ContextNamesAndRaiseErrorCodeReuseTheLastContext) {
  Raised(engine::kErrDuplicateKey, "Back.Dat", "FileName", "", "Primary");
  EXPECT_EQ(engine::ContextName(engine::kContextField), "FileName");
  EXPECT_EQ(engine::ContextName(engine::kContextTable), "Back.Dat");
  EXPECT_EQ(engine::ContextName(engine::kContextIndex), "Primary");
  EXPECT_EQ(engine::ContextName(3), "");

  try {
    engine::RaiseErrorCode(engine::kErrRecordLocked);
    FAIL();
  } catch (const EZORVADEngineError& e) {
    EXPECT_EQ(e.Message(),
              "ZORVAD Engine Error # 10258 Record in table 'Back.Dat' is in use by another user");
  }
  // A later error clears the context but never changes an earlier message.
  const EZORVADEngineError first = Raised(engine::kErrEndOfFile, "One.DAT");
  Raised(engine::kErrEndOfFile, "Two.DAT");
  EXPECT_EQ(first.Message(),
            "ZORVAD Engine Error # 8706 End of file encountered in table 'One.DAT'");
  EXPECT_EQ(engine::ContextName(engine::kContextField), "");
}

TEST(EngineErrors, CheckErrorCode) {
  EXPECT_NO_THROW(engine::CheckErrorCode(0));
  Raised(engine::kErrReadFailed, "Cur.DAT");
  try {
    engine::CheckErrorCode(engine::kErrBeginOfFile);
    FAIL();
  } catch (const EZORVADEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), engine::kErrBeginOfFile);
    EXPECT_EQ(e.Message(),
              "ZORVAD Engine Error # 8705 Beginning of file encountered in table 'Cur.DAT'");
  }
}

TEST(EngineErrors, EntriesAndTheirIndexBound) {
  EZORVADEngineError e(engine::kErrTableFull, "first");
  e.AddError("second", engine::kErrReadFailed);
  ASSERT_EQ(e.ErrorCount(), 2);
  EXPECT_EQ(e.Errors(1).ErrorCode(), engine::kErrReadFailed);
  EXPECT_EQ(e.ErrorCode(), engine::kErrTableFull);  // entry 0
  EXPECT_THROW(e.Errors(2), std::out_of_range);
  EXPECT_THROW(e.Errors(-1), std::out_of_range);
}

TEST(EngineErrors, BothKindsAreDatabaseErrors) {
  const std::function<void()> raisers[] = {
      [] { engine::RaiseEngineError(engine::kErrDuplicateKey, "T", "", "", "I"); },
      [] { engine::RaiseDatabaseError(engine::kMsgNoTransaction, "DBDatabase"); },
  };
  const char* expected[] = {
      "ZORVAD Engine Error # 9729 Duplicate key found in index 'I' of table 'T'",
      "Database DBDatabase has no active transaction.",
  };
  for (int i = 0; i < 2; ++i) {
    try {
      raisers[i]();
      FAIL();
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(e.Message(), expected[i]);
    }
  }
  // A component error is not an engine error.
  EXPECT_THROW(
      {
        try {
          engine::RaiseDatabaseError(engine::kMsgNoSqlStatement);
        } catch (const EZORVADEngineError&) {
          FAIL();
        }
      },
      EDatabaseError);
}

TEST(EngineErrors, ComponentMessages) {
  struct Case {
    const char* text;
    const char* name;
    const char* expected;
  };
  const Case cases[] = {
      {engine::kMsgNoParameterValue, "pFile", "No value for parameter 'pFile'"},
      {engine::kMsgTransactionActive, "DBDatabase",
       "Database DBDatabase already has an active transaction."},
      {engine::kMsgInvalidDatabaseName, "2002.dat", "Database name 2002.dat is not valid."},
      {engine::kMsgInvalidSessionName, "Nope", "Session name Nope is not valid."},
      {engine::kMsgUnknownFieldType, "F", "Field 'F' is of unknown type"},
      {engine::kMsgDatabaseOpen, "", "Cannot perform this operation on an open database."},
      {engine::kMsgAutoSessionOnly, "", "The active auto-session can be the only active session."},
      {engine::kMsgInvalidDatabaseName, "50%s", "Database name 50%s is not valid."},
  };
  for (const Case& c : cases) EXPECT_EQ(engine::FormatDatabaseMessage(c.text, c.name), c.expected);
}

TEST(EngineErrors, OperatingSystemErrorsMapToEngineCodes) {
  const struct {
    platform::WinError os;
    int code;
  } cases[] = {
      {platform::kErrorFileNotFound, 11010},     {platform::kErrorPathNotFound, 11010},
      {platform::kErrorTooManyOpenFiles, 11012}, {platform::kErrorAccessDenied, 11013},
      {platform::kErrorSharingViolation, 11013}, {platform::kErrorNetworkAccessDenied, 11013},
      {platform::kErrorInvalidHandle, 11014},    {platform::kErrorNotEnoughMemory, 11016},
      {platform::kErrorInvalidDrive, 11023},     {platform::kErrorNotSameDevice, 11025},
      {platform::kErrorLockViolation, 11047},    {platform::kErrorDiskFull, 11047},
      {platform::kErrorGenFailure, 11047},       {12345, 11047},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(engine::EngineCodeForOsError(c.os), c.code) << c.os;
    platform::SetLastError(c.os);
    EXPECT_EQ(engine::EngineCodeForLastOsError(), c.code) << c.os;
  }
}

TEST(EngineErrors, MessagesNeverCarryErrnoOrSystemText) {
  // Whatever errno the host reports, an engine message is one of the mapped
  // templates: no errno number and no text of the host's C library.
  for (int err = 1; err < 134; ++err) {
    const int code = engine::EngineCodeForOsError(platform::WinErrorFromErrno(err));
    const EZORVADEngineError e = Raised(code, "T.DAT");
    const std::string systemText = std::strerror(err);
    EXPECT_EQ(e.Message().find(systemText), std::string::npos) << err;
    EXPECT_TRUE(code == 11010 || code == 11012 || code == 11013 || code == 11014 || code == 11016 ||
                code == 11023 || code == 11025 || code == 11047)
        << err;
  }
}

TEST(EngineErrors, ConcurrentRaisersKeepTheirNamesApart) {
  auto raiser = [](const std::string& table, bool& ok) {
    ok = true;
    for (int i = 0; i < 2000; ++i) {
      try {
        engine::RaiseEngineError(engine::kErrTableFull, table);
      } catch (const EZORVADEngineError& e) {
        if (e.Errors(0).Message().find("'" + table + "'") == std::string::npos) ok = false;
      }
    }
  };
  bool okA = false;
  bool okB = false;
  std::thread a(raiser, "Alpha", std::ref(okA));
  std::thread b(raiser, "Beta", std::ref(okB));
  a.join();
  b.join();
  EXPECT_TRUE(okA);
  EXPECT_TRUE(okB);
}

}  // namespace
