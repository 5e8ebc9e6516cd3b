// A stream whose written bytes go to a streaming reader (anything with
// Feed(std::string_view): the client's tree, the task list), for code that
// receives into a stream: what the stream holds is only the count of bytes
// written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/Streams.h"

namespace ormelin {

template <typename TReader>
class TReaderStream : public TStream {
 public:
  explicit TReaderStream(TReader& reader) : reader_(reader) {}

  int64_t Size() const override { return written_; }
  int64_t Position() const override { return written_; }
  void SetPosition(int64_t) override {}
  size_t Read(void*, size_t) override { return 0; }
  void Write(const void* buffer, size_t count) override {
    reader_.Feed(std::string_view(static_cast<const char*>(buffer), count));
    written_ += static_cast<int64_t>(count);
  }
  // The bytes are read as they come; a stream cut back keeps what was read.
  void SetSize(int64_t) override {}

 private:
  TReader& reader_;
  int64_t written_ = 0;
};

}  // namespace ormelin
