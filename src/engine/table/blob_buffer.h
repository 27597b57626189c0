// TBlobBuffer and TBlobBufferSet: the BLOBs a cursor has open.
//
// A cursor reads and writes a BLOB field through a buffer that holds the whole
// BLOB in memory. Opening loads the chain into the buffer and puts minus the
// buffer's handle into the record's slot (in memory only), so that later
// operations on that record buffer find the buffer again; closing puts the
// first block position back. When the record is posted, every modified buffer
// gets a new BLOB id and is written into blocks, reusing its old chain in
// place and freeing only the surplus (Store).
//
// The operations answer engine codes (0 for success) as the cursor's BLOB
// operations do; only Store, which is part of a post, raises.
//   10753  the field is not a BLOB field
//    9998  the slot holds a negative position that is not one of this cursor's
//          buffers
//    9494  a 65th buffer
//   10030  the slot does not hold one of this cursor's buffers (read, write,
//          truncate, size, close)
//    8711  a read ran past the end of the BLOB (what there was is copied)
//   10029  a write would make the BLOB longer than 2^31 - 1 bytes
//   8708, 8711, 8963 from loading (the chain belongs to another id, is short,
//          or is broken)
// Invariants: at most 64 buffers; handles are 1..64 and unique among open
// buffers; a buffer is "modified" only when its length changed (a writer that
// replaces a BLOB truncates it first).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/blob_file.h"
#include "engine/storage/field_defs.h"

namespace engine {

class TDataCursor;
class TDataFile;

inline constexpr int kMaxOpenBlobs = 64;

struct TBlobBuffer {
  std::int32_t handle = 0;
  bool modified = false;
  std::int32_t blobId = 0;        // the id the chain carries (a new one once stored)
  std::int32_t recordNumber = 0;  // int32 at record offset 1 when opened
  std::uint32_t field = 0;        // 1-based field number
  std::int32_t firstPosition = 0;
  std::vector<std::uint8_t> content;  // the whole BLOB
  int openerMark = 0;
};

class TBlobBufferSet {
 public:
  explicit TBlobBufferSet(std::string tableName = {}) : tableName_(std::move(tableName)) {}
  void SetTableName(std::string name) { tableName_ = std::move(name); }

  // Opens BLOB field `field` (1-based) of `record` (recordSize bytes).
  int Open(TDataCursor* cursor, TBlobFile* file, const TFieldDefinitions& fields,
           std::uint32_t field, std::uint8_t* record, std::size_t recordSize, int openerMark = 0);
  int Read(const TFieldDefinitions& fields, std::uint32_t field, const std::uint8_t* record,
           std::size_t recordSize, std::uint32_t offset, std::uint32_t count,
           std::uint8_t* destination, std::uint32_t& done);
  // Writes bytes, growing the BLOB when they reach past its end. Sets the
  // slot's null flag: the field now has a value.
  int Write(const TFieldDefinitions& fields, std::uint32_t field, std::uint8_t* record,
            std::size_t recordSize, std::uint32_t offset, std::uint32_t count,
            const std::uint8_t* source);
  int Truncate(const TFieldDefinitions& fields, std::uint32_t field, std::uint8_t* record,
               std::size_t recordSize, std::uint32_t length);
  int Size(const TFieldDefinitions& fields, std::uint32_t field, const std::uint8_t* record,
           std::size_t recordSize, std::uint32_t& size);
  // Whether the slot of BLOB field `field` holds one of this cursor's buffers
  // for that field: a plain test, where Size would answer 10030.
  bool Holds(const TFieldDefinitions& fields, std::uint32_t field, const std::uint8_t* record,
             std::size_t recordSize) const;
  // The length of the field's BLOB without loading it: the open buffer's
  // length, 0 for an empty slot, or else the total kept in the chain's first
  // block. Answers Open's codes (10753, 9998, 8708, 8963).
  int StoredSize(TDataCursor* cursor, TBlobFile* file, const TFieldDefinitions& fields,
                 std::uint32_t field, const std::uint8_t* record, std::size_t recordSize,
                 std::uint32_t& size);
  // Hands the whole BLOB of field `field` of `record` to `sink` without
  // opening a buffer: the bytes of this cursor's open buffer when the slot
  // holds one (changes not yet stored included), nothing for an empty slot,
  // otherwise the chain read straight from the BLOB file (TBlobFile::
  // ReadChain). Answers Open's codes (10753, 9998, 8708, 8711, 8963).
  int ReadWhole(TDataCursor* cursor, TBlobFile* file, const TFieldDefinitions& fields,
                std::uint32_t field, const std::uint8_t* record, std::size_t recordSize,
                TBlobSink& sink);
  // Frees the buffer when `closerMark` is the mark it was opened with, putting
  // the first block position back into the slot.
  int Close(const TFieldDefinitions& fields, std::uint32_t field, std::uint8_t* record,
            std::size_t recordSize, int closerMark = 0);

  // Writes every modified buffer into the BLOB file with a new id from `data`,
  // puts the first positions and ids into `record`'s slots, and frees every
  // buffer the record refers to. Raises 8963 when modified buffers belong to
  // different records, 8711 and 8963 for damaged chains.
  void Store(TDataCursor* cursor, TDataFile& data, TBlobFile& file, const TFieldDefinitions& fields,
             std::uint8_t* record, std::size_t recordSize);

  // Frees every buffer (the cursor discards its BLOBs). Record slots that still
  // hold handles must not be used afterwards.
  void FreeAll();
  int OpenCount() const;
  const TBlobBuffer* Find(std::int32_t handle) const;

 private:
  // Byte offset of the field's slot, or a negative code (10753).
  int SlotOffset(const TFieldDefinitions& fields, std::uint32_t field,
                 std::size_t recordSize) const;
  // The same, raising 10753 with the field's name instead of answering a code.
  int CheckedSlotOffset(const TFieldDefinitions& fields, std::uint32_t field,
                        std::size_t recordSize) const;
  // The buffer named by the slot, or null.
  TBlobBuffer* FromSlot(const std::uint8_t* slot) const;
  int Locate(const TFieldDefinitions& fields, std::uint32_t field, const std::uint8_t* record,
             std::size_t recordSize, TBlobBuffer*& buffer) const;
  int Load(TDataCursor* cursor, TBlobFile& file, TBlobBuffer& buffer);
  void StoreOne(TDataCursor* cursor, TBlobFile& file, TBlobBuffer& buffer, std::int32_t oldId,
                std::int32_t newId);

  std::string tableName_;
  std::array<std::unique_ptr<TBlobBuffer>, kMaxOpenBlobs> buffers_;  // slot i has handle i + 1
};

}  // namespace engine
