// TZORVADBlobStream: one BLOB field of a dataset's current record buffer as a
// stream, through the cursor's BLOB buffers (the whole BLOB in memory).
//
// Reading opens the BLOB for reading; writing needs a field that may be
// modified and a dataset in edit or insert state, and empties the BLOB
// first. A BLOB already changed in the buffer (its buffer open) is used as it
// is. On destruction a written stream leaves its buffer open in the record,
// to be stored when the record is posted; a stream that only read closes the
// buffer it opened. Read answers short at the end of the data (8711) and
// nothing for an offset past it (9998); other codes are raised.
#pragma once

#include <cstdint>

#include "engine/components/dataset.h"
#include "engine/components/stream.h"

namespace engine {

class TZORVADDataSet;

class TZORVADBlobStream : public TStream {
 public:
  TZORVADBlobStream(TZORVADDataSet& dataSet, TField& field, TBlobStreamMode mode);
  ~TZORVADBlobStream() override;
  TZORVADBlobStream(const TZORVADBlobStream&) = delete;
  TZORVADBlobStream& operator=(const TZORVADBlobStream&) = delete;

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t Size() override;

 private:
  [[noreturn]] void Raise(int code) const;

  TZORVADDataSet& FDataSet;
  TField& FField;
  std::uint32_t FFieldNo;
  std::int64_t FPosition = 0;
  bool FOpened = false;  // this stream opened the BLOB buffer
  bool FWritten = false;
};

}  // namespace engine
