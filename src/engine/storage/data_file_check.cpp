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
//   4. the record size equals the final running offset, and the header's
//      BLOB field count equals the BLOB fields defined, else 8961;
//   5. with L the file length and B = 127 + 768 * F: when L > B, L - B is a
//      whole number of records; and (L - B) / R + 1 equals the next record
//      number, else 8961.
//
// DiagnoseRecords is the deeper look of the table-set checker: every record's
// status byte and the free chain of deleted records, walked from the header's
// first free record through the links at record offset 1:
//   - the head is 0 or a record of the file (1 .. next record number - 1);
//   - every link leads to a record of the file that is deleted, and the chain
//     never returns to a record it passed;
//   - in a table with a primary key of its own every deleted record is on the
//     chain (a table without one appends every insert and links each freed
//     record alone, so its chain holds at most the last one freed).
#include <algorithm>
#include <string>

#include "engine/errors.h"
#include "engine/storage/data_file.h"
#include "engine/storage/data_file_bytes.h"
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
  std::int32_t blobFields = 0;
  for (const TFieldDefinition& f : FDefinitions) blobFields += f.Type() == kFieldBlob ? 1 : 0;
  if (BlobFieldCount() != blobFields) {
    findings.push_back({kErrHeaderCorrupt, "header counts " + std::to_string(BlobFieldCount()) +
                                               " BLOB fields, the definitions " +
                                               std::to_string(blobFields)});
  }

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

TRecordCensus TDataFile::DiagnoseRecords(bool hasPrimaryKey, TDataCursor* cursor) {
  TRecordCensus census;
  // Only records the file really holds are read (a damaged next record
  // number may claim billions; the header check reports the difference).
  const std::int64_t base = kDataHeaderSize + static_cast<std::int64_t>(DefinitionsBytes());
  const std::int64_t held =
      RecordSize() == 0 ? 0 : std::max<std::int64_t>(GetSize() - base, 0) / RecordSize();
  const auto count = static_cast<std::int32_t>(
      std::clamp<std::int64_t>(std::min<std::int64_t>(RecordCount(), held), 0, kMaxRecordNumber));
  std::vector<std::uint8_t> status(static_cast<std::size_t>(count) + 1, kRecordInUse);
  std::vector<std::int32_t> link(static_cast<std::size_t>(count) + 1, 0);
  int oddStatuses = 0;
  for (std::int32_t n = 1; n <= count; ++n) {
    TRecord* r = GetRecord(cursor, n, kReadForward, true);
    if (r == nullptr) return DiagnoseRecords(hasPrimaryKey, cursor);  // caches dropped: again
    status[static_cast<std::size_t>(n)] = r->Data()[kRecordStatusOffset];
    link[static_cast<std::size_t>(n)] = bytes::GetI32(r->Data() + kRecordLinkOffset);
    ReleaseRecord(r);
    const std::uint8_t s = status[static_cast<std::size_t>(n)];
    if (s == kRecordInUse) {
      ++census.live;
    } else if (s == kRecordDeleted) {
      ++census.deleted;
    } else if (++oddStatuses <= kMaxListedRecords) {
      census.findings.push_back(
          {kErrRecordBufferCorrupt,
           "record " + std::to_string(n) + " has status byte " + std::to_string(s)});
    }
  }
  if (oddStatuses > kMaxListedRecords) {
    census.findings.push_back(
        {kErrRecordBufferCorrupt,
         std::to_string(oddStatuses - kMaxListedRecords) + " more records with a bad status byte"});
  }

  auto fault = [&](const std::string& text) {
    census.findings.push_back({kErrHeaderCorrupt, "free chain: " + text});
  };
  std::int64_t chained = 0;
  std::vector<bool> passed(static_cast<std::size_t>(count) + 1, false);
  std::int32_t p = FirstFree();
  if (p != 0 && (p < 1 || p > count)) {
    fault("first free record " + std::to_string(p) + " is not a record of the file");
    p = 0;
  }
  while (p != 0) {
    const auto at = static_cast<std::size_t>(p);
    if (passed[at]) {
      fault("returns to record " + std::to_string(p));
      break;
    }
    passed[at] = true;
    if (status[at] != kRecordDeleted) {
      fault("reaches record " + std::to_string(p) + ", which is not deleted");
      break;
    }
    ++chained;
    const std::int32_t next = link[at];
    if (next != 0 && (next < 1 || next > count)) {
      fault("record " + std::to_string(p) + " links to " + std::to_string(next) +
            ", past the records of the file");
      break;
    }
    p = next;
  }
  if (hasPrimaryKey && census.findings.empty() && chained != census.deleted) {
    fault("holds " + std::to_string(chained) + " of the " + std::to_string(census.deleted) +
          " deleted records");
  }
  return census;
}

std::int32_t TDataFile::CheckedInsertPosition() const {
  const std::int32_t n = InsertPosition();
  if (n != NextRecord() && (n < 1 || n > RecordCount()))
    RaiseEngineError(kErrHeaderCorrupt, FileName());
  return n;
}

void TDataFile::CheckConsistency(TValueTextCheckMaker valueTexts) {
  const std::vector<TCheckFinding> findings = Diagnose(valueTexts);
  if (!findings.empty()) RaiseEngineError(findings.front().code, FileName());
}

}  // namespace engine
