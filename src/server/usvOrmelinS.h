// The service module: the one object the process host creates at start and
// destroys at the end. It owns the synchronisation listener (TCPServer), the
// web-console listener (HTTPServer), the server state, the event log and the
// project list, and it implements the synchronisation protocol on them.
//
// Threading:
// - ServiceCreate and ServiceDestroy run on the host's main thread.
// - Protocol handlers run on the synchronisation connections' threads, at the
//   same time; they append to EventLog (locked by the log itself) and read
//   the projects and ports through DataLock, held only for a copy.
// - Console threads call StartServer, StopServer, SaveSettings and the
//   setters below. SettingsLock serialises those actions against each other
//   and against page fills that want a consistent view; the module's own
//   operations never take it, so a caller holds it around an action
//   (TMutexLock lock(module.SettingsLock); clang checks this for the three
//   marked REQUIRES(SettingsLock)) while connection threads never wait on
//   it. StopServer waits for every synchronisation connection to end, which
//   is safe under SettingsLock because connections only take DataLock.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logger/zeLogger.h"
#include "net/AddressAllowList.h"
#include "platform/Exceptions.h"
#include "platform/Mutex.h"
#include "protocol/SyncVocabulary.h"
#include "server/orProjects.h"
#include "server/uClientNames.h"
#include "server/uProjectFiles.h"
#include "server/uProjectIndex.h"

namespace ormelin {

class TorXMLNode;
class TDirectory;
class TReceivedTree;
class TStreamingTreeReader;
class TTCPServer;
class TTCPConnection;
class THTTPServer;
class TContext;
class TTlsContext;
class THTTPRequestInfo;
class THTTPResponseInfo;

// How long a synchronisation connection may stay without a command, and a
// console connection without a complete request, before it is closed
// without a word and its thread freed.
inline constexpr int kSyncCommandWaitMs = 15 * 60 * 1000;
inline constexpr int kConsoleRequestWaitMs = 30 * 1000;
// How long a client on the TLS port may take to complete the handshake;
// one that has sent nothing by then is told in the clear that the port
// speaks TLS.
inline constexpr int kTlsHandshakeWaitMs = 10 * 1000;

// Server states; the module assigns only 0, 3 and 4.
enum : uint8_t {
  ssInitializing = 0,
  ssStarting = 1,
  ssProcessing = 2,
  ssReady = 3,
  ssStopped = 4,
};

// "Port %d is not a valid port number (0 to 65535).": a configured port the
// listeners cannot open.
class EInvalidPort : public Exception {
 public:
  using Exception::Exception;
};

// The console's request handler, installed with SetCommandGet.
using TCommandGetHandler =
    std::function<void(TContext& context, THTTPRequestInfo& request, THTTPResponseInfo& response)>;

class TZevanOrmelinS {
 public:
  static constexpr const char* ServiceName = "ZevanOrmelinS";
  static constexpr const char* DisplayName = "Ormelin Server";

  // Creates both listeners with their stored settings; nothing is active
  // until ServiceCreate. `configFileName`, when not empty, replaces the
  // search of ConfigFileName (for tests that run the module in-process).
  explicit TZevanOrmelinS(std::string configFileName = {});
  // Runs ServiceDestroy if it has not run.
  ~TZevanOrmelinS();
  TZevanOrmelinS(const TZevanOrmelinS&) = delete;
  TZevanOrmelinS& operator=(const TZevanOrmelinS&) = delete;

  // Creation and destruction handlers. ServiceCreate never throws: a failure
  // goes to the platform event log under ServiceName and leaves State 0.
  void ServiceCreate();
  void ServiceDestroy();

  uint8_t State() const { return state_.load(); }

  // Console actions; callers hold SettingsLock around them. StartServer's
  // activation failure reaches the caller unchanged.
  void StartServer() REQUIRES(SettingsLock);
  void StopServer() REQUIRES(SettingsLock);

  // Configuration (orServer.xml).
  std::string ConfigFileName() const;
  void LoadSettings();
  void SaveSettings() REQUIRES(SettingsLock);
  void LoadConnectionSettings(TorXMLNode& root);
  void LoadProjects(TorXMLNode& root);
  void SaveConnectionSettings(TorXMLNode& root);
  void SaveProjects(TorXMLNode& root);

  // Ports: setting the synchronisation port sets the console port to it + 1.
  // The listeners take a new port only at their first activation.
  int SyncPort() const { return syncPort_.load(); }
  int ConsolePort() const { return syncPort_.load() + 1; }
  void SetSyncPort(int port);
  bool SyncListenerActive() const;
  // The port the synchronisation listener really listens on (0 while it has
  // no socket); differs from SyncPort() after a change from the console.
  int ListeningSyncPort() const;
  int ListeningConsolePort() const;

  // The TLS listener's port as configured (serversettings/tlsport; 0 when
  // absent), and the SHA-256 fingerprint of the server's certificate while
  // TLS is served ("" otherwise). Both are set by ServiceCreate.
  int TlsPort() const { return tlsPort_.load(); }
  std::string TlsFingerprint() const;
  // The files of the server's own certificate and key, made at the first
  // start with a TLS port when serversettings/tlscert and tlskey name none:
  // beside the configuration file.
  std::string OwnCertificateFileName() const;
  std::string OwnKeyFileName() const;

  // Whether a console request from `address` may change the first project's
  // root folder: the addresses and ranges of serversettings/consoleallow,
  // or the local machine (127.0.0.1, ::1) when the element is absent. Read
  // under SettingsLock; set by LoadSettings.
  bool MayChangeRoot(std::string_view address) const;
  // Whether the console answers a request with this Host header: none, an
  // IP address, localhost, this machine's names, or a name listed in
  // serversettings/consolehosts. Takes SettingsLock.
  bool ConsoleAnswersTo(std::string_view host);

  // The first project's root folder ("" without projects), and its change.
  std::string FirstProjectPath() const;
  void SetFirstProjectPath(std::string path);  // no effect without projects
  // A copy of the first project named `name` (case ignored); false if none.
  bool FindProject(std::string_view name, TorProject& project) const;

  // Installs the console's request handler. Without one the HTTP server
  // answers every request with its default response.
  void SetCommandGet(TCommandGetHandler handler);

  // The web console, on the console's connection threads (HTTP server
  // callbacks). HTTPServerCommandGet picks the answer by the request path;
  // HandleAction runs "/opcije"; FillTemplate fills a page template for one
  // request. Actions and page fills each hold SettingsLock throughout.
  void HTTPServerCommandGet(TContext& context, THTTPRequestInfo& request,
                            THTTPResponseInfo& response);
  void HandleAction(THTTPRequestInfo& request, THTTPResponseInfo& response);
  std::string FillTemplate(const std::string& page, THTTPRequestInfo& request);
  // Every project's name and whether it is open or limited to some
  // addresses or certificates, for a page.
  std::string ProjectsText();
  // The status page's rows on TLS (port and fingerprint); "" without TLS.
  std::string TlsRows() const;
  // The newest event as text, "" for an empty log.
  std::string LastMessage();

  TzeEventLog& EventLog() { return *eventLog_; }
  // Unchecked: the console reads the list under SettingsLock (see
  // orProjects.h), and the pointer changes only in ServiceCreate and
  // ServiceDestroy, on the host's main thread.
  TorProjectList& Projects() NO_THREAD_SAFETY_ANALYSIS { return *projects_; }
  TTCPServer& TCPServer() { return *tcpServer_; }
  THTTPServer& HTTPServer() { return *httpServer_; }
  TTCPServer& TlsServer() { return *tlsServer_; }

  // Serialises the console's actions and page fills (see above).
  TMutex SettingsLock;

  // Protocol, on the synchronisation connections' threads.
  void TCPServerConnect(TContext& context);
  // The TLS listener's connect callback: the handshake, then as
  // TCPServerConnect. A failed handshake is logged and ends the connection.
  void TlsServerConnect(TContext& context);
  void TCPServerExecute(TContext& context);
  void HandleHello(TContext& context);
  void HandleSync(TContext& context, const std::string& name);
  void HandleGetFile(TContext& context, const std::string& name, const std::string& path);
  // An HTML anchor to the client's machine: host name (or the address when
  // it has none) and the address in brackets, linking to the sync port + 2.
  std::string ClientLink(TContext& context);
  // Before the greeting: on a connection from a serversettings/proxyfrom
  // address, reads the PROXY header and takes the client it names as the
  // connection's peer. Ends the connection without a word (logged, raising
  // the silent EConnClosedGracefully) when the header is refused. Whatever
  // follows the header stays unread: on the TLS port, the handshake.
  void AcceptProxyHeader(TContext& context);
  // Why the client of `context` may not use `project` (empty if it may).
  static std::string AccessRefusal(TContext& context, const TorProject& project);

  // The two trees of a sync's comparison, kept by the caller until its
  // answer is out.
  struct TDiffTrees {
    TProjectTreeRef Server;  // may be the project index's shared tree
    std::unique_ptr<TReceivedTree> Client;
  };
  // Readies a sync's comparison: starts the project's scan (or its index's
  // drain), has `feedClientTree` feed the client's tree to the reader while
  // the scan is under way, then takes the project's tree into Server and
  // ranks the client's against it. Logs what the scan left out; a failure
  // of the scan is raised before one of the client's tree. Any thread.
  TDiffTrees CompareWithClient(const TorProject& project,
                               const std::function<void(TStreamingTreeReader&)>& feedClientTree);

 private:
  // Logs that the answer goes to the client, then sends it as a stream.
  void SendAnswer(TContext& context, const std::string& shownName, const TDiffTrees& trees);

  // Reads or makes the server's certificate and readies the TLS listener
  // when a TLS port is configured; a failure is logged (also to the
  // platform event log) and leaves TLS off, the plain port unaffected.
  void PrepareTls();
  // Activates the TLS listener when TLS is ready; failures as PrepareTls.
  void ActivateTls();

  // Tells the project indexes which roots are configured now.
  void RetainIndexes() REQUIRES(DataLock);

  void Log(std::string text);
  // Logs the refusal of a root change from `address` and raises the error
  // the failed-action page shows.
  [[noreturn]] void RefuseRootChange(const std::string& address);
  // The failure pair to the client with `message` as it stands, and
  // "Greška: " with `logText` to the log.
  void Fail(TTCPConnection& connection, const std::string& message, const std::string& logText);

  std::atomic<uint8_t> state_{ssInitializing};
  std::atomic<int> syncPort_{kDefaultSyncPort};
  std::atomic<int> syncsRunning_{0};  // see HandleSync
  std::string configFileOverride_;
  // serversettings/consoleallow as read (written back only when present),
  // and the addresses it allows.
  std::optional<std::string> consoleAllowText_;
  TAddressAllowList consoleAllow_ = TAddressAllowList::LocalMachine();
  // serversettings/consolehosts as read (written back only when present),
  // and the names it lists, as HostNameKey gives them.
  std::optional<std::string> consoleHostsText_;
  std::vector<std::string> consoleHosts_;
  // serversettings/proxyfrom as read (written back only when present), and
  // the proxies whose PROXY headers the synchronisation listener believes.
  // Set while the module starts, before the listener runs.
  std::optional<std::string> proxyFromText_;
  TAddressAllowList proxyFrom_;
  // serversettings/tlsport, tlscert and tlskey as read (each written back
  // only when present), and what ServiceCreate made of them.
  std::optional<std::string> tlsPortText_;
  std::optional<std::string> tlsCertText_;
  std::optional<std::string> tlsKeyText_;
  std::atomic<int> tlsPort_{0};
  // Set before the TLS listener is first activated, never changed after.
  std::shared_ptr<const TTlsContext> tlsContext_;
  mutable TMutex tlsLock_;
  std::string tlsFingerprint_ GUARDED_BY(tlsLock_);
  bool destroyed_ = false;

  // Guards the contents of projects_ (and the listeners' DefaultPort) against
  // the console changing them while connections read.
  mutable TMutex DataLock;

  std::unique_ptr<TTCPServer> tcpServer_;
  std::unique_ptr<THTTPServer> httpServer_;
  std::unique_ptr<TTCPServer> tlsServer_;
  std::unique_ptr<TzeEventLog> eventLog_;
  std::unique_ptr<TorProjectList> projects_ GUARDED_BY(DataLock) PT_GUARDED_BY(DataLock);
  TClientNameCache clientNames_;
  // The projects' trees kept between syncs, one per configured root.
  TProjectIndexList projectIndexes_;
  // The projects' root folders, held open for GetFile.
  TProjectRoots projectRoots_;

  TMutex handlerLock_;
  std::shared_ptr<TCommandGetHandler> commandGet_ GUARDED_BY(handlerLock_);
};

}  // namespace ormelin
