#include "platform/Streams.h"

#include <cstring>

#include "platform/Exceptions.h"

namespace ormelin {
namespace {

// Copies what lies between the position and the end; a position outside
// the data reads nothing.
size_t ReadFrom(std::string_view data, int64_t& position, void* buffer, size_t count) {
  if (position < 0 || position >= static_cast<int64_t>(data.size()) || count == 0) return 0;
  size_t available = data.size() - static_cast<size_t>(position);
  size_t n = count < available ? count : available;
  std::memcpy(buffer, data.data() + position, n);
  position += static_cast<int64_t>(n);
  return n;
}

[[noreturn]] void RaiseWriteError() {
  throw EStreamError("Stream write error");
}

}  // namespace

size_t TMemoryStream::Read(void* buffer, size_t count) {
  return ReadFrom(data_, position_, buffer, count);
}

void TMemoryStream::Write(const void* buffer, size_t count) {
  if (position_ < 0) RaiseWriteError();
  if (count == 0) return;
  size_t position = static_cast<size_t>(position_);
  if (position + count > data_.size()) data_.resize(position + count);
  std::memcpy(data_.data() + position, buffer, count);
  position_ += static_cast<int64_t>(count);
}

void TMemoryStream::SetSize(int64_t size) {
  if (size < 0) RaiseWriteError();
  data_.resize(static_cast<size_t>(size));
  if (position_ > size) position_ = size;
}

std::string TMemoryStream::TakeData() {
  std::string result = std::move(data_);
  data_.clear();
  position_ = 0;
  return result;
}

size_t TReadOnlyMemoryStream::Read(void* buffer, size_t count) {
  return ReadFrom(data_, position_, buffer, count);
}

void TReadOnlyMemoryStream::Write(const void*, size_t) {
  RaiseWriteError();
}
void TReadOnlyMemoryStream::SetSize(int64_t) {
  RaiseWriteError();
}

}  // namespace ormelin
