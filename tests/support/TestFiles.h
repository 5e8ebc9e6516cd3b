// Whole-file writes and reads on disk paths for tests that lay out project
// and mirror folders. Failures show up as the test's own assertions.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ormelin::test {

// Creates the missing parent folders, then writes the bytes, replacing the file.
void WriteFile(const std::filesystem::path& path, std::string_view bytes);
// The file's bytes; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);
// The names in a folder, sorted; temporary files show up here.
std::vector<std::string> Entries(const std::filesystem::path& folder);

// `size` bytes of every value, the same for the same seed.
std::string Pattern(size_t size, unsigned seed);

// Polls the condition until it holds (true) or `seconds` have passed (false).
bool Eventually(const std::function<bool()>& condition, int seconds = 60);

}  // namespace ormelin::test
