// Removals whose directory sync is left for later.
//
// Removing a name survives a power cut only once its directory is synced
// (DeleteFile does that at once). A writer that removes and creates the same
// kind of file again and again in one directory, such as the engine's commit
// journal (one per commit), can leave the sync of each removal to whichever
// comes first:
//  * the next sync of the same directory, which makes every earlier change
//    of it durable: the first Flush of a file created there (the next
//    journal), DeleteFile, a rename there;
//  * SyncDirectoryIfOwed, called when the writer is done with the directory
//    (the engine: when a table is closed);
//  * SyncOwedDirectories, which also runs when the process exits normally.
// Until then a power cut may bring the removed name back with the content it
// had; a process that is killed loses nothing, as the system keeps the
// removal.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

// Removes a file by the rules of DeleteScratchFile and notes its directory as
// owing a sync.
bool DeleteFileSyncLater(std::string_view path);
// Syncs the directory that holds `path` when a removal there still owes its
// sync; `path` names a file of that directory (it need not exist).
void SyncDirectoryIfOwed(std::string_view path);
// Syncs every directory that owes a sync.
void SyncOwedDirectories();
// Syncs the directory that holds `path` now, owed or not: after it every
// name of that directory (a file created there, `path` among them) and every
// removal there is durable.
void SyncDirectoryOf(std::string_view path);
// Whether the directory holding `path` owes a sync.
bool DirectoryOwesSync(std::string_view path);

namespace internal {
// The number of removals left for later so far; taken before a directory
// sync begins and handed to NoteDirectorySynced after it.
std::uint64_t RemovalsSoFar();
// Called after `hostDirectory` was synced: the removals made there before
// the sync began (numbered up to `removalsBefore`) owe nothing any more.
void NoteDirectorySynced(std::string_view hostDirectory, std::uint64_t removalsBefore);
}  // namespace internal

}  // namespace platform
