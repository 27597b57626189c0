// Table-set repair (see table_repair.h for the steps and the file names).
#include "engine/table/table_repair.h"

#include <algorithm>
#include <array>
#include <set>

#include "engine/errors.h"
#include "engine/files/cipher.h"
#include "engine/files/table_names.h"
#include "engine/storage/blob_file.h"
#include "engine/storage/data_file.h"
#include "engine/storage/data_file_bytes.h"
#include "engine/storage/index_format.h"
#include "engine/table/data_cursor.h"
#include "engine/table/data_directory.h"
#include "engine/table/data_session.h"
#include "engine/table/data_table_values.h"
#include "engine/table/table_check.h"
#include "engine/table/table_repair_record.h"
#include "platform/file_ops.h"
#include "platform/locale.h"

namespace engine {
namespace {

constexpr char kRebuildSuffix[] = "~RPR";         // table name of the set being rebuilt
constexpr char kDamagedSuffix[] = ".damaged";     // added to each damaged file's name
constexpr int kMaxCopyNumber = 9999;              // ".damaged" .. ".damaged9999"
constexpr std::uint32_t kRecordRunBytes = 65535;  // bytes read per run of records

std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// ---- Index definitions -----------------------------------------------------------

struct TSalvagedIndexes {
  std::vector<TIndexDefinition> indexes;  // primary first (empty fields: none)
  bool noPrimaryKey = true;
};

// The definition a stored descriptor describes, or "" in `fault` why it
// cannot be trusted against `fields`.
TIndexDefinition DefinitionOf(const TIndexDescriptor& d, const TFieldDefinitions& fields,
                              bool primary, std::string& fault) {
  TIndexDefinition def;
  const std::uint8_t nameLength = d.Bytes()[kDescName];
  def.name = Trimmed(d.Name());
  if (primary ? nameLength != 0 || !d.Unique()
              : nameLength > kMaxIndexNameLength || !IsValidNameStart(def.name)) {
    fault = "its name or unique flag is damaged";
    return def;
  }
  if (d.FieldCount() < 1 || d.FieldCount() > kMaxKeyFields || d.Compression() > kCompressFull) {
    fault = "its field count or compression is damaged";
    return def;
  }
  int sum = 0;
  for (int i = 0; i < d.FieldCount(); ++i) {
    const int number = d.FieldNumber(i);
    if (number < 1 || static_cast<std::size_t>(number) > fields.size() ||
        fields[static_cast<std::size_t>(number - 1)].Type() == kFieldBlob) {
      fault = "it names field number " + std::to_string(number);
      return def;
    }
    sum += fields[static_cast<std::size_t>(number - 1)].StorageSize() + 1;
    def.fieldNumbers.push_back(static_cast<std::int16_t>(number));
    def.fieldDescending.push_back(d.FieldDescending(i));
  }
  const int expected = sum + (d.Unique() ? 0 : kNonUniqueSuffixSize);
  if (sum > kMaxKeyFieldBytes || d.KeyLength() != expected) {
    fault = "its key length " + std::to_string(d.KeyLength()) + " does not fit its fields";
    return def;
  }
  def.descending = d.Descending();
  def.caseInsensitive = d.CaseInsensitive();
  def.unique = d.Unique();
  def.compression = d.Compression();
  return def;
}

// Reads the index header straight from the file (it may be too damaged for
// the index file's own open) and keeps every descriptor that fits the fields.
TSalvagedIndexes SalvageIndexes(const std::string& indexFile, bool encrypted,
                                const TFieldDefinitions& fields, TTableRepairReport& report) {
  TSalvagedIndexes out;
  std::vector<std::uint8_t> header(kIndexHeaderSize);
  try {
    TFileHandler file(nullptr);
    file.SetFileName(indexFile);
    file.SetReadOnly(true);
    file.Open();
    std::int32_t got = 0;
    {
      TFileAccess access(file);
      file.Seek(0, kSeekFromStart);
      got = file.Read(header.data(), static_cast<std::int32_t>(header.size()), true);
    }
    file.Close();
    if (got != static_cast<std::int32_t>(header.size())) {
      report.notes.push_back("the index header is cut short: rebuilt without indexes");
      out.indexes.emplace_back();
      return out;
    }
  } catch (const EZORVADEngineError& e) {
    report.notes.push_back("the index file cannot be read (" + e.Message() +
                           "): rebuilt without indexes");
    out.indexes.emplace_back();
    return out;
  }
  if (encrypted) Decipher(header.data(), header.size(), kDataKey);

  auto descriptor = [&](int slot) {
    return TIndexDescriptor(&header[kIdxHdrDescriptors + kDescriptorSize * slot]);
  };
  std::string fault;
  TIndexDefinition primary;
  if (header[kIdxHdrNoPrimaryKey] == 0) {
    primary = DefinitionOf(descriptor(kPrimarySlot), fields, true, fault);
    if (!fault.empty()) {
      report.notes.push_back("primary index left out (" + fault +
                             "): rebuilt without a primary key");
      primary = {};
    }
  }
  out.noPrimaryKey = primary.fieldNumbers.empty();
  primary.name.clear();
  out.indexes.push_back(primary);

  int secondaries = header[kIdxHdrSecondaryCount];
  if (secondaries > kMaxSecondaryIndexes) {
    report.notes.push_back("the index header counts " + std::to_string(secondaries) +
                           " secondary indexes; the first " + std::to_string(kMaxSecondaryIndexes) +
                           " were looked at");
    secondaries = kMaxSecondaryIndexes;
  }
  std::set<std::string> names;
  for (int slot = 1; slot <= secondaries; ++slot) {
    fault.clear();
    TIndexDefinition def = DefinitionOf(descriptor(slot), fields, false, fault);
    if (fault.empty() && !names.insert(UpperAscii(def.name)).second) fault = "its name repeats";
    if (!fault.empty()) {
      report.notes.push_back("secondary index " + std::to_string(slot) + " left out (" + fault +
                             ")");
      continue;
    }
    out.indexes.push_back(def);
  }
  return out;
}

// ---- Files -------------------------------------------------------------------------

std::array<std::string, 3> Files(const TTableSetNames& n) {
  return {n.data, n.index, n.blob};
}

// The suffix of the first copy number under which none of the files exists.
std::string FreeCopySuffix(const TTableSetNames& names) {
  for (int k = 1; k <= kMaxCopyNumber; ++k) {
    const std::string suffix = kDamagedSuffix + (k == 1 ? std::string() : std::to_string(k));
    bool free = true;
    for (const std::string& f : Files(names)) free = free && !platform::FileExists(f + suffix);
    if (free) return suffix;
  }
  return {};
}

void DeleteSet(const TTableSetNames& names) {
  for (const std::string& f : Files(names)) {
    if (platform::FileExists(f)) platform::DeleteFile(f);
  }
}

// Moves the damaged files aside and the rebuilt ones into their places; on a
// failure every move made so far is undone and 11013 raised.
void SwapIn(const TTableSetNames& damaged, const TTableSetNames& rebuilt, const std::string& table,
            TTableRepairReport& report) {
  const std::string suffix = FreeCopySuffix(damaged);
  if (suffix.empty()) RaiseEngineError(kErrAccessDenied, table);
  std::vector<std::pair<std::string, std::string>> done;  // from, to
  auto undo = [&] {
    for (auto it = done.rbegin(); it != done.rend(); ++it)
      platform::MoveFile(it->second, it->first);
  };
  auto move = [&](const std::string& from, const std::string& to) {
    if (!platform::MoveFile(from, to)) {
      undo();
      RaiseEngineError(kErrAccessDenied, table);
    }
    done.emplace_back(from, to);
  };
  for (const std::string& f : Files(damaged)) {
    if (platform::FileExists(f)) move(f, f + suffix);
  }
  const auto from = Files(rebuilt);
  const auto to = Files(damaged);
  for (std::size_t i = 0; i < from.size(); ++i) {
    if (platform::FileExists(from[i])) move(from[i], to[i]);
  }
  for (const auto& [source, target] : done) {
    if (target.size() > suffix.size() &&
        target.compare(target.size() - suffix.size(), suffix.size(), suffix) == 0) {
      report.damagedCopies.push_back(target);
    }
  }
}

// ---- Records -----------------------------------------------------------------------

// Reads the record slots of the damaged data file in runs and hands each to
// `visit` (record number, deciphered bytes).
template <typename Visit>
void ForEachSlot(TDataFile& data, std::int64_t slots, Visit visit) {
  const std::uint32_t r = data.RecordSize();
  const std::int64_t perRun = std::max<std::int64_t>(1, kRecordRunBytes / r);
  std::vector<std::uint8_t> run;
  for (std::int64_t first = 1; first <= slots; first += perRun) {
    const std::int64_t count = std::min(perRun, slots - first + 1);
    run.resize(static_cast<std::size_t>(count) * r);
    {
      TFileAccess access(data);
      data.Seek(data.RecordPosition(static_cast<std::int32_t>(first)), kSeekFromStart);
      if (data.Read(run.data(), static_cast<std::int32_t>(run.size()), true) !=
          static_cast<std::int32_t>(run.size())) {
        RaiseEngineError(kErrReadFailed, data.FileName());
      }
    }
    for (std::int64_t i = 0; i < count; ++i) {
      std::uint8_t* record = &run[static_cast<std::size_t>(i) * r];
      if (data.Encrypted()) Decipher(record, r, kDataKey);
      visit(first + i, record);
    }
  }
}

class TRebuilder {
 public:
  TRebuilder(TDataFile& data, const TFieldDefinitions& fields, TDataCursor& target,
             repair::TChainReader& chains, TTableRepairReport& report)
      : FData(data), FFields(fields), FTarget(target), FChains(chains), FReport(report) {}

  void Take(std::int64_t n, const std::uint8_t* raw) {
    const std::uint8_t status = raw[kRecordStatusOffset];
    if (status == kRecordDeleted) {
      ++FReport.deletedSlots;
      return;
    }
    if (status != kRecordInUse) return Drop(n, "status byte " + std::to_string(status));
    TDataCursor::TRecordBuffer record(raw, raw + FData.RecordSize());
    for (const std::string& field :
         repair::ClearNullSlots(FFields, record.data(), FData.RecordSize()))
      FReport.notes.push_back("record " + std::to_string(n) + ": stray bytes in the NULL field " +
                              field + " cleared");
    const std::string fault = repair::RecordFault(FFields, record.data(), FData.RecordSize());
    if (!fault.empty()) return Drop(n, fault);

    std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> blobs;
    for (std::uint32_t i = 1; i <= FFields.size(); ++i) {
      const TFieldDefinition& f = FFields[i - 1];
      if (f.Type() != kFieldBlob || !f.HasSlot()) continue;
      std::uint8_t* slot = &record[f.Offset()];
      const bool present = slot[0] != 0;
      const std::int32_t first = bytes::GetI32(slot + 1);
      const std::int32_t id = bytes::GetI32(slot + 5);
      std::fill_n(slot, f.StorageSize() + 1u, std::uint8_t{0});
      if (!present) continue;
      std::vector<std::uint8_t> content;
      if (first != 0) {
        std::string why;
        auto read = FChains.Read(first, id, why);
        if (!read) {
          FChains.Forget();
          return Drop(n, "field " + f.Name() + ": " + why);
        }
        content = std::move(*read);
      }
      blobs.emplace_back(i, std::move(content));
    }
    try {
      for (const auto& [field, content] : blobs)
        FTarget.PutBlob(record, field, content.data(), content.size());
      FTarget.Insert(record, false);
    } catch (const EZORVADEngineError& e) {
      FTarget.Blobs().FreeAll();
      FChains.Forget();
      return Drop(n, e.Message());
    }
    FChains.Claim(n);
    ++FReport.keptRecords;
  }

 private:
  void Drop(std::int64_t n, const std::string& reason) { FReport.dropped.push_back({n, reason}); }

  TDataFile& FData;
  const TFieldDefinitions& FFields;
  TDataCursor& FTarget;
  repair::TChainReader& FChains;
  TTableRepairReport& FReport;
};

// The definitions with every counted string whose length byte runs past its
// slot read up to its first zero byte instead (the length byte is the damage
// when the characters themselves are intact).
TFieldDefinitions MendCountedLengths(const TFieldDefinitions& stored, TTableRepairReport& report) {
  struct Counted {
    std::size_t at;
    std::size_t maxLength;
  };
  static constexpr Counted kCounted[] = {
      {TFieldDefinition::kName, kMaxFieldNameLength},
      {TFieldDefinition::kDescription, kMaxDescriptionLength},
      {TFieldDefinition::kMinimum, kMaxDescriptionLength},
      {TFieldDefinition::kMaximum, kMaxDescriptionLength},
      {TFieldDefinition::kDefault, kMaxDescriptionLength},
  };
  TFieldDefinitions fields = stored;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    std::uint8_t* d = fields[i].Bytes();
    for (const Counted& c : kCounted) {
      if (d[c.at] <= c.maxLength) continue;
      const std::uint8_t* text = d + c.at + 1;
      const auto length =
          static_cast<std::uint8_t>(std::find(text, text + c.maxLength, std::uint8_t{0}) - text);
      report.notes.push_back("field " + std::to_string(i + 1) + ": length byte " +
                             std::to_string(d[c.at]) + " at definition offset " +
                             std::to_string(c.at) + " taken as " + std::to_string(length));
      d[c.at] = length;
    }
  }
  return fields;
}

TValueTextCheck TextCheckOf(const TDataFile& data) {
  const auto language = static_cast<std::uint16_t>(data.LanguageId());
  const auto sort = static_cast<std::uint16_t>(data.SortId());
  const bool known = language == 0 || platform::IsValidLocale(platform::MakeLcid(
                                          static_cast<platform::LangId>(language),
                                          static_cast<platform::SortId>(sort)));
  return known ? ValueTextCheckFor(language, sort) : TValueTextCheck(DefaultValueTextConverts);
}

}  // namespace

std::string TTableRepairReport::Describe() const {
  std::string text;
  for (const std::string& p : problems) text += "found: " + p + "\n";
  if (!refusal.empty()) text += "not repaired: " + refusal + "\n";
  for (const std::string& n : notes) text += "note: " + n + "\n";
  for (const TRepairDrop& d : dropped)
    text += "dropped record " + std::to_string(d.record) + ": " + d.reason + "\n";
  for (const std::string& c : damagedCopies) text += "damaged file kept as " + c + "\n";
  if (repaired) {
    text += "repaired: " + std::to_string(keptRecords) + " records kept, " +
            std::to_string(dropped.size()) + " dropped\n";
  }
  return text;
}

TTableRepairReport RepairTableSet(const std::string& dataFileName,
                                  const TTableRepairOptions& options) {
  TTableRepairReport report;
  const std::string dir(ExtractFilePath(dataFileName));
  const std::string tableFile = TableFileName("", ExtractFileName(dataFileName), kDataFileExt);
  const TTableSetNames names = TableSetNames(dir, tableFile);
  const std::string base = tableFile.substr(0, tableFile.size() - std::string(kDataFileExt).size());
  const TTableSetNames rebuiltNames = TableSetNames(dir, base + kRebuildSuffix + kDataFileExt);

  report.problems = CheckTableSet(names.data).findings;
  if (report.problems.empty() && !options.force) return report;

  // The damaged data file, held exclusively while it is read.
  TSimpleStorageHost host;
  TDataFile data(nullptr, &host);
  data.SetFileName(names.data);
  data.SetReadOnly(true);
  data.SetExclusive(true);
  try {
    data.Open();
  } catch (const EZORVADEngineError& e) {
    report.refusal = "the data file cannot be opened: " + e.Message();
    return report;
  }
  const TFieldDefinitions fields = MendCountedLengths(data.Definitions(), report);
  const std::string layoutFault =
      data.RecordSize() == 0 ? "record size 0"
                             : VerifyDefinitions(fields, data.RecordSize(), TextCheckOf(data));
  if (!layoutFault.empty()) {
    report.refusal =
        "the field definitions are damaged (" + layoutFault + "), so no record can be read safely";
    return report;
  }

  // Record slots the file physically holds.
  const std::int64_t area =
      data.GetSize() - kDataHeaderSize -
      static_cast<std::int64_t>(fields.size()) * static_cast<std::int64_t>(kFieldDefinitionSize);
  const std::int64_t r = data.RecordSize();
  const std::int64_t slots =
      std::min<std::int64_t>(std::max<std::int64_t>(area, 0) / r, kMaxRecordNumber - 1);
  if (area > 0 && area % r != 0) {
    report.notes.push_back("a partial record of " + std::to_string(area % r) +
                           " bytes at the end of the data file was left out");
  }
  if (slots != data.RecordCount()) {
    report.notes.push_back("the data file holds " + std::to_string(slots) +
                           " record slots, its header counts " +
                           std::to_string(data.RecordCount()) + "; every whole slot was read");
  }

  // The damaged BLOB file, read block by block.
  std::uint32_t blockSize = static_cast<std::uint32_t>(data.BlobBlockSize()) & 0xFFFFu;
  if (blockSize == 0) blockSize = kDefaultBlobBlockSize;
  TFileHandler blobFile(nullptr);
  const bool hasBlobs = std::any_of(fields.begin(), fields.end(), [](const TFieldDefinition& f) {
    return f.Type() == kFieldBlob;
  });
  if (hasBlobs) {
    blobFile.SetFileName(names.blob);
    blobFile.SetReadOnly(true);
    try {
      blobFile.Open();
    } catch (const EZORVADEngineError& e) {
      report.notes.push_back("the BLOB file cannot be read (" + e.Message() +
                             "): records with BLOB data are dropped");
    }
  }
  repair::TChainReader chains(&blobFile, blockSize, data.Encrypted());

  // The rebuilt set, created afresh beside the damaged one.
  const TSalvagedIndexes salvaged = SalvageIndexes(names.index, data.Encrypted(), fields, report);
  TTableDefinition definition;
  definition.languageId = static_cast<std::uint16_t>(data.LanguageId());
  definition.sortId = static_cast<std::uint16_t>(data.SortId());
  definition.fields = fields;
  definition.indexes = salvaged.indexes;
  definition.noPrimaryKey = salvaged.noPrimaryKey;
  definition.blobBlockSize =
      static_cast<std::int32_t>(blockSize < kMinBlockSize ? kDefaultBlobBlockSize : blockSize);
  definition.description = data.Description();
  definition.userMajor = data.UserMajor();
  definition.userMinor = data.UserMinor();
  definition.encrypted = data.Encrypted();
  definition.password = data.Password();
  definition.overwrite = true;

  DeleteSet(rebuiltNames);
  TDataSession session;
  if (data.Encrypted()) session.AddPassword(data.Password());
  TDataDirectory* directory = session.OpenDirectory("", dir);
  try {
    {
      TDataCursor target(directory, base + kRebuildSuffix);
      TCursorOptions exclusive;
      exclusive.exclusive = true;
      target.SetOptions(exclusive);
      target.CreateTable(definition);
      target.Open();
      target.AutoIncrementMode = true;
      TRebuilder rebuilder(data, fields, target, chains, report);
      ForEachSlot(data, slots,
                  [&](std::int64_t n, const std::uint8_t* raw) { rebuilder.Take(n, raw); });
      const std::int32_t last = data.LastAutoIncrement();
      TDataFile& rebuilt = target.Table()->DataFile();
      if (last > rebuilt.LastAutoIncrement()) rebuilt.SetLastAutoIncrement(last);
      target.Close();
    }
    session.CloseDirectory(directory);
    directory = nullptr;
    const TTableCheckReport check = CheckTableSet(rebuiltNames.data);
    if (!check.Ok()) {
      report.refusal = "the rebuilt table did not check clean: " + check.Describe();
      DeleteSet(rebuiltNames);
      return report;
    }
  } catch (const EZORVADEngineError& e) {
    // The rebuilt set could not be made (a definition the engine refuses to
    // create, a disk error): the damaged set stays as it is.
    if (directory != nullptr) session.CloseDirectory(directory);
    DeleteSet(rebuiltNames);
    report.refusal = "the rebuilt table could not be made: " + e.Message();
    return report;
  } catch (...) {
    if (directory != nullptr) session.CloseDirectory(directory);
    DeleteSet(rebuiltNames);
    throw;
  }
  if (blobFile.IsOpen()) blobFile.Close();
  data.Close();
  SwapIn(names, rebuiltNames, names.data, report);
  report.repaired = true;
  return report;
}

}  // namespace engine
