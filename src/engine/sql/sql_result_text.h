// Result values as text, in the tab-separated form of the SQL shell:
//
//   NULL        \N
//   strings     as stored, with \ tab CR LF written \\ \t \r \n
//   integers    decimal (SMALLINT, INTEGER, WORD, auto-increment)
//   FLOAT       the shortest form that reads back to the same double
//   BCD         plain decimal with the value's scale (12.30 at scale 2)
//   BOOLEAN     TRUE or FALSE
//   DATE        YYYY-MM-DD;  TIME  HH:MM:SS.ZZZ;  TIMESTAMP  YYYY-MM-DD HH:MM:SS.ZZZ
//   BYTES, BLOB \x and the bytes in lower-case hex (a memo BLOB is text)
#pragma once

#include <cstdint>
#include <string>

#include "engine/table/data_cursor.h"
#include "engine/values/expr_token.h"

namespace engine {

std::string FormatValueText(const TExpToken& value);
std::string FormatFieldText(TDataCursor& cursor, TDataCursor::TRecordBuffer& record,
                            std::uint32_t field);
// `text` with backslash, tab, CR and LF escaped.
std::string EscapeText(std::string_view text);

}  // namespace engine
