#include "logger/zeRegex.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include "platform/Format.h"
#include "platform/Text.h"

namespace ormelin {
namespace {

// Offsets of the parts of the engine's character tables.
constexpr size_t kLowerCaseTable = 0;
constexpr size_t kCaseFlipTable = 256;
constexpr size_t kClassBits = 512;
constexpr size_t kCharTypes = 832;
// Class bitmaps inside the class part, 32 bytes each.
constexpr size_t kBitsSpace = 0, kBitsXDigit = 32, kBitsDigit = 64, kBitsUpper = 96,
                 kBitsLower = 128, kBitsWord = 160, kBitsGraph = 192, kBitsPrint = 224,
                 kBitsPunct = 256, kBitsCntrl = 288;
// Character type flags.
constexpr uint8_t kTypeSpace = 0x01, kTypeLetter = 0x02, kTypeLowerLetter = 0x04, kTypeDigit = 0x08,
                  kTypeWord = 0x10;

std::string EngineMessage(int code) {
  PCRE2_UCHAR buffer[256];
  if (pcre2_get_error_message(code, buffer, sizeof buffer) < 0) {
    return Format("regular expression error %d", code);
  }
  return reinterpret_cast<const char*>(buffer);
}

TzeCharClasses Cp1250Classes(unsigned char byte) {
  const char c = static_cast<char>(byte);
  TzeCharClasses k;
  k.Upper = IsUpperLetter(c);
  k.Lower = IsLowerLetter(c);
  k.Letter = IsLetter(c);
  k.Digit = IsDigit(c);
  k.XDigit =
      (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'f') || (byte >= 'A' && byte <= 'F');
  k.Space = IsSpace(c);
  k.Punct = IsPunctuation(c);
  k.Print = IsPrintable(c);
  k.Graph = k.Print && byte != ' ';
  k.Cntrl = byte < 0x20 || byte == 0x7F;
  k.ToLower = static_cast<unsigned char>(LowerChar(c));
  k.ToUpper = static_cast<unsigned char>(UpperChar(c));
  return k;
}

}  // namespace

TzeRegexTables BuildRegexTables(TzeCharClasses (*classify)(unsigned char c)) {
  TzeRegexTables t{};
  for (int i = 0; i < 256; ++i) {
    const TzeCharClasses k = classify(static_cast<unsigned char>(i));
    t[kLowerCaseTable + i] = k.ToLower;
    t[kCaseFlipTable + i] = k.Lower ? k.ToUpper : k.ToLower;
    const auto set = [&](size_t bits, bool on) {
      if (on) t[kClassBits + bits + i / 8] |= static_cast<uint8_t>(1u << (i & 7));
    };
    const bool word = k.Letter || k.Digit || i == '_';
    set(kBitsSpace, k.Space);
    set(kBitsXDigit, k.XDigit);
    set(kBitsDigit, k.Digit);
    set(kBitsUpper, k.Upper);
    set(kBitsLower, k.Lower);
    set(kBitsWord, word);
    set(kBitsGraph, k.Graph);
    set(kBitsPrint, k.Print);
    set(kBitsPunct, k.Punct);
    set(kBitsCntrl, k.Cntrl);
    uint8_t type = 0;
    if (k.Space) type |= kTypeSpace;
    if (k.Letter) type |= kTypeLetter;
    if (k.Lower) type |= kTypeLowerLetter;
    if (k.Digit) type |= kTypeDigit;
    if (word) type |= kTypeWord;
    t[kCharTypes + i] = type;
  }
  return t;
}

const uint8_t* Cp1250RegexTables() {
  static const TzeRegexTables tables = BuildRegexTables(&Cp1250Classes);
  return tables.data();
}

struct TzeRegex::TImpl {
  pcre2_code* code = nullptr;
  pcre2_match_context* context = nullptr;
  ~TImpl() {
    pcre2_match_context_free(context);
    pcre2_code_free(code);
  }
};

struct TzeRegexMatch::TData {
  pcre2_match_data* data = nullptr;
  ~TData() { pcre2_match_data_free(data); }
};

TzeRegex::TzeRegex(std::string_view pattern, uint32_t options) : impl_(std::make_unique<TImpl>()) {
  uint32_t flags = 0;
  if (options & roCaseless) flags |= PCRE2_CASELESS;
  if (options & roMultiLine) flags |= PCRE2_MULTILINE;
  if (options & roDotAll) flags |= PCRE2_DOTALL;

  pcre2_compile_context* compile = pcre2_compile_context_create(nullptr);
  if (compile == nullptr) throw ERegexError("regular expression: out of memory");
  pcre2_set_character_tables(compile, Cp1250RegexTables());
  pcre2_set_newline(compile, PCRE2_NEWLINE_ANYCRLF);
  int error = 0;
  PCRE2_SIZE offset = 0;
  impl_->code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), flags,
                              &error, &offset, compile);
  pcre2_compile_context_free(compile);
  if (impl_->code == nullptr) {
    throw ERegexError(
        Format("%s at offset %s", EngineMessage(error).c_str(), std::to_string(offset).c_str()));
  }
  impl_->context = pcre2_match_context_create(nullptr);
  if (impl_->context == nullptr) throw ERegexError("regular expression: out of memory");
  pcre2_set_match_limit(impl_->context, kRegexMatchLimit);
  pcre2_set_depth_limit(impl_->context, kRegexDepthLimit);
}

TzeRegex::~TzeRegex() = default;

bool TzeRegex::Search(std::string_view subject, TzeRegexMatch& match) const {
  match.subject_ = subject;
  match.groups_ = 0;
  const int rc = pcre2_match(impl_->code, reinterpret_cast<PCRE2_SPTR>(subject.data()),
                             subject.size(), 0, PCRE2_NOTEMPTY, match.data_->data, impl_->context);
  if (rc == PCRE2_ERROR_NOMATCH) return false;
  if (rc < 0) throw ERegexError(EngineMessage(rc));
  // rc 0 means the match data was too small for every group; it is made
  // from the pattern, so that cannot happen, but count them all then.
  match.groups_ = rc > 0 ? rc : static_cast<int>(pcre2_get_ovector_count(match.data_->data));
  return true;
}

int TzeRegex::GroupNumber(const char* name) const {
  const int number =
      pcre2_substring_number_from_name(impl_->code, reinterpret_cast<PCRE2_SPTR>(name));
  return number > 0 ? number : -1;
}

TzeRegexMatch::TzeRegexMatch(const TzeRegex& regex) : data_(std::make_unique<TData>()) {
  data_->data = pcre2_match_data_create_from_pattern(regex.impl_->code, nullptr);
  if (data_->data == nullptr) throw ERegexError("regular expression: out of memory");
}

TzeRegexMatch::~TzeRegexMatch() = default;

bool TzeRegexMatch::IsSet(int group) const {
  if (group < 0 || group >= groups_) return false;
  return pcre2_get_ovector_pointer(data_->data)[2 * group] != PCRE2_UNSET;
}

size_t TzeRegexMatch::Start(int group) const {
  return IsSet(group) ? pcre2_get_ovector_pointer(data_->data)[2 * group] : 0;
}

size_t TzeRegexMatch::End(int group) const {
  return IsSet(group) ? pcre2_get_ovector_pointer(data_->data)[2 * group + 1] : 0;
}

std::string_view TzeRegexMatch::Group(int group) const {
  if (!IsSet(group)) return {};
  return subject_.substr(Start(group), End(group) - Start(group));
}

}  // namespace ormelin
