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
#include "net/TlsTransport.h"
#include "platform/Cp1250.h"
#include "platform/FileSystem.h"
#include "platform/Format.h"
#include "platform/Paths.h"
#include "platform/Streams.h"

namespace {

void Write(std::FILE* stream, const std::string& cp1250) {
  std::string text = ormelin::Cp1250ToUtf8(cp1250);
  std::fwrite(text.data(), 1, text.size(), stream);
}

// --make-cert: a new key pair in `folder` (made if missing), never over
// files that are there; the fingerprint to give the server's
// administrator on standard output.
int MakeCertificate(const std::string& folder) {
  using namespace ormelin;
  const std::string certificate = folder + "/client.crt";
  const std::string key = folder + "/client.key";
  if (FileExists(certificate) || FileExists(key)) {
    Write(stderr, Format("ormelin-client: %s ili %s već postoji; ništa nije promijenjeno\n"_cp1250,
                         certificate.c_str(), key.c_str()));
    return 1;
  }
  if (!DirectoryExists(folder)) CreateDir(folder);
  TTlsCertificateRequest request;
  request.CommonName = "ormelin-client";
  const TTlsIdentity identity = MakeTlsIdentity(request);
  WritePrivateFile(key, identity.KeyPem);
  ReplaceFileContents(certificate, identity.CertificatePem);
  Write(stdout, Format("Certifikat: %s\nKljuč: %s\nOtisak: SHA256:%s\n"_cp1250, certificate.c_str(),
                       key.c_str(), CertificateFingerprint(identity.CertificatePem).c_str()));
  return 0;
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
    if (!options.MakeCertificateFolder.empty())
      return MakeCertificate(options.MakeCertificateFolder);
    TClientOutput output(options.Quiet);
    TMirrorClient client(options, output);
    return client.Run();
  } catch (const std::exception& error) {
    Write(stderr, std::string("ormelin-client: ") + error.what() + "\n");
    return 1;
  }
}
