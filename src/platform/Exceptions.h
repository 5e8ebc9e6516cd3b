// The error types every layer raises. Failures carry the system's own
// message text; `Exception` is the one base of them all. Programming errors
// are reported through `Assert` as EAssertionFailed with the message form
// "%s (%s, line %d)". All types are plain values, safe from any thread.
#pragma once

#include <exception>
#include <string>
#include <string_view>
#include <utility>

namespace ormelin {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// A text that is not a number, a date or another value it should be.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// An index outside a list: "List index out of bounds (%d)".
class EListError : public Exception {
 public:
  using Exception::Exception;
};

class EAssertionFailed : public Exception {
 public:
  using Exception::Exception;
};

// A file that could not be opened or written: the file as the caller named
// it, and the reason (the system's text, or the system's own words).
class EFileError : public Exception {
 public:
  const std::string& Path() const { return path_; }
  const std::string& Reason() const { return reason_; }

 protected:
  EFileError(std::string_view form, std::string path, std::string reason)
      : Exception(std::string(form) + "\"" + path + "\". " + reason),
        path_(std::move(path)),
        reason_(std::move(reason)) {}

 private:
  std::string path_;
  std::string reason_;
};

// "Cannot open file "%s". %s"
class EFOpenError : public EFileError {
 public:
  EFOpenError(std::string path, std::string reason)
      : EFileError("Cannot open file ", std::move(path), std::move(reason)) {}
};

// "Cannot create file "%s". %s"
class EFCreateError : public EFileError {
 public:
  EFCreateError(std::string path, std::string reason)
      : EFileError("Cannot create file ", std::move(path), std::move(reason)) {}
};

// "Resource %s not found"
class EResNotFound : public Exception {
 public:
  using Exception::Exception;
};

// A stream that cannot do what was asked: writing to a read-only stream,
// a read that the system refuses ("Stream write error", "Stream read error").
class EStreamError : public Exception {
 public:
  using Exception::Exception;
};

[[noreturn]] void RaiseListIndexError(long long index);

// Raises EAssertionFailed with "<message> (<unit>, line <line>)" unless the
// condition holds. The unit is the system's unit name, not a file path.
void Assert(bool condition, const char* unit, int line, const char* message = "Assertion failure");

}  // namespace ormelin
