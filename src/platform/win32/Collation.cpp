// Comparison by the system's national-language support: CompareStringW
// with NORM_IGNORECASE (case ignored, accents kept) and sort keys from
// LCMapStringW with the same flags, under the user's default locale or a
// named one.
#include "platform/Collation.h"

#include <windows.h>

#include <vector>

#include "platform/Text.h"
#include "platform/win32/WideText.h"

namespace ormelin {
namespace {

constexpr DWORD kCompareFlags = NORM_IGNORECASE;

// "hr_HR" -> the locale "hr-HR"; 0 when the system does not know it.
LCID LocaleOf(std::string_view name) {
  std::wstring wide = Cp1250ToWide(name);
  for (auto& c : wide) {
    if (c == L'_') c = L'-';
  }
  return LocaleNameToLCID(wide.c_str(), 0);
}

}  // namespace

struct TCollator::TImpl {
  LCID locale = LOCALE_USER_DEFAULT;
  std::string localeName;
};

std::string CollationLocaleOf(std::string_view value) {
  std::string name(value.substr(0, value.find_first_of(".@")));
  if (name == "C" || name == "POSIX") return "";
  return name;
}

TCollator::TCollator(std::string_view localeName) : impl_(std::make_unique<TImpl>()) {
  impl_->localeName = std::string(localeName);
  impl_->locale = impl_->localeName.empty() ? 0 : LocaleOf(impl_->localeName);
  if (impl_->locale == 0) {
    // An unknown locale falls back to the locale-neutral collation.
    impl_->localeName.clear();
    impl_->locale = LOCALE_INVARIANT;
  }
}

TCollator::~TCollator() = default;

namespace {

int CompareIn(LCID locale, std::string_view a, std::string_view b) {
  // Texts equal but for the case of their letters are equal at this strength.
  if (SameTextFolded(a, b)) return 0;
  std::wstring wa = Cp1250ToWide(a);
  std::wstring wb = Cp1250ToWide(b);
  int r = CompareStringW(locale, kCompareFlags, wa.data(), static_cast<int>(wa.size()), wb.data(),
                         static_cast<int>(wb.size()));
  if (r == 0) return CompareTextFolded(a, b);
  return r - CSTR_EQUAL;
}

std::string KeyIn(LCID locale, std::string_view text) {
  std::wstring wide = Cp1250ToWide(text);
  // With LCMAP_SORTKEY the output is bytes, its size counted in bytes.
  int size = LCMapStringW(locale, LCMAP_SORTKEY | kCompareFlags, wide.data(),
                          static_cast<int>(wide.size()), nullptr, 0);
  if (size <= 0) return AnsiLowerCase(text);
  std::string key(static_cast<size_t>(size), '\0');
  size = LCMapStringW(locale, LCMAP_SORTKEY | kCompareFlags, wide.data(),
                      static_cast<int>(wide.size()), reinterpret_cast<LPWSTR>(key.data()), size);
  if (size <= 0) return AnsiLowerCase(text);
  // The key ends with a zero byte that plays no part in the order.
  key.resize(static_cast<size_t>(size) - 1);
  return key;
}

}  // namespace

int TCollator::Compare(std::string_view a, std::string_view b) const {
  return CompareIn(impl_->locale, a, b);
}

std::string TCollator::Key(std::string_view text) const {
  return KeyIn(impl_->locale, text);
}

const std::string& TCollator::LocaleName() const {
  return impl_->localeName;
}

int AnsiCompareText(std::string_view a, std::string_view b) {
  return CompareIn(LOCALE_USER_DEFAULT, a, b);
}

bool AnsiSameText(std::string_view a, std::string_view b) {
  return AnsiCompareText(a, b) == 0;
}

std::string CollationKey(std::string_view text) {
  return KeyIn(LOCALE_USER_DEFAULT, text);
}

}  // namespace ormelin
