// Buffered streams; see buffered_stream.h for the states and the position rule.
#include "zip/buffered_stream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/win_error.h"
#include "zip/zip_errors.h"

namespace zip {

TS_BufferStream::TS_BufferStream(TStream* underlying, std::int32_t bufferSize)
    : underlying_(underlying), buffer_(static_cast<std::size_t>(std::max(bufferSize, 1))) {}

TS_BufferStream::~TS_BufferStream() {
  FinishWrites();
}

void TS_BufferStream::FinishWrites() {
  if (finished_) return;
  finished_ = true;
  if (state_ == State::kWriting) FlushBuffer();
  if (flushOnDestroy_ && written_) FlushToDisk();
}

void TS_BufferStream::DropBuffer() {
  current_ = 0;
  end_ = 0;
  state_ = State::kUnknown;
}

std::int32_t TS_BufferStream::FillBuffer() {
  const std::int32_t n =
      underlying_->Read(buffer_.data(), static_cast<std::int32_t>(buffer_.size()));
  current_ = 0;
  end_ = std::max(n, 0);
  if (end_ > 0) {
    state_ = State::kReading;
    if (OnFillBuffer) OnFillBuffer(*this);
  }
  return end_;
}

bool TS_BufferStream::FlushBuffer() {
  if (state_ != State::kWriting || current_ == 0) return true;
  const std::int32_t pending = current_;
  const std::int32_t n = underlying_->Write(buffer_.data(), pending);
  if (n < pending) {
    // Keep what was not taken, so that the caller sees the loss.
    const std::int32_t taken = std::max(n, 0);
    std::memmove(buffer_.data(), buffer_.data() + taken, static_cast<std::size_t>(pending - taken));
    current_ = pending - taken;
    return false;
  }
  current_ = 0;
  if (OnFlushBuffer) OnFlushBuffer(*this);
  return true;
}

std::int32_t TS_BufferStream::Read(void* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  if (state_ == State::kWriting) {
    if (!FlushBuffer()) return 0;
    DropBuffer();
  }
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::int32_t total = 0;
  while (total < count) {
    if (current_ >= end_ && FillBuffer() == 0) break;
    const std::int32_t n = std::min(count - total, end_ - current_);
    std::memcpy(out + total, buffer_.data() + current_, static_cast<std::size_t>(n));
    current_ += n;
    total += n;
  }
  return total;
}

std::int32_t TS_BufferStream::Write(const void* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  if (state_ == State::kReading) {
    // Put the underlying stream back at the logical position before writing.
    underlying_->Seek(-(end_ - current_), kSeekFromCurrent);
    DropBuffer();
  }
  if (state_ != State::kWriting) {
    current_ = 0;
    end_ = 0;
    state_ = State::kWriting;
  }
  written_ = true;
  const auto* in = static_cast<const std::uint8_t*>(buffer);
  const auto size = static_cast<std::int32_t>(buffer_.size());
  std::int32_t total = 0;
  while (total < count) {
    const std::int32_t n = std::min(count - total, size - current_);
    std::memcpy(buffer_.data() + current_, in + total, static_cast<std::size_t>(n));
    current_ += n;
    total += n;
    if (current_ == size && !FlushBuffer()) {
      // The bytes still held were not accepted: they do not count as written.
      return total - current_;
    }
  }
  return total;
}

std::int64_t TS_BufferStream::Seek(std::int64_t offset, int origin) {
  const std::int64_t under = underlying_->Position();
  std::int64_t position = under;
  if (state_ == State::kWriting) position = under + current_;
  if (state_ == State::kReading) position = under - (end_ - current_);
  std::int64_t target = 0;
  switch (origin) {
    case kSeekFromBeginning:
      target = offset;
      break;
    case kSeekFromCurrent:
      target = position + offset;
      break;
    case kSeekFromEnd: {
      std::int64_t end = underlying_->Size();
      if (state_ == State::kWriting) end = std::max(end, under + current_);
      target = end - std::llabs(offset);
      break;
    }
    default:
      throw EStreamError("Invalid seek origin (" + std::to_string(origin) + ")");
  }
  if (target == position) return position;
  if (target < 0) return -1;
  if (state_ == State::kWriting && !FlushBuffer()) throw EStreamError("Seek error");
  DropBuffer();
  return underlying_->Seek(target, kSeekFromBeginning);
}

std::int64_t TS_BufferStream::Size() {
  std::int64_t size = underlying_->Size();
  if (state_ == State::kWriting) size = std::max(size, underlying_->Position() + current_);
  return size;
}

bool TS_BufferStream::SetSize(std::int64_t size) {
  if (state_ == State::kWriting && !FlushBuffer()) return false;
  const std::int64_t position = Position();
  DropBuffer();
  underlying_->Seek(position, kSeekFromBeginning);
  return underlying_->SetSize(size);
}

void TS_BufferStream::PutBack(std::uint8_t byte) {
  if (state_ != State::kReading || current_ == 0) throw EStreamError("Putback overflow");
  buffer_[static_cast<std::size_t>(--current_)] = byte;
}

std::unique_ptr<TFileStream> TLFNFileStream::OpenFile(std::string_view fileName, TFileMode mode) {
  auto file = std::make_unique<TFileStream>();
  if (!file->Open(fileName, mode)) {
    throw EFOpenError("Cannot open file " + std::string(fileName) + ": " +
                      platform::WinErrorText(platform::GetLastError()));
  }
  return file;
}

TLFNFileStream::TLFNFileStream(std::string_view fileName, std::int32_t bufferSize,
                               bool flushOnClose, TFileMode mode)
    : TLFNFileStream(OpenFile(fileName, mode), fileName, bufferSize, flushOnClose) {}

TLFNFileStream::TLFNFileStream(std::unique_ptr<TFileStream> file, std::string_view fileName,
                               std::int32_t bufferSize, bool flushOnClose)
    : TS_BufferStream(file.get(), bufferSize), file_(std::move(file)), fileName_(fileName) {
  set_flush_on_destroy(flushOnClose && file_->Writable());
}

TLFNFileStream::~TLFNFileStream() {
  FinishWrites();
}

void TLFNFileStream::FlushToDisk() {
  file_->Handle().Flush();
}

}  // namespace zip
