// The index file format: header, index descriptors and page layout.
//
// An index file (N.IDX) holds up to 32 B-trees of one table: the primary index
// (descriptor slot 0), up to 30 secondary indexes (slots 1..30, in order) and
// the system index "Sys Deleted" (slot 31). Each tree maps a key built from
// field values (index_keys.h) to a record number of the data file. Integers
// are little-endian.
//
// File layout:
//   offset            length  content
//   0                 4096    header
//   4096 + k * 4096   4096    page k (k = 0, 1, ...)
// A page is addressed by its position: the offset of its first byte.
//
// Header (4096 bytes; enciphered as one unit when the table is encrypted):
//   offset  size      meaning
//      0    int32     change counter, raised by every header write
//      4    4         reserved, zero
//      8    uint8     format, always 4
//      9    int32     end position: where the next appended page goes (4096 empty)
//     13    uint8     number of secondary indexes n, 0..30
//     14    33 * 120  descriptors; slot s at 14 + 120 * s (slot 32 reserved, zero)
//   3974    int32     records in use
//   3978    uint8     no primary key: 1 when the table has no key of its own
//   3979    uint8     modified marker (the writer's pending-change marker)
//   3980    116       reserved, zero
//
// Descriptor (120 bytes):
//   offset  size      meaning
//      0    31        name, counted (length byte + up to 30 characters); empty
//                     for the primary index
//     31    int16     key length L
//     33    uint8     descending (whole index)
//     34    uint8     case-insensitive
//     35    uint8     unique (always 1 for the primary index)
//     36    uint8     compression: 0 none, 1 duplicate bytes, 2 trailing bytes, 3 full
//     37    uint8     number of key fields, 0..16
//     38    16*uint8  per-field descending flags
//     54    16*int16  key field numbers in key order, unused entries 0
//     86    int32     root page position, 0 when the index is empty
//     90    int32     first free page of this index, 0 when none
//     94    26        reserved, zero
//
// Page (4096 bytes; enciphered as one unit when encrypted):
//   offset  size      meaning
//      0    uint8     type: 0 root with children, 1 internal, 2 leaf, 3 root leaf
//      1    uint16    number of entries (0 in a free page)
//      3    int32     previous page on the same level (0 none)
//      7    int32     next page on the same level; in a free page the next free
//                     page of the same index
//     11    uint16    bytes used by the entries of a compressed leaf, else 0
//     13    4083      entries, packed (formats in index_page.h)
//
// Worked example: the backup catalog (primary key FileName CHAR(250), FileTime
// INTEGER, Path CHAR(250); unique, ascending, uncompressed) has L = 252 + 5 +
// 252 = 509. In the header, slot 0 has an empty name, FD 01 at 31 (509),
// 0 at 33 and 34, 1 at 35, 0 at 36, 3 at 37 and the field numbers 01 00 02 00
// 04 00 at 54; slot 31 is "Sys Deleted" with L = 5; byte 13 and byte 3978 are
// 0. A first page holding one row is a type 3 page with count 1 whose entry is
// the 509 key bytes followed by the record number (513 bytes at offset 13);
// seven entries fit in a page and the eighth splits it into 4 + 4 under a new
// type 0 root.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

// ---- File ---------------------------------------------------------------------
inline constexpr std::int32_t kIndexPageSize = 4096;    // bytes per header and per page
inline constexpr std::int32_t kIndexHeaderSize = 4096;  // the header occupies page slot -1
inline constexpr std::uint8_t kIndexFormat = 4;
inline constexpr std::int64_t kIndexMaxEndPosition = 2000000000;  // file size limit, bytes

// ---- Header offsets -------------------------------------------------------------
inline constexpr std::size_t kIdxHdrChangeCounter = 0;
inline constexpr std::size_t kIdxHdrFormat = 8;
inline constexpr std::size_t kIdxHdrEndPosition = 9;
inline constexpr std::size_t kIdxHdrSecondaryCount = 13;
inline constexpr std::size_t kIdxHdrDescriptors = 14;
inline constexpr std::size_t kIdxHdrRecordCount = 3974;
inline constexpr std::size_t kIdxHdrNoPrimaryKey = 3978;
inline constexpr std::size_t kIdxHdrModified = 3979;

inline constexpr std::size_t kDescriptorSize = 120;
inline constexpr int kDescriptorSlots = 33;  // 0 primary, 1..30 secondary, 31 system, 32 spare
inline constexpr int kPrimarySlot = 0;
inline constexpr int kMaxSecondaryIndexes = 30;
inline constexpr int kSystemSlot = 31;
inline constexpr int kTreeSlots = 32;  // slots that hold trees (0..31)
inline constexpr int kMaxKeyFields = 16;
inline constexpr int kMaxIndexNameLength = 30;  // characters
inline constexpr int kMaxKeyFieldBytes = 524;   // sum of (storage size + 1) over key fields
inline constexpr int kNonUniqueSuffixSize = 4;  // auto-increment value appended to the key
inline constexpr int kMaxKeyLength = kMaxKeyFieldBytes + kNonUniqueSuffixSize;

inline constexpr const char* kSystemIndexName = "Sys Deleted";
inline constexpr std::int16_t kSystemKeyLength = 5;  // status byte + 32-bit auto-increment key

// ---- Descriptor offsets ----------------------------------------------------------
inline constexpr std::size_t kDescName = 0;
inline constexpr std::size_t kDescKeyLength = 31;
inline constexpr std::size_t kDescDescending = 33;
inline constexpr std::size_t kDescCaseInsensitive = 34;
inline constexpr std::size_t kDescUnique = 35;
inline constexpr std::size_t kDescCompression = 36;
inline constexpr std::size_t kDescFieldCount = 37;
inline constexpr std::size_t kDescFieldDescending = 38;
inline constexpr std::size_t kDescFieldNumbers = 54;
inline constexpr std::size_t kDescRoot = 86;
inline constexpr std::size_t kDescFirstFree = 90;

// Compression modes of leaf pages.
inline constexpr std::uint8_t kCompressNone = 0;
inline constexpr std::uint8_t kCompressDuplicate = 1;  // leading bytes shared with the previous key
inline constexpr std::uint8_t kCompressTrailing = 2;   // trailing zero bytes dropped
inline constexpr std::uint8_t kCompressFull = 3;       // both

// ---- Page -------------------------------------------------------------------------
inline constexpr std::size_t kPageType = 0;
inline constexpr std::size_t kPageCount = 1;
inline constexpr std::size_t kPagePrev = 3;
inline constexpr std::size_t kPageNext = 7;
inline constexpr std::size_t kPageUsed = 11;
inline constexpr std::size_t kPageHeaderSize = 13;
inline constexpr std::int32_t kPageEntryArea = kIndexPageSize - kPageHeaderSize;  // 4083 bytes

inline constexpr std::uint8_t kPageRoot = 0;  // root of a tree with more than one level
inline constexpr std::uint8_t kPageInternal = 1;
inline constexpr std::uint8_t kPageLeaf = 2;
inline constexpr std::uint8_t kPageRootLeaf = 3;  // root that is also the only leaf

inline constexpr std::int32_t kRecordNumberSize = 4;  // int32 after a leaf key
inline constexpr std::int32_t kChildRefSize = 8;      // int32 child position + int32 count

// Entries of an uncompressed leaf and of an internal page (two bytes per entry
// are kept spare, as the format always has).
inline constexpr int LeafCapacity(int keyLength) {
  return kPageEntryArea / (keyLength + 6);
}
inline constexpr int InternalCapacity(int keyLength) {
  return kPageEntryArea / (keyLength + 10);
}

// One descriptor as stored: a view with typed accessors over 120 bytes.
class TIndexDescriptor {
 public:
  explicit TIndexDescriptor(std::uint8_t* bytes) : FBytes(bytes) {}

  std::uint8_t* Bytes() const { return FBytes; }
  // The counted name; a corrupt length byte is clamped to 30.
  std::string Name() const;
  void SetName(std::string_view name);
  std::int16_t KeyLength() const;
  void SetKeyLength(std::int16_t length);
  bool Descending() const { return FBytes[kDescDescending] != 0; }
  bool CaseInsensitive() const { return FBytes[kDescCaseInsensitive] != 0; }
  bool Unique() const { return FBytes[kDescUnique] != 0; }
  std::uint8_t Compression() const { return FBytes[kDescCompression]; }
  std::uint8_t FieldCount() const { return FBytes[kDescFieldCount]; }
  bool FieldDescending(int i) const { return FBytes[kDescFieldDescending + i] != 0; }
  std::int16_t FieldNumber(int i) const;
  void SetFieldNumber(int i, std::int16_t number);
  std::int32_t Root() const;
  void SetRoot(std::int32_t position);
  std::int32_t FirstFree() const;
  void SetFirstFree(std::int32_t position);

 private:
  std::uint8_t* FBytes;
};

// What a creator asks for when it defines an index (the SQL CREATE INDEX or
// table definition): name, flags and the key fields in key order.
struct TIndexDefinition {
  std::string name;              // empty for the primary index
  bool descending = false;       // DESC
  bool caseInsensitive = false;  // NOCASE
  bool unique = false;           // UNIQUE (forced for the primary index)
  std::uint8_t compression = kCompressNone;
  std::vector<std::int16_t> fieldNumbers;  // 1-based field numbers in key order
  std::vector<bool> fieldDescending;       // per key field; missing entries are ascending
};

}  // namespace engine
