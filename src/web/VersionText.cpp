#include "web/VersionText.h"

#include "logger/zeRegex.h"
#include "web/ResourceGet.h"

namespace ormelin {
namespace {

// The first line of `text` that fits `pattern`; the groups asked for are
// stored in order, or left empty when no line fits.
void FindLine(std::string_view text, const char* pattern, std::string* group1,
              std::string* group2 = nullptr) {
  const TzeRegex regex(pattern, TzeRegex::roMultiLine);
  TzeRegexMatch match(regex);
  if (!regex.Search(text, match)) return;
  *group1 = std::string(match.Group(1));
  if (group2 != nullptr) *group2 = std::string(match.Group(2));
}

}  // namespace

std::string ShortVersionForm(std::string_view info) {
  std::string branch, module, lastChanged, revision;
  FindLine(info, "^URL: http://[\\w.]+/demosvn/ormelin/(.+)/([\\w]+)$", &branch, &module);
  FindLine(info, "^Last Changed Rev: (\\d+)$", &lastChanged);
  FindLine(info, "^Revision: (\\d+)$", &revision);
  return module + "-" + branch + "@" + lastChanged + " (" + revision + ")";
}

std::string ParseVersionInfo(std::string_view resourceName) {
  return ShortVersionForm(GetResourceText(resourceName, "TEXT"));
}

std::string VersionText() {
  // The resources are part of the executable: one reading serves every page.
  static const std::string text =
      ParseVersionInfo("SVN_INFO") + " / " + ParseVersionInfo("SVN_INFO_COMPARER");
  return text;
}

}  // namespace ormelin
