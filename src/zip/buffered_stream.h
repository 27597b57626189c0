// Buffered streams: every archive and every zipped or extracted file is read
// and written through one of these.
//
// TS_BufferStream puts a buffer of fixed size in front of another stream (not
// owned). Its state is unknown (0), reading (1) or writing (2):
//  * reading: buffer[current, end) holds bytes already taken from the
//    underlying stream but not yet returned; the logical position is the
//    underlying position minus (end - current).
//  * writing: buffer[0, current) holds bytes not yet passed on; the logical
//    position is the underlying position plus current.
// A seek to another position passes pending writes on and drops the buffer.
// Callers never mix reads and writes without a seek in between; the stream
// still copes when they do (a read after writes flushes first, a write after
// reads repositions the underlying stream first).
//
// TLFNFileStream owns the file it buffers. With its flush-on-close flag and
// write access it forces written data to stable storage when destroyed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "zip/stream.h"

namespace zip {

// The zip component always buffers in pieces of this many bytes.
inline constexpr std::int32_t kZipBufferSize = 8192;

class TS_BufferStream : public TStream {
 public:
  enum class State { kUnknown = 0, kReading = 1, kWriting = 2 };

  TS_BufferStream(TStream* underlying, std::int32_t bufferSize);
  ~TS_BufferStream() override;
  TS_BufferStream(const TS_BufferStream&) = delete;
  TS_BufferStream& operator=(const TS_BufferStream&) = delete;

  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  // Raises EStreamError "Invalid seek origin (%d)" for an unknown origin and
  // "Seek error" when pending writes cannot be passed on.
  std::int64_t Seek(std::int64_t offset, int origin) override;
  std::int64_t Size() override;
  bool SetSize(std::int64_t size) override;

  // Puts one byte back in front of the read pointer; EStreamError
  // "Putback overflow" at the start of the buffer.
  void PutBack(std::uint8_t byte);
  // Passes pending writes on; false when the underlying stream took fewer.
  bool FlushBuffer();

  State state() const { return state_; }
  bool written() const { return written_; }
  void set_flush_on_destroy(bool value) { flushOnDestroy_ = value; }

  // Fired after the buffer was filled from, or flushed to, the underlying stream.
  std::function<void(TS_BufferStream&)> OnFillBuffer;
  std::function<void(TS_BufferStream&)> OnFlushBuffer;

 protected:
  // Fills the buffer from the underlying stream; returns the bytes that came.
  std::int32_t FillBuffer();
  // Forces written bytes to stable storage (file streams only).
  virtual void FlushToDisk() {}
  // Called by destructors of derived classes while their stream still exists.
  void FinishWrites();

 private:
  void DropBuffer();

  TStream* underlying_;
  std::vector<std::uint8_t> buffer_;
  std::int32_t current_ = 0;  // read pointer (reading) or pending count (writing)
  std::int32_t end_ = 0;      // end of valid data (reading)
  State state_ = State::kUnknown;
  bool flushOnDestroy_ = false;
  bool written_ = false;
  bool finished_ = false;
};

// A buffered stream over a file it opens and owns. The constructor raises
// EFOpenError "Cannot open file <name>: <reason>" when the file cannot be opened.
class TLFNFileStream : public TS_BufferStream {
 public:
  TLFNFileStream(std::string_view fileName, std::int32_t bufferSize, bool flushOnClose,
                 TFileMode mode);
  ~TLFNFileStream() override;
  TFileStream& File() { return *file_; }
  const std::string& FileName() const { return fileName_; }

 protected:
  void FlushToDisk() override;

 private:
  // Opens before the base class sees the stream pointer.
  static std::unique_ptr<TFileStream> OpenFile(std::string_view fileName, TFileMode mode);
  TLFNFileStream(std::unique_ptr<TFileStream> file, std::string_view fileName,
                 std::int32_t bufferSize, bool flushOnClose);

  std::unique_ptr<TFileStream> file_;
  std::string fileName_;
};

}  // namespace zip
