// The intent file and the steps of a crash-safe emptying (table_empty.h has
// the file and the order of the steps; TDataTable::EmptyTable runs them and
// TDataTable::RecoverAtOpen finishes an interrupted one).
#include "engine/table/table_empty.h"

#include <array>

#include "engine/errors.h"
#include "engine/files/file_handler.h"
#include "engine/files/file_list.h"
#include "engine/files/table_names.h"
#include "engine/table/data_table.h"

namespace engine {

namespace {

constexpr std::array<char, 8> kEmptyIntentMagic = {'O', 'R', 'V', 'E', 'M', 'P', '0', '1'};

// `path` with its extension (after the last dot of the last name) replaced.
std::string WithExtension(const std::string& path, const char* ext) {
  const std::size_t slash = path.find_last_of("\\/");
  const std::size_t dot = path.rfind('.');
  const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (hasExt ? path.substr(0, dot) : path) + ext;
}

}  // namespace

TJournalLocation EmptyIntentLocation(const TJournalLocation& journal) {
  TJournalLocation intent = journal;
  intent.name = WithExtension(journal.name, kEmptyIntentExt);
  if (!journal.hostPath.empty()) intent.hostPath = WithExtension(journal.hostPath, kEmptyIntentExt);
  return intent;
}

bool EmptyIntentPresent(const TJournalLocation& journal) {
  return TCommitJournal::Exists(EmptyIntentLocation(journal));
}

void WriteEmptyIntent(const TJournalLocation& journal) {
  const TJournalLocation intent = EmptyIntentLocation(journal);
  TFileHandler file(nullptr);
  file.SetFileName(intent.name);
  file.SetInMemory(intent.inMemory);
  file.CreateNew();
  try {
    {
      TFileAccess access(file);
      file.Seek(0, kSeekFromStart);
      file.Write(kEmptyIntentMagic.data(), static_cast<std::int32_t>(kEmptyIntentMagic.size()));
    }
    file.Flush();  // with its directory entry
  } catch (...) {
    // Nothing of the table was touched yet: without the intent the emptying
    // simply did not happen.
    file.Close();
    TFileList::Instance().RemoveFile(intent.name, intent.inMemory);
    throw;
  }
  file.Close();
}

void RemoveEmptyIntent(const TJournalLocation& journal) {
  const TJournalLocation intent = EmptyIntentLocation(journal);
  const std::int32_t removed = TFileList::Instance().RemoveFile(intent.name, intent.inMemory);
  if (removed < 0) RaiseEngineError(-removed, intent.name);
}

void CutTableFilesToHeaders(TDataTable& table) {
  const bool blobs = table.HasBlobs();
  table.DataFile().DropCache();
  table.DataFile().Empty();
  table.IndexFile().DropCache(true);
  table.IndexFile().Empty();
  if (blobs) {
    table.BlobFile().DropCache();
    table.BlobFile().Empty();
  }
}

void WriteEmptyHeaders(TDataTable& table) {
  const bool blobs = table.HasBlobs();
  table.DataFile().WriteHeader(true, false);
  table.IndexFile().WriteHeader(true, false);
  if (blobs) table.BlobFile().WriteHeader(true, false);
  table.DataFile().Flush();
  table.IndexFile().Flush();
  if (blobs) table.BlobFile().Flush();
}

}  // namespace engine
