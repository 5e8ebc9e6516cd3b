#include "platform/Collation.h"

#include <unicode/ucol.h>
#include <unicode/uvernum.h>

#include <atomic>
#include <cstdlib>
#include <utility>
#include <vector>

#include "platform/Cp1250.h"
#include "platform/Text.h"

namespace ormelin {
namespace {

// UTF-16 form of a code page 1250 text; short texts stay on the stack.
class TUtf16Text {
 public:
  explicit TUtf16Text(std::string_view text) {
    UChar* out = text.size() <= kInline ? inline_ : (heap_.resize(text.size()), heap_.data());
    for (size_t i = 0; i < text.size(); ++i) {
      out[i] = static_cast<UChar>(Cp1250ToUnicode(static_cast<unsigned char>(text[i])));
    }
    data_ = out;
    length_ = static_cast<int32_t>(text.size());
  }
  const UChar* Data() const { return data_; }
  int32_t Length() const { return length_; }

 private:
  static constexpr size_t kInline = 128;
  UChar inline_[kInline];
  std::vector<UChar> heap_;
  const UChar* data_ = nullptr;
  int32_t length_ = 0;
};

std::string ProcessLocaleValue() {
  for (const char* name : {"LC_ALL", "LC_COLLATE", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return "";
}

const TCollator& ProcessCollator() {
  static const TCollator collator(CollationLocaleOf(ProcessLocaleValue()));
  return collator;
}

std::atomic<uint64_t> nextCollatorId{1};

// Each thread compares with clones of its own, created on first use and
// closed when the thread ends: a collator is never used by two threads.
struct TThreadClones {
  std::vector<std::pair<uint64_t, UCollator*>> clones;
  ~TThreadClones() {
    for (auto& entry : clones) ucol_close(entry.second);
  }
};

thread_local TThreadClones threadClones;

UCollator* CloneCollator(const UCollator* collator) {
  UErrorCode status = U_ZERO_ERROR;
#if U_ICU_VERSION_MAJOR_NUM >= 71
  UCollator* clone = ucol_clone(collator, &status);
#else
  UCollator* clone = ucol_safeClone(collator, nullptr, nullptr, &status);
#endif
  if (U_FAILURE(status)) {
    if (clone != nullptr) ucol_close(clone);
    return nullptr;
  }
  return clone;
}

}  // namespace

struct TCollator::TImpl {
  // The template the threads clone; never used for comparing itself.
  UCollator* collator = nullptr;
  std::string localeName;
  uint64_t id = nextCollatorId++;

  // This thread's clone, or null when there is no collation data.
  UCollator* ForThisThread() const {
    if (collator == nullptr) return nullptr;
    for (const auto& entry : threadClones.clones) {
      if (entry.first == id) return entry.second;
    }
    UCollator* clone = CloneCollator(collator);
    if (clone != nullptr) threadClones.clones.emplace_back(id, clone);
    return clone;
  }
};

std::string CollationLocaleOf(std::string_view value) {
  std::string name(value.substr(0, value.find_first_of(".@")));
  if (name == "C" || name == "POSIX") return "";
  return name;
}

TCollator::TCollator(std::string_view localeName) : impl_(std::make_unique<TImpl>()) {
  impl_->localeName = std::string(localeName);
  UErrorCode status = U_ZERO_ERROR;
  impl_->collator = ucol_open(impl_->localeName.c_str(), &status);
  if (U_FAILURE(status) || impl_->collator == nullptr) {
    // An unknown locale falls back to the root collation.
    status = U_ZERO_ERROR;
    impl_->localeName.clear();
    impl_->collator = ucol_open("", &status);
  }
  if (U_FAILURE(status)) {
    // Without collation data the comparison falls back to the case table.
    if (impl_->collator != nullptr) ucol_close(impl_->collator);
    impl_->collator = nullptr;
    return;
  }
  ucol_setStrength(impl_->collator, UCOL_SECONDARY);
}

TCollator::~TCollator() {
  if (impl_->collator != nullptr) ucol_close(impl_->collator);
}

int TCollator::Compare(std::string_view a, std::string_view b) const {
  // Texts equal but for the case of their letters are equal at this strength.
  if (SameTextFolded(a, b)) return 0;
  UCollator* collator = impl_->ForThisThread();
  if (collator == nullptr) return CompareTextFolded(a, b);
  TUtf16Text ua(a);
  TUtf16Text ub(b);
  UCollationResult r = ucol_strcoll(collator, ua.Data(), ua.Length(), ub.Data(), ub.Length());
  return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
}

std::string TCollator::Key(std::string_view text) const {
  UCollator* collator = impl_->ForThisThread();
  if (collator == nullptr) return AnsiLowerCase(text);
  TUtf16Text u(text);
  uint8_t buffer[256];
  int32_t length = ucol_getSortKey(collator, u.Data(), u.Length(), buffer, sizeof buffer);
  if (length <= static_cast<int32_t>(sizeof buffer)) {
    return std::string(reinterpret_cast<const char*>(buffer), length > 0 ? length - 1 : 0);
  }
  std::vector<uint8_t> large(static_cast<size_t>(length));
  length = ucol_getSortKey(collator, u.Data(), u.Length(), large.data(), length);
  // The key ends with a zero byte that plays no part in the order.
  return std::string(reinterpret_cast<const char*>(large.data()), length > 0 ? length - 1 : 0);
}

const std::string& TCollator::LocaleName() const {
  return impl_->localeName;
}

int AnsiCompareText(std::string_view a, std::string_view b) {
  return ProcessCollator().Compare(a, b);
}

bool AnsiSameText(std::string_view a, std::string_view b) {
  return AnsiCompareText(a, b) == 0;
}

std::string CollationKey(std::string_view text) {
  return ProcessCollator().Key(text);
}

}  // namespace ormelin
