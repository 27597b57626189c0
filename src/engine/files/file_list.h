// TFileList: the process-wide registry of file objects. Every engine file is
// created, opened, shared, renamed, copied, deleted and closed through it.
//
// Results: opener ids (> 0), 0, or a negated engine code:
//   -11010  blank base name, unknown in-memory file, unknown opener, missing file
//   -11013  the file is held: exclusive conflicts, delete or rename with openers
//   other   the operating-system failure, mapped (errors.h)
//
// Invariants:
//  * two entries are the same file when they are of the same kind (in-memory
//    or physical) and their trimmed names are equal ignoring case; there is at
//    most one object per file;
//  * a physical file object is registered only while it has openers (a failed
//    first open or create unregisters it again);
//  * an in-memory file stays registered with its content after its last close
//    until it is removed; a temporary one is removed at its last close;
//  * an object opened exclusively has exactly one opener;
//  * lock order: the registry's critical section is taken before a file
//    object's; a file object's is never held while calling the registry.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/files/abstract_file.h"

namespace engine {

// Bytes moved per step when a file is copied.
inline constexpr std::int32_t kCopyChunkBytes = 65535;

class TFileList {
 public:
  // The one registry of the process.
  static TFileList& Instance();

  // Creates (or truncates) `name` for exclusive use; returns the opener id and
  // sets `file`.
  std::int32_t NewFile(const std::string& name, bool inMemory, bool temporary,
                       TAbstractFile*& file);
  // Opens `name`; returns the opener id and sets `readOnlyAttr` and `file`.
  std::int32_t OpenFile(const std::string& name, bool inMemory, bool temporary, bool exclusive,
                        bool& readOnlyAttr, TAbstractFile*& file);
  // Closes opener `id` of `file`; 0 or -11010.
  std::int32_t CloseFile(TAbstractFile* file, bool inMemory, std::int32_t id);
  // Renames or deletes a file that has no openers; 0 or a negative code.
  std::int32_t RenameFile(const std::string& name, bool inMemory, const std::string& newName);
  std::int32_t RemoveFile(const std::string& name, bool inMemory);
  // Registered, or (physical files) present on disk.
  bool HasFile(const std::string& name, bool inMemory);
  // Copies the open `file` from its start into a new file `destName`; a copy
  // that fails part-way is removed again.
  std::int32_t CopyOut(TAbstractFile* file, std::int32_t id, const std::string& destName,
                       bool inMemory);
  // Replaces the content of the open `file` by that of `sourceName`, which is
  // opened exclusively for the copy; the file is cut at the copied length.
  std::int32_t CopyIn(TAbstractFile* file, std::int32_t id, const std::string& sourceName,
                      bool inMemory);

  // Number of registered objects (for tests and diagnostics).
  int Count();

 private:
  TFileList() = default;
  // Index of the object for (name, kind) or -1; the caller holds mutex_.
  int Find(const std::string& name, bool inMemory) const;
  bool IsRegistered(const TAbstractFile* file) const;
  void Unregister(const TAbstractFile* file);
  // Copies from `source` (opener sourceId) to `dest` (opener destId) from the
  // start, in kCopyChunkBytes chunks, until a chunk comes back short.
  static std::int32_t CopyData(TAbstractFile& source, std::int32_t sourceId, TAbstractFile& dest,
                               std::int32_t destId);

  std::recursive_mutex mutex_;
  std::vector<std::unique_ptr<TAbstractFile>> files_;
};

}  // namespace engine
