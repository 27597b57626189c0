// TZORVADDataSet: the dataset model over an engine cursor (TDataCursor). The
// current record is the engine record as the cursor delivers it; fields are
// made from the cursor's field definitions by the field kinds table
// (field_types.h); navigation maps to the cursor's moves, whose end codes
// (8705 before the first, 8706 after the last record) set Bof and Eof; edits
// lock through the cursor; Filter and OnFilterRecord become an expression
// filter and a procedure filter on the cursor's filter list, active exactly
// while Filtered is set.
//
// A subclass supplies the cursor (CreateHandle): a table dataset opens its
// table, a query executes its SELECT. A cursor that belongs to a statement
// (a result table) is not freed by the dataset.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/components/dataset.h"
#include "engine/sql/filter.h"
#include "engine/table/data_cursor.h"

namespace engine {

class TZORVADDataSet : public TDataSet {
 public:
  explicit TZORVADDataSet(TComponent* owner = nullptr) : TDataSet(owner) {}
  ~TZORVADDataSet() override;

  bool AutoCalcFields = true;
  bool AutoDisplayLabels = false;

  // The engine cursor while open.
  TDataCursor* Handle() const noexcept { return FCursor; }
  // The current record buffer (engine record form) and its record number.
  const TDataCursor::TRecordBuffer& ActiveBuffer() const;
  TDataCursor::TRecordBuffer& ActiveBuffer();
  std::int32_t RecordNumber() const noexcept { return FRecNo; }

  std::unique_ptr<TStream> CreateBlobStream(TField& field, TBlobStreamMode mode) override;
  // The length of the current record's BLOB in `field`, as a read stream's
  // Size would tell it, without reading the BLOB's content.
  std::int64_t BlobSize(const TField& field);

 protected:
  // The cursor to read; `ownedByDataSet` false for a statement's cursor.
  virtual TDataCursor* CreateHandle(bool& ownedByDataSet) = 0;
  // After the cursor went (releases what opening took).
  virtual void HandleClosed() {}

  void InternalOpen() override;
  void InternalClose() override;
  bool InternalFirst() override;
  bool InternalLast() override;
  bool InternalNext() override;
  bool InternalPrior() override;
  std::int64_t InternalRecordCount() override;
  TBookmark InternalBookmark() const override { return FRecNo; }
  bool InternalGotoBookmark(TBookmark bookmark) override;
  void InternalEdit() override;
  void InternalInsert() override;
  void InternalPost() override;
  void InternalCancel() override;
  void InternalDelete() override;
  bool InternalRefresh() override;
  void ApplyFilters(const std::string& text, const TFilterOptionSet& options, bool filtered,
                    bool recordFilter) override;

  bool GetFieldNull(const TField& field) const override;
  std::string GetFieldString(const TField& field) const override;
  std::int64_t GetFieldInteger(const TField& field) const override;
  double GetFieldFloat(const TField& field) const override;
  void SetFieldString(const TField& field, const std::string& value) override;
  void SetFieldInteger(const TField& field, std::int64_t value) override;
  void SetFieldFloat(const TField& field, double value) override;
  void SetFieldNull(const TField& field) override;
  // The chain's first block tells the length; the whole BLOB is read straight
  // from the BLOB file into `into` (TBlobBufferSet::ReadWhole), or taken from
  // the record buffer's open BLOB when it holds one.
  std::int64_t GetBlobSize(const TField& field) override { return BlobSize(field); }
  void GetBlobBytes(const TField& field, std::vector<std::uint8_t>& into) override;

 private:
  // Handles a cursor move's answer: true for a record, false for an end
  // code; any other code is raised.
  bool Fetched(int code);
  void DiscardBlobChanges();
  void DropFilters();
  bool RecordFilterAccepts(const std::vector<std::uint8_t>& record, std::int32_t n);

  TDataCursor* FCursor = nullptr;
  std::unique_ptr<TDataCursor> FOwnedCursor;
  TDataCursor::TRecordBuffer FRecord;
  TDataCursor::TRecordBuffer FSaved;  // the current record while inserting
  std::int32_t FRecNo = 0;
  TDataCursor::TRecordBuffer FFilterRecord;  // the record a record filter is asked about
  TFilterHandle FExprFilter = nullptr;
  TFilterHandle FRecordFilter = nullptr;
  std::string FCompiledText;
  TFilterOptionSet FCompiledOptions;
};

}  // namespace engine
