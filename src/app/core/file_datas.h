// The list of files a scan of the source tree produces.
//
// One `TFileDatas` record per file: its last-write time as a local DOS
// date-time, the directory that holds it (always ending in a backslash) and its
// name. Path + Name is the file's full Windows path. Each record is allocated
// on its own and owned by the list that holds it; the list keeps the order in
// which the scan met the files, and nothing ever sorts it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace app {

struct TFileDatas {
  // Last-write time, local, packed as a DOS date-time (date in the high 16 bits,
  // time in the low 16 bits). Stored unchanged in the catalog and compared there
  // as a plain signed integer.
  std::int32_t Time = 0;
  std::string Path;  // the file's directory, ending in a backslash: "D:\Data\Sub\"
  std::string Name;  // the file name without any directory: "a.txt"
};

// An owned list of records, in scan order.
using TFileList = std::vector<std::unique_ptr<TFileDatas>>;

// Disposes the records from the last to the first, removing each from the
// list, then frees the list and clears the reference. Safe on a null list.
void FreeFileList(std::unique_ptr<TFileList>& list);

}  // namespace app
