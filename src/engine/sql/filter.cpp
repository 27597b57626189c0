// The filter list of a cursor: installing filters, their life cycle, the
// visible records and the per-record upkeep (filter.h).
#include "engine/sql/filter.h"

#include <algorithm>
#include <utility>

#include "engine/errors.h"
#include "engine/sql/expr_analysis.h"
#include "engine/sql/expr_error.h"
#include "engine/sql/expr_parser.h"
#include "engine/sql/expr_prepare.h"
#include "engine/sql/expr_rewrite.h"
#include "engine/sql/filter_bitmap.h"
#include "engine/storage/data_file.h"
#include "engine/storage/index_format.h"
#include "engine/values/format_settings.h"

namespace engine {

namespace {

constexpr const char* kFilterContext = "filter expression";

class CursorFieldResolver : public FieldListResolver {
 public:
  explicit CursorFieldResolver(TDataCursor& cursor)
      : FieldListResolver(cursor.Fields(), cursor.Name()) {}
};

std::unique_ptr<TRecordsBitmap> TakeBitmap() {
  return TRecordsBitmapStack::Instance().Take();
}

}  // namespace

TFilterList::TFilterList(TDataCursor& cursor, bool attached)
    : FCursor(cursor),
      FAttached(attached),
      FPresent(TakeBitmap()),
      FRange(TakeBitmap()),
      FDomain(FPresent.get()),
      FVisible(TakeBitmap()) {}

TFilterList::~TFilterList() {
  // No recomputation here: it reads the table and could fail.
  TRecordsBitmapStack& pool = TRecordsBitmapStack::Instance();
  for (auto& f : FFilters) pool.Give(std::move(f->FBitmap));
  pool.Give(std::move(FPresent));
  pool.Give(std::move(FRange));
  pool.Give(std::move(FVisible));
}

// ---- Adding ----------------------------------------------------------------------------------

TFilterHandle TFilterList::AddText(const std::string& text, const TFilterOptions& options) {
  if (FFilters.size() >= kMaxFilters) RaiseEngineError(kErrTooManyFilters, FCursor.Name());
  TDataFile& data = FCursor.Table()->DataFile();
  ExpTree prepared;
  {
    FormatSettingsScope scope(static_cast<std::uint16_t>(data.LanguageId()),
                              static_cast<std::uint16_t>(data.SortId()));
    TExpressionParser parser(kErrFilter, FCursor.Name(), kFilterContext);
    parser.owner = &FCursor;
    parser.SetText(text);
    parser.ReadToken();
    ExpTree tree = parser.ParseExpression(kPermitExtended);
    if (!tree) RaiseExpressionError(kErrFilter, FCursor.Name(), "filter expression is empty");
    if (parser.TokenKind() != kTokenEnd)
      RaiseExpressionError(kErrFilter, FCursor.Name(),
                           "Unknown or unexpected symbol '" + parser.TokenText() + "'" +
                               " found in " + kFilterContext);
    CursorFieldResolver resolver(FCursor);
    AnalysisContext context;
    context.errorCode = kErrFilter;
    context.tableName = FCursor.Name();
    context.contextName = kFilterContext;
    context.condition = true;
    context.resolver = &resolver;
    AnalyseExpression(context, tree);
    if (tree->dataType != kFieldBoolean)
      RaiseExpressionError(kErrFilter, FCursor.Name(),
                           "filter expression must be a boolean expression");
    TurnComparisonAround(*tree);
    PrepareOptions prepare;
    prepare.caseInsensitive = options.caseInsensitive;
    prepare.partialCompare = !options.noPartialCompare;
    prepare.collation.languageId = static_cast<std::uint16_t>(data.LanguageId());
    prepare.collation.sortId = static_cast<std::uint16_t>(data.SortId());
    prepared = PrepareExpression(*tree, prepare);
  }
  TFilterOptions own = options;
  own.ordering = false;
  return AddTree(std::move(prepared), own);
}

TFilterHandle TFilterList::AddTree(ExpTree prepared, const TFilterOptions& options) {
  auto filter = std::make_unique<TFilter>();
  filter->FKind = TFilterKind::Expression;
  filter->FTree = std::move(prepared);
  filter->FOptions = options;
  return Insert(std::move(filter));
}

TFilterHandle TFilterList::AddProcedure(TRecordFilterProc proc, void* userData,
                                        TFilterOptions options) {
  auto filter = std::make_unique<TFilter>();
  filter->FKind = TFilterKind::Procedure;
  filter->FProc = std::move(proc);
  filter->FUserData = userData;
  options.ordering = true;
  options.countInversion = true;
  filter->FOptions = options;
  return Insert(std::move(filter));
}

TFilterHandle TFilterList::Insert(std::unique_ptr<TFilter> filter) {
  if (FFilters.size() >= kMaxFilters) RaiseEngineError(kErrTooManyFilters, FCursor.Name());
  if (filter->FTree) filter->FLevel = TFilterBitmapBuilder(FCursor).ComputeLevel(*filter->FTree);
  filter->FBitmap = TakeBitmap();
  TFilterHandle handle = filter.get();
  // A filter without the ordering flag goes before the first one with it.
  auto at = FFilters.end();
  if (!filter->FOptions.ordering)
    at = std::find_if(FFilters.begin(), FFilters.end(),
                      [](const auto& f) { return f->FOptions.ordering; });
  FFilters.insert(at, std::move(filter));
  return handle;
}

// ---- Life cycle -------------------------------------------------------------------------------

TFilter& TFilterList::Find(TFilterHandle filter) {
  for (auto& f : FFilters)
    if (f.get() == filter) return *f;
  RaiseEngineError(kErrInvalidFilterHandle, FCursor.Name());
}

bool TFilterList::AnyActive() const {
  return std::any_of(FFilters.begin(), FFilters.end(), [](const auto& f) { return f->FActive; });
}

void TFilterList::Activate(TFilterHandle filter) {
  TFilter& f = Find(filter);
  const bool wasActive = f.FActive;
  f.FActive = true;
  ActivateOrUndo(wasActive ? std::vector<TFilter*>{} : std::vector<TFilter*>{&f});
}

void TFilterList::ActivateAll() {
  std::vector<TFilter*> activated;
  for (auto& f : FFilters) {
    if (!f->FActive) activated.push_back(f.get());
    f->FActive = true;
  }
  ActivateOrUndo(activated);
}

// A filter whose bitmap cannot be built (an evaluation or read error) is
// made inactive again, so the visible records stay those of the filters
// that were active before.
void TFilterList::ActivateOrUndo(const std::vector<TFilter*>& activated) {
  try {
    Changed();
  } catch (...) {
    for (TFilter* f : activated) f->FActive = false;
    try {
      Changed();
    } catch (...) {
      // The first error is the one to report.
    }
    throw;
  }
}

void TFilterList::Deactivate(TFilterHandle filter) {
  Find(filter).FActive = false;
  Changed();
}

void TFilterList::DeactivateAll() {
  for (auto& f : FFilters) f->FActive = false;
  Changed();
}

void TFilterList::Remove(TFilterHandle filter) {
  Find(filter);
  auto it = std::find_if(FFilters.begin(), FFilters.end(),
                         [&](const auto& f) { return f.get() == filter; });
  TRecordsBitmapStack::Instance().Give(std::move((*it)->FBitmap));
  FFilters.erase(it);
  Changed();
}

void TFilterList::RemoveAll() {
  for (auto& f : FFilters) TRecordsBitmapStack::Instance().Give(std::move(f->FBitmap));
  FFilters.clear();
  if (FCursor.IsOpen()) Changed();
}

void TFilterList::ReplaceExpression(TFilterHandle filter, ExpTree prepared) {
  TFilter& f = Find(filter);
  if (!f.FActive || f.FKind != TFilterKind::Expression)
    RaiseEngineError(kErrInvalidFilterHandle, FCursor.Name());
  f.FTree = std::move(prepared);
  f.FLevel = TFilterBitmapBuilder(FCursor).ComputeLevel(*f.FTree);
  Changed();
}

// ---- Bitmaps ---------------------------------------------------------------------------------

void TFilterList::Changed() {
  if (FAttached) {
    FCursor.FiltersChanged();  // hands over its bitmaps and calls Recompute
  } else {
    RecomputeActive();
  }
}

void TFilterList::WithRestarts(const std::function<void()>& work) {
  for (int attempt = 0;; ++attempt) {
    try {
      work();
      return;
    } catch (const TFilterRestart&) {
      // The table changed underneath: start again from the present records.
      if (attempt + 1 >= kMaxRestarts) RaiseEngineError(kErrRecordBufferCorrupt, FCursor.Name());
    }
  }
}

void TFilterList::LoadPresent() {
  const std::int32_t count = std::max(FCursor.Table()->DataFile().RecordCount(), 0);
  FDomain = FPresent.get();
  FPresent->SetSize(static_cast<std::uint32_t>(count));
  FPresent->ClearAll();
  if (count > 0) {
    // Every key of the system index with status "deleted" is a deleted record.
    const std::vector<std::uint8_t> deleted(1, kRecordDeleted);
    FCursor.ScanRangeToBitmap(kSystemSlot, deleted, deleted, *FPresent);
    FPresent->SetSize(static_cast<std::uint32_t>(count));
    FPresent->Not();
  }
  if (FRangeActive) FPresent->And(*FRange);
}

void TFilterList::BuildFilter(TFilter& filter) {
  TFilterBitmapBuilder builder(FCursor);
  // The domain: the present records, for an ordering filter not answered by
  // an index also narrowed by the active filters before it.
  std::unique_ptr<TRecordsBitmap> narrowed;
  if (filter.FOptions.ordering && filter.FLevel != TFilterBitmapBuilder::kLevelFull) {
    for (auto& f : FFilters) {
      if (f.get() == &filter) break;
      if (!f->FActive) continue;
      if (!narrowed) {
        narrowed = TakeBitmap();
        narrowed->Assign(*FDomain);
      }
      narrowed->And(*f->FBitmap);
    }
  }
  const TRecordsBitmap& domain = narrowed ? *narrowed : *FDomain;
  builder.SetCountInversion(filter.FOptions.countInversion);
  if (!narrowed && !FRangeActive) builder.SetPresentRecords(&domain);
  std::unique_ptr<TRecordsBitmap> result;
  if (filter.FKind == TFilterKind::Procedure) {
    result = builder.ApplyRecordTest(
        [&](const std::vector<std::uint8_t>& record, std::int32_t n) {
          return filter.FProc(filter.FUserData, record, n);
        },
        domain);
  } else {
    result = builder.Apply(*filter.FTree, domain);
  }
  filter.FCount = filter.FKind == TFilterKind::Expression ? builder.ResultCount() : -1;
  TRecordsBitmapStack::Instance().Give(std::move(filter.FBitmap));
  if (narrowed) TRecordsBitmapStack::Instance().Give(std::move(narrowed));
  filter.FBitmap = std::move(result);
}

void TFilterList::BuildVisible() {
  // Every active filter's bitmap lies within the present records already.
  int active = 0;
  for (auto& f : FFilters) {
    if (!f->FActive) continue;
    if (active++ == 0) {
      if (f->FCount >= 0) {
        FVisible->Assign(*f->FBitmap);
        FVisibleCount = static_cast<std::uint32_t>(f->FCount);
      } else {
        FVisibleCount = FVisible->AssignAndCount(*f->FBitmap);
      }
    } else {
      FVisible->And(*f->FBitmap);
    }
  }
  if (active == 0) FVisibleCount = FVisible->AssignAndCount(*FDomain);
  if (active > 1) FVisibleCount = FVisible->Count();
}

void TFilterList::Recompute(const TRecordsBitmap* present, const TRecordsBitmap* range) {
  FRangeActive = range != nullptr;
  if (range != nullptr && range != FRange.get()) FRange->Assign(*range);
  if (present != nullptr) {
    if (FAttached && !FRangeActive) {
      FDomain = present;  // kept current by the cursor
    } else {
      FPresent->Assign(*present);
      if (FRangeActive) FPresent->And(*FRange);
      FDomain = FPresent.get();
    }
    FPresentLoaded = true;
  } else {
    FPresentLoaded = false;
  }
  RecomputeActive();
}

void TFilterList::RecomputeActive() {
  bool restarted = false;
  WithRestarts([&] {
    // The present records are kept by the upkeep calls; they are read again
    // when never loaded or when the table changed underneath.
    if (!FPresentLoaded || restarted) LoadPresent();
    FPresentLoaded = true;
    restarted = true;
    for (auto& f : FFilters)
      if (f->FActive) BuildFilter(*f);
    restarted = false;
  });
  BuildVisible();
}

bool TFilterList::Passes(const TFilter& filter, const std::vector<std::uint8_t>& record,
                         std::int32_t n) {
  if (filter.FKind == TFilterKind::Procedure) return filter.FProc(filter.FUserData, record, n);
  return TFilterBitmapBuilder(FCursor).Evaluate(*filter.FTree, record);
}

// ---- Record upkeep ---------------------------------------------------------------------------

void TFilterList::RecordChanged(std::int32_t n, const std::vector<std::uint8_t>& record) {
  RecordChanged(n, record, !FRangeActive || FRange->Test(n));
}

void TFilterList::RecordChanged(std::int32_t n, const std::vector<std::uint8_t>& record,
                                bool inRange) {
  if (n < 1) return;
  const auto need = static_cast<std::uint32_t>(n);
  if (FVisible->Size() < need) FVisible->SetSize(need);
  const bool wasVisible = FVisible->Test(n);
  if (FRangeActive) {
    if (FRange->Size() < need) FRange->SetSize(need);
    FRange->Put(n, inRange);
  }
  if (FDomain == FPresent.get()) {  // else the cursor keeps the present records
    if (FPresent->Size() < need) FPresent->SetSize(need);
    FPresent->Put(n, inRange);
  }
  bool visible = inRange;
  for (auto& f : FFilters) {
    if (!f->FActive) continue;
    if (f->FBitmap->Size() < need) f->FBitmap->SetSize(need);
    const bool passes = Passes(*f, record, n);
    f->FBitmap->Put(n, passes);
    f->FCount = -1;
    visible = visible && passes;
  }
  FVisible->Put(n, visible);
  if (visible && !wasVisible) ++FVisibleCount;
  if (!visible && wasVisible) --FVisibleCount;
}

void TFilterList::RecordDeleted(std::int32_t n) {
  const bool wasVisible = FVisible->Test(n);
  if (FDomain == FPresent.get()) FPresent->Clear(n);
  FVisible->Clear(n);
  for (auto& f : FFilters) {
    if (!f->FActive) continue;
    f->FBitmap->Clear(n);
    f->FCount = -1;
  }
  if (wasVisible) --FVisibleCount;
}

}  // namespace engine
