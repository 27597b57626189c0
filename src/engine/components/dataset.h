// The small dataset and field model the engine's dataset components extend:
// a dataset has a state, a current record, fields by name and number with
// typed getters and setters, navigation with Bof/Eof, editing (Edit, Insert,
// Append, Post, Cancel, Delete), filters (Filter, Filtered, FilterOptions,
// OnFilterRecord), bookmarks and a record count. TDataSet keeps the state
// rules; a subclass supplies the records through the Internal* hooks.
//
// States: dsInactive (closed) -> dsBrowse (open) <-> dsEdit / dsInsert; while
// a record filter is asked, dsFilter. Invariants: fields exist exactly while
// the dataset is open; field values are written only in dsEdit and dsInsert;
// Eof and Bof are both true on an empty dataset; First leaves Bof true, Last
// leaves Eof true, and a Next (Prior) that finds no further record leaves the
// last (first) record current with Eof (Bof) set.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/components/component.h"
#include "engine/components/field_types.h"
#include "engine/components/stream.h"

namespace engine {

class TDataSet;

enum class TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert, dsSetKey, dsFilter };
enum class TBlobStreamMode { bmRead, bmWrite, bmReadWrite };

struct TFilterOptionSet {
  bool foCaseInsensitive = false;
  bool foNoPartialCompare = false;
  bool operator==(const TFilterOptionSet&) const = default;
};

// A bookmark names a record by its record number (0: none).
using TBookmark = std::int32_t;

class TField {
 public:
  TField(TDataSet& dataSet, std::string fieldName, int fieldNo, TFieldKind kind);

  TDataSet& DataSet() const { return FDataSet; }
  const std::string& FieldName() const { return FFieldName; }
  int FieldNo() const { return FFieldNo; }  // the engine's 1-based field number
  TFieldType DataType() const { return FKind.type; }
  int Size() const { return FKind.size; }
  int Precision() const { return FKind.precision; }
  std::string DisplayLabel() const { return FDisplayLabel.empty() ? FFieldName : FDisplayLabel; }
  void SetDisplayLabel(std::string label) { FDisplayLabel = std::move(label); }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool value) { FReadOnly = value; }
  bool IsBlob() const { return IsBlobKind(FKind.type); }
  bool IsIndexField() const { return FIndexField; }
  void SetIndexField(bool value) { FIndexField = value; }

  bool IsNull() const;
  std::string AsString() const;
  void SetAsString(const std::string& value);
  std::int32_t AsInteger() const;
  void SetAsInteger(std::int32_t value);
  double AsFloat() const;
  void SetAsFloat(double value);
  bool AsBoolean() const;
  void SetAsBoolean(bool value);
  void Clear();

  // BLOB fields.
  std::int64_t BlobSize() const;
  // The whole BLOB into `into`, resized to its length (empty for a null
  // field); a buffer passed again and again keeps its capacity, so reading
  // many BLOBs allocates only for the longest.
  void ReadBlob(std::vector<std::uint8_t>& into) const;
  // Writes the BLOB into the file, creating it or replacing its content.
  void SaveToFile(const std::string& path) const;
  void LoadFromFile(const std::string& path);

 private:
  TDataSet& FDataSet;
  std::string FFieldName;
  int FFieldNo;
  TFieldKind FKind;
  std::string FDisplayLabel;
  bool FReadOnly = false;
  bool FIndexField = false;
};

// A link to a dataset (the master of a query's parameters).
struct TDataSource {
  TDataSet* DataSet = nullptr;
};

class TDataSet : public TComponent {
 public:
  using TNotifyEvent = std::function<void(TDataSet& dataSet)>;
  using TFilterRecordEvent = std::function<void(TDataSet& dataSet, bool& accept)>;

  explicit TDataSet(TComponent* owner = nullptr) : TComponent(owner) {}
  ~TDataSet() override = default;

  // ---- Life cycle --------------------------------------------------------------------
  bool Active() const noexcept { return FState != TDataSetState::dsInactive; }
  void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close();
  TDataSetState State() const noexcept { return FState; }

  // ---- Fields --------------------------------------------------------------------------
  int FieldCount() const { return static_cast<int>(FFields.size()); }
  TField& Fields(int index) const;                     // 0-based
  TField* FindField(const std::string& name) const;    // ignoring case
  TField& FieldByName(const std::string& name) const;  // "Field '%s' not found"

  // ---- Navigation ----------------------------------------------------------------------
  void First();
  void Last();
  void Next();
  void Prior();
  int MoveBy(int distance);
  bool Bof() const noexcept { return FBof; }
  bool Eof() const noexcept { return FEof; }
  bool IsEmpty() const noexcept { return FBof && FEof; }
  std::int64_t RecordCount();
  TBookmark GetBookmark() const;
  void GotoBookmark(TBookmark bookmark);

  // ---- Editing -------------------------------------------------------------------------
  void Edit();
  void Insert();
  void Append() { Insert(); }
  void Post();
  void Cancel();
  void Delete();
  bool CopyOnAppend = false;

  // ---- Filters -------------------------------------------------------------------------
  const std::string& Filter() const noexcept { return FFilterText; }
  void SetFilter(const std::string& text);
  bool Filtered() const noexcept { return FFiltered; }
  void SetFiltered(bool value);
  const TFilterOptionSet& FilterOptions() const noexcept { return FFilterOptions; }
  void SetFilterOptions(const TFilterOptionSet& options);
  const TFilterRecordEvent& OnFilterRecord() const noexcept { return FOnFilterRecord; }
  void SetOnFilterRecord(TFilterRecordEvent handler);

  TNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose, OnNewRecord, BeforePost, AfterPost;

  // A stream on a BLOB field of the current record.
  virtual std::unique_ptr<TStream> CreateBlobStream(TField& field, TBlobStreamMode mode) = 0;

 protected:
  friend class TField;
  // ---- Hooks a dataset supplies --------------------------------------------------------
  virtual void InternalOpen() = 0;   // makes the fields (AddField)
  virtual void InternalClose() = 0;  // the fields are dropped afterwards
  // Move and fetch; false when there is no such record (the current one stays).
  virtual bool InternalFirst() = 0;
  virtual bool InternalLast() = 0;
  virtual bool InternalNext() = 0;
  virtual bool InternalPrior() = 0;
  virtual std::int64_t InternalRecordCount() = 0;
  virtual TBookmark InternalBookmark() const = 0;
  virtual bool InternalGotoBookmark(TBookmark bookmark) = 0;
  virtual void InternalEdit() = 0;
  virtual void InternalInsert() = 0;  // a new record buffer
  virtual void InternalPost() = 0;
  virtual void InternalCancel() = 0;
  virtual void InternalDelete() = 0;
  // After a delete or a post: read the current record again; false when none.
  virtual bool InternalRefresh() = 0;
  // Brings the active dataset's filters to these settings (compiling a new
  // text, activating or deactivating); raises and changes nothing when the
  // text does not compile. The settings are stored after it returns.
  virtual void ApplyFilters(const std::string& text, const TFilterOptionSet& options, bool filtered,
                            bool recordFilter) = 0;

  // BLOB access of TField (not null fields); the defaults go through a read
  // stream (CreateBlobStream).
  virtual std::int64_t GetBlobSize(const TField& field);
  virtual void GetBlobBytes(const TField& field, std::vector<std::uint8_t>& into);

  // Field values of the current (or filtered) record.
  virtual bool GetFieldNull(const TField& field) const = 0;
  virtual std::string GetFieldString(const TField& field) const = 0;
  virtual std::int64_t GetFieldInteger(const TField& field) const = 0;
  virtual double GetFieldFloat(const TField& field) const = 0;
  virtual void SetFieldString(const TField& field, const std::string& value) = 0;
  virtual void SetFieldInteger(const TField& field, std::int64_t value) = 0;
  virtual void SetFieldFloat(const TField& field, double value) = 0;
  virtual void SetFieldNull(const TField& field) = 0;

  TField& AddField(std::string name, int fieldNo, TFieldKind kind);
  void SetState(TDataSetState state) { FState = state; }
  // Leaves edit or insert state (posting nothing).
  void CheckBrowseMode();
  void CheckActive() const;
  void CheckInactive() const;
  // Rules of every field write; raises the fixed messages.
  virtual void CheckFieldWrite(const TField& field) const;

 private:
  void SetEnds(bool found, bool bof, bool eof);

  TDataSetState FState = TDataSetState::dsInactive;
  std::vector<std::unique_ptr<TField>> FFields;
  bool FBof = true;
  bool FEof = true;
  std::string FFilterText;
  bool FFiltered = false;
  TFilterOptionSet FFilterOptions;
  TFilterRecordEvent FOnFilterRecord;
};

}  // namespace engine
