// Optimisation levels, index key ranges and record-by-record evaluation of
// filter conditions (filter_bitmap.h describes the key ranges).
#include "engine/sql/filter_bitmap.h"

#include <algorithm>
#include <string>

#include "engine/sql/filter_compiled.h"
#include "engine/storage/data_file.h"
#include "engine/storage/index_file.h"

namespace engine {

namespace {

bool IsColumn(const TExpToken* node) {
  return node != nullptr && node->tokenClass == kClassColumn && node->fieldNo > 0;
}

bool IsConstant(const TExpToken* node) {
  return node != nullptr && node->tokenClass == kClassConstant && !node->isParameter;
}

bool IsUpperOfColumn(const TExpToken* node) {
  return node != nullptr && node->tokenClass == kClassFunction && node->code == kFnUpper &&
         IsColumn(node->left) && node->left->dataType == kFieldString;
}

// domain AND NOT r.
std::unique_ptr<TRecordsBitmap> Complement(std::unique_ptr<TRecordsBitmap> r,
                                           const TRecordsBitmap& domain) {
  r->SetSize(domain.Size());
  r->Not();
  r->And(domain);
  return r;
}

// r AND NOT minus.
void Subtract(TRecordsBitmap& r, TRecordsBitmap& minus) {
  minus.SetSize(r.Size());
  minus.Not();
  r.And(minus);
}

}  // namespace

TFilterBitmapBuilder::TFilterBitmapBuilder(TDataCursor& cursor) : FCursor(cursor) {
  TDataFile& data = cursor.Table()->DataFile();
  FCollation.languageId = static_cast<std::uint16_t>(data.LanguageId());
  FCollation.sortId = static_cast<std::uint16_t>(data.SortId());
  TIndexFile& index = cursor.Table()->IndexFile();
  const int last = index.SecondaryCount();
  for (int slot = kPrimarySlot; slot <= last; ++slot) {
    try {
      TKeyLayout layout = TKeyLayout::ForDescriptor(index.Descriptor(slot), slot, cursor.Fields(),
                                                    FCollation.languageId, FCollation.sortId);
      if (layout.KeyLength() == 0 || layout.Fields().empty() || layout.Descending() ||
          layout.Fields()[0].descending || layout.Fields()[0].autoIncrement)
        continue;
      FIndexes.emplace_back(slot, std::move(layout));
    } catch (const EZORVADEngineError&) {
      // A slot without a usable key (no primary key): no index there.
    }
  }
}

// ---- Levels ------------------------------------------------------------------------------

TFilterBitmapBuilder::IndexChoice TFilterBitmapBuilder::ChooseIndex(const TExpToken& column,
                                                                    bool caseInsensitive) const {
  const TFieldDefinitions& fields = FCursor.Fields();
  if (column.fieldNo < 1 || static_cast<std::size_t>(column.fieldNo) > fields.size()) return {};
  const TFieldDefinition& field = fields[static_cast<std::size_t>(column.fieldNo - 1)];
  if (!field.HasSlot() || field.Type() == kFieldBlob) return {};
  const bool isString = field.Type() == kFieldString;
  for (const auto& [slot, layout] : FIndexes) {
    if (layout.Fields()[0].recordOffset != field.Offset()) continue;
    if (isString && layout.CaseInsensitive() != caseInsensitive) continue;
    if (!isString && caseInsensitive) continue;
    return {slot, &layout};
  }
  return {};
}

bool TFilterBitmapBuilder::ConstantFits(const TExpToken& column, const TExpToken& constant) const {
  if (!IsConstant(&constant)) return false;
  if (constant.isNull) return true;
  if (constant.dataType != column.dataType) return false;
  if (column.dataType == kFieldString) {
    // A longer constant would be cut to the field's size in the key.
    const TFieldDefinition& field = FCursor.Fields()[static_cast<std::size_t>(column.fieldNo - 1)];
    return constant.AsString().size() < field.StorageSize();
  }
  return true;
}

// The column a comparison's left side offers to an index: the column itself,
// or the column under UPPER, whose upper-cased values a case-insensitive
// index holds as its keys.
const TExpToken* TFilterBitmapBuilder::IndexedColumn(const TExpToken& node,
                                                     bool& caseInsensitive) const {
  caseInsensitive = node.tokenClass == kClassStringCompare && node.caseInsensitive;
  if (IsColumn(node.left)) return node.left;
  if (!IsUpperOfColumn(node.left)) return nullptr;
  // A case-insensitive comparison of UPPER(c) is one of c. A case-sensitive
  // one finds the keys equal to the constant, which are exactly the matches
  // when the constant is upper case itself (else UPPER(c) never equals it);
  // ordered comparisons are left to evaluation.
  if (!caseInsensitive) {
    if (node.code != kOpEqual && node.code != kOpNotEqual && node.code != kOpInList &&
        node.code != kOpNotInList)
      return nullptr;
    for (const TExpToken* c = node.right; c != nullptr;
         c = node.code == kOpInList || node.code == kOpNotInList ? c->next : nullptr) {
      if (!IsConstant(c) || c->isNull) return nullptr;
      const std::string text(c->AsString());
      if (FCollation.Upper(text) != text) return nullptr;
    }
  }
  caseInsensitive = true;
  return node.left->left;
}

int TFilterBitmapBuilder::ComparisonLevel(const TExpToken& node) const {
  bool caseInsensitive = false;
  const TExpToken* column = IndexedColumn(node, caseInsensitive);
  if (column == nullptr) return kLevelNone;
  if (ChooseIndex(*column, caseInsensitive).slot < 0) return kLevelNone;
  auto fitsNotNull = [&](const TExpToken* c) {
    return c != nullptr && ConstantFits(*column, *c) && !c->isNull;
  };
  switch (node.code) {
    case kOpEqual:
    case kOpNotEqual:
      return node.right != nullptr && ConstantFits(*column, *node.right) ? kLevelFull : kLevelNone;
    case kOpLess:
    case kOpLessEqual:
    case kOpGreater:
    case kOpGreaterEqual:
      return node.tokenClass == kClassBinary && fitsNotNull(node.right) ? kLevelFull : kLevelNone;
    case kOpInList:
    case kOpNotInList:  // a NULL in the list stands for the NULL keys
      for (const TExpToken* item = node.right; item != nullptr; item = item->next)
        if (!ConstantFits(*column, *item)) return kLevelNone;
      return node.right != nullptr ? kLevelFull : kLevelNone;
    case kOpBetween:
    case kOpNotBetween:
      return fitsNotNull(node.right) && fitsNotNull(node.third) ? kLevelFull : kLevelNone;
    default:
      return kLevelNone;
  }
}

int TFilterBitmapBuilder::ComputeLevel(TExpToken& node) {
  int level = kLevelNone;
  switch (node.tokenClass) {
    case kClassUnary:
      if (node.left != nullptr &&
          (node.code == kOpNot || node.code == kOpNegate || node.code == kOpPlusSign))
        level = ComputeLevel(*node.left);
      break;
    case kClassBinary:
      if ((node.code == kOpAnd || node.code == kOpOr) && node.left != nullptr &&
          node.right != nullptr) {
        const int a = ComputeLevel(*node.left);
        const int b = ComputeLevel(*node.right);
        if (a == kLevelFull && b == kLevelFull)
          level = kLevelFull;
        else if (node.code == kOpAnd && std::max(a, b) > kLevelNone)
          level = kLevelPartial;
      } else if (IsComparisonCode(node.code)) {
        level = ComparisonLevel(node);
      }
      break;
    case kClassStringCompare:
      level =
          node.code == kOpEqual || node.code == kOpNotEqual ? ComparisonLevel(node) : kLevelNone;
      break;
    case kClassExtended:
      level = ComparisonLevel(node);
      break;
    default:
      break;
  }
  node.optimisationLevel = level;
  return level;
}

// ---- Bitmaps -------------------------------------------------------------------------------

std::unique_ptr<TRecordsBitmap> TFilterBitmapBuilder::NewBitmap() {
  auto bitmap = TRecordsBitmapStack::Instance().Take();
  // Growing from size 0 zero-fills every word once.
  bitmap->SetSize(0);
  bitmap->SetSize(
      static_cast<std::uint32_t>(std::max(FCursor.Table()->DataFile().RecordCount(), 0)));
  return bitmap;
}

std::unique_ptr<TRecordsBitmap> TFilterBitmapBuilder::Apply(const TExpToken& node,
                                                            const TRecordsBitmap& domain) {
  FResultCount = -1;
  if (node.optimisationLevel == kLevelNone) return Evaluated(node, domain);
  if (node.tokenClass == kClassUnary) {
    auto inner = Apply(*node.left, domain);
    if (node.code != kOpNot) return inner;
    FResultCount = -1;
    return Complement(std::move(inner), domain);
  }
  if (node.tokenClass == kClassBinary && node.code == kOpAnd) {
    // The operand an index answers better goes first; the other is then
    // evaluated only on the records still possible.
    const bool leftFirst = node.left->optimisationLevel >= node.right->optimisationLevel;
    const TExpToken& first = leftFirst ? *node.left : *node.right;
    const TExpToken& second = leftFirst ? *node.right : *node.left;
    auto narrowed = Apply(first, domain);
    return Apply(second, *narrowed);
  }
  if (node.tokenClass == kClassBinary && node.code == kOpOr) {
    auto a = Apply(*node.left, domain);
    auto b = Apply(*node.right, domain);
    a->Or(*b);
    FResultCount = -1;
    return a;
  }
  return IndexedNode(node, domain);
}

std::unique_ptr<TRecordsBitmap> TFilterBitmapBuilder::Evaluated(const TExpToken& node,
                                                                const TRecordsBitmap& domain) {
  if (auto compiled = TCompiledTest::Compile(node, FCursor.Fields(), FCursor.RecordSize())) {
    // Simple conditions test the record bytes directly, in one sequential
    // pass over the data file that leaves its cache alone.
    auto result = TRecordsBitmapStack::Instance().Take();
    result->Assign(domain);
    TDataFile& data = FCursor.Table()->DataFile();
    const bool complete =
        data.ScanRecords(&FCursor, domain, [&](std::int32_t n, const std::uint8_t* record) {
          if (!compiled->Passes(record)) result->Clear(n);
        });
    if (!complete) throw TFilterRestart{};  // another writer changed the table
    return result;
  }
  return ApplyRecordTest(
      [&](const std::vector<std::uint8_t>& record, std::int32_t) { return Evaluate(node, record); },
      domain);
}

std::unique_ptr<TRecordsBitmap> TFilterBitmapBuilder::ApplyRecordTest(
    const TRecordTest& test, const TRecordsBitmap& domain) {
  auto result = TRecordsBitmapStack::Instance().Take();
  result->Assign(domain);
  TDataFile& data = FCursor.Table()->DataFile();
  std::vector<std::uint8_t> record;
  const bool complete =
      data.ScanRecords(&FCursor, domain, [&](std::int32_t n, const std::uint8_t* bytes) {
        record.assign(bytes, bytes + FCursor.RecordSize());
        if (!test(record, n)) result->Clear(n);
      });
  if (!complete) throw TFilterRestart{};  // another writer changed the table
  return result;
}

std::int32_t TFilterBitmapBuilder::ReadAhead() const {
  // Records are visited in ascending order: read as many as one read holds.
  return static_cast<std::int32_t>(
      std::max<std::uint32_t>(1, kReadAheadBytes / FCursor.RecordSize()));
}

void TFilterBitmapBuilder::ReadRecord(std::int32_t n, std::vector<std::uint8_t>& into) {
  TDataFile& data = FCursor.Table()->DataFile();
  TRecord* record = data.GetRecord(&FCursor, n, kReadForward, true, ReadAhead());
  if (record == nullptr) throw TFilterRestart{};  // another writer changed the table
  into.assign(record->Data(), record->Data() + FCursor.RecordSize());
  data.ReleaseRecord(record);
}

bool TFilterBitmapBuilder::Evaluate(const TExpToken& tree,
                                    const std::vector<std::uint8_t>& record) {
  TRecordColumnReader reader(FCursor);
  reader.SetRecord(&record);
  EvaluationContext context;
  context.reader = &reader;
  context.collation = FCollation;
  context.errorCode = kErrFilter;
  context.tableName = FCursor.Name();
  return EvaluateCondition(tree, context);
}

std::vector<std::uint8_t> TFilterBitmapBuilder::KeyPrefix(const IndexChoice& index,
                                                          const TExpToken& column,
                                                          const TExpToken* constant, int chars) {
  TDataCursor::TRecordBuffer record = FCursor.NewRecord();
  const auto field = static_cast<std::uint32_t>(column.fieldNo);
  if (constant == nullptr || constant->isNull) {
    FCursor.PutNull(record, field);
  } else if (chars > 0) {
    FCursor.PutString(record, field, std::string(constant->AsString().substr(0, chars)));
  } else {
    FCursor.PutField(record, field, constant->value.data(), constant->value.size());
  }
  std::vector<std::uint8_t> key = index.layout->BuildKey(record.data(), record.size());
  const std::size_t valueBytes =
      chars > 0 ? static_cast<std::size_t>(chars) : index.layout->Fields()[0].storageSize;
  key.resize(std::min(key.size(), 1 + valueBytes));
  return key;
}

std::unique_ptr<TRecordsBitmap> TFilterBitmapBuilder::Scan(int slot,
                                                           const std::vector<std::uint8_t>& low,
                                                           const std::vector<std::uint8_t>& high) {
  auto bitmap = NewBitmap();
  if (FCountInversion && FCollation.languageId == 0) {
    const std::int64_t inside = FCursor.CountRange(slot, low, high);
    const std::int64_t live = FCursor.Table()->IndexFile().RecordCount();
    if (inside > live - inside) {
      // Callers intersect with their domain, which drops the deleted records.
      FCursor.ScanOutsideRangeToBitmap(slot, low, high, *bitmap);
      bitmap->Not();
      ++FInvertedScans;
      FLastScanKeys = -1;
      return bitmap;
    }
  }
  FLastScanKeys = FCursor.ScanRangeToBitmap(slot, low, high, *bitmap);
  return bitmap;
}

std::unique_ptr<TRecordsBitmap> TFilterBitmapBuilder::Equal(const IndexChoice& index,
                                                            const TExpToken& column,
                                                            const TExpToken* constant) {
  const std::vector<std::uint8_t> key = KeyPrefix(index, column, constant, 0);
  return Scan(index.slot, key, key);
}

std::unique_ptr<TRecordsBitmap> TFilterBitmapBuilder::IndexedNode(const TExpToken& node,
                                                                  const TRecordsBitmap& domain) {
  bool caseInsensitive = false;
  const TExpToken* indexed = IndexedColumn(node, caseInsensitive);
  if (indexed == nullptr) return Evaluated(node, domain);
  const TExpToken& column = *indexed;
  const IndexChoice index = ChooseIndex(column, caseInsensitive);
  const bool isString = column.dataType == kFieldString;
  std::unique_ptr<TRecordsBitmap> r;
  bool complement = false;
  const int invertedBefore = FInvertedScans;
  int scans = 0;  // direct scans whose keys make up r on their own
  switch (node.code) {
    case kOpEqual:
    case kOpNotEqual:
      if (node.tokenClass == kClassStringCompare && node.partialLength > 0 && !node.right->isNull) {
        const auto prefix = KeyPrefix(index, column, node.right, node.partialLength);
        r = Scan(index.slot, prefix, prefix);
      } else {
        r = Equal(index, column, node.right);
      }
      scans = 1;
      complement = node.code == kOpNotEqual;
      break;
    case kOpLess:
    case kOpLessEqual:
      r = Scan(index.slot, {}, KeyPrefix(index, column, node.right, 0));
      if (!isString) {  // NULL is never ordered below a value
        const std::vector<std::uint8_t> nullFlag(1, KeyPrefix(index, column, nullptr, 0)[0]);
        auto nulls = Scan(index.slot, nullFlag, nullFlag);
        Subtract(*r, *nulls);
      }
      if (node.code == kOpLess) Subtract(*r, *Equal(index, column, node.right));
      break;
    case kOpGreater:
    case kOpGreaterEqual:
      r = Scan(index.slot, KeyPrefix(index, column, node.right, 0), {});
      scans = 1;
      if (node.code == kOpGreater) {
        Subtract(*r, *Equal(index, column, node.right));
        scans = 0;
      }
      break;
    case kOpInList:
    case kOpNotInList:
      r = NewBitmap();
      for (const TExpToken* item = node.right; item != nullptr; item = item->next)
        r->Or(*Equal(index, column, item));
      complement = node.code == kOpNotInList;
      break;
    case kOpBetween:
    case kOpNotBetween:
      r = Scan(index.slot, KeyPrefix(index, column, node.right, 0),
               KeyPrefix(index, column, node.third, 0));
      scans = 1;
      complement = node.code == kOpNotBetween;
      break;
    default:
      return Evaluated(node, domain);
  }
  if (complement) return Complement(std::move(r), domain);
  r->SetSize(domain.Size());
  // Keys exist only for present records: a direct scan needs no intersection
  // with them (an inverted one holds the deleted records too).
  if (&domain == FPresentRecords && FInvertedScans == invertedBefore) {
    if (scans == 1) FResultCount = FLastScanKeys;
    return r;
  }
  r->And(domain);
  return r;
}

// ---- Column values -------------------------------------------------------------------------

void TRecordColumnReader::ReadColumn(const TExpToken& column, TExpToken& value) {
  const auto field = static_cast<std::uint32_t>(column.fieldNo);
  const TDataCursor::TRecordBuffer& record = *FRecord;
  if (FCursor.IsNull(record, field)) {
    value.SetNull();
    return;
  }
  value.isNull = false;
  if (FCursor.Fields()[field - 1].Type() == kFieldBlob) {
    TDataCursor::TRecordBuffer copy = record;
    value.value = FCursor.GetBlob(copy, field);
    if (value.IsMemo()) value.value.push_back(0);
    return;
  }
  value.value = FCursor.GetField(record, field);
}

}  // namespace engine
