// Value texts of a table's field definitions: the default, minimum and
// maximum that a definition carries as text (up to 50 characters each, see
// field_defs.h), read as values of the field's type under the date, time and
// number formats of the table's language.
//
// How a text reads, by field type (the formats are those of the current
// FormatSettingsScope; language 0 reads dates as yyyy-mm-dd, times as
// hh:mm[:ss], numbers with a '.' decimal separator):
//
//   type                  text                        value (storage form)
//   1  string             any                         the characters themselves
//   2  date               "DATE" *  / a date          int32 day number
//   4  boolean            "TRUE" / "FALSE" (any case) uint16 1 / 0
//   5, 6, 12, 13 integers an integer in the range     int16 / int32 / uint16 / uint32
//   7  float              a number                    double
//   8  BCD                a currency value            int64 BCD at the field's scale
//   10 time               "TIME" *  / a time          int32 milliseconds since midnight
//   11 timestamp          "NOW" *, "DATE" *, "TIME" * double day number x 86,400,000
//                         / a date with optional time   + milliseconds
//   other types           any                         zero bytes
//
// * keywords, in any case, only for default texts: DATE is today (a
// timestamp's DATE is today at midnight), TIME the time of day (a timestamp's
// TIME is that time on 30 December 1899, day number 693594), NOW the date and
// time. Minimum and maximum texts have no keywords.
//
// Example under language 0: the default "2024-02-28" of a date field reads as
// day number 738944, stored as the bytes 80 46 0B 00; "12:30" of a time field
// as 45,000,000 ms; "12.345" of a BCD field with scale 2 as 1235 x 10 + 2 = 12352.
//
// A 32-bit unsigned field reads its text as an integer too, so that a default
// of "5" gives 5 rather than a zero that nobody asked for.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "engine/storage/field_defs.h"
#include "engine/values/value_text.h"

namespace engine {

// Whether keywords are honoured: for default texts only.
enum class TValueTextUse { kDefault, kBound };

// The value of `text` for field `field` in its storage form: StorageSize()
// bytes, except for strings, whose characters come back as they are (without
// a terminator or padding); nullopt when the text does not read as such a
// value. Runs under the current format settings: hold a FormatSettingsScope
// of the table's language. `now` is the moment the keywords name.
std::optional<std::vector<std::uint8_t>> FieldValueFromText(const TFieldDefinition& field,
                                                            std::string_view text,
                                                            TValueTextUse use,
                                                            const LocalDateTime& now);

// The value of a stored slot (storage form, StorageSize() bytes) as a number
// for the validity comparisons: integers, booleans, dates (day numbers), times
// (milliseconds), timestamps, floats and BCD values (their decimal value).
// nullopt for types that do not compare as numbers (strings, bytes, BLOBs,
// extended floats).
std::optional<double> FieldNumberOf(const TFieldDefinition& field, const std::uint8_t* storage,
                                    std::size_t size);

// The check of value texts for a new table of that language and sort: each
// text converted as above under the table's formats, as a bound (without
// keywords) when it is the field's minimum or maximum, else as a default.
TValueTextCheck ValueTextCheckFor(std::uint16_t languageId, std::uint16_t sortId);

}  // namespace engine
