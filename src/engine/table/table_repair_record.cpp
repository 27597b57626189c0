// Soundness of stored records and raw BLOB chain reads for the repair (see
// table_repair_record.h).
//
// A field slot (one null-flag byte, then the storage bytes) is sound when:
//   - the flag is 0 or 1, and a NULL slot (flag 0) holds only zero bytes, as
//     every writer clears it (BLOB slots excepted: storing a BLOB buffer
//     writes its id into the slot even when the field was set NULL after it
//     was opened). The repair clears such bytes rather than dropping the row;
//   - a string (type 1) ends in its zero terminator and holds only zeros
//     after the first zero;
//   - a boolean (type 4) holds 0 or 1 (writers store 1 for any true value);
//   - a time (type 10) lies within one day;
//   - a BCD value (type 8) ends in a scale digit of at most 4;
//   - a BLOB (type 3) has no negative first block position (only an open
//     buffer in memory holds one).
// Other types accept any bytes: every pattern is a value.
#include "engine/table/table_repair_record.h"

#include <algorithm>
#include <unordered_set>

#include "engine/files/cipher.h"
#include "engine/storage/blob_file.h"
#include "engine/storage/data_file_bytes.h"
#include "engine/values/value_text.h"

namespace engine::repair {
namespace {

constexpr std::uint8_t kNullFlag = 0;
constexpr std::uint8_t kValueFlag = 1;

bool AllZero(const std::uint8_t* p, std::size_t n) {
  return std::all_of(p, p + n, [](std::uint8_t b) { return b == 0; });
}

// The fault of one non-NULL value, or "".
std::string ValueFault(const TFieldDefinition& f, const std::uint8_t* value) {
  const std::size_t size = f.StorageSize();
  switch (f.Type()) {
    case kFieldString: {
      const auto* end = value + size;
      const auto* zero = std::find(value, end, std::uint8_t{0});
      if (zero == end) return "string without its terminator";
      if (!AllZero(zero, static_cast<std::size_t>(end - zero)))
        return "string with bytes after its terminator";
      return {};
    }
    case kFieldBoolean:
      return bytes::GetU16(value) > 1 ? "boolean value " + std::to_string(bytes::GetU16(value))
                                      : std::string();
    case kFieldTime: {
      const std::int32_t ms = bytes::GetI32(value);
      return ms < 0 || ms >= kMsPerDay ? "time of day " + std::to_string(ms) + " ms"
                                       : std::string();
    }
    case kFieldBcd: {
      const std::int64_t v = bytes::GetI64(value);
      const std::int64_t digit = v < 0 ? -(v % 10) : v % 10;
      return digit > kMaxBcdScale ? "BCD scale digit " + std::to_string(digit) : std::string();
    }
    case kFieldBlob:
      return bytes::GetI32(value) < 0 ? "negative BLOB block position" : std::string();
    default:
      return {};
  }
}

}  // namespace

std::vector<std::string> ClearNullSlots(const TFieldDefinitions& fields, std::uint8_t* record,
                                        std::uint32_t size) {
  std::vector<std::string> cleared;
  for (const TFieldDefinition& f : fields) {
    if (!f.HasSlot() || f.Offset() + 1u + f.StorageSize() > size) continue;
    std::uint8_t* slot = record + f.Offset();
    if (slot[0] != kNullFlag || AllZero(slot + 1, f.StorageSize())) continue;
    std::fill_n(slot + 1, f.StorageSize(), std::uint8_t{0});
    if (f.Type() != kFieldBlob) cleared.push_back(f.Name());
  }
  return cleared;
}

std::string RecordFault(const TFieldDefinitions& fields, const std::uint8_t* record,
                        std::uint32_t size) {
  for (const TFieldDefinition& f : fields) {
    if (!f.HasSlot()) continue;
    const std::size_t at = f.Offset();
    if (at + 1u + f.StorageSize() > size) return "field " + f.Name() + " lies outside the record";
    const std::uint8_t flag = record[at];
    const std::uint8_t* value = record + at + 1;
    std::string fault;
    if (flag == kNullFlag) {
      if (f.Type() != kFieldBlob && !AllZero(value, f.StorageSize()))
        fault = "NULL slot holding bytes";
    } else if (flag == kValueFlag) {
      fault = ValueFault(f, value);
    } else {
      fault = "null flag " + std::to_string(flag);
    }
    if (!fault.empty()) return "field " + f.Name() + ": " + fault;
  }
  return {};
}

// ---- BLOB chains ---------------------------------------------------------------

TChainReader::TChainReader(TFileHandler* file, std::uint32_t blockSize, bool encrypted)
    : FFile(file), FBlockSize(blockSize), FEncrypted(encrypted) {
  if (FFile != nullptr && FFile->IsOpen()) FFileSize = FFile->GetSize();
}

bool TChainReader::IsBlock(std::int64_t position) const {
  return FBlockSize > kBlockHeaderSize && position >= kBlobHeaderSize &&
         (position - kBlobHeaderSize) % FBlockSize == 0 && position + FBlockSize <= FFileSize;
}

bool TChainReader::ReadBlock(std::int32_t position, TRawBlock& block) {
  std::vector<std::uint8_t> raw(FBlockSize);
  {
    TFileAccess access(*FFile);
    FFile->Seek(position, kSeekFromStart);
    if (FFile->Read(raw.data(), static_cast<std::int32_t>(FBlockSize), true) !=
        static_cast<std::int32_t>(FBlockSize)) {
      return false;
    }
  }
  if (FEncrypted) {
    Decipher(raw.data(), kBlockHeaderSize, kDataKey);
    Decipher(raw.data() + kBlockHeaderSize, FBlockSize - kBlockHeaderSize, kDataKey);
  }
  namespace kh = block_header;
  block.next = bytes::GetI32(&raw[kh::kNext]);
  block.used = bytes::GetU16(&raw[kh::kUsed]);
  block.blobId = bytes::GetI32(&raw[kh::kBlobId]);
  block.total = bytes::GetI32(&raw[kh::kTotal]);
  block.data.assign(raw.begin() + kBlockHeaderSize, raw.end());
  return true;
}

std::optional<std::vector<std::uint8_t>> TChainReader::Read(std::int32_t first, std::int32_t blobId,
                                                            std::string& fault) {
  std::vector<std::uint8_t> content;
  std::vector<std::int32_t> chain;
  const std::uint32_t area = FBlockSize > kBlockHeaderSize ? FBlockSize - kBlockHeaderSize : 0;
  std::int64_t total = -1;
  std::unordered_set<std::int32_t> walked;
  for (std::int32_t p = first; p != 0;) {
    const std::string at = "BLOB block " + std::to_string(p);
    if (!IsBlock(p)) {
      fault = at + " is not a block of the BLOB file";
      return std::nullopt;
    }
    if (!walked.insert(p).second) {
      fault = "BLOB chain returns to block " + std::to_string(p);
      return std::nullopt;
    }
    if (const auto owner = FOwners.find(p); owner != FOwners.end()) {
      fault = at + " belongs to record " + std::to_string(owner->second);
      return std::nullopt;
    }
    if (FPending.count(p) != 0) {
      fault = at + " also belongs to another BLOB of the record";
      return std::nullopt;
    }
    TRawBlock block;
    if (!ReadBlock(p, block)) {
      fault = at + " cannot be read whole";
      return std::nullopt;
    }
    if (block.blobId != blobId) {
      fault = at + " carries BLOB id " + std::to_string(block.blobId) + ", the record " +
              std::to_string(blobId);
      return std::nullopt;
    }
    if (block.used > area) {
      fault = at + " claims " + std::to_string(block.used) + " bytes used";
      return std::nullopt;
    }
    if (total < 0) {
      total = block.total;
      if (total <= 0 || total > FFileSize) {
        fault = "BLOB length " + std::to_string(total) + " in its first block";
        return std::nullopt;
      }
    }
    // Every block but the last is full: the loader stops at a short block.
    if (block.next != 0 && block.used != area) {
      fault = at + " is not full but the chain goes on";
      return std::nullopt;
    }
    content.insert(content.end(), block.data.begin(), block.data.begin() + block.used);
    if (static_cast<std::int64_t>(content.size()) > total) {
      fault = "BLOB chain holds more than its length " + std::to_string(total);
      return std::nullopt;
    }
    chain.push_back(p);
    p = block.next;
  }
  if (static_cast<std::int64_t>(content.size()) != total) {
    fault = "BLOB chain holds " + std::to_string(content.size()) + " bytes, its length is " +
            std::to_string(total);
    return std::nullopt;
  }
  for (const std::int32_t p : chain) FPending.insert(p);
  return content;
}

void TChainReader::Claim(std::int64_t record) {
  for (const std::int32_t p : FPending) FOwners[p] = record;
  FPending.clear();
}

}  // namespace engine::repair
