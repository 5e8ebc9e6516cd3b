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

// Called in the child between fork and exec, to set limits the program runs
// under; only system calls that are safe after a fork.
using TChildSetup = void (*)();

// Runs `path` with `arguments`; standard input is empty.
TProgramResult RunProgram(const std::string& path, const std::vector<std::string>& arguments,
                          int timeoutMs = 240000, TChildSetup setup = nullptr);

// RunProgram of build/bin/ormelin-client.
TProgramResult RunClient(const std::vector<std::string>& arguments, int timeoutMs = 240000,
                         TChildSetup setup = nullptr);

}  // namespace ormelin::test
