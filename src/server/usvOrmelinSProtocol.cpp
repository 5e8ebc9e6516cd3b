// TZevanOrmelinS: the synchronisation protocol, one command line per run of
// the execute callback, on the connection threads.
#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "comparer/ReaderStream.h"
#include "comparer/ReceivedTree.h"
#include "comparer/StructStreamer.h"
#include "comparer/SyncAnswer.h"
#include "comparer/Tasks.h"
#include "comparer/TreeReader.h"
#include "net/NetErrors.h"
#include "net/ProxyReception.h"
#include "net/StreamTransfer.h"
#include "net/TCPServer.h"
#include "platform/Conversions.h"
#include "platform/Cp1250.h"
#include "platform/Format.h"
#include "platform/Memory.h"
#include "platform/Streams.h"
#include "protocol/SyncVocabulary.h"
#include "server/uProjectFiles.h"
#include "server/uProjectScan.h"
#include "server/uServerCommands.h"
#include "server/usvOrmelinS.h"

namespace ormelin {

namespace {

// Counts the syncs in progress. The last one to end gives the heap's free
// memory back to the system: a trim while other syncs still compare makes
// every core flush its address translations, and they would reuse the
// freed blocks anyway.
class TSyncInProgress {
 public:
  explicit TSyncInProgress(std::atomic<int>& running) : running_(running) { ++running_; }
  ~TSyncInProgress() {
    if (--running_ == 0) ReleaseFreeMemory();
  }
  TSyncInProgress(const TSyncInProgress&) = delete;
  TSyncInProgress& operator=(const TSyncInProgress&) = delete;

 private:
  std::atomic<int>& running_;
};

}  // namespace

void TZevanOrmelinS::TCPServerConnect(TContext& context) {
  AcceptProxyHeader(context);
  context.Connection().WriteLine(ReplyLine(kReplyGreeting));
}

void TZevanOrmelinS::AcceptProxyHeader(TContext& context) {
  TTCPConnection& connection = context.Connection();
  const std::string proxy = connection.TransportPeerAddress();
  if (!proxyFrom_.Allows(proxy)) return;
  const TProxyOutcome outcome = ReceiveProxyHeader(connection);
  if (outcome.Reception != TProxyReception::Refused) return;
  Log(Format("Odbijena veza s posrednika %s: %s", ClientText(proxy).c_str(),
             outcome.Problem.c_str()));
  connection.Disconnect();
  throw EConnClosedGracefully();  // ends the connection before any command
}

std::string TZevanOrmelinS::AccessRefusal(TContext& context, const TorProject& project) {
  const TTCPConnection& connection = context.Connection();
  TAccessClient client;
  client.Address = connection.PeerAddress();
  client.Tls = connection.IsTls();
  if (client.Tls) client.Fingerprint = connection.PeerCertificateFingerprint();
  return project.Access.Refusal(client);
}

void TZevanOrmelinS::TCPServerExecute(TContext& context) {
  TTCPConnection& connection = context.Connection();
  try {
    connection.LimitReads(context.Server().RequestTimeLimitMs.load());
    if (connection.NothingRead() && BeginsWithProxySignature(connection)) {
      // A PROXY header is believed only from the configured proxies; from
      // anyone else it is an attempt to pass for another address.
      Log(
          Format("Odbijena veza s adrese %s: zaglavlje PROXY prihvaća se samo s adresa iz "
                 "proxyfrom"_cp1250,
                 ClientText(connection.TransportPeerAddress()).c_str()));
      connection.Disconnect();
      return;
    }
    TCommandLine line = ParseCommandLine(connection.ReadLine());
    connection.LimitReads(0);
    switch (line.Command) {
      case TServerCommand::Hello:
        HandleHello(context);
        break;
      case TServerCommand::Sync:
        HandleSync(context, line.Project);
        break;
      case TServerCommand::GetFile:
        HandleGetFile(context, line.Project, line.Path);
        break;
      case TServerCommand::Unknown:
        connection.WriteLine(ReplyLine(kReplyUnknownCommand));
        break;
    }
  } catch (const ESilentException&) {
    // The peer has gone: no reply, no log entry; the connection ends.
    connection.Disconnect();
  } catch (const EClientRequestError& error) {
    Fail(connection, error.Message(), error.LogText());
    throw;
  } catch (const Exception& error) {
    // Messages from below may quote client input: the client gets them as
    // they are, the log as text.
    Fail(connection, error.Message(), MessageAsText(error.Message()));
    throw;
  } catch (const std::exception& error) {
    // Running out of memory for a payload, for one: this connection ends,
    // the others go on being served.
    std::string message =
        dynamic_cast<const std::bad_alloc*>(&error) != nullptr ? "Out of memory" : error.what();
    Fail(connection, message, MessageAsText(message));
    throw;
  }
}

void TZevanOrmelinS::Fail(TTCPConnection& connection, const std::string& message,
                          const std::string& logText) {
  Log("Greška: "_cp1250 + logText);
  connection.WriteLine(FailureLine(message));
  connection.WriteLine(ReplyLine(kReplyFailure));
}

void TZevanOrmelinS::HandleHello(TContext& context) {
  std::string link = ClientLink(context);
  Log(Format("Hello od %s", link.c_str()));
  context.Connection().WriteLine(ReplyLine(kReplyHello));
}

std::string TZevanOrmelinS::ClientLink(TContext& context) {
  std::string address = context.Connection().PeerAddress();
  std::string host = ClientText(clientNames_.HostName(address));
  std::string shownAddress = ClientText(address);
  // An IPv6 address stands in a URL in brackets; the shown text keeps it bare.
  std::string urlHost = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  return Format("<A HREF=\"http://%s:%d/\">%s [%s]</A>", urlHost.c_str(), SyncPort() + 2,
                host.c_str(), shownAddress.c_str());
}

void TZevanOrmelinS::HandleSync(TContext& context, const std::string& name) {
  TTCPConnection& connection = context.Connection();
  std::string shownName = ClientText(name);
  TorProject project;
  const bool found = FindProject(name, project);
  const std::string refusal = found ? AccessRefusal(context, project) : std::string();
  if (!found || !refusal.empty()) {
    // A refused client learns no more than that the project does not
    // exist; the log says who it was and why.
    if (found) {
      Log(Format("Klijent %s odbijen za projekt %s: %s", ClientLink(context).c_str(),
                 shownName.c_str(), refusal.c_str()));
    } else {
      Log(Format("Klijent %s traži sinkronizaciju nepostojećeg projekta %s"_cp1250,
                 ClientLink(context).c_str(), shownName.c_str()));
    }
    // The name exactly as sent (Format would stop at a NUL byte).
    connection.WriteLine(ReplyLine(kReplyNoProject, name));
    return;
  }
  Log(Format("Klijent %s sinkronizira projekt %s", ClientLink(context).c_str(), shownName.c_str()));
  connection.WriteLine(ReplyLine(kReplySyncStarted));
  TSyncInProgress running(syncsRunning_);  // outlives the trees below

  // The project's folder is read while the client's tree comes in, and the
  // client's tree is built from the bytes as they arrive. A tree that fails
  // is only reported once the whole payload has been read and the scan is
  // done.
  TDiffTrees trees = CompareWithClient(project, [&connection](TStreamingTreeReader& reader) {
    TReaderStream<TStreamingTreeReader> received(reader);
    ReceiveStream(connection, received);
  });
  SendAnswer(context, shownName, trees);
  // The trees go only now, after the client has its answer.
  trees = {};
}

void TZevanOrmelinS::SendAnswer(TContext& context, const std::string& shownName,
                                const TDiffTrees& trees) {
  // The answer is written once to learn its size. Most answers are small
  // and kept from that writing; a long one (a first mirror of a large
  // project) is written again, straight to the client, rather than held.
  constexpr size_t kKeptAnswer = 1 << 20;
  std::string kept;
  bool whole = true;
  int64_t size = 0;
  WriteSyncAnswer(trees.Server->Tree, *trees.Client, [&](std::string_view piece) {
    size += static_cast<int64_t>(piece.size());
    if (whole && kept.size() + piece.size() <= kKeptAnswer) {
      kept += piece;
    } else {
      whole = false;
      kept = std::string();
    }
  });
  TTCPConnection& connection = context.Connection();
  Log(Format(size == 0 ? "Klijentu %s poslana prazna lista razlika za projekt %s"
                       : "Klijentu %s poslana lista razlika za projekt %s",
             ClientLink(context).c_str(), shownName.c_str()));
  if (size > TTCPConnection::kMaxStreamSize) throw EIoHandlerRequiresLargeStream();
  connection.WriteLine(IntToStr(size));
  if (whole) {
    if (!kept.empty()) connection.Write(kept);
    return;
  }
  WriteSyncAnswer(trees.Server->Tree, *trees.Client,
                  [&connection](std::string_view piece) { connection.Write(piece); });
}

TZevanOrmelinS::TDiffTrees TZevanOrmelinS::CompareWithClient(
    const TorProject& project, const std::function<void(TStreamingTreeReader&)>& feedClientTree) {
  // The index's drain (or the scan) starts only now, after the command has
  // come: every change made before it is seen.
  TProjectScan scan(project.Path, projectIndexes_.Find(project.Path));
  TDiffTrees trees;
  trees.Client = std::make_unique<TReceivedTree>();
  TStreamingTreeReader clientTree(*trees.Client);
  feedClientTree(clientTree);
  std::exception_ptr clientTreeError;
  try {
    clientTree.Finish();
  } catch (...) {
    clientTreeError = std::current_exception();
  }
  // A failure of the project's scan is told before one of the client's tree.
  trees.Server = scan.Take();
  const TScanReport& report = scan.Report();
  if (report.LeftOut > 0) {
    Log(Format(
        "U projektu %s preskočeno je %d stavki čije ime nije moguće "
        "zapisati kao putanju; prva: %s"_cp1250,
        ClientText(project.Name).c_str(), report.LeftOut, ClientText(report.FirstLeftOut).c_str()));
  }
  if (report.LinksOut > 0) {
    Log(
        Format("U projektu %s preskočeno je %d poveznica koje vode izvan mape projekta; "
               "prva: %s"_cp1250,
               ClientText(project.Name).c_str(), report.LinksOut,
               ClientText(report.FirstLinkOut).c_str()));
  }
  if (clientTreeError) std::rethrow_exception(clientTreeError);

  trees.Client->Group(trees.Server->Tree);
  return trees;
}

void TZevanOrmelinS::HandleGetFile(TContext& context, const std::string& name,
                                   const std::string& path) {
  TorProject project;
  const bool found = FindProject(name, project);
  const std::string refusal = found ? AccessRefusal(context, project) : std::string();
  if (!found || !refusal.empty()) {
    const std::string link = ClientLink(context);
    auto message = [&link](std::string_view path, std::string_view name) {
      return "Klijent " + link + " traži datoteku "_cp1250 + std::string(path) +
             " nepostojećeg projekta "_cp1250 + std::string(name);
    };
    // A refused client gets the answer for a project that does not exist.
    const std::string logText = found ? Format("Klijent %s odbijen za projekt %s: %s", link.c_str(),
                                               ClientText(name).c_str(), refusal.c_str())
                                      : message(ClientText(path), ClientText(name));
    throw EClientRequestError(message(path, name), logText);
  }
  TProjectFile file(*projectRoots_.Find(project.Path), project.Path, path);
  TTCPConnection& connection = context.Connection();
  try {
    SendFileAsOpened(connection, ReplyLine(kReplyGetFileStarted) + "\r\n", file);
  } catch (const ETornFile&) {
    // The size is announced: a failure reply now would become the file's
    // last bytes. The client sees the transfer break and fetches again.
    Log(
        Format("Greška: datoteka %s projekta %s promijenila se dok se slala klijentu %s; "
               "veza je prekinuta"_cp1250,
               ClientText(path).c_str(), ClientText(name).c_str(), ClientLink(context).c_str()));
    try {
      connection.Write({});  // earlier replies still held back go out whole
    } catch (const Exception&) {
    }
    connection.Disconnect();
  }
}

}  // namespace ormelin
