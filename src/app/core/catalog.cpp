// The backup catalog's operations; see catalog.h.
#include "app/core/catalog.h"

#include <ctime>
#include <memory>

#include "app/core/catalog_texts.h"
#include "engine/components/field_types.h"
#include "platform/file_ops.h"
#include "platform/ui_services.h"

namespace app {

namespace {

constexpr char kPathSeparator = '\\';
constexpr std::string_view kDataExtension = ".dat";
constexpr std::string_view kDataExtensionToCut = ".DAT";
constexpr std::string_view kDataExtensionToTest = ".Dat";

// The position of `needle` in `text`, ignoring ASCII case; npos when absent.
std::size_t FindIgnoringCase(std::string_view text, std::string_view needle) {
  if (needle.size() > text.size()) return std::string_view::npos;
  for (std::size_t i = 0; i + needle.size() <= text.size(); ++i) {
    bool equal = true;
    for (std::size_t k = 0; k < needle.size() && equal; ++k) {
      const auto a = static_cast<unsigned char>(text[i + k]);
      const auto b = static_cast<unsigned char>(needle[k]);
      equal = std::toupper(a) == std::toupper(b);
    }
    if (equal) return i;
  }
  return std::string_view::npos;
}

}  // namespace

TDataModuleRx::TDataModuleRx(MainState& state) : state_(state) {
  for (engine::TZORVADDatabase* db : {&DBDatabase, &OldDataBase})
    db->SetSessionName(kCatalogSession);
  for (engine::TZORVADQuery* q : {&qryDBInsert, &qryDBUpData}) {
    q->AutoDisplayLabels = false;
    q->CopyOnAppend = false;
    q->SetMaxRowCount(kNoRowLimit);
  }
  qryDBSrech.AutoDisplayLabels = false;
  qryDBSrech.CopyOnAppend = false;
  qryDBSrech.ReadOnly = true;
}

TDataModuleRx::~TDataModuleRx() {
  qryDBSrech.Close();
  qryDBInsert.UnPrepare();
  qryDBUpData.UnPrepare();
}

void TDataModuleRx::ConnectDatabase(engine::TZORVADDatabase& database, const std::string& directory,
                                    const std::string& name) {
  database.SetDirectory(directory);
  database.SetDatabaseName(name);
}

void TDataModuleRx::SplitFilePath(std::string_view path, std::string& folder, std::string& name) {
  // The last character is not examined: "D:\Dir\" splits at the backslash
  // before "Dir\".
  std::size_t cut = std::string_view::npos;
  if (path.size() > 1) cut = path.substr(0, path.size() - 1).rfind(kPathSeparator);
  if (cut == std::string_view::npos) {
    folder.clear();
    name = std::string(path);
    return;
  }
  folder = std::string(path.substr(0, cut + 1));
  name = std::string(path.substr(cut + 1));
}

void TDataModuleRx::BindKey(engine::TZORVADQuery& query, const TFileDatas& file,
                            std::string_view isZip) {
  query.ParamByName("pFileName").SetAsString(file.Name);
  query.ParamByName("pFileTime").SetAsInteger(file.Time);
  query.ParamByName("pPath").SetAsString(file.Path);
  query.ParamByName("pisZip").SetAsString(std::string(isZip));
}

void TDataModuleRx::BindRow(engine::TZORVADQuery& query, const TFileDatas& file,
                            const std::string& fileToStore, std::string_view isZip) {
  BindKey(query, file, isZip);
  if (fileToStore.empty()) {
    query.ParamByName("pFile").Clear();
  } else {
    query.ParamByName("pFile").LoadFromFile(fileToStore, engine::ftBlob);
  }
}

void TDataModuleRx::InsertFileRow(const TFileDatas& file, const std::string& fileToStore,
                                  std::string_view isZip) {
  BindRow(qryDBInsert, file, fileToStore, isZip);
  qryDBInsert.ExecSQL();
}

void TDataModuleRx::InsertFileRow(const TFileDatas& file, std::vector<std::uint8_t> bytes,
                                  std::string_view isZip) {
  BindKey(qryDBInsert, file, isZip);
  qryDBInsert.ParamByName("pFile").SetAsBlob(std::move(bytes));
  qryDBInsert.ExecSQL();
}

void TDataModuleRx::UpdateFileRow(const TFileDatas& file, const std::string& fileToStore,
                                  std::string_view isZip) {
  BindRow(qryDBUpData, file, fileToStore, isZip);
  qryDBUpData.ParamByName("pWherePath").SetAsString(file.Path);
  qryDBUpData.ExecSQL();
}

void TDataModuleRx::CreateBackupTable(const std::string& path) {
  auto query = std::make_unique<engine::TZORVADQuery>();
  // The statement names its table by full path; the query still needs a
  // database to run on, and the folder's temporary database serves.
  std::string folder, name;
  SplitFilePath(path, folder, name);
  query->SetDatabaseName(folder);
  query->Close();
  query->SetSQLText(CreateBackupTableText(path));
  query->ExecSQL();
}

std::string TDataModuleRx::NextNumberSuffix() {
  ++state_.FFileCounter;
  return state_.FFileCounter == 1 ? std::string() : std::to_string(state_.FFileCounter - 1);
}

void TDataModuleRx::OpenNextBackupFile() {
  const std::string suffix = NextNumberSuffix();
  const std::string& base = state_.BackFileName;
  const std::string& folder = state_.FNewBackupDir;
  const std::string path = folder + kPathSeparator + base + suffix;
  if (!platform::FileExists(path + std::string(kDataExtensionToTest))) CreateBackupTable(path);
  platform::Ui().ProcessMessages();
  ConnectDatabase(DBDatabase, folder + kPathSeparator, base + suffix + std::string(kDataExtension));
}

std::string TDataModuleRx::DateStamp() const {
  if (!fixedDate_.empty()) return fixedDate_;
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%Y%m%d", &local);
  return text;
}

void TDataModuleRx::OpenDatedBackupFile(const std::string& folder, std::string& name) {
  const std::string suffix = NextNumberSuffix();
  const std::size_t cut = FindIgnoringCase(name, kDataExtensionToCut);
  if (cut != std::string::npos) name.resize(cut);
  name += DateStamp();
  if (!platform::FileExists(folder + name + suffix + std::string(kDataExtensionToTest)))
    CreateBackupTable(folder + name + suffix);
  platform::Ui().ProcessMessages();
  name += suffix + std::string(kDataExtension);
  ConnectDatabase(DBDatabase, folder, name);
}

void TDataModuleRx::PrepareStatement(engine::TZORVADQuery& query, const std::string& text) {
  query.Close();
  query.SetSQLText(text);
  query.Prepare();
  query.ParamByName("pFile").SetDataType(static_cast<engine::TFieldType>(kBlobParamType));
}

void TDataModuleRx::PrepareTarget(TargetUse use) {
  qryDBInsert.Close();
  qryDBSrech.Close();
  DBDatabase.Close();
  OldDataBase.Close();
  // Names are unique in the session: the chosen file's name may move from
  // one database to the other between runs.
  DBDatabase.SetDatabaseName("");
  OldDataBase.SetDatabaseName("");

  std::string folder, name, oldName;
  if (!state_.FTargetFile.empty()) {
    SplitFilePath(state_.FTargetFile, folder, name);
    oldName = name;
    if (state_.BackNewFile && use == TargetUse::Backup) {
      ConnectDatabase(OldDataBase, folder, name);
      OpenDatedBackupFile(folder, name);
    } else {
      ConnectDatabase(DBDatabase, folder, name);
    }
  } else {
    folder = state_.FNewBackupDir + kPathSeparator;
    OpenNextBackupFile();
  }
  targetPath_ = folder + DBDatabase.DatabaseName();

  qryDBInsert.Close();
  qryDBInsert.UnPrepare();
  qryDBUpData.UnPrepare();
  qryDBInsert.SetDatabaseName(targetPath_);
  qryDBUpData.SetDatabaseName(targetPath_);
  PrepareStatement(qryDBUpData, UpdateStatementText(targetPath_));
  PrepareStatement(qryDBInsert, InsertStatementText(targetPath_));
  if (state_.FTargetFile.empty()) return;

  // The chosen file is read through the database that carries its name:
  // OldDataBase for a dated file, DBDatabase otherwise.
  qryDBSrech.SetDatabaseName(oldName);
  qryDBSrech.SetTableName(oldName);
  qryDBSrech.SetFiltered(true);
  qryDBSrech.NaturalOrder = false;
  if (use == TargetUse::Backup) qryDBSrech.Open();
}

bool TDataModuleRx::FindFileRow(const TFileDatas& file) {
  qryDBSrech.SetFilter(FileFilterText(file.Name, file.Path));
  qryDBSrech.First();
  return !qryDBSrech.Eof();
}

void TDataModuleRx::OpenForRestore(RowOrder order) {
  qryDBSrech.Close();
  qryDBSrech.SetFilter("");
  qryDBSrech.SetFiltered(false);
  qryDBSrech.NaturalOrder = order == RowOrder::Records;
  qryDBSrech.Open();
}

}  // namespace app
