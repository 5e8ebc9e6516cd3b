#include "support/TempFolder.h"

#include <stdlib.h>

#include <filesystem>
#include <random>
#include <stdexcept>
#include <system_error>

namespace ormelin::testing {

TTempFolder::TTempFolder() {
#ifdef _WIN32
  // No mkdtemp: a new folder under a random name, tried until one is free.
  std::random_device random;
  for (int attempt = 0;; ++attempt) {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("ormelin-test-" + std::to_string(random()));
    std::error_code error;
    if (std::filesystem::create_directory(path, error)) {
      path_ = path.string();
      return;
    }
    if (attempt == 100) throw std::runtime_error("no temporary folder: " + error.message());
  }
#else
  std::string pattern = (std::filesystem::temp_directory_path() / "ormelin-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
#endif
}

TTempFolder::~TTempFolder() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace ormelin::testing
