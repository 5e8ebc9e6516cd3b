// ormelin-client: mirrors one project of an Ormelin server into a local
// folder. Exit codes: 0 success, 1 refused by the server or a task failed,
// 2 a usage error.
#include <cstdio>
#include <string>
#include <vector>

#include "client/ClientOptions.h"
#include "client/ClientOutput.h"
#include "client/MirrorClient.h"
#include "comparer/uorCommand.h"
#include "platform/Cp1250.h"
#include "platform/Paths.h"
#include "platform/Streams.h"

namespace {

void Write(std::FILE* stream, const std::string& cp1250) {
  std::string text = ormelin::Cp1250ToUtf8(cp1250);
  std::fwrite(text.data(), 1, text.size(), stream);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace ormelin;
  RegisterFileCommands();
  ReportFileSizeLimitAsError();
  std::vector<std::string> arguments(argv + 1, argv + argc);
  TClientOptions options;
  try {
    options = ParseClientOptions(arguments);
  } catch (const EUsageError& error) {
    Write(stderr,
          "ormelin-client: " + error.Message() + "\nPokušajte 'ormelin-client --help'.\n"_cp1250);
    return 2;
  }
  if (options.Help) {
    Write(stdout, ClientHelpText());
    return 0;
  }
  if (options.Version) {
    Write(stdout, std::string("ormelin-client ") + ORMELIN_CLIENT_VERSION + "\n");
    return 0;
  }
  try {
    TClientOutput output(options.Quiet);
    TMirrorClient client(options, output);
    return client.Run();
  } catch (const std::exception& error) {
    Write(stderr, std::string("ormelin-client: ") + error.what() + "\n");
    return 1;
  }
}
