// Whole-file writes and reads on disk paths for tests that lay out project
// and mirror folders. Failures show up as the test's own assertions.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace ormelin::test {

// Creates the missing parent folders, then writes the bytes, replacing the file.
void WriteFile(const std::filesystem::path& path, std::string_view bytes);
// The file's bytes; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

}  // namespace ormelin::test
