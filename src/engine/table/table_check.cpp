// The table-set checker (see table_check.h).
#include "engine/table/table_check.h"

#include <algorithm>

#include "engine/errors.h"
#include "engine/files/commit_journal.h"
#include "engine/files/table_names.h"
#include "engine/storage/blob_file.h"
#include "engine/storage/data_file.h"
#include "engine/storage/index_check.h"
#include "engine/storage/index_file.h"
#include "engine/table/data_cursor.h"
#include "engine/table/data_directory.h"
#include "engine/table/data_session.h"
#include "engine/table/data_table_values.h"
#include "engine/table/table_empty.h"
#include "engine/table/table_repair_record.h"

namespace engine {

std::string TTableCheckReport::Describe() const {
  std::string text;
  for (const std::string& line : findings) text += line + "\n";
  return text;
}

bool RecoverInterruptedCommit(const std::string& dataFileName) {
  const std::string dir(ExtractFilePath(dataFileName));
  const std::string dataFile = dir + TableFileName("", ExtractFileName(dataFileName), kDataFileExt);
  const TJournalLocation journal = TCommitJournal::Locate(dataFile, false);
  // An empty journal is no interrupted commit; opening the table removes it
  // when no one holds it.
  const bool interrupted = TCommitJournal::Hot(journal) || EmptyIntentPresent(journal);
  if (!interrupted && !TCommitJournal::Exists(journal)) return false;
  TDataSession session;
  try {
    TDataCursor cursor(session.OpenDirectory("", dir), std::string(ExtractFileName(dataFile)));
    TCursorOptions options;
    options.maintenance = true;
    cursor.SetOptions(options);
    cursor.Open();
    cursor.Close();
  } catch (const EZORVADEngineError&) {
    // Unopenable: the check reports why.
  }
  return interrupted;
}

TTableCheckReport CheckTableSet(const std::string& dataFileName, bool inMemory) {
  TTableCheckReport report;
  if (!inMemory && RecoverInterruptedCommit(dataFileName))
    report.notes.push_back(
        "an interrupted commit was rolled back from its journal, or an interrupted emptying "
        "finished");
  const std::string dir(ExtractFilePath(dataFileName));
  const TTableSetNames names =
      TableSetNames(dir, TableFileName("", ExtractFileName(dataFileName), kDataFileExt));
  for (const TCheckFinding& f :
       DiagnoseTableFiles(names.data, names.blob, inMemory, &ValueTextCheckFor)) {
    report.findings.push_back(f.text);
  }

  // Read-only look: the host reports no transaction and nothing written.
  TSimpleStorageHost host;
  host.exclusive = false;
  TDataFile data(nullptr, &host);
  data.SetFileName(names.data);
  data.SetInMemory(inMemory);
  data.SetReadOnly(true);
  try {
    data.Open();
  } catch (const EZORVADEngineError&) {
    return report;  // already reported by the data file's diagnosis
  }
  // Record slots the file holds (the header's count may claim more).
  const std::int64_t definitionsEnd =
      kDataHeaderSize + static_cast<std::int64_t>(data.FieldCount()) * kFieldDefinitionSize;
  report.recordSlots =
      data.RecordSize() == 0
          ? 0
          : std::min<std::int64_t>(
                data.RecordCount(),
                std::max<std::int64_t>(data.GetSize() - definitionsEnd, 0) / data.RecordSize());

  TIndexFile index(nullptr, &host);
  index.SetFileName(names.index);
  index.SetInMemory(inMemory);
  index.SetReadOnly(true);
  index.SetEncrypted(data.Encrypted());
  bool indexSound = true;
  try {
    index.Open();
    CheckIndexFileOnOpen(index, data.Definitions());
  } catch (const EZORVADEngineError& e) {
    report.findings.push_back(names.index + ": " + e.Message());
    indexSound = false;
  }

  // Records and the free chain; whether every deleted record must be on the
  // chain depends on the primary key, which the index header knows.
  try {
    const TRecordCensus census =
        data.DiagnoseRecords(!indexSound || !index.NoPrimaryKey(), nullptr);
    report.liveRecords = census.live;
    for (const TCheckFinding& f : census.findings)
      report.findings.push_back(names.data + ": " + f.text);
  } catch (const EZORVADEngineError& e) {
    report.findings.push_back(names.data + ": records: " + e.Message());
  }
  // Field slots of every record in use, judged as the repair judges them.
  try {
    int faulty = 0;
    for (std::int32_t n = 1; n <= std::min<std::int64_t>(data.RecordCount(), report.recordSlots);
         ++n) {
      TRecord* r = data.GetRecord(nullptr, n, kReadForward, true);
      if (r == nullptr) continue;
      std::string fault;
      if (r->Data()[kRecordStatusOffset] == kRecordInUse)
        fault = repair::RecordFault(data.Definitions(), r->Data(), data.RecordSize());
      data.ReleaseRecord(r);
      if (!fault.empty() && ++faulty <= kMaxListedRecords)
        report.findings.push_back(names.data + ": record " + std::to_string(n) + ": " + fault);
    }
    if (faulty > kMaxListedRecords) {
      report.findings.push_back(names.data + ": " + std::to_string(faulty - kMaxListedRecords) +
                                " more records with damaged fields");
    }
  } catch (const EZORVADEngineError& e) {
    report.findings.push_back(names.data + ": records: " + e.Message());
  }
  if (!indexSound) return report;
  TIndexCheckOptions options;
  options.languageId = static_cast<std::uint16_t>(data.LanguageId());
  options.sortId = static_cast<std::uint16_t>(data.SortId());
  try {
    const TIndexCheckReport trees = CheckIndexTrees(index, data.Definitions(), options);
    for (const TIndexProblem& p : trees.problems) {
      report.findings.push_back(names.index + ": index " + std::to_string(p.slot) +
                                (p.page != 0 ? ", page " + std::to_string(p.page) : "") + ": " +
                                p.text);
    }
    for (const TIndexTreeStats& t : trees.trees) {
      report.notes.push_back("index " + std::to_string(t.slot) + ": " + std::to_string(t.keys) +
                             " keys, " + std::to_string(t.pages) + " pages, depth " +
                             std::to_string(t.depth));
      const bool system = t.slot == kSystemSlot;
      const bool keyless = t.slot == kPrimarySlot && index.NoPrimaryKey();
      if (keyless) continue;
      const std::int64_t expected = system ? report.recordSlots : report.liveRecords;
      if (t.keys != expected) {
        report.findings.push_back(names.index + ": index " + std::to_string(t.slot) + " holds " +
                                  std::to_string(t.keys) + " keys, the data file " +
                                  std::to_string(expected) +
                                  (system ? " record slots" : " records in use"));
      }
    }
  } catch (const EZORVADEngineError& e) {
    report.findings.push_back(names.index + ": " + e.Message());
  }
  if (index.RecordCount() != report.liveRecords) {
    report.findings.push_back(
        names.index + ": header counts " + std::to_string(index.RecordCount()) +
        " records in use, the data file " + std::to_string(report.liveRecords));
  }
  return report;
}

}  // namespace engine
