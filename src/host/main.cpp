// ormelin-server: the synchronisation server's process.
#include <string>
#include <vector>

#include "comparer/uorCommand.h"
#include "host/svcHost.h"

int main(int argc, char** argv) {
  // Every process holding the tree-comparison module can run task lists, so
  // the file commands are registered before anything else starts.
  ormelin::RegisterFileCommands();
  std::vector<std::string> arguments(argv + 1, argv + argc);
  return ormelin::RunHost(arguments);
}
