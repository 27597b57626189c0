// The pieces of the table-set repair that judge stored bytes: whether a
// record's field slots are sound, and reading a BLOB chain straight from a
// damaged BLOB file. Internal to table_repair.cpp and its tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/files/file_handler.h"
#include "engine/storage/field_defs.h"

namespace engine::repair {

// Zeroes the value bytes of every NULL slot that holds any (the value is NULL
// either way; keys and comparisons expect zeros). Returns the names of the
// fields it cleared.
std::vector<std::string> ClearNullSlots(const TFieldDefinitions& fields, std::uint8_t* record,
                                        std::uint32_t size);

// Why the field slots of a record in use are not sound, or "" when they are.
// `record` holds `size` bytes (the record size the definitions verified).
std::string RecordFault(const TFieldDefinitions& fields, const std::uint8_t* record,
                        std::uint32_t size);

// Reads BLOB chains from a BLOB file without trusting its header: block
// positions are judged against the file's length, and every block is read
// with its own bounded read.
class TChainReader {
 public:
  // `file` is open (or not, when the BLOB file is missing); `blockSize` is the
  // table's S; `encrypted` tells whether blocks are enciphered.
  TChainReader(TFileHandler* file, std::uint32_t blockSize, bool encrypted);

  // The content of the chain starting at `first` stamped with `blobId`, or
  // nullopt with `fault` set. A block of a chain already kept (Claim), or
  // read since the last Claim or Forget, counts as damage: two chains never
  // share a block.
  std::optional<std::vector<std::uint8_t>> Read(std::int32_t first, std::int32_t blobId,
                                                std::string& fault);
  // The chains read since the last Claim or Forget belong to the kept record
  // `record`; or they are not kept after all.
  void Claim(std::int64_t record);
  void Forget() { FPending.clear(); }

 private:
  struct TRawBlock {
    std::int32_t next = 0;
    std::uint16_t used = 0;
    std::int32_t blobId = 0;
    std::int32_t total = 0;
    std::vector<std::uint8_t> data;
  };
  bool IsBlock(std::int64_t position) const;
  bool ReadBlock(std::int32_t position, TRawBlock& block);

  TFileHandler* FFile;
  std::uint32_t FBlockSize;
  bool FEncrypted;
  std::int64_t FFileSize = 0;
  std::unordered_map<std::int32_t, std::int64_t> FOwners;  // block -> record that kept it
  std::unordered_set<std::int32_t> FPending;               // blocks of chains read, not yet kept
};

}  // namespace engine::repair
