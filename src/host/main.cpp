// ormelin-server: the synchronisation server's process.
#include <string>
#include <vector>

#include "host/svcHost.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  return ormelin::RunHost(arguments);
}
