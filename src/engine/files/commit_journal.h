// TCommitJournal: makes one write-back of a table set atomic. After a crash
// or a power cut at any instant, the next user of the table finds the three
// files exactly as they were before the write-back or exactly as after it.
//
// How a journaled write-back runs
// -------------------------------
//  1. Record. The write-back code runs unchanged while each open file of the
//     set records its writes (pending_writes.h): a write that overwrites
//     bytes the file holds (below its original length), and a short append,
//     is kept in memory; a large append (at or past the original end and
//     past every recorded write) goes straight to the file, while it is
//     still in the processor's cache.
//  2. Journal. Before the first large append, or at the commit when none
//     came, the rollback journal N.JNL (beside N.DAT, named after the data
//     file as spelled on disk) is written whole from offset 0 of the journal
//     file, over the voided journal of the last write-back (see "The kept
//     journal" below): its header with the original length
//     of each file, the original bytes of every region the operations
//     recorded so far overwrite or cut off, and its trailer; it is flushed,
//     and the first flush of a file this table just opened or created also
//     makes its directory entry durable.
//     From then on a crash is mended by rolling the files back from it. When
//     operations recorded after that point overwrite or cut further regions,
//     the journal is written whole again over the old one (the same header
//     first; whatever lies past its trailer is ignored) and flushed once
//     more. Until the
//     last journal flush has returned no byte a file held before is touched.
//     The table write-back records every file's overwrites and short appends
//     before the BLOB file's long runs of blocks, so that one journal flush
//     is the rule.
//  3. Apply. The recorded operations are replayed on the files in their
//     order; the writing of each changed file to the disk is started as soon
//     as its operations are done (StartWriteBack), and then every changed
//     file is flushed, so that the three flushes overlap.
//  4. Finish. The journal is voided: a table keeps its journal file open
//     between write-backs (TKeptJournal) and writes zeros over the magic in
//     place; a journal of no table is deleted. This is the instant the
//     write-back takes effect for a later opener. The void (or the deletion)
//     is made durable later, not at once: the next write-back's journal
//     flush covers it, before any table byte is touched, and closing the
//     table (TKeptJournal::Close, MakeRemovalDurable) or the end of the
//     process does otherwise.
//
// The kept journal. Creating a journal for every write-back made each one
// sync the directory (its new name) besides the journal itself. A table
// keeps the file instead: the first write-back after the table was opened
// opens N.JNL, or creates it when absent, and its first flush also syncs
// the directory, so that the name is durable whoever created it; the later
// write-backs write their journal into the same file, from offset 0 over the
// voided one, and flush only the file. The file keeps its blocks and its size
// (it only grows, when a journal is longer than any before, and then to a
// whole number of 64 KiB, zeros after the journal), so that the flush
// mostly writes data alone: an fdatasync that commits no size or allocation.
// While a process holds the file
// open no other process can remove or rename it (the host layer's sharing
// rules), so the name stays the one that was synced. Closing the table
// flushes the void of its last write-back when still owed and removes the
// file when it can take the write ranges at once; otherwise the file stays,
// voided, for the next opener or closer to remove. Every removal and every
// creation of the journal happens under the write ranges, so that no writer
// ever holds a file whose name another process just removed.
//
// Durability. A write-back that returned is whole and survives the process
// being killed at once. After a power cut it survives too, with one
// exception: the last write-back of a table that is still open (or of a
// process that died without closing it) may come back rolled back, as the
// void of its journal may not be durable yet; the table then holds exactly
// the state before that write-back, never a part of it, and every earlier
// one is intact (the journal of an earlier write-back is gone for good once
// the next journal was flushed over it). Once the table is closed its state
// survives a power cut whole. Nothing else writes a table's files between
// write-backs without first syncing their directory (an emptying flushes its
// intent file with its directory entry), so a journal that comes back never
// rolls back anything but its own write-back.
//
// Sequence numbers. A new journal is written over the last one while that
// one's void may not be on the disk yet, and the disk keeps the new bytes in
// any order until the flush returns. A power cut in between can leave the
// OLD header, valid again, beside some sectors of the NEW journal. Taken for
// a journal cut short, it would cut the files back to their lengths before
// the old write-back, whose overwrites stay: a mix of two states. So every
// journal carries a sequence number, one more than that of the journal it
// is written over (read from the file's header, voided or not), and the
// number ends every 512-byte sector of the file. What a power cut can leave,
// with old journal J (number s) committed and the next one K (s + 1) being
// written, and what the recovery does (a sector is written whole or not):
//   K's first sector on the disk: K's header; K's other sectors there or
//       not: its entries do not check, and cutting the files to K's lengths
//       (those after J) changes nothing;
//   J's header, voided: nothing to do, the state after J;
//   J's header valid (its void lost), any sector of the file numbered s + 1:
//       superseded, K was begun, so J had taken effect: nothing to do;
//   J's header valid, no sector numbered s + 1: J's own sectors are whole
//       (K's bytes reached none of them) and J is rolled back whole, the
//       exception above.
// A journal written again within its write-back keeps its number and its
// header, so one cut short shows its own number in every sector and is
// treated as cut short: only appends were made. Sectors past a journal's
// trailer hold older journals (lower numbers) and are ignored. A file cut to
// zero starts again at 1: the file system gives out no block freed by the
// cut before the cut itself is committed, so after a crash the file holds
// either the old bytes whole or only those written after the cut.
//
// A failure in step 1 or 2 leaves the files as they were once the appends
// are cut off (done at once; a journal that cannot be removed is mended by
// the next recovery). A failure in step 3 puts the original bytes back at
// once from the journal still in memory and cuts the files to their original
// lengths; when even that fails the journal stays on disk for the next user.
// After any failure the table gives up its kept journal and removes the file
// as far as it can, as a journal of no table does.
//
// Hot journal and recovery
// ------------------------
// What the reader decides, by the journal file's state:
//   absent, or not starting with the magic (empty, voided, damaged)
//                                  -> no journal: the table is read as it
//       is. Such a file is a kept journal between write-backs, or one left
//       by a process that died; an opener removes it when it can take the
//       write ranges at once and no one holds it open.
//   starting with the magic        -> a hot journal, unless its writer is at
//       work, which only the holder of the write ranges can be.
// Telling them apart reads the file's first 8 bytes (one open and read, no
// more than a look-up when the file is absent).
// A journal with its magic exists only while a write-back runs under the table's
// write lock (the index file's write range and, with BLOBs, the BLOB file's),
// or after its writer died, or after a power cut took back the void of the
// last write-back. So whoever holds a reader slot or the write range and
// still sees the magic has found a hot journal: it takes the write
// ranges, and Recover() rolls the files back according to what checks:
//   header does not check (short, wrong magic or CRC)  -> voided, or cut
//       short in 2 before any table byte was written: the journal is only
//       removed;
//   header checks, a sector carries the next number    -> superseded (see
//       "Sequence numbers"): the journal is only removed;
//   header checks, entries, trailer or numbers do not  -> cut short in 2,
//       only appends were made: the files are cut to the original lengths;
//   everything checks                                  -> the saved regions
//       are written back and the files cut to the original lengths.
// Then the journal is removed, or, when another process holds it open as its
// kept journal, cut to zero and flushed. Recovery is idempotent: a crash
// during recovery is mended by the next one.
//
// Journal format (little-endian throughout)
// -----------------------------------------
// The journal's bytes (header, entries, trailer) are stored cut into pieces
// of 508 bytes, each followed by the 4-byte sequence number, so that every
// 512-byte sector of the file ends with it; the last piece is padded with
// zeros to 508. Offsets below are in the journal's bytes, before that cut;
// the header lies whole in the first sector.
// Header, 48 bytes:
//   offset size  meaning
//        0    8  magic "ORVJNL01"; zeros once voided
//        8    4  number of files described: 3 (0 data, 1 index, 2 BLOB)
//       12    4  reserved, 0
//       16    8  original length of the data file
//       24    8  original length of the index file
//       32    8  original length of the BLOB file, -1 when the set has none
//       40    4  CRC-32 (polynomial 0xEDB88320) of bytes 0 to 39
//       44    4  sequence number, 1 or more. 0: a journal of earlier
//                versions, stored as it is (no sectors) and ending with
//                its trailer at the end of the file; still recovered.
// Then one entry per saved region, in any order:
//        0    1  file number (0, 1 or 2)
//        1    3  reserved, 0
//        4    8  offset of the region in that file
//       12    4  length n of the region, 1 or more
//       16    n  the region's original bytes
// Trailer, 16 bytes (found by walking the entries: an entry starts with a
// file number, the trailer with its magic):
//        0    4  magic "JEND"
//        4    4  number of entries
//        8    4  CRC-32 of every journal byte before the trailer
//       12    4  reserved, 0
//
// Worked example: a commit of one new row to a table without BLOBs, whose
// data file is 1000 bytes and index file 12288 bytes long, rewrites the
// 127-byte data header at 0, appends the record at 1000, and rewrites the
// 4096-byte index header at 0 and the index page at 4096. The append is
// short and recorded with the rest; no large append comes, so at the commit
// the whole journal is written once: the header (lengths 1000, 12288, -1,
// and, written over a voided journal numbered 7, the number 8), the entries
// (0, 0, 127, the old data header), (1, 0, 4096, the old index header) and
// (1, 4096, 4096, the old page), and the trailer: 48 + 143 + 4112 + 4112 +
// 16 = 8431 bytes, stored in 17 sectors (16 x 508 = 8128, the 17th holds the
// last 303 and 205 zeros), each ending with 8: 8704 bytes from offset 0 of
// the file. Rolling back writes the three regions back and cuts the data
// file to 1000 bytes. At the commit point bytes 0 to 7 become zeros.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/files/pending_writes.h"

namespace engine {

class TFileHandler;
class TCommitJournal;

// Number of files a journal describes and the file numbers used in it.
inline constexpr int kJournalFiles = 3;
inline constexpr int kJournalDataFile = 0;
inline constexpr int kJournalIndexFile = 1;
inline constexpr int kJournalBlobFile = 2;
inline constexpr char kJournalFileExt[] = ".JNL";

// The three files of a set in journal file order; a null entry: no such file.
using TJournalFiles = std::array<TFileHandler*, kJournalFiles>;

// Where a set's journal lives: N.JNL beside the data file, spelled after the
// data file as it is on disk (so that every process, whatever case it opened
// the table with, names the same journal), and for a file on disk its host
// path, whose presence is one exact look-up.
struct TJournalLocation {
  std::string name;      // for the file registry
  std::string hostPath;  // empty: ask the registry
  bool inMemory = false;
};

// The journal file a table keeps open between its write-backs (see "The
// kept journal" above). Owned by the table, used by each of its write-backs.
class TKeptJournal {
 public:
  TKeptJournal();
  ~TKeptJournal();
  TKeptJournal(const TKeptJournal&) = delete;
  TKeptJournal& operator=(const TKeptJournal&) = delete;

  bool IsOpen() const noexcept { return static_cast<bool>(FFile); }
  // Called when the table is closed: flushes the void of the last write-back
  // when still owed, closes the file and, with `remove` (the caller holds
  // the write ranges, or no other process can open the table), removes it
  // when no one else holds it open. Failures leave a voided file behind.
  void Close(const TJournalLocation& location, bool remove) noexcept;

 private:
  friend class TCommitJournal;
  // Closes the file; with `voidIt` it is first cut to zero (best effort: a
  // failure path, where the file is removed next when it can be).
  void Drop(bool voidIt) noexcept;

  std::unique_ptr<TFileHandler> FFile;
  bool FNameDurable = false;   // its directory was synced since this table opened it
  bool FVoidOwesSync = false;  // voided since its last flush
};

class TCommitJournal {
 public:
  // Starts recording on every open file of `files`. With `durable` every
  // step is flushed as described above and the write-back survives a power
  // cut; without it nothing is flushed (the write-back was not asked to
  // reach the disk), and the order of the steps still makes it whole after
  // the process is killed, since the system keeps what it was handed.
  // With `kept` the journal is written into the table's kept file and
  // voided in place; without, it is created and deleted.
  TCommitJournal(TJournalLocation journal, const TJournalFiles& files, bool durable = true,
                 TKeptJournal* kept = nullptr);
  // Stops recording; operations not committed are dropped.
  ~TCommitJournal();
  TCommitJournal(const TCommitJournal&) = delete;
  TCommitJournal& operator=(const TCommitJournal&) = delete;

  // Steps 2 to 4 above. Raises the engine error of the failing step (9218
  // for a failed write or flush) after putting the files back as they were.
  void Commit();

  // The journal of the existing data file `dataFileName` (N.DAT: N.JNL).
  static TJournalLocation Locate(const std::string& dataFileName, bool inMemory);
  // Whether the journal file exists (empty or not).
  static bool Exists(const TJournalLocation& journal);
  // Whether the journal file starts with the magic: a hot journal unless its
  // writer holds the write ranges (see above). Reads its first 8 bytes:
  // through `kept` when the caller keeps the file open (one read, as no one
  // can remove or rename it meanwhile), otherwise after a look-up of its
  // size, so that an absent or empty file costs that look-up alone.
  static bool Hot(const TJournalLocation& journal, const TKeptJournal* kept = nullptr);
  // Rolls the files back from a journal that checks and removes it (or cuts
  // it to zero and flushes it when another process holds it open); an
  // empty, voided or superseded one is only removed. The caller holds the write
  // ranges and the files are open for writing. True when a journal file was
  // found.
  static bool Recover(const TJournalLocation& journal, const TJournalFiles& files);
  // Whether rolling the files back from the journal would change any byte of
  // them (false without a journal, or with one voided, superseded or whose
  // header does not check).
  // Reads only: for files that cannot be written.
  static bool RollBackNeeded(const TJournalLocation& journal, const TJournalFiles& files);
  // Removes a journal that RollBackNeeded found to change nothing, or an
  // empty one; false when it cannot be removed (it stays, harmless).
  static bool Discard(const TJournalLocation& journal);
  // Makes the removal of the journal by the last commit durable, when its
  // directory still owes that sync (step 4 above). Called when the table is
  // closed, so that what a closed table holds survives a power cut.
  static void MakeRemovalDurable(const TJournalLocation& journal) noexcept;

 private:
  void StopRecording() noexcept;
  std::vector<std::uint8_t> HeaderBytes() const;
  // Step 2 before the first large append: the journal of what is recorded.
  void JournalBeforeDirectWrite();
  void CutToOriginalLengths();
  // The journal of the regions recorded so far (read from the stored files),
  // noting them in FJournaled.
  std::vector<std::uint8_t> BuildJournal();
  // Whether operations recorded since the journal was written touch regions
  // it does not hold.
  bool JournalOutdated() const;
  // Writes `image` as the whole journal (creating it or opening the kept
  // file the first time) and flushes it.
  void WriteJournal(const std::vector<std::uint8_t>& image);
  // Opens the kept journal file, creating it when absent.
  void OpenKeptJournal();
  // The sequence number of a new journal (see the format below).
  std::uint32_t ChooseSequence();
  // Done with the journal file after a failure: the kept one is given up
  // (cut to zero first with `voidIt`), an own one closed.
  void CloseJournalFile(bool voidIt) noexcept;
  void Apply();

  TJournalLocation FJournal;
  TJournalFiles FFiles;
  std::array<std::unique_ptr<TPendingWrites>, kJournalFiles> FPending;
  bool FDurable;
  bool FRecording = false;
  bool FFinished = false;
  TKeptJournal* FKept;
  TFileHandler* FJournalFile = nullptr;         // open once the journal is written
  std::unique_ptr<TFileHandler> FOwnedJournal;  // without a kept file: the journal's own
  std::vector<std::uint8_t> FImage;             // the journal as last written (stamped)
  std::uint32_t FSequence = 0;                  // its sequence number, 0 until chosen
  std::array<std::vector<TPendingWrites::Region>, kJournalFiles> FJournaled;  // held in FImage
};

}  // namespace engine
