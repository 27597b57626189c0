// Reading and writing the zip records; the layouts are in zip_records.h.
#include "zip/zip_records.h"

#include <algorithm>
#include <array>
#include <vector>

#include "zip/cp437.h"
#include "zip/crc32.h"
#include "zip/zip_errors.h"

namespace zip {
namespace {

// The end record search looks at most this far back: the longest comment
// plus the record itself.
constexpr std::int32_t kEndSearchBytes = kMaxCommentLength + kEndRecordSize;
constexpr std::uint8_t kHostMsDos = 0;

void WriteAll(TStream& stream, const void* data, std::size_t size) {
  if (size == 0) return;
  if (stream.Write(data, static_cast<std::int32_t>(size)) != static_cast<std::int32_t>(size)) {
    throw ENotEnoughRoom(kMsgNotEnoughRoom);
  }
}

std::string SlashesToBackslashes(std::string name) {
  std::replace(name.begin(), name.end(), '/', '\\');
  return name;
}

// Decodes stored name bytes: UTF-8 with flag bit 11, code page 437 for an
// MS-DOS host (and from local headers) without it. Other hosts store their
// own code page: UTF-8 is kept, anything else is read as code page 437 so
// that every name is valid UTF-8 here.
std::string DecodeName(std::string_view bytes, std::uint16_t flag, bool oemName) {
  const bool keep = (flag & kFlagUtf8Name) != 0 || (!oemName && IsValidUtf8(bytes));
  std::string name(keep ? std::string(bytes) : Cp437ToUtf8(bytes));
  return SlashesToBackslashes(std::move(name));
}

// The Unicode path extra field (tag 0x7075): version 1, the CRC-32 of the
// name as stored in the header, then the name in UTF-8. It is used only while
// the CRC still matches the header name (an editor may have renamed the entry).
std::optional<std::string> UnicodePathField(std::string_view extra, std::string_view rawName) {
  constexpr std::uint16_t kUnicodePathTag = 0x7075;
  constexpr std::size_t kFieldHeader = 4;  // tag and size, 16 bits each
  constexpr std::size_t kVersionAndCrc = 5;
  std::size_t at = 0;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(extra.data());
  while (at + kFieldHeader <= extra.size()) {
    const std::uint16_t tag = GetU16(bytes + at);
    const std::uint16_t size = GetU16(bytes + at + 2);
    at += kFieldHeader;
    if (size > extra.size() - at) break;
    if (tag == kUnicodePathTag && size > kVersionAndCrc && bytes[at] == 1 &&
        GetU32(bytes + at + 1) == Crc32(rawName.data(), rawName.size())) {
      return std::string(extra.substr(at + kVersionAndCrc, size - kVersionAndCrc));
    }
    at += size;
  }
  return std::nullopt;
}

}  // namespace

std::uint32_t ValidateDosDateTime(std::uint32_t v) {
  std::uint32_t seconds2 = v & 0x1F;
  std::uint32_t minutes = (v >> 5) & 0x3F;
  std::uint32_t hours = (v >> 11) & 0x1F;
  std::uint32_t day = (v >> 16) & 0x1F;
  std::uint32_t month = (v >> 21) & 0x0F;
  std::uint32_t years = (v >> 25) & 0x7F;  // since 1980
  bool clamped = false;
  auto clamp = [&clamped](std::uint32_t& field, bool condition, std::uint32_t value) {
    if (condition) {
      field = value;
      clamped = true;
    }
  };
  clamp(hours, hours > 23, 23);
  clamp(minutes, minutes > 59, 59);
  clamp(seconds2, seconds2 * 2 > 59, 29);  // 59 seconds, stored halved
  clamp(years, years > 2099 - 1980, 2099 - 1980);
  clamp(month, month == 0, 1);
  clamp(month, month > 12, 12);
  clamp(day, day == 0, 1);
  if (!clamped) return v;
  return (years << 25) | (month << 21) | (day << 16) | (hours << 11) | (minutes << 5) | seconds2;
}

void TZipHeaderInfo::Clear() {
  VersionMadeBy = kVersion20;
  VersionNeeded = kVersion20;
  Flag = 0;
  CompressionMethod = kMethodDeflated;
  LastModFileDate = 0;
  CRC32 = 0xFFFFFFFF;
  CompressedSize = 0;
  UncompressedSize = 0;
  FileNameLength = 0;
  CentralExtraFieldLength = 0;
  LocalExtraFieldLength = 0;
  FileCommentLength = 0;
  DiskNumberStart = 0;
  InternalFileAttributes = 1;
  ExternalFileAttributes = kZipAttrArchive;
  RelativeOffsetOfLocalHeader = 0;
  CentralOffset = 0;
  Selected = 0;
  State = 0;
  Marked = 0;
  NeedsZip64 = false;
  fileName_.clear();
  directory_.clear();
  fileComment_.reset();
}

void TZipHeaderInfo::UpdateNameLength() {
  FileNameLength = static_cast<std::uint16_t>(
      std::min<std::size_t>(fileName_.size() + directory_.size(), 0xFFFF));
}

void TZipHeaderInfo::SetFileName(std::string_view name) {
  fileName_ = name;
  UpdateNameLength();
}

void TZipHeaderInfo::SetDirectory(std::string_view directory) {
  directory_ = directory;
  if (!directory_.empty() && directory_.back() != '\\') directory_ += '\\';
  UpdateNameLength();
}

void TZipHeaderInfo::SetFullName(std::string_view fullName) {
  const std::size_t cut = fullName.rfind('\\');
  if (cut == std::string_view::npos) {
    SetDirectory("");
    SetFileName(fullName);
  } else {
    SetDirectory(fullName.substr(0, cut + 1));
    SetFileName(fullName.substr(cut + 1));
  }
}

std::string TZipHeaderInfo::StoredName() const {
  std::string name = directory_ + fileName_;
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

void TZipHeaderInfo::SetFileComment(std::optional<std::string_view> comment) {
  if (comment && !comment->empty()) {
    fileComment_ = std::string(comment->substr(0, 0xFFFF));
    FileCommentLength = static_cast<std::uint16_t>(fileComment_->size());
  } else {
    fileComment_.reset();
    FileCommentLength = 0;
  }
}

std::uint16_t TZipHeaderInfo::FlagForWrite() const {
  return IsAscii(directory_) && IsAscii(fileName_)
             ? Flag
             : static_cast<std::uint16_t>(Flag | kFlagUtf8Name);
}

void TZipHeaderInfo::WriteCentral(TStream& stream) const {
  const std::string name = StoredName();
  std::array<std::uint8_t, kCentralHeaderSize> b{};
  PutU32(&b[0], kCentralSignature);
  PutU16(&b[4], VersionMadeBy);
  PutU16(&b[6], VersionNeeded);
  PutU16(&b[8], FlagForWrite());
  PutU16(&b[10], CompressionMethod);
  PutU32(&b[12], LastModFileDate);
  PutU32(&b[16], CRC32);
  PutU32(&b[20], static_cast<std::uint32_t>(CompressedSize));
  PutU32(&b[24], static_cast<std::uint32_t>(UncompressedSize));
  PutU16(&b[28], static_cast<std::uint16_t>(name.size()));
  PutU16(&b[30], 0);  // no extra field is ever written
  const bool comment = FileCommentLength != 0 && fileComment_.has_value();
  PutU16(&b[32], comment ? FileCommentLength : 0);
  PutU16(&b[34], DiskNumberStart);
  PutU16(&b[36], InternalFileAttributes);
  PutU32(&b[38], ExternalFileAttributes);
  PutU32(&b[42], RelativeOffsetOfLocalHeader);
  WriteAll(stream, b.data(), b.size());
  WriteAll(stream, name.data(), name.size());
  if (comment) WriteAll(stream, fileComment_->data(), FileCommentLength);
}

void TZipHeaderInfo::WriteLocal(TStream& stream) {
  RelativeOffsetOfLocalHeader = static_cast<std::uint32_t>(stream.Position());
  const std::string name = StoredName();
  std::array<std::uint8_t, kLocalHeaderSize> b{};
  PutU32(&b[0], kLocalSignature);
  PutU16(&b[4], VersionNeeded);
  PutU16(&b[6], FlagForWrite());
  PutU16(&b[8], CompressionMethod);
  PutU32(&b[10], LastModFileDate);
  PutU32(&b[14], CRC32);
  PutU32(&b[18], static_cast<std::uint32_t>(CompressedSize));
  PutU32(&b[22], static_cast<std::uint32_t>(UncompressedSize));
  PutU16(&b[26], static_cast<std::uint16_t>(name.size()));
  PutU16(&b[28], LocalExtraFieldLength);
  WriteAll(stream, b.data(), b.size());
  WriteAll(stream, name.data(), name.size());
}

bool TZipHeaderInfo::ReadCentral(TStream& stream, std::uint16_t* declaredExtra) {
  TStream* s = &stream;
  return ReadCentral(s, declaredExtra, {});
}

bool TZipHeaderInfo::ReadCentral(TStream*& stream, std::uint16_t* declaredExtra,
                                 const std::function<TStream*()>& nextDisk) {
  const std::int64_t start = stream->Position();
  std::array<std::uint8_t, kCentralHeaderSize> b{};
  std::int32_t got = std::max(stream->Read(b.data(), kCentralHeaderSize), 0);
  const bool splitHeader =
      got == 0 || (got < kCentralHeaderSize && got >= 4 && GetU32(&b[0]) == kCentralSignature);
  if (got < kCentralHeaderSize && splitHeader && nextDisk) {
    if (TStream* next = nextDisk()) {
      stream = next;
      got += std::max(stream->Read(b.data() + got, kCentralHeaderSize - got), 0);
    }
  }
  if (got < kCentralHeaderSize || GetU32(&b[0]) != kCentralSignature) {
    stream->Seek(start, kSeekFromBeginning);
    return false;
  }
  const std::uint16_t nameLength = GetU16(&b[28]);
  const std::uint16_t extraLength = GetU16(&b[30]);
  const std::uint16_t commentLength = GetU16(&b[32]);
  std::string raw(nameLength, '\0');
  if (nameLength > 0 && !stream->ReadExact(raw.data(), nameLength)) {
    stream->Seek(start, kSeekFromBeginning);
    return false;
  }
  std::string extra(extraLength, '\0');
  if (extraLength > 0 && !stream->ReadExact(extra.data(), extraLength)) extra.clear();
  stream->Seek(commentLength, kSeekFromCurrent);

  Clear();
  VersionMadeBy = GetU16(&b[4]);
  VersionNeeded = GetU16(&b[6]);
  Flag = GetU16(&b[8]);
  CompressionMethod = GetU16(&b[10]);
  LastModFileDate = ValidateDosDateTime(GetU32(&b[12]));
  CRC32 = GetU32(&b[16]);
  const std::uint32_t compressed = GetU32(&b[20]);
  const std::uint32_t uncompressed = GetU32(&b[24]);
  CompressedSize = static_cast<std::int32_t>(compressed);
  UncompressedSize = static_cast<std::int32_t>(uncompressed);
  FileCommentLength = commentLength;
  DiskNumberStart = GetU16(&b[34]);
  InternalFileAttributes = GetU16(&b[36]);
  ExternalFileAttributes = GetU32(&b[38]);
  RelativeOffsetOfLocalHeader = GetU32(&b[42]);
  NeedsZip64 = compressed == kSizeUnknown32 || uncompressed == kSizeUnknown32 ||
               RelativeOffsetOfLocalHeader == kSizeUnknown32;
  CentralOffset = static_cast<std::uint32_t>(start);
  const std::optional<std::string> unicode = UnicodePathField(extra, raw);
  SetFullName(unicode ? SlashesToBackslashes(*unicode)
                      : DecodeName(raw, Flag, (VersionMadeBy >> 8) == kHostMsDos));
  // Some tools mark a directory only by its attribute, without a trailing slash.
  if ((ExternalFileAttributes & kZipAttrDirectory) != 0 && UncompressedSize == 0 &&
      CompressedSize == 0 && !fileName_.empty() && (VersionMadeBy >> 8) == kHostMsDos) {
    SetDirectory(FullName());
    SetFileName("");
  }
  if (declaredExtra) *declaredExtra = extraLength;
  return true;
}

bool TZipHeaderInfo::ReadLocal(TStream& stream) {
  const std::int64_t start = stream.Position();
  std::array<std::uint8_t, kLocalHeaderSize> b{};
  if (!stream.ReadExact(b.data(), kLocalHeaderSize) || GetU32(&b[0]) != kLocalSignature) {
    stream.Seek(start, kSeekFromBeginning);
    return false;
  }
  const std::uint16_t nameLength = GetU16(&b[26]);
  std::string raw(nameLength, '\0');
  if (nameLength > 0 && !stream.ReadExact(raw.data(), nameLength)) {
    stream.Seek(start, kSeekFromBeginning);
    return false;
  }
  Clear();
  VersionMadeBy = 0;
  VersionNeeded = GetU16(&b[4]);
  Flag = GetU16(&b[6]);
  CompressionMethod = GetU16(&b[8]);
  LastModFileDate = ValidateDosDateTime(GetU32(&b[10]));
  CRC32 = GetU32(&b[14]);
  CompressedSize = static_cast<std::int32_t>(GetU32(&b[18]));
  UncompressedSize = static_cast<std::int32_t>(GetU32(&b[22]));
  LocalExtraFieldLength = GetU16(&b[28]);
  InternalFileAttributes = 0;
  ExternalFileAttributes = 0;
  NeedsZip64 = GetU32(&b[18]) == kSizeUnknown32 || GetU32(&b[22]) == kSizeUnknown32;
  RelativeOffsetOfLocalHeader = static_cast<std::uint32_t>(start);
  SetFullName(DecodeName(raw, Flag, true));
  return true;
}

void TEndCentral::Clear() {
  Signature = kEndSignature;
  ThisDiskNumber = 0;
  CentralDirStartDisk = 0;
  EntriesOnThisDisk = 0;
  TotalEntries = 0;
  CentralDirSize = 0;
  CentralDirOffset = 0;
  CommentLength = 0;
  Comment.reset();
  CommentOffset = 0;
  RecordOffset = -1;
  ArchiveShift = 0;
  Modified = false;
}

void TEndCentral::Assign(const TEndCentral& other) {
  const bool modified = Modified;
  *this = other;
  Modified = modified;
}

void TEndCentral::Write(TStream& stream) const {
  std::array<std::uint8_t, kEndRecordSize> b{};
  const bool comment = CommentLength != 0 && Comment.has_value();
  PutU32(&b[0], Signature);
  PutU16(&b[4], ThisDiskNumber);
  PutU16(&b[6], CentralDirStartDisk);
  PutU16(&b[8], EntriesOnThisDisk);
  PutU16(&b[10], TotalEntries);
  PutU32(&b[12], CentralDirSize);
  PutU32(&b[16], CentralDirOffset);
  PutU16(&b[20], comment ? CommentLength : 0);
  WriteAll(stream, b.data(), b.size());
  if (comment) WriteAll(stream, Comment->data(), CommentLength);
}

bool TEndCentral::Find(TStream& stream) {
  const std::int64_t size = stream.Size();
  Clear();
  if (size < kEndRecordSize) return size == 0;
  const std::int64_t length = std::min<std::int64_t>(kEndSearchBytes, size);
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(length));
  if (stream.Seek(size - length, kSeekFromBeginning) < 0 ||
      !stream.ReadExact(buffer.data(), static_cast<std::int32_t>(length))) {
    return false;
  }
  constexpr std::uint8_t kFirstSignatureByte = kEndSignature & 0xFF;
  for (std::int64_t i = length - kEndRecordSize; i >= 0; --i) {
    const std::uint8_t* p = buffer.data() + i;
    if (p[0] != kFirstSignatureByte || GetU32(p) != kEndSignature) continue;
    ThisDiskNumber = GetU16(p + 4);
    CentralDirStartDisk = GetU16(p + 6);
    EntriesOnThisDisk = GetU16(p + 8);
    TotalEntries = GetU16(p + 10);
    CentralDirSize = GetU32(p + 12);
    CentralDirOffset = GetU32(p + 16);
    CommentLength = GetU16(p + 20);
    RecordOffset = size - length + i;
    CommentOffset = static_cast<std::uint32_t>(RecordOffset + kEndRecordSize);
    return true;
  }
  return false;
}

void TEndCentral::LoadComment(TStream& stream) {
  if (Comment.has_value() || CommentLength == 0) return;
  std::string text(CommentLength, '\0');
  std::int32_t got = 0;
  if (stream.Seek(CommentOffset, kSeekFromBeginning) >= 0) {
    got = std::max(stream.Read(text.data(), CommentLength), 0);
  }
  text.resize(static_cast<std::size_t>(got));
  Comment = std::move(text);
}

void TEndCentral::SetComment(std::optional<std::string_view> comment) {
  if (comment && !comment->empty()) {
    Comment = std::string(comment->substr(0, kMaxCommentLength));
    CommentLength = static_cast<std::uint16_t>(Comment->size());
  } else {
    Comment.reset();
    CommentLength = 0;
  }
  Modified = true;
}

}  // namespace zip
