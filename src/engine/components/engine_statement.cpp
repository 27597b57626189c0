// Engine statements behind the query component (see engine_statement.h).
#include "engine/components/engine_statement.h"

#include <cmath>
#include <cstring>

#include "engine/sql/sql_prepared.h"

namespace engine {
namespace {

constexpr double kMillisecondsPerSecond = 1000.0;
constexpr std::size_t kLengthBytes = 4;  // of a reference: length, then the pointer

class TEngineStatement : public TQueryStatementPort {
 public:
  explicit TEngineStatement(const TQueryStatementSettings& settings) : FSettings(settings) {}

  void Prepare(const std::string& engineText) override {
    FText = engineText;
    Build();
  }

  // The executor takes its row limit when it is made: the statement is made
  // again with the new one before it is next bound or run (not at once,
  // which would free a result cursor that an open dataset still reads).
  void SetMaxRowCount(int maxRowCount) override {
    FRebuild = FRebuild || maxRowCount != FSettings.maxRowCount;
    FSettings.maxRowCount = maxRowCount;
  }

  int BindParams(const TParamRecord& params) override;

  void Execute() override {
    if (FRebuild) Build();
    FResult = FStatement->Executor().Execute();
  }

  std::unique_ptr<TRowStream> OpenRows() override {
    if (FRebuild) Build();
    FResult = nullptr;
    return FStatement->Executor().OpenRows();
  }

  TDataCursor* ResultCursor(bool& ownedByCaller) override {
    ownedByCaller = false;  // a result table belongs to its statement
    return FResult;
  }
  std::int64_t RowCount() const override { return FStatement->Executor().RowsAffected(); }
  std::uint32_t ExecutionTime() const override {
    return static_cast<std::uint32_t>(
        std::lround(FStatement->Executor().ExecutionTime() * kMillisecondsPerSecond));
  }

 private:
  void Build() {
    FRebuild = false;
    FResult = nullptr;
    FStatement.reset();
    TStatementOptions options;
    options.requestLive = FSettings.requestLive;
    options.maxRowCount = FSettings.maxRowCount;
    FStatement = std::make_unique<TPreparedStatement>(FSettings.directory, FText, options);
    FStatement->Executor().OnProgress = [this](std::int64_t, int percent, bool& abort) {
      if (OnProgress) OnProgress(percent, abort);
    };
  }

  TQueryStatementSettings FSettings;
  std::string FText;
  std::unique_ptr<TPreparedStatement> FStatement;
  TDataCursor* FResult = nullptr;
  bool FRebuild = false;  // the row limit changed since the statement was made
};

int TEngineStatement::BindParams(const TParamRecord& params) {
  if (FRebuild) Build();
  TFieldDefinitions definitions;
  std::vector<std::uint8_t> record;
  std::vector<std::pair<std::size_t, ExpTree>> values;  // handed over as values
  for (std::size_t i = 0; i < params.descriptors.size(); ++i) {
    const TParamDescriptor& d = params.descriptors[i];
    const std::uint8_t* slot = params.buffer.data() + d.offset;
    const bool present = slot[0] != 0;
    TFieldDefinition def;
    def.SetType(d.type);
    def.SetSubtype(d.subtype);
    def.SetScale(static_cast<std::uint8_t>(d.scale));
    def.SetOffset(static_cast<std::uint16_t>(record.size()));
    if (d.type == kFieldString && d.byReference) {
      // Too long for a definition: bound as a value over a placeholder slot.
      std::uint32_t length = 0;
      const char* chars = nullptr;
      std::memcpy(&length, slot + 1, kLengthBytes);
      std::memcpy(&chars, slot + 1 + kLengthBytes, sizeof chars);
      ExpTree value = NewToken();
      value->SetType(kFieldString, 0, static_cast<int>(length) + 1, 0);
      if (present && chars != nullptr) {
        value->SetString(std::string_view(chars, length));
      } else {
        value->SetNull();
      }
      values.emplace_back(i, std::move(value));
      def.SetType(kFieldInt32);
      record.push_back(0);
      record.resize(record.size() + StorageSizeOf(kFieldInt32, 0), 0);
    } else if (d.type == kFieldBlob && !d.byReference) {
      // Typed binary: its inline bytes become a reference into the buffer.
      const std::uint8_t* bytes = slot + 1;
      record.push_back(slot[0]);
      const auto length = static_cast<std::uint32_t>(d.size);
      const std::size_t at = record.size();
      record.resize(at + kLengthBytes + sizeof bytes);
      std::memcpy(record.data() + at, &length, kLengthBytes);
      std::memcpy(record.data() + at + kLengthBytes, &bytes, sizeof bytes);
    } else {
      if (d.type == kFieldString) def.SetSize(static_cast<std::uint8_t>(d.size - 1));
      record.insert(record.end(), slot, slot + 1 + d.size);
    }
    definitions.push_back(def);
  }
  TQueryExecutor& executor = FStatement->Executor();
  executor.BindParameters(definitions, record);
  for (const auto& [i, value] : values) executor.SetParameter(i, *value);
  return 0;
}

}  // namespace

std::unique_ptr<TQueryStatementPort> CreateEngineStatement(
    const TQueryStatementSettings& settings) {
  return std::make_unique<TEngineStatement>(settings);
}

}  // namespace engine
