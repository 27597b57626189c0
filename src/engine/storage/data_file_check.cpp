// The consistency check of a data file, made when a cursor opens a table that
// no other cursor of the process holds open.
//
// Rules, in order (each finding carries the code it raises):
//   1. format byte 4, else 12035;
//   2. a LanguageID other than 0 forms, with SortID, a valid installed locale,
//      else 15878;
//   3. every definition: name, number (= its position), type, declared size,
//      scale, value texts, recomputed storage size and effective scale, and
//      the slot offset (5 for auto-increment, else the running offset from 9),
//      else 8961;
//   4. the record size equals the final running offset, else 8961;
//   5. with L the file length and B = 127 + 768 * F: when L > B, L - B is a
//      whole number of records; and (L - B) / R + 1 equals the next record
//      number, else 8961.
#include <string>

#include "engine/errors.h"
#include "engine/storage/data_file.h"
#include "platform/locale.h"

namespace engine {

std::vector<TCheckFinding> TDataFile::Diagnose(TValueTextCheckMaker valueTexts) {
  std::vector<TCheckFinding> findings;
  if (Format() != kFileFormat)
    findings.push_back({kErrWrongVersion, "format byte is " + std::to_string(Format())});
  const bool localeKnown = LanguageId() == 0 || platform::IsValidLocale(platform::MakeLcid(
                                                    static_cast<platform::LangId>(LanguageId()),
                                                    static_cast<platform::SortId>(SortId())));
  if (!localeKnown) {
    findings.push_back({kErrLanguageDriver, "language " + std::to_string(LanguageId()) + " sort " +
                                                std::to_string(SortId()) + " is not installed"});
  }
  // Value texts (defaults, minimums, maximums) are read in the table's own
  // formats, as they were checked when the table was made.
  const std::string definitionFault =
      localeKnown && valueTexts != nullptr
          ? VerifyDefinitions(FDefinitions, RecordSize(),
                              valueTexts(static_cast<std::uint16_t>(LanguageId()),
                                         static_cast<std::uint16_t>(SortId())))
          : VerifyDefinitions(FDefinitions, RecordSize());
  if (!definitionFault.empty()) findings.push_back({kErrHeaderCorrupt, definitionFault});

  const std::int64_t length = GetSize();
  const std::int64_t base = kDataHeaderSize + static_cast<std::int64_t>(DefinitionsBytes());
  const std::int64_t r = RecordSize();
  if (r == 0) {
    findings.push_back({kErrHeaderCorrupt, "record size is 0"});
  } else {
    const std::int64_t body = length - base;
    if (body > 0 && body % r != 0)
      findings.push_back({kErrHeaderCorrupt, "file length " + std::to_string(length) +
                                                 " is not a whole number of records"});
    else if (body < 0 || body / r + 1 != NextRecord())
      findings.push_back({kErrHeaderCorrupt, "file holds " + std::to_string(body / r) +
                                                 " records but the next record number is " +
                                                 std::to_string(NextRecord())});
  }
  return findings;
}

void TDataFile::CheckConsistency(TValueTextCheckMaker valueTexts) {
  const std::vector<TCheckFinding> findings = Diagnose(valueTexts);
  if (!findings.empty()) RaiseEngineError(findings.front().code, FileName());
}

}  // namespace engine
