// Runs a check in a forked child, for what the test process itself must not
// do (enter a mount namespace of its own, fill a disk it mounted there):
// the child runs `check` and reports the problems it found as text. A child
// that fails to report or to end cleanly adds a test failure.
#pragma once

#include <functional>
#include <string>

namespace ormelin::test {

std::string ProblemsFoundInAChild(const std::function<std::string()>& check);

}  // namespace ormelin::test
