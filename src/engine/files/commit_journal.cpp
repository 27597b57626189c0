// TCommitJournal: the rollback journal of a table set's write-back (the
// steps, the recovery rule and the byte layout are in commit_journal.h).
#include "engine/files/commit_journal.h"

#include <algorithm>
#include <cstring>

#include "engine/errors.h"
#include "engine/files/crc32.h"
#include "engine/files/file_handler.h"
#include "engine/files/file_list.h"
#include "engine/files/table_names.h"
#include "platform/directory_sync.h"
#include "platform/exact_names.h"
#include "platform/file_ops.h"
#include "platform/paths.h"

namespace engine {
namespace {

constexpr char kJournalMagic[8] = {'O', 'R', 'V', 'J', 'N', 'L', '0', '1'};
constexpr char kTrailerMagic[4] = {'J', 'E', 'N', 'D'};
constexpr std::size_t kLengthsOffset = 16;    // the three original lengths in the header
constexpr std::size_t kHeaderCrcOffset = 40;  // CRC-32 of the header's bytes before it
constexpr std::size_t kHeaderSize = 48;       // ... lengths, header CRC, sequence number
constexpr std::size_t kSequenceOffset = 44;   // the sequence number stamped in every sector
constexpr std::size_t kEntryHeadSize = 16;    // file number, reserved, offset, length
constexpr std::size_t kTrailerSize = 16;      // magic, entry count, CRC-32, reserved
constexpr std::int64_t kNoFile = -1;          // original length of a file the set lacks
constexpr std::int64_t kMaxJournalSize = std::int64_t{1} << 31;  // what one read can take
// A stamped journal is stored in sectors of 512 bytes: 508 bytes of the
// journal, then the sequence number.
constexpr std::size_t kSectorSize = 512;
constexpr std::size_t kStampSize = 4;
constexpr std::size_t kSectorPayload = kSectorSize - kStampSize;
// A kept journal file grows by whole steps (see WriteJournal).
constexpr std::int64_t kKeptGrowStep = 64 * 1024;
// What the commit point writes over the magic to void a kept journal.
constexpr std::uint8_t kVoidedMagic[sizeof kJournalMagic] = {};

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Put64(std::vector<std::uint8_t>& out, std::int64_t value) {
  const auto v = static_cast<std::uint64_t>(value);
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
std::uint32_t Get32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}
std::int64_t Get64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return static_cast<std::int64_t>(v);
}

// The sequence number of the journal written after one numbered `sequence`
// into the same file (0 is never used: it marks an unstamped journal).
std::uint32_t NextSequence(std::uint32_t sequence) {
  return sequence == UINT32_MAX ? 1 : sequence + 1;
}

// The stored form of a journal: its bytes cut into pieces of 508, each
// followed by `sequence`, the last piece padded with zeros.
std::vector<std::uint8_t> StampSectors(const std::vector<std::uint8_t>& journal,
                                       std::uint32_t sequence) {
  const std::size_t sectors = (journal.size() + kSectorPayload - 1) / kSectorPayload;
  std::vector<std::uint8_t> stored(sectors * kSectorSize, 0);
  for (std::size_t s = 0; s < sectors; ++s) {
    const std::size_t from = s * kSectorPayload;
    const std::size_t n = std::min(kSectorPayload, journal.size() - from);
    std::uint8_t* sector = stored.data() + s * kSectorSize;
    std::memcpy(sector, journal.data() + from, n);
    for (std::size_t i = 0; i < kStampSize; ++i)
      sector[kSectorPayload + i] = static_cast<std::uint8_t>(sequence >> (8 * i));
  }
  return stored;
}

// One saved region, pointing into a checked journal image.
struct TSavedRegion {
  int file;
  std::int64_t offset;
  const std::uint8_t* bytes;
  std::uint32_t length;
};

// A journal image that checked: the original lengths and the saved regions
// (pointing into the image, or into `unstamped` for a stamped one).
struct TParsedJournal {
  std::array<std::int64_t, kJournalFiles> lengths{};
  std::vector<TSavedRegion> regions;
  std::vector<std::uint8_t> unstamped;
};

// What a journal image holds.
enum class TJournalState {
  kInvalid,      // the header does not check: no table file was touched
  kSuperseded,   // the next journal was being written over it: its
                 // write-back had taken effect
  kLengthsOnly,  // the header checks, the rest not: only appends were made
  kWhole,        // everything checks
};

// Walks the entries of the journal bytes `p` (`size` of them) from the end
// of a header that checked up to the trailer, and checks the trailer; with
// `trailerLast` the trailer must end the bytes. False (no regions) when
// something does not check; otherwise `end` is where the trailer ends.
bool ParseEntries(const std::uint8_t* p, std::size_t size, bool trailerLast, TParsedJournal& parsed,
                  std::size_t& end) {
  std::size_t at = kHeaderSize;
  bool ok = false;
  while (at <= size) {
    // An entry starts with a file number (0 to 2), the trailer with "JEND".
    if (size - at >= kTrailerSize &&
        std::memcmp(p + at, kTrailerMagic, sizeof kTrailerMagic) == 0) {
      ok = (!trailerLast || at + kTrailerSize == size) && Get32(p + at + 8) == Crc32(p, at) &&
           parsed.regions.size() == Get32(p + at + 4);
      break;
    }
    if (size - at < kEntryHeadSize) break;
    const int file = p[at];
    const std::int64_t offset = Get64(p + at + 4);
    const std::uint32_t length = Get32(p + at + 12);
    at += kEntryHeadSize;
    if (file >= kJournalFiles || offset < 0 || length == 0 || size - at < length) break;
    if (parsed.lengths[file] == kNoFile || offset + length > parsed.lengths[file]) break;
    parsed.regions.push_back({file, offset, p + at, length});
    at += length;
  }
  if (ok) {
    end = at + kTrailerSize;
    return true;
  }
  parsed.regions.clear();
  return false;
}

// A stamped journal (sequence number `sequence`): superseded when a sector
// carries the next journal's number; whole when the entries and trailer
// check and every sector they lie in carries `sequence`.
TJournalState ParseStamped(const std::vector<std::uint8_t>& image, std::uint32_t sequence,
                           TParsedJournal& parsed) {
  const std::size_t sectors = image.size() / kSectorSize;  // a partial one is not there
  const std::uint32_t next = NextSequence(sequence);
  std::vector<std::uint32_t> stamps(sectors);
  parsed.unstamped.resize(sectors * kSectorPayload);
  for (std::size_t s = 0; s < sectors; ++s) {
    const std::uint8_t* sector = image.data() + s * kSectorSize;
    stamps[s] = Get32(sector + kSectorPayload);
    if (stamps[s] == next) return TJournalState::kSuperseded;
    std::memcpy(parsed.unstamped.data() + s * kSectorPayload, sector, kSectorPayload);
  }
  std::size_t end = 0;
  if (!ParseEntries(parsed.unstamped.data(), parsed.unstamped.size(), false, parsed, end))
    return TJournalState::kLengthsOnly;
  const std::size_t used = (end + kSectorPayload - 1) / kSectorPayload;
  for (std::size_t s = 0; s < used; ++s) {
    if (stamps[s] != sequence) {
      parsed.regions.clear();
      return TJournalState::kLengthsOnly;
    }
  }
  return TJournalState::kWhole;
}

// Checks every field of `image` (the journal file's bytes) against its
// bounds.
TJournalState ParseJournal(const std::vector<std::uint8_t>& image, TParsedJournal& parsed) {
  if (image.size() < kHeaderSize) return TJournalState::kInvalid;
  const std::uint8_t* p = image.data();
  if (std::memcmp(p, kJournalMagic, sizeof kJournalMagic) != 0) return TJournalState::kInvalid;
  if (Get32(p + 8) != kJournalFiles) return TJournalState::kInvalid;
  if (Get32(p + kHeaderCrcOffset) != Crc32(p, kHeaderCrcOffset)) return TJournalState::kInvalid;
  for (int f = 0; f < kJournalFiles; ++f) {
    parsed.lengths[f] = Get64(p + kLengthsOffset + 8 * f);
    if (parsed.lengths[f] < kNoFile) return TJournalState::kInvalid;
  }
  const std::uint32_t sequence = Get32(p + kSequenceOffset);
  if (sequence != 0) return ParseStamped(image, sequence, parsed);
  // Unstamped (written by earlier versions): the trailer ends the file.
  std::size_t end = 0;
  return ParseEntries(p, image.size(), true, parsed, end) ? TJournalState::kWhole
                                                          : TJournalState::kLengthsOnly;
}

// Writes the saved regions back and cuts every file to its original length,
// then flushes the files.
void RollBack(const TParsedJournal& journal, const TJournalFiles& files) {
  for (const TSavedRegion& r : journal.regions) {
    TFileHandler* h = files[static_cast<std::size_t>(r.file)];
    if (h == nullptr || !h->IsOpen()) continue;
    TFileAccess access(*h);
    h->Seek(r.offset, kSeekFromStart);
    h->Write(r.bytes, static_cast<std::int32_t>(r.length));
  }
  for (int f = 0; f < kJournalFiles; ++f) {
    TFileHandler* h = files[static_cast<std::size_t>(f)];
    if (h == nullptr || !h->IsOpen() || journal.lengths[f] == kNoFile) continue;
    if (h->GetSize() > journal.lengths[f]) {
      TFileAccess access(*h);
      h->Seek(journal.lengths[f], kSeekFromStart);
      h->Write(nullptr, 0);
    }
    h->Flush();
  }
}

void RemoveJournalFile(const std::string& name, bool inMemory) {
  const std::int32_t removed = TFileList::Instance().RemoveFile(name, inMemory);
  if (removed < 0) RaiseEngineError(-removed, name);
}

// Takes a file's recorder away for the scope, so that reads see the stored
// file (the original bytes of every region not yet applied).
class TStoredView {
 public:
  explicit TStoredView(TFileHandler& h) : h_(h), pending_(h.PendingWrites()) {
    h_.SetPendingWrites(nullptr);
  }
  ~TStoredView() { h_.SetPendingWrites(pending_); }
  TStoredView(const TStoredView&) = delete;
  TStoredView& operator=(const TStoredView&) = delete;

 private:
  TFileHandler& h_;
  TPendingWrites* pending_;
};

bool SameRegions(const std::vector<TPendingWrites::Region>& a,
                 const std::vector<TPendingWrites::Region>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const TPendingWrites::Region& x, const TPendingWrites::Region& y) {
                      return x.first == y.first && x.length == y.length;
                    });
}

}  // namespace

TKeptJournal::TKeptJournal() = default;

TKeptJournal::~TKeptJournal() {
  Drop(false);
}

void TKeptJournal::Drop(bool voidIt) noexcept {
  if (!FFile) return;
  try {
    if (voidIt) {
      TFileAccess access(*FFile);
      FFile->Seek(0, kSeekFromStart);
      FFile->Write(nullptr, 0);
    }
  } catch (const EDatabaseError&) {
    // A journal that stays is mended by the next recovery.
  }
  FFile->Close();
  FFile.reset();
  FNameDurable = false;
  FVoidOwesSync = false;
}

void TKeptJournal::Close(const TJournalLocation& location, bool remove) noexcept {
  if (!FFile) return;
  try {
    // The last write-back's cut survives a power cut once the table is
    // closed, whether or not the file can be removed below.
    if (FVoidOwesSync) FFile->Flush();
  } catch (const EDatabaseError&) {
    // Left to the next flush of the file or to the end of the process.
  }
  Drop(false);
  if (!remove) return;
  try {
    if (location.inMemory) {
      TFileList::Instance().RemoveFile(location.name, true);
    } else if (TCommitJournal::Exists(location) && !TCommitJournal::Hot(location)) {
      // Refused while another process holds it open as its own kept journal.
      platform::DeleteScratchFile(location.name);
    }
  } catch (...) {
    // Out of memory while naming it: an empty journal stays, harmless.
  }
}

TCommitJournal::TCommitJournal(TJournalLocation journal, const TJournalFiles& files, bool durable,
                               TKeptJournal* kept)
    : FJournal(std::move(journal)), FFiles(files), FDurable(durable), FKept(kept) {
  for (int f = 0; f < kJournalFiles; ++f) {
    TFileHandler* h = FFiles[static_cast<std::size_t>(f)];
    if (h == nullptr || !h->IsOpen()) {
      FFiles[static_cast<std::size_t>(f)] = nullptr;
      continue;
    }
    auto& pending = FPending[static_cast<std::size_t>(f)];
    pending = std::make_unique<TPendingWrites>(h->GetSize());
    pending->SetBeforeDirectWrite([this] { JournalBeforeDirectWrite(); });
    h->SetPendingWrites(pending.get());
  }
  FRecording = true;
}

TCommitJournal::~TCommitJournal() {
  StopRecording();
  if (!FFinished && FJournalFile) {
    // Given up after appends were made: cut them off again.
    try {
      CutToOriginalLengths();
      CloseJournalFile(true);
      RemoveJournalFile(FJournal.name, FJournal.inMemory);
    } catch (const EDatabaseError&) {
      // The journal stays; the next user of the table cuts them off.
      CloseJournalFile(false);
    }
  }
}

std::vector<std::uint8_t> TCommitJournal::HeaderBytes() const {
  std::vector<std::uint8_t> image(kJournalMagic, kJournalMagic + sizeof kJournalMagic);
  Put32(image, kJournalFiles);
  Put32(image, 0);
  for (const auto& pending : FPending) Put64(image, pending ? pending->OriginalSize() : kNoFile);
  Put32(image, Crc32(image.data(), image.size()));
  Put32(image, FSequence);
  return image;
}

void TCommitJournal::JournalBeforeDirectWrite() {
  // Once written, the journal holds every original length; regions recorded
  // after it are added at the commit.
  if (FJournalFile) return;
  FImage = BuildJournal();
  WriteJournal(FImage);
}

void TCommitJournal::CutToOriginalLengths() {
  for (int f = 0; f < kJournalFiles; ++f) {
    const auto& pending = FPending[static_cast<std::size_t>(f)];
    if (!pending || pending->StoredSize() == pending->OriginalSize()) continue;
    TFileHandler& h = *FFiles[static_cast<std::size_t>(f)];
    {
      TFileAccess access(h);
      h.Seek(pending->OriginalSize(), kSeekFromStart);
      h.Write(nullptr, 0);
    }
    h.Flush();
  }
}

void TCommitJournal::StopRecording() noexcept {
  if (!FRecording) return;
  for (TFileHandler* h : FFiles) {
    if (h != nullptr) h->SetPendingWrites(nullptr);
  }
  FRecording = false;
}

TJournalLocation TCommitJournal::Locate(const std::string& dataFileName, bool inMemory) {
  TJournalLocation journal;
  journal.inMemory = inMemory;
  journal.name = ChangeFileExt(dataFileName, kJournalFileExt);
  if (inMemory) return journal;
  const std::optional<std::string> data = platform::ExistingHostPath(dataFileName);
  if (!data) return journal;
  const std::size_t slash = data->rfind('/');
  const std::size_t dot = data->rfind('.');
  const std::size_t stem =
      dot != std::string::npos && (slash == std::string::npos || dot > slash) ? dot : data->size();
  journal.hostPath = data->substr(0, stem) + kJournalFileExt;
  journal.name = platform::ToWindowsPath(journal.hostPath);
  return journal;
}

bool TCommitJournal::Exists(const TJournalLocation& journal) {
  if (!journal.hostPath.empty()) return platform::HostPathExists(journal.hostPath);
  return TFileList::Instance().HasFile(journal.name, journal.inMemory);
}

bool TCommitJournal::Hot(const TJournalLocation& journal, const TKeptJournal* kept) {
  std::uint8_t magic[sizeof kJournalMagic] = {};
  std::int64_t got = 0;
  if (kept != nullptr && kept->FFile) {
    TFileHandler& file = *kept->FFile;
    TFileAccess access(file);
    file.Seek(0, kSeekFromStart);
    got = file.Read(magic, static_cast<std::int32_t>(sizeof magic), true);
  } else if (!journal.hostPath.empty()) {
    if (platform::HostPathSize(journal.hostPath) <= 0) return false;
    got = platform::ReadHostPathStart(journal.hostPath, magic, sizeof magic);
    // A journal that exists but cannot be read is left to the recovery,
    // which reports why.
    if (got < 0) return platform::HostPathSize(journal.hostPath) > 0;
  } else {
    if (!Exists(journal)) return false;
    TFileHandler file(nullptr);
    file.SetFileName(journal.name);
    file.SetInMemory(journal.inMemory);
    file.Open();
    {
      TFileAccess access(file);
      file.Seek(0, kSeekFromStart);
      got = file.Read(magic, static_cast<std::int32_t>(sizeof magic), true);
    }
    file.Close();
  }
  return got == static_cast<std::int64_t>(sizeof magic) &&
         std::memcmp(magic, kJournalMagic, sizeof magic) == 0;
}

std::uint32_t TCommitJournal::ChooseSequence() {
  // A journal file of its own starts empty: nothing in it can be mistaken
  // for this journal's next one.
  if (FKept == nullptr) return 1;
  // The kept file holds the last journal written into it (voided), or
  // nothing: the next number after its own, so that a stale header beside
  // sectors of this journal is recognised (see "Sequence numbers").
  OpenKeptJournal();
  TFileHandler& file = *FKept->FFile;
  std::uint8_t header[kHeaderSize];
  TFileAccess access(file);
  file.Seek(0, kSeekFromStart);
  const std::int32_t got = file.Read(header, static_cast<std::int32_t>(kHeaderSize), true);
  if (got < static_cast<std::int32_t>(kHeaderSize)) return 1;
  return NextSequence(Get32(header + kSequenceOffset));
}

std::vector<std::uint8_t> TCommitJournal::BuildJournal() {
  // Written again within one write-back, the journal keeps its number.
  if (FSequence == 0) FSequence = ChooseSequence();
  std::vector<std::uint8_t> image = HeaderBytes();
  std::uint32_t entries = 0;
  for (int f = 0; f < kJournalFiles; ++f) {
    const auto& pending = FPending[static_cast<std::size_t>(f)];
    if (!pending) continue;
    TFileHandler& h = *FFiles[static_cast<std::size_t>(f)];
    TStoredView stored(h);
    FJournaled[static_cast<std::size_t>(f)] = pending->TouchedRegions();
    for (const TPendingWrites::Region& r : FJournaled[static_cast<std::size_t>(f)]) {
      // Regions are split so that each length fits the entry's 32 bits and
      // one read.
      constexpr std::int64_t kMaxRegion = std::int64_t{1} << 30;
      for (std::int64_t done = 0; done < r.length; done += kMaxRegion) {
        const auto length = static_cast<std::uint32_t>(std::min(kMaxRegion, r.length - done));
        image.push_back(static_cast<std::uint8_t>(f));
        image.insert(image.end(), 3, 0);
        Put64(image, r.first + done);
        Put32(image, length);
        const std::size_t at = image.size();
        image.resize(at + length);
        TFileAccess access(h);
        h.Seek(r.first + done, kSeekFromStart);
        h.Read(image.data() + at, static_cast<std::int32_t>(length));
        ++entries;
      }
    }
  }
  const std::uint32_t crc = Crc32(image.data(), image.size());
  image.insert(image.end(), kTrailerMagic, kTrailerMagic + sizeof kTrailerMagic);
  Put32(image, entries);
  Put32(image, crc);
  Put32(image, 0);
  return StampSectors(image, FSequence);
}

bool TCommitJournal::JournalOutdated() const {
  for (int f = 0; f < kJournalFiles; ++f) {
    const auto& pending = FPending[static_cast<std::size_t>(f)];
    if (pending && !SameRegions(pending->TouchedRegions(), FJournaled[static_cast<std::size_t>(f)]))
      return true;
  }
  return false;
}

void TCommitJournal::OpenKeptJournal() {
  if (FKept->FFile) return;
  auto file = std::make_unique<TFileHandler>(nullptr);
  file->SetFileName(FJournal.name);
  file->SetInMemory(FJournal.inMemory);
  // Created alone, then opened shared: the writers of other processes open
  // the same file for their write-backs while this table keeps it open.
  if (!Exists(FJournal)) {
    file->CreateNew();
    file->Close();
  }
  file->Open();
  FKept->FFile = std::move(file);
  FKept->FNameDurable = false;
  FKept->FVoidOwesSync = false;
}

void TCommitJournal::CloseJournalFile(bool voidIt) noexcept {
  if (FJournalFile == nullptr) return;
  if (FKept != nullptr) {
    FKept->Drop(voidIt);
  } else {
    FOwnedJournal->Close();
  }
  FJournalFile = nullptr;
}

void TCommitJournal::WriteJournal(const std::vector<std::uint8_t>& image) {
  if (FJournalFile == nullptr && FKept != nullptr) {
    // The new journal goes over the voided one in place: the file keeps
    // its blocks and its size unless the journal is longer, so that its
    // flush writes the data alone (see "Durability" in the header).
    OpenKeptJournal();
    FJournalFile = FKept->FFile.get();
  }
  const bool created = FJournalFile == nullptr;
  std::unique_ptr<TFileHandler> fresh;
  if (created) {
    fresh = std::make_unique<TFileHandler>(nullptr);
    fresh->SetFileName(FJournal.name);
    fresh->SetInMemory(FJournal.inMemory);
  }
  TFileHandler& journal = created ? *fresh : *FJournalFile;
  try {
    if (created) journal.CreateNew();
    // A journal written again goes over the old one: its header, the same
    // bytes, stays in place, and whatever follows its trailer is ignored, so
    // that the original lengths are never lost.
    TFileAccess access(journal);
    const auto size = static_cast<std::int64_t>(image.size());
    // A kept file that has to grow grows to a whole number of steps, zeros
    // after the journal, so that the next journals, mostly a little longer
    // or shorter, find their blocks there and their flush commits no new
    // size. Zeros never read as a sector of a journal (numbers start at 1).
    const std::int64_t zeros =
        FKept != nullptr && size > journal.GetSize()
            ? (size + kKeptGrowStep - 1) / kKeptGrowStep * kKeptGrowStep - size
            : 0;
    journal.Seek(0, kSeekFromStart);
    for (std::size_t done = 0; done < image.size();) {
      const std::size_t chunk = std::min<std::size_t>(image.size() - done, 1u << 30);
      journal.Write(image.data() + done, static_cast<std::int32_t>(chunk));
      done += chunk;
    }
    if (zeros > 0) {
      const std::vector<std::uint8_t> pad(static_cast<std::size_t>(zeros), 0);
      journal.Write(pad.data(), static_cast<std::int32_t>(pad.size()));
    }
    if (FDurable) {
      journal.Flush();  // a file created here: with its directory entry
      if (FKept != nullptr) {
        FKept->FVoidOwesSync = false;
        if (!FKept->FNameDurable && !FJournal.inMemory) {
          // Opened by name, maybe created by a process that died before its
          // first flush: the name is made durable before any table byte is
          // touched, once for as long as this table keeps the file.
          platform::SyncDirectoryOf(FJournal.name);
        }
        FKept->FNameDurable = true;
      }
    }
  } catch (...) {
    if (created) {
      journal.Close();
      try {
        RemoveJournalFile(FJournal.name, FJournal.inMemory);
      } catch (const EDatabaseError&) {
        // Nothing was appended yet: a leftover journal only cuts nothing off.
      }
    }
    throw;
  }
  if (created) {
    FOwnedJournal = std::move(fresh);
    FJournalFile = FOwnedJournal.get();
  }
}

void TCommitJournal::Apply() {
  std::array<bool, kJournalFiles> changed{};
  for (int f = 0; f < kJournalFiles; ++f) {
    const auto& pending = FPending[static_cast<std::size_t>(f)];
    if (!pending) continue;
    changed[static_cast<std::size_t>(f)] =
        !pending->Empty() || pending->StoredSize() != pending->OriginalSize();
    TFileHandler& h = *FFiles[static_cast<std::size_t>(f)];
    for (const TPendingWrites::Operation& op : pending->Operations()) {
      TFileAccess access(h);
      h.Seek(op.offset, kSeekFromStart);
      if (op.cut) {
        h.Write(nullptr, 0);
      } else {
        h.Write(op.bytes.data(), static_cast<std::int32_t>(op.bytes.size()));
      }
    }
    // The file's pages go to the disk while the next file is written, and
    // the flushes below mostly wait for writing already under way: the file
    // system can take the changes of all three into one journal commit
    // instead of one per flush.
    if (FDurable && changed[static_cast<std::size_t>(f)]) h.StartWriteBack();
  }
  if (!FDurable) return;
  for (int f = 0; f < kJournalFiles; ++f) {
    if (changed[static_cast<std::size_t>(f)]) FFiles[static_cast<std::size_t>(f)]->Flush();
  }
}

void TCommitJournal::Commit() {
  StopRecording();
  bool anything = FJournalFile != nullptr;
  for (const auto& pending : FPending) anything = anything || (pending && !pending->Empty());
  if (!anything) {
    FFinished = true;
    return;
  }
  // A failure before the journal is whole leaves the files untouched but for
  // appends, which the destructor cuts off.
  if (!FJournalFile || JournalOutdated()) {
    FImage = BuildJournal();
    WriteJournal(FImage);
  }
  try {
    Apply();
  } catch (...) {
    try {
      TParsedJournal parsed;
      if (ParseJournal(FImage, parsed) == TJournalState::kWhole) RollBack(parsed, FFiles);
      CloseJournalFile(true);
      RemoveJournalFile(FJournal.name, FJournal.inMemory);
    } catch (const EDatabaseError&) {
      // The journal stays: the next user of the table rolls back from it.
      CloseJournalFile(false);
    }
    FFinished = true;
    throw;
  }
  FFinished = true;
  if (FKept != nullptr) {
    // The write-back has taken effect once the kept file's magic is voided;
    // the void becomes durable with the next flush of the file (see the
    // header).
    try {
      TFileAccess access(*FJournalFile);
      FJournalFile->Seek(0, kSeekFromStart);
      FJournalFile->Write(kVoidedMagic, static_cast<std::int32_t>(sizeof kVoidedMagic));
    } catch (...) {
      // The journal stays whole: the caller, or the next user of the table,
      // rolls the write-back back from it.
      CloseJournalFile(false);
      throw;
    }
    FKept->FVoidOwesSync = true;
    FJournalFile = nullptr;
    return;
  }
  FJournalFile->Close();
  FJournalFile = nullptr;
  // The write-back has taken effect once the name is gone; the removal
  // becomes durable with the next sync of the directory (see the header).
  if (FJournal.inMemory) {
    RemoveJournalFile(FJournal.name, FJournal.inMemory);
  } else if (!platform::DeleteFileSyncLater(FJournal.name)) {
    RaiseEngineError(EngineCodeForLastOsError(), FJournal.name);
  }
}

void TCommitJournal::MakeRemovalDurable(const TJournalLocation& journal) noexcept {
  if (journal.inMemory) return;
  try {
    platform::SyncDirectoryIfOwed(journal.name);
  } catch (...) {
    // Out of memory while naming the directory: the sync is left to the
    // next one of the directory or to the end of the process.
  }
}

namespace {

// The journal's bytes; too large for one read: an error, so that it is left
// in place rather than taken for a cut one.
std::vector<std::uint8_t> ReadJournalImage(const TJournalLocation& location) {
  std::vector<std::uint8_t> image;
  TFileHandler journal(nullptr);
  journal.SetFileName(location.name);
  journal.SetInMemory(location.inMemory);
  journal.Open();
  const std::int64_t size = journal.GetSize();
  if (size >= kMaxJournalSize) RaiseEngineError(kErrReadFailed, location.name);
  if (size > 0) {
    image.resize(static_cast<std::size_t>(size));
    TFileAccess access(journal);
    journal.Seek(0, kSeekFromStart);
    const std::int32_t got =
        journal.Read(image.data(), static_cast<std::int32_t>(image.size()), true);
    image.resize(static_cast<std::size_t>(std::max(got, std::int32_t{0})));
  }
  journal.Close();
  return image;
}

// Whether rolling `files` back from `journal` would change a byte: a file
// longer (or shorter) than its original length, or a saved region that
// differs from what the file holds.
bool RollBackChanges(const TParsedJournal& journal, const TJournalFiles& files) {
  for (int f = 0; f < kJournalFiles; ++f) {
    TFileHandler* h = files[static_cast<std::size_t>(f)];
    if (h == nullptr || !h->IsOpen() || journal.lengths[f] == kNoFile) continue;
    if (h->GetSize() != journal.lengths[f]) return true;
  }
  std::vector<std::uint8_t> held;
  for (const TSavedRegion& r : journal.regions) {
    TFileHandler* h = files[static_cast<std::size_t>(r.file)];
    if (h == nullptr || !h->IsOpen()) continue;
    held.assign(r.length, 0);
    TFileAccess access(*h);
    h->Seek(r.offset, kSeekFromStart);
    const std::int32_t got = h->Read(held.data(), static_cast<std::int32_t>(r.length), true);
    if (got != static_cast<std::int32_t>(r.length) ||
        std::memcmp(held.data(), r.bytes, r.length) != 0)
      return true;
  }
  return false;
}

}  // namespace

bool TCommitJournal::Recover(const TJournalLocation& location, const TJournalFiles& files) {
  if (!Exists(location)) return false;
  const std::vector<std::uint8_t> image = ReadJournalImage(location);
  if (image.empty()) {
    // Voided since it was found: removed unless a writer keeps it open.
    Discard(location);
    return true;
  }
  TParsedJournal parsed;
  // A header that does not check was cut short before any table file was
  // touched, or voided; a superseded one belongs to a write-back that had
  // taken effect; one whose entries do not check was cut short before any
  // overwrite, so only the appends are cut off.
  const TJournalState state = ParseJournal(image, parsed);
  if (state == TJournalState::kLengthsOnly || state == TJournalState::kWhole)
    RollBack(parsed, files);
  // RollBack flushed the files: the journal may go now, durably. Another
  // process (or another table object of this one) holding it as its kept
  // journal refuses the removal: it is emptied in place instead.
  if (TFileList::Instance().RemoveFile(location.name, location.inMemory) == 0) return true;
  TFileHandler journal(nullptr);
  journal.SetFileName(location.name);
  journal.SetInMemory(location.inMemory);
  journal.Open();
  {
    TFileAccess access(journal);
    journal.Seek(0, kSeekFromStart);
    journal.Write(nullptr, 0);
  }
  journal.Flush();
  journal.Close();
  return true;
}

bool TCommitJournal::RollBackNeeded(const TJournalLocation& location, const TJournalFiles& files) {
  if (!Exists(location)) return false;
  const std::vector<std::uint8_t> image = ReadJournalImage(location);
  TParsedJournal parsed;
  const TJournalState state = ParseJournal(image, parsed);
  if (state != TJournalState::kLengthsOnly && state != TJournalState::kWhole) return false;
  return RollBackChanges(parsed, files);
}

bool TCommitJournal::Discard(const TJournalLocation& location) {
  return TFileList::Instance().RemoveFile(location.name, location.inMemory) == 0;
}

}  // namespace engine
