#include "support/ChildCheck.h"

#include <gtest/gtest.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace ormelin::test {

std::string ProblemsFoundInAChild(const std::function<std::string()>& check) {
  int report[2];
  if (pipe(report) != 0) {
    ADD_FAILURE() << "no pipe to the child";
    return "";
  }
  const pid_t child = fork();
  if (child < 0) {
    ADD_FAILURE() << "no child process";
    close(report[0]);
    close(report[1]);
    return "";
  }
  if (child == 0) {
    close(report[0]);
    const std::string problems = check();
    _exit(write(report[1], problems.data(), problems.size()) ==
                  static_cast<ssize_t>(problems.size())
              ? 0
              : 1);
  }
  close(report[1]);
  std::string problems;
  char buffer[1024];
  for (ssize_t n; (n = read(report[0], buffer, sizeof buffer)) != 0;) {
    if (n > 0) problems.append(buffer, static_cast<size_t>(n));
    if (n < 0 && errno != EINTR) break;
  }
  close(report[0]);
  int status = 0;
  EXPECT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  return problems;
}

}  // namespace ormelin::test
