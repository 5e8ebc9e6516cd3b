// The client's command line: ormelin-client [options] HOST PROJECT FOLDER.
// Pure parsing, no output: the caller prints the help, the version or the
// usage error. Texts are code page 1250 (arguments arrive as UTF-8).
#pragma once

#include <string>
#include <vector>

#include "platform/Exceptions.h"
#include "protocol/SyncVocabulary.h"

namespace ormelin {

// A command line that cannot be used; the message says why.
class EUsageError : public Exception {
 public:
  using Exception::Exception;
};

struct TClientOptions {
  bool Help = false;
  bool Version = false;
  bool DryRun = false;
  bool Quiet = false;
  int Port = kDefaultSyncPort;
  // Connections that fetch files side by side, and the most GetFile
  // requests each keeps outstanding: its window grows to cover the link up
  // to that, and 256 of 4 connections cover 100 Mbit/s with a round trip
  // of 50 ms for files down to 600 bytes. A window of 1 runs every task
  // through the task commands, one after another over one connection.
  int Connections = 4;
  int Pipeline = 256;
  // Seconds the server may take to accept the connection, and after that
  // to send or take the next byte, before the run gives up.
  int Timeout = 60;
  // New connections tried after one fails, before the run gives up; the
  // waits between them and the new connections all fit in Timeout seconds
  // from the failure.
  int Retries = 5;
  // The protocol inside TLS. Pin: the server certificate's fingerprint as
  // ParsePin gives it, or "" to trust the system's certificate store and
  // the host name. CertificateFile and KeyFile: the client's own
  // certificate, shown to a server that asks.
  bool Tls = false;
  std::string Pin;
  std::string CertificateFile;
  std::string KeyFile;
  // --make-cert: the folder to make a client certificate in; nothing else
  // runs.
  std::string MakeCertificateFolder;
  std::string Host;
  std::string Project;  // code page 1250
  std::string Folder;   // code page 1250
};

// Raises EUsageError.
TClientOptions ParseClientOptions(const std::vector<std::string>& arguments);

// The --help text.
std::string ClientHelpText();

}  // namespace ormelin
