// TZevanOrmelinS: creation and destruction, the server state and the
// starting and stopping of the synchronisation listener.
#include "server/usvOrmelinS.h"

#include "net/HTTPServer.h"
#include "net/TCPServer.h"
#include "platform/EventLogSink.h"
#include "platform/Exceptions.h"
#include "platform/Format.h"
#include "protocol/SyncVocabulary.h"

namespace ormelin {

namespace {

// A port outside 0..65535 would be cut to 16 bits by the socket layer and
// the listener would open some other port; refuse it instead.
void ActivateListener(TCustomTCPServer& server) {
  int port = server.DefaultPort();
  if (port < 0 || port > 65535) {
    throw EInvalidPort(Format("Port %d is not a valid port number (0 to 65535).", port));
  }
  server.SetActive(true);
}

}  // namespace

TZevanOrmelinS::TZevanOrmelinS(std::string configFileName)
    : configFileOverride_(std::move(configFileName)),
      eventLog_(std::make_unique<TzeEventLog>()),
      projects_(std::make_unique<TorProjectList>()) {
  // The log and the list exist from here on so that the settings can be
  // read and written without the listeners; ServiceCreate starts both afresh.
  tcpServer_ = std::make_unique<TTCPServer>(
      [this](TContext& context) { TCPServerConnect(context); },
      [this](TContext& context) { TCPServerExecute(context); }, "TCPServer");
  tcpServer_->SetDefaultPort(kDefaultSyncPort);
  tcpServer_->RequestTimeLimitMs = kSyncCommandWaitMs;
  tlsServer_ = std::make_unique<TTCPServer>(
      [this](TContext& context) { TlsServerConnect(context); },
      [this](TContext& context) { TCPServerExecute(context); }, "TlsServer");
  tlsServer_->RequestTimeLimitMs = kSyncCommandWaitMs;
  httpServer_ = std::make_unique<THTTPServer>();
  httpServer_->RequestTimeLimitMs = kConsoleRequestWaitMs;
  httpServer_->SetDefaultPort(kDefaultSyncPort + 1);
  httpServer_->OnCommandGet = [this](TContext& context, THTTPRequestInfo& request,
                                     THTTPResponseInfo& response) {
    std::shared_ptr<TCommandGetHandler> handler;
    {
      TMutexLock guard(handlerLock_);
      handler = commandGet_;
    }
    if (handler) (*handler)(context, request, response);
  };
  SetCommandGet([this](TContext& context, THTTPRequestInfo& request, THTTPResponseInfo& response) {
    HTTPServerCommandGet(context, request, response);
  });
}

TZevanOrmelinS::~TZevanOrmelinS() {
  if (!destroyed_) ServiceDestroy();
}

void TZevanOrmelinS::Log(std::string text) {
  if (eventLog_) eventLog_->Add(std::move(text));
}

void TZevanOrmelinS::ServiceCreate() {
  state_.store(ssInitializing);
  try {
    eventLog_ = std::make_unique<TzeEventLog>();
    Log("Inicijalizacija podataka");
    {
      TMutexLock guard(DataLock);
      projects_ = std::make_unique<TorProjectList>();
    }
    LoadSettings();
    ActivateListener(*tcpServer_);
    PrepareTls();
    ActivateTls();
    ActivateListener(*httpServer_);
    state_.store(ssReady);
  } catch (const std::exception& error) {
    // The service keeps running with what was reached; only a restart cures it.
    WriteEventLogEntry(ServiceName, error.what());
  } catch (...) {
    WriteEventLogEntry(ServiceName, "Unknown error");
  }
}

void TZevanOrmelinS::ServiceDestroy() {
  if (destroyed_) return;
  destroyed_ = true;
  // No connection thread may reach the log or the projects once they go.
  httpServer_->SetActive(false);
  tlsServer_->SetActive(false);
  tcpServer_->SetActive(false);
  {
    TMutexLock guard(DataLock);
    projects_.reset();
  }
  eventLog_.reset();
}

void TZevanOrmelinS::StartServer() {
  if (state_.load() != ssStopped) return;
  tcpServer_->SetActive(true);
  ActivateTls();
  state_.store(ssReady);
  Log("Server pokrenut");
}

void TZevanOrmelinS::StopServer() {
  if (state_.load() != ssReady) return;
  tlsServer_->SetActive(false);
  tcpServer_->SetActive(false);
  state_.store(ssStopped);
  Log("Server zaustavljen");
}

void TZevanOrmelinS::SetSyncPort(int port) {
  TMutexLock guard(DataLock);
  syncPort_.store(port);
  tcpServer_->SetDefaultPort(port);
  httpServer_->SetDefaultPort(port + 1);
}

bool TZevanOrmelinS::SyncListenerActive() const {
  return tcpServer_->Active();
}

namespace {

int FirstBoundPort(const TCustomTCPServer& server) {
  std::vector<TBindingInfo> bindings = server.Bindings();
  return bindings.empty() ? 0 : bindings.front().Port;
}

}  // namespace

int TZevanOrmelinS::ListeningSyncPort() const {
  return FirstBoundPort(*tcpServer_);
}

int TZevanOrmelinS::ListeningConsolePort() const {
  return FirstBoundPort(*httpServer_);
}

void TZevanOrmelinS::SetCommandGet(TCommandGetHandler handler) {
  auto shared = handler ? std::make_shared<TCommandGetHandler>(std::move(handler)) : nullptr;
  TMutexLock guard(handlerLock_);
  commandGet_ = std::move(shared);
}

}  // namespace ormelin
