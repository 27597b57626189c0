// The on-disk records of a zip archive and the objects that carry them.
//
// All multi-byte fields are little-endian. An archive is a sequence of local
// headers each followed by its entry data, then the central directory (one
// central header per entry) and the end-of-central-directory record.
//
// Local file header (30 bytes, then the name and the local extra field):
//   off size field
//    0   4   signature 0x04034B50 ("PK\3\4")
//    4   2   version needed to extract (20 for new entries)
//    6   2   general purpose flags (below)
//    8   2   compression method (0 stored, 8 deflated; 1-6 older methods)
//   10   4   last modification DOS date-time (time low 16 bits, date high)
//   14   4   CRC-32 of the uncompressed data
//   18   4   compressed size (includes the 12-byte encryption header)
//   22   4   uncompressed size
//   26   2   file name length n
//   28   2   extra field length m
//   30   n   file name; then m extra bytes
//
// Central directory header (46 bytes, then name, extra field, comment):
//   off size field
//    0   4   signature 0x02014B50 ("PK\1\2")
//    4   2   version made by (high byte: host, 0 = MS-DOS; low: 20 = 2.0)
//    6   2   version needed;  8 2 flags;  10 2 method;  12 4 DOS date-time
//   16   4   CRC-32;  20 4 compressed size;  24 4 uncompressed size
//   28   2   name length n;  30 2 extra length m;  32 2 comment length k
//   34   2   disk number start;  36 2 internal attributes (1 text, 0 binary)
//   38   4   external attributes (DOS: 0x01 read-only, 0x02 hidden,
//            0x04 system, 0x10 directory, 0x20 archive)
//   42   4   offset of the local header
//   46   n+m+k  name, extra field, comment
//
// End of central directory record (22 bytes, then the archive comment):
//    0 4 signature 0x06054B50 ("PK\5\6");  4 2 number of this disk
//    6 2 disk where the directory starts;  8 2 entries on this disk
//   10 2 total entries;  12 4 directory size;  16 4 directory offset
//   20 2 comment length k;  22 k comment
//
// Flags: bit 0 encrypted; bit 1 / bit 2 the deflate level class (8-9 / 1-2);
// bit 3 sizes and CRC follow the data in a descriptor (read, never written);
// bit 11 the name is UTF-8. This host's code pages are UTF-8: a name that is
// not plain ASCII is written with bit 11; a name read without bit 11 from an
// MS-DOS host is code page 437 and converted to UTF-8.
//
// Worked example: the entry "a.txt" (5 bytes "hello", stored, 2024-01-02
// 03:04:06) at offset 0 is
//   50 4B 03 04 14 00 00 00 00 00 83 18 22 58 86 A6 10 36 05 00 00 00
//   05 00 00 00 05 00 00 00 61 2E 74 78 74 68 65 6C 6C 6F
// where 83 18 is the time (03:04:06 = 3<<11 | 4<<5 | 3) and 22 58 the date
// ((2024-1980)<<9 | 1<<5 | 2). Its central header starts at offset 40, and
// the end record at 40 + 46 + 5 = 91 says: 1 entry, directory of 51 bytes at 40.
//
// In memory, names use backslashes: the directory part keeps its trailing
// backslash ("dir\sub\") and the file name part is the rest ("file.txt"); an
// entry whose file name part is empty is a directory entry.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "zip/stream.h"

namespace zip {

inline constexpr std::uint32_t kCentralSignature = 0x02014B50;
inline constexpr std::uint32_t kLocalSignature = 0x04034B50;
inline constexpr std::uint32_t kEndSignature = 0x06054B50;
inline constexpr std::uint32_t kZip64LocatorSignature = 0x07064B50;
inline constexpr std::uint32_t kDataDescriptorSignature = 0x08074B50;

inline constexpr std::int32_t kLocalHeaderSize = 30;    // fixed bytes
inline constexpr std::int32_t kCentralHeaderSize = 46;  // fixed bytes
inline constexpr std::int32_t kEndRecordSize = 22;      // fixed bytes
inline constexpr std::int32_t kMaxCommentLength = 65535;
// The end record's 16-bit entry counts (zip64, which lifts it, is not written).
inline constexpr std::uint16_t kMaxEntries = 0xFFFF;
inline constexpr std::int32_t kZip64LocatorSize = 20;

inline constexpr std::uint16_t kFlagEncrypted = 0x0001;
inline constexpr std::uint16_t kFlagLevel89 = 0x0002;
inline constexpr std::uint16_t kFlagLevel12 = 0x0004;
inline constexpr std::uint16_t kFlagDataDescriptor = 0x0008;
inline constexpr std::uint16_t kFlagUtf8Name = 0x0800;

inline constexpr std::uint16_t kMethodStored = 0;
inline constexpr std::uint16_t kMethodDeflated = 8;
inline constexpr std::uint16_t kVersion20 = 20;  // "2.0", host 0 (MS-DOS) in the high byte
inline constexpr std::uint32_t kSizeUnknown32 = 0xFFFFFFFF;  // zip64 marker in 32-bit fields
inline constexpr std::int32_t kEncryptionHeaderSize = 12;

// The external attribute bits of DOS hosts.
inline constexpr std::uint32_t kZipAttrReadOnly = 0x01;
inline constexpr std::uint32_t kZipAttrDirectory = 0x10;
inline constexpr std::uint32_t kZipAttrArchive = 0x20;

// Clamps each field of a DOS date-time into range (hours 23, minutes 59,
// seconds 58, years 2099, months 1-12, days from 1) and returns the value
// unchanged when nothing was clamped. A day beyond its month is accepted.
std::uint32_t ValidateDosDateTime(std::uint32_t dosDateTime);

// One archive entry.
class TZipHeaderInfo {
 public:
  TZipHeaderInfo() { Clear(); }
  TZipHeaderInfo(const TZipHeaderInfo& other) = default;
  TZipHeaderInfo& operator=(const TZipHeaderInfo& other) = default;
  void Assign(const TZipHeaderInfo& other) { *this = other; }

  void Clear();

  // Writes the fixed bytes, the stored name (and the comment for a central
  // header). The local header first records the stream position as the
  // entry's local header offset. ENotEnoughRoom on a short write.
  void WriteCentral(TStream& stream) const;
  void WriteLocal(TStream& stream);

  // Reads a central header at the stream position; false (stream restored)
  // when none is there. After success the stream is past the name, extra
  // field and comment. `declaredExtra` receives the extra field length as
  // stored. `nextDisk`, when given, supplies the next volume's stream for a
  // header split across volumes.
  bool ReadCentral(TStream*& stream, std::uint16_t* declaredExtra = nullptr,
                   const std::function<TStream*()>& nextDisk = {});
  bool ReadCentral(TStream& stream, std::uint16_t* declaredExtra = nullptr);
  // Reads a local header; false (stream restored) when none is there. After
  // success the stream is just past the name.
  bool ReadLocal(TStream& stream);

  // Name parts (UTF-8, backslashes).
  const std::string& FileName() const { return fileName_; }
  const std::string& Directory() const { return directory_; }
  std::string FullName() const { return directory_ + fileName_; }
  void SetFileName(std::string_view name);
  void SetDirectory(std::string_view directory);
  // The stored form: forward slashes, the bytes written to the archive.
  std::string StoredName() const;
  // Splits a full name at its last backslash into the two parts.
  void SetFullName(std::string_view fullName);

  const std::optional<std::string>& FileComment() const { return fileComment_; }
  void SetFileComment(std::optional<std::string_view> comment);

  std::int32_t LocalHeaderSize() const {
    return kLocalHeaderSize + FileNameLength + LocalExtraFieldLength;
  }
  std::int32_t CentralHeaderSize() const {
    return kCentralHeaderSize + FileNameLength + CentralExtraFieldLength + FileCommentLength;
  }
  bool Encrypted() const { return (Flag & kFlagEncrypted) != 0; }
  bool HasDataDescriptor() const { return (Flag & kFlagDataDescriptor) != 0; }
  bool HasComment() const { return FileCommentLength != 0; }
  bool IsDirectoryEntry() const { return fileName_.empty(); }
  // The flag word as written: bit 11 added for a name that is not ASCII.
  std::uint16_t FlagForWrite() const;

  std::uint16_t VersionMadeBy;
  std::uint16_t VersionNeeded;
  std::uint16_t Flag;
  std::uint16_t CompressionMethod;
  std::uint32_t LastModFileDate;  // DOS date-time
  std::uint32_t CRC32;
  std::int32_t CompressedSize;
  std::int32_t UncompressedSize;
  std::uint16_t FileNameLength;
  std::uint16_t CentralExtraFieldLength;
  std::uint16_t LocalExtraFieldLength;
  std::uint16_t FileCommentLength;
  std::uint16_t DiskNumberStart;
  std::uint16_t InternalFileAttributes;  // 0 binary, 1 text, 2 not yet decided
  std::uint32_t ExternalFileAttributes;
  std::uint32_t RelativeOffsetOfLocalHeader;
  std::uint32_t CentralOffset;  // where the central header was read
  std::uint8_t Selected;
  std::uint8_t State;  // 2: dropped when the archive is rewritten
  std::uint8_t Marked;
  // Raw 32-bit size and offset fields held the zip64 marker 0xFFFFFFFF.
  bool NeedsZip64 = false;

 private:
  void UpdateNameLength();

  std::string fileName_;
  std::string directory_;
  std::optional<std::string> fileComment_;
};

// The end-of-central-directory record.
class TEndCentral {
 public:
  TEndCentral() { Clear(); }
  void Clear();
  // Copies everything but the modified byte.
  void Assign(const TEndCentral& other);

  // Writes the 22 bytes and the comment; ENotEnoughRoom on a short write.
  void Write(TStream& stream) const;
  // Finds the record by scanning the last 65,557 bytes backward. An empty
  // stream succeeds with all counts 0; a stream of 1-21 bytes fails.
  bool Find(TStream& stream);
  // Reads the archive comment from its recorded offset (as many bytes as the
  // stream still has, up to the comment length).
  void LoadComment(TStream& stream);
  void SetComment(std::optional<std::string_view> comment);
  std::int32_t RecordSize() const { return kEndRecordSize + CommentLength; }

  std::uint32_t Signature;
  std::uint16_t ThisDiskNumber;
  std::uint16_t CentralDirStartDisk;
  std::uint16_t EntriesOnThisDisk;
  std::uint16_t TotalEntries;
  std::uint32_t CentralDirSize;
  std::uint32_t CentralDirOffset;
  std::uint16_t CommentLength;
  std::optional<std::string> Comment;
  std::uint32_t CommentOffset;  // file offset of the comment
  std::int64_t RecordOffset;    // file offset of the record itself (-1 when none)
  // Bytes in front of the archive data (a prefix the offsets do not count):
  // added to every local header offset when the directory was found shifted.
  std::int64_t ArchiveShift;
  bool Modified;
};

// Little-endian helpers over a byte buffer (bounds are the caller's).
inline std::uint16_t GetU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t GetU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void PutU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace zip
