// Runs a program of the build (ormelin-client) to its end for integration
// tests: arguments as given, standard output and error collected, killed
// after a time-out instead of hanging the test.
#pragma once

#include <string>
#include <vector>

namespace ormelin::test {

struct TProgramResult {
  int ExitCode = -1;  // the exit code, or 128 + signal
  std::string Stdout;
  std::string Stderr;
  bool TimedOut = false;
};

// Runs `path` with `arguments`; standard input is empty.
TProgramResult RunProgram(const std::string& path, const std::vector<std::string>& arguments,
                          int timeoutMs = 240000);

// RunProgram of build/bin/ormelin-client.
TProgramResult RunClient(const std::vector<std::string>& arguments, int timeoutMs = 240000);

}  // namespace ormelin::test
