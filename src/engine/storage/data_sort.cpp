// The physical sort of a data file; see data_sort.h for the rules.
#include "engine/storage/data_sort.h"

#include <algorithm>
#include <cstring>
#include <queue>

#include "engine/errors.h"
#include "engine/files/cipher.h"
#include "engine/storage/data_file_bytes.h"
#include "platform/file_ops.h"
#include "platform/locale.h"
#include "platform/system.h"

namespace engine {
namespace {

constexpr std::size_t kRunIoBytes = 65535;   // bytes per read or write of a run file
constexpr int kMaxRunNameAttempts = 100000;  // counter values tried for a free run name
constexpr std::size_t kSuffixSize = 4;       // auto-increment key after the sort fields

struct TSortItem {
  std::vector<std::uint8_t> key;
  std::vector<std::uint8_t> record;
};

// A temporary run file: created exclusively under the first free name,
// deleted when destroyed.
class TRunFile {
 public:
  TRunFile(const std::string& directory, int& counter) : handler_(nullptr) {
    std::string id = std::to_string(platform::GetCurrentThreadId());
    id = id.substr(0, std::min<std::size_t>(5, id.size()));
    for (int attempt = 0; attempt < kMaxRunNameAttempts; ++attempt) {
      const std::string name = directory + id + std::to_string(counter++) + ".TMP";
      handler_.SetFileName(name);
      if (!handler_.Exists()) break;
    }
    handler_.SetExclusive(true);
    handler_.SetTemporary(true);
    handler_.CreateNew();
  }
  ~TRunFile() {
    try {
      handler_.Close();
      if (handler_.Exists()) handler_.Delete();
    } catch (...) {
      // Cleanup only: a leftover .TMP file is harmless.
    }
  }
  TRunFile(const TRunFile&) = delete;
  TRunFile& operator=(const TRunFile&) = delete;
  TFileHandler& File() { return handler_; }

 private:
  TFileHandler handler_;
};

// Reads the records of one run in order, 64 KB at a time.
class TRunReader {
 public:
  TRunReader(TRunFile& run, std::uint32_t recordSize, std::int64_t records, bool encrypted)
      : run_(run), recordSize_(recordSize), left_(records), encrypted_(encrypted) {}
  // The next record, or null at the end of the run.
  const std::uint8_t* Next() {
    if (left_ == 0) return nullptr;
    if (at_ >= filled_) {
      const std::int64_t batch =
          std::min<std::int64_t>(left_, std::max<std::size_t>(1, kRunIoBytes / recordSize_));
      buffer_.resize(static_cast<std::size_t>(batch) * recordSize_);
      TFileAccess access(run_.File());
      run_.File().Seek(offset_, kSeekFromStart);
      run_.File().Read(buffer_.data(), static_cast<std::int32_t>(buffer_.size()));
      offset_ += static_cast<std::int64_t>(buffer_.size());
      filled_ = buffer_.size();
      at_ = 0;
    }
    std::uint8_t* record = &buffer_[at_];
    at_ += recordSize_;
    --left_;
    if (encrypted_) Decipher(record, recordSize_, kDataKey);
    return record;
  }

 private:
  TRunFile& run_;
  std::uint32_t recordSize_;
  std::int64_t left_;
  bool encrypted_;
  std::vector<std::uint8_t> buffer_;
  std::size_t filled_ = 0;
  std::size_t at_ = 0;
  std::int64_t offset_ = 0;
};

}  // namespace

// ---- Keys ----------------------------------------------------------------------

TSortKeys::TSortKeys(const TDataFile& file, const TDataFile::SortOptions& options)
    : recordSize_(file.RecordSize()) {
  std::vector<TDataFile::SortField> fields = options.fields;
  if (fields.empty()) {
    for (std::uint32_t i = 1; i <= file.FieldCount(); ++i) {
      const TFieldDefinition& f = file.GetDefinition(i);
      if (f.Type() == kFieldBlob || f.NotStored()) continue;  // no order of their own
      fields.push_back({i, f.Descending()});
    }
  }
  std::vector<TKeyField> keyFields;
  for (const TDataFile::SortField& s : fields) {
    const TFieldDefinition& f = file.GetDefinition(s.field);
    if (f.Type() == kFieldBlob || f.NotStored() ||
        (f.HasSlot() && f.Offset() + 1u + f.StorageSize() > recordSize_))
      RaiseEngineError(kErrInvalidIndexFieldType, file.FileName(), f.Name());
    TKeyField k;
    k.type = f.Type();
    k.storageSize = f.StorageSize();
    k.recordOffset = f.Offset();
    k.autoIncrement = f.IsAutoIncrement();
    k.descending = s.descending;
    keyFields.push_back(k);
  }
  // Not unique: the auto-increment suffix makes the order total.
  layout_ = TKeyLayout(std::move(keyFields), false, false, options.caseInsensitive,
                       static_cast<std::uint16_t>(file.LanguageId()),
                       static_cast<std::uint16_t>(file.SortId()));
}

std::vector<std::uint8_t> TSortKeys::Build(const std::uint8_t* record) const {
  return layout_.BuildKey(record, recordSize_);
}

int TSortKeys::Compare(const std::vector<std::uint8_t>& a,
                       const std::vector<std::uint8_t>& b) const {
  return layout_.Compare(a.data(), b.data());
}

bool TSortKeys::SameGroup(const std::vector<std::uint8_t>& a,
                          const std::vector<std::uint8_t>& b) const {
  return layout_.Compare(a.data(), b.data(), layout_.KeyLength() - static_cast<int>(kSuffixSize)) ==
         0;
}

// ---- The sort ----------------------------------------------------------------

// Writes the sorted records into the data file from record 1, applying the
// duplicate, grouping and filter hooks.
class TDataSorter {
 public:
  TDataSorter(TDataFile& file, const TDataFile::SortOptions& options, const TSortKeys& keys)
      : file_(file), options_(options), keys_(keys), r_(file.RecordSize()) {}

  void Add(std::vector<std::uint8_t> key, const std::uint8_t* record) {
    if (havePending_ && keys_.SameGroup(pendingKey_, key)) {
      if (options_.dropDuplicates) return;
      if (options_.combine && options_.combine(pending_.data(), record)) return;
    }
    if (havePending_) Emit();
    pendingKey_ = std::move(key);
    pending_.assign(record, record + r_);
    havePending_ = true;
  }

  std::int32_t Finish() {
    if (havePending_) Emit();
    havePending_ = false;
    FlushBatch();
    return written_;
  }

 private:
  void Emit() {
    if (options_.accept && !options_.accept(pending_.data())) return;
    if (static_cast<std::int64_t>(written_) + 1 >= kMaxRecordNumber ||
        static_cast<std::int64_t>(written_ + 1) * r_ > kMaxDataBytes)
      RaiseEngineError(kErrTableFull, file_.FileName());
    ++written_;
    const std::size_t at = batch_.size();
    batch_.resize(at + r_);
    std::uint8_t* out = &batch_[at];
    std::memcpy(out, pending_.data(), r_);
    out[kRecordStatusOffset] = kRecordInUse;
    bytes::PutI32(out + kRecordLinkOffset, written_);
    if (file_.Encrypted()) Encipher(out, r_, kDataKey);
    if (batch_.size() + r_ > kRunIoBytes) FlushBatch();
  }

  void FlushBatch() {
    if (batch_.empty()) return;
    const std::int32_t first = written_ - static_cast<std::int32_t>(batch_.size() / r_) + 1;
    {
      TFileAccess access(file_);
      file_.Seek(file_.RecordPosition(first), kSeekFromStart);
      file_.Write(batch_.data(), static_cast<std::int32_t>(batch_.size()));
    }
    batch_.clear();
  }

  TDataFile& file_;
  const TDataFile::SortOptions& options_;
  const TSortKeys& keys_;
  std::uint32_t r_;
  bool havePending_ = false;
  std::vector<std::uint8_t> pendingKey_;
  std::vector<std::uint8_t> pending_;
  std::vector<std::uint8_t> batch_;
  std::int32_t written_ = 0;
};

std::int32_t TDataFile::Sort(const SortOptions& options) {
  const std::uint32_t r = RecordSize();
  if (r == 0) RaiseEngineError(kErrRecordBufferCorrupt, FileName());
  const TSortKeys keys(*this, options);
  const std::int32_t total = RecordCount();
  TDataSorter sorter(*this, options, keys);

  auto byKey = [&](const TSortItem& a, const TSortItem& b) {
    return keys.Compare(a.key, b.key) < 0;
  };

  if (static_cast<std::int64_t>(FCache.Count()) == total) {
    // Everything is cached: sort in memory.
    std::vector<TSortItem> items;
    items.reserve(static_cast<std::size_t>(total));
    for (const auto& entry : FCache.Sorted()) {
      if (entry->Data()[kRecordStatusOffset] != kRecordInUse) continue;
      items.push_back({keys.Build(entry->Data()), entry->buffer});
    }
    std::stable_sort(items.begin(), items.end(), byKey);
    FUndo.MarkBroken();
    FCache.DropAll();
    for (TSortItem& item : items) sorter.Add(std::move(item.key), item.record.data());
  } else {
    // Sorted runs in temporary files, then a merge.
    WriteBack(false);
    const std::uint32_t perRun =
        options.runRecords != 0
            ? options.runRecords
            : std::max<std::uint32_t>(1, std::min(kMaxRunRecords, kRunBytes / r));
    std::string directory = FHost != nullptr ? FHost->TempDirectory() : std::string();
    if (directory.empty()) directory = platform::GetTempPath();
    if (directory.back() != '\\') directory += '\\';
    int counter = 0;
    std::vector<std::unique_ptr<TRunFile>> runs;
    std::vector<std::int64_t> runLengths;
    std::vector<std::uint8_t> chunk;
    std::vector<TSortItem> items;
    for (std::int32_t next = 1; next <= total;) {
      const std::int32_t count =
          static_cast<std::int32_t>(std::min<std::int64_t>(perRun, total - next + 1));
      chunk.resize(static_cast<std::size_t>(count) * r);
      {
        TFileAccess access(*this);
        Seek(RecordPosition(next), kSeekFromStart);
        Read(chunk.data(), static_cast<std::int32_t>(chunk.size()));
      }
      items.clear();
      for (std::int32_t i = 0; i < count; ++i) {
        std::uint8_t* record = &chunk[static_cast<std::size_t>(i) * r];
        if (Encrypted()) Decipher(record, r, kDataKey);
        if (record[kRecordStatusOffset] != kRecordInUse) continue;
        items.push_back({keys.Build(record), std::vector<std::uint8_t>(record, record + r)});
      }
      next += count;
      if (items.empty()) continue;
      std::stable_sort(items.begin(), items.end(), byKey);
      runs.push_back(std::make_unique<TRunFile>(directory, counter));
      runLengths.push_back(static_cast<std::int64_t>(items.size()));
      std::vector<std::uint8_t> out;
      out.reserve(items.size() * r);
      for (TSortItem& item : items) {
        if (Encrypted()) Encipher(item.record.data(), r, kDataKey);
        out.insert(out.end(), item.record.begin(), item.record.end());
      }
      TFileAccess access(runs.back()->File());
      runs.back()->File().Seek(0, kSeekFromStart);
      runs.back()->File().Write(out.data(), static_cast<std::int32_t>(out.size()));
    }
    FUndo.MarkBroken();
    FCache.DropAll();

    // Merge: a heap of the runs' current records, ties broken by run number so
    // that equal keys keep their order.
    std::vector<TRunReader> readers;
    readers.reserve(runs.size());
    for (std::size_t i = 0; i < runs.size(); ++i)
      readers.emplace_back(*runs[i], r, runLengths[i], Encrypted());
    std::vector<TSortItem> heads(runs.size());
    auto later = [&](std::size_t a, std::size_t b) {
      const int c = keys.Compare(heads[a].key, heads[b].key);
      return c != 0 ? c > 0 : a > b;
    };
    std::priority_queue<std::size_t, std::vector<std::size_t>, decltype(later)> heap(later);
    auto advance = [&](std::size_t i) {
      const std::uint8_t* record = readers[i].Next();
      if (record == nullptr) return;
      heads[i].record.assign(record, record + r);
      heads[i].key = keys.Build(record);
      heap.push(i);
    };
    for (std::size_t i = 0; i < readers.size(); ++i) advance(i);
    while (!heap.empty()) {
      const std::size_t i = heap.top();
      heap.pop();
      sorter.Add(std::move(heads[i].key), heads[i].record.data());
      advance(i);
    }
  }

  const std::int32_t written = sorter.Finish();
  SetI32(data_header::kNextRecord, written + 1);
  SetI32(data_header::kFirstFree, 0);
  FHeader[data_header::kModified] = 1;
  {
    TFileAccess access(*this);
    Seek(RecordPosition(written + 1), kSeekFromStart);
    Write(nullptr, 0);
  }
  if (FHost != nullptr) FHost->NoteWrite();
  return written;
}

}  // namespace engine
