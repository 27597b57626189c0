// Conversion of expression values between field types, and the numeric
// helpers shared by the analysis and the evaluation.
//
// ConvertValue converts a node's value into another node whose type, subtype,
// size and scale the caller has set; it answers whether the value converts.
//   - NULL converts to NULL of any type.
//   - A string is read as a number, BOOLEAN (TRUE or FALSE, any case), DATE,
//     TIME or TIMESTAMP under the current format settings (value_text.h); as a
//     BCD it is read as a currency value (four decimals) and rounded to the
//     target scale.
//   - Anything written as a string is cut to the target size (size counts the
//     terminator); as BYTES it is cut or padded with zeros to the target size.
//   - Numbers convert by value between integer, FLOAT and BCD types, rounding
//     halves away from zero into integers; a value outside the target's range
//     does not convert.
//   - DATE, TIME and TIMESTAMP convert through the instant they denote (a TIME
//     alone has no date and does not become a DATE).
//   - BYTES convert to other types by their raw bytes, which must cover the
//     target's size.
//
// BCD form (field_defs.h): int64 = |value| rounded to the scale (halves away
// from zero) x 10^scale x 10 + scale, negated for a negative value; 12.34 with
// scale 2 is 12342 and -12.34 is -12342.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/values/expr_token.h"

namespace engine {

bool IsIntegerType(int type);   // SMALLINT, INTEGER, WORD
bool IsNumberType(int type);    // SMALLINT, INTEGER, FLOAT, BCD, WORD
bool IsDateTimeType(int type);  // DATE, TIME, TIMESTAMP

// BCD values; nullopt when the value does not fit the form.
std::optional<std::int64_t> EncodeBcd(double value, int scale);
double DecodeBcd(std::int64_t stored);
// `value` rounded half away from zero to `places` decimals, deciding on its
// shortest decimal form (2.345 to 2 places is 2.35).
double RoundDecimal(double value, int places);
int BcdScale(std::int64_t stored);

// The value of a number node (types 4, 5, 6, 7, 8, 12) as double or int64.
double NumberAsDouble(const TExpToken& node);
std::int64_t IntegerValue(const TExpToken& node);  // integer types and BOOLEAN
// Milliseconds since day 0 of a DATE or TIMESTAMP (a DATE is its midnight).
double InstantOf(const TExpToken& node);

// A value as text (CAST to a string); nullopt for a binary BLOB.
std::optional<std::string> ValueAsText(const TExpToken& node);

bool ConvertValue(const TExpToken& source, TExpToken& target);

}  // namespace engine
