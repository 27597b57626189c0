// Field definitions: storage sizes, the layout of a new table's definitions and
// the verification of stored ones. The byte layout is described in field_defs.h.
#include "engine/storage/field_defs.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <set>

#include "engine/errors.h"
#include "engine/storage/data_file_bytes.h"

namespace engine {
namespace {

std::string Trim(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  return std::string(text.substr(b, e - b));
}

std::string UpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool HasDeclaredSize(std::uint8_t type) {
  return type == kFieldString || type == kFieldBytes || type == kFieldVarBytes;
}

bool ParseInteger(std::string_view text, long long low, long long high) {
  const std::string s = Trim(text);
  if (s.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(s.c_str(), &end, 10);
  return errno == 0 && end == s.c_str() + s.size() && v >= low && v <= high;
}

bool ParseReal(std::string_view text) {
  const std::string s = Trim(text);
  if (s.empty()) return false;
  char* end = nullptr;
  (void)std::strtod(s.c_str(), &end);
  return end == s.c_str() + s.size();
}

// A date, time or date-time text: digit groups separated by '/', '-', '.', ':'
// or blanks, with `minGroups`..`maxGroups` groups (seconds may carry a fraction
// and a time an AM/PM suffix). The table layer installs the real conversions
// of the table's language; this is the language-free fallback.
bool LooksLikeDateTime(std::string_view text, int minGroups, int maxGroups) {
  std::string s = UpperAscii(Trim(text));
  for (const char* suffix : {" AM", " PM"}) {
    if (s.size() > 3 && s.ends_with(suffix)) s.resize(s.size() - 3);
  }
  int groups = 0;
  bool inDigits = false;
  for (char c : s) {
    if (std::isdigit(static_cast<unsigned char>(c))) {
      if (!inDigits) ++groups;
      inDigits = true;
    } else if (c == '/' || c == '-' || c == '.' || c == ':' || c == ' ') {
      inDigits = false;
    } else {
      return false;
    }
  }
  return groups >= minGroups && groups <= maxGroups;
}

// The rules shared by layout and verification. Returns an empty string when
// the field is sound, else the fault; `code` gets the error code.
std::string CheckOne(const TFieldDefinition& f, std::set<std::string>& names,
                     std::set<int>& numbers, const TValueTextCheck& valueCheck, int& code) {
  const std::string name = f.Name();
  code = kErrInvalidFieldName;
  if (name.empty() || name.size() > kMaxFieldNameLength || !IsValidNameStart(name))
    return "invalid field name '" + name + "'";
  if (!names.insert(UpperAscii(name)).second) return "duplicate field name '" + name + "'";
  code = kErrInvalidFieldDefinition;
  if (!numbers.insert(f.Number()).second) return "duplicate field number";
  if (f.Type() == kFieldInvalid) return "field type 0";
  if (HasDeclaredSize(f.Type()) ? f.Size() > kMaxDeclaredSize : f.Size() != 0)
    return "invalid declared size";
  if (f.Type() != kFieldBcd && f.Scale() != 0) return "scale on a non-BCD field";
  if (f.Type() == kFieldBcd && f.Scale() > kMaxBcdScale) return "BCD scale above 4";
  code = kErrInvalidValidityCheck;
  for (const std::string& text : {f.Minimum(), f.Maximum(), f.Default()}) {
    if (!text.empty() && !valueCheck(f, text)) return "value text '" + text + "' does not convert";
  }
  code = 0;
  return {};
}

// A counted string whose length byte runs past its slot, or "".
std::string CountedLengthFault(const TFieldDefinition& f) {
  struct Counted {
    const char* what;
    std::size_t at;
    std::size_t maxLength;
  };
  static constexpr Counted kCounted[] = {
      {"name", TFieldDefinition::kName, kMaxFieldNameLength},
      {"description", TFieldDefinition::kDescription, kMaxDescriptionLength},
      {"minimum", TFieldDefinition::kMinimum, kMaxDescriptionLength},
      {"maximum", TFieldDefinition::kMaximum, kMaxDescriptionLength},
      {"default", TFieldDefinition::kDefault, kMaxDescriptionLength},
  };
  for (const Counted& c : kCounted) {
    const std::uint8_t length = f.Bytes()[c.at];
    if (length > c.maxLength) {
      return std::string(c.what) + " length byte " + std::to_string(length) + " exceeds " +
             std::to_string(c.maxLength);
    }
  }
  return {};
}

}  // namespace

std::int16_t TFieldDefinition::Number() const {
  return bytes::GetI16(&bytes_[kNumber]);
}
void TFieldDefinition::SetNumber(std::int16_t number) {
  bytes::PutI16(&bytes_[kNumber], number);
}
std::uint16_t TFieldDefinition::Offset() const {
  return bytes::GetU16(&bytes_[kOffset]);
}
void TFieldDefinition::SetOffset(std::uint16_t offset) {
  bytes::PutU16(&bytes_[kOffset], offset);
}

void TFieldDefinition::ComputeStorage() {
  bytes_[kStorage] = static_cast<std::uint8_t>(StorageSizeOf(Type(), Size()));
  bytes_[kEffectiveScale] = Scale();
}

std::string TFieldDefinition::GetCounted(std::size_t at, std::size_t maxLength) const {
  const std::size_t length = std::min<std::size_t>(bytes_[at], maxLength);
  return std::string(reinterpret_cast<const char*>(&bytes_[at + 1]), length);
}

void TFieldDefinition::SetCounted(std::size_t at, std::size_t maxLength, std::string_view text) {
  const std::size_t length = std::min(text.size(), maxLength);
  std::fill_n(&bytes_[at], maxLength + 1, std::uint8_t{0});
  bytes_[at] = static_cast<std::uint8_t>(length);
  std::copy_n(text.begin(), length, &bytes_[at + 1]);
}

std::uint32_t StorageSizeOf(std::uint8_t type, std::uint8_t declaredSize) {
  switch (type) {
    case kFieldInvalid:
      return 0;
    case kFieldString:
      return declaredSize + 1u;  // zero-terminated
    case kFieldDate:
      return 4;
    case kFieldBlob:
      return 8;  // first block position + BLOB id
    case kFieldBoolean:
      return 2;
    case kFieldInt16:
      return 2;
    case kFieldInt32:
      return 4;
    case kFieldFloat:
      return 8;
    case kFieldBcd:
      return 8;
    case kFieldBytes:
      return declaredSize;
    case kFieldTime:
      return 4;
    case kFieldTimestamp:
      return 8;
    case kFieldUInt16:
      return 2;
    case kFieldUInt32:
      return 4;
    case kFieldExtended:
      return 10;
    case kFieldVarBytes:
      return declaredSize;
    default:
      return declaredSize;  // codes above 15
  }
}

bool IsValidNameStart(std::string_view name) {
  if (name.empty()) return false;
  const unsigned char c = static_cast<unsigned char>(name[0]);
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 129 && c <= 254);
}

bool DefaultValueTextConverts(const TFieldDefinition& field, std::string_view text) {
  const std::string upper = UpperAscii(Trim(text));
  switch (field.Type()) {
    case kFieldBoolean:
      return upper == "TRUE" || upper == "FALSE";
    case kFieldInt16:
      return ParseInteger(text, INT16_MIN, INT16_MAX);
    case kFieldInt32:
      return ParseInteger(text, INT32_MIN, INT32_MAX);
    case kFieldUInt16:
      return ParseInteger(text, 0, UINT16_MAX);
    case kFieldUInt32:
      return ParseInteger(text, 0, UINT32_MAX);
    case kFieldFloat:
    case kFieldBcd:
    case kFieldExtended:
      return ParseReal(text);
    case kFieldDate:
      return upper == "DATE" || LooksLikeDateTime(text, 3, 3);
    case kFieldTime:
      return upper == "TIME" || LooksLikeDateTime(text, 2, 4);
    case kFieldTimestamp:
      return upper == "NOW" || upper == "DATE" || upper == "TIME" || LooksLikeDateTime(text, 3, 7);
    default:
      return true;  // strings, bytes, BLOBs: any text
  }
}

std::uint32_t LayOutDefinitions(TFieldDefinitions& fields, std::string_view tableName,
                                const TValueTextCheck& valueCheck) {
  std::set<std::string> names;
  std::set<int> numbers;
  std::uint32_t offset = kFirstSlotOffset;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    TFieldDefinition& f = fields[i];
    f.SetName(Trim(f.Name()));
    if (!HasDeclaredSize(f.Type())) f.SetSize(0);
    if (f.Type() != kFieldBcd) f.SetScale(0);
    int code = 0;
    const std::string fault = CheckOne(f, names, numbers, valueCheck, code);
    if (code != 0) {
      if (code == kErrInvalidFieldName) RaiseEngineError(code, tableName, f.Name());
      RaiseEngineError(code, tableName, f.Name(), fault);
    }
    f.ComputeStorage();
    if (f.IsAutoIncrement()) {
      f.SetOffset(kRecordAutoIncOffset);
    } else {
      f.SetOffset(static_cast<std::uint16_t>(std::min<std::uint32_t>(offset, UINT16_MAX)));
      if (!f.NotStored()) offset += f.StorageSize() + 1u;
    }
  }
  return offset;
}

std::string VerifyDefinitions(const TFieldDefinitions& fields, std::uint32_t recordSize,
                              const TValueTextCheck& valueCheck) {
  std::set<std::string> names;
  std::set<int> numbers;
  std::uint32_t offset = kFirstSlotOffset;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const TFieldDefinition& f = fields[i];
    const std::string where = "field " + std::to_string(i + 1) + ": ";
    // Counted strings are read clamped to their slots; a length byte beyond
    // the slot is damage that the clamped text would hide.
    const std::string countFault = CountedLengthFault(f);
    if (!countFault.empty()) return where + countFault;
    int code = 0;
    std::string fault = CheckOne(f, names, numbers, valueCheck, code);
    if (!fault.empty()) return where + fault;
    if (f.Number() != static_cast<int>(i + 1)) return where + "number differs from position";
    if (f.StorageSize() != StorageSizeOf(f.Type(), f.Size()) || f.EffectiveScale() != f.Scale())
      return where + "storage size or scale differs from its type";
    if (f.IsAutoIncrement()) {
      if (f.Offset() != kRecordAutoIncOffset) return where + "auto-increment offset is not 5";
    } else {
      if (f.Offset() != offset) return where + "slot offset out of place";
      if (!f.NotStored()) offset += f.StorageSize() + 1u;
    }
  }
  if (offset != recordSize) return "record size differs from the field slots";
  return {};
}

TFieldDefinition& AppendField(TFieldDefinitions& fields, std::string_view name, std::uint8_t type,
                              std::uint8_t size) {
  TFieldDefinition f;
  f.SetNumber(static_cast<std::int16_t>(fields.size() + 1));
  f.SetName(name);
  f.SetType(type);
  f.SetSize(size);
  fields.push_back(f);
  return fields.back();
}

}  // namespace engine
