#include "net/TCPServer.h"

#include <algorithm>
#include <chrono>
#include <semaphore>
#include <thread>

namespace ormelin {

namespace {

// The server whose connection the current thread serves, if any.
thread_local const TCustomTCPServer* currentServer = nullptr;

}  // namespace

struct TCustomTCPServer::TIdleThread {
  std::binary_semaphore Woken{0};
  std::function<void()> Body;  // empty: end
};

TContext::TContext(TCustomTCPServer& server, std::unique_ptr<TTCPConnection> connection)
    : server_(server), connection_(std::move(connection)) {
  TMutexLock lock(server_.contextsMutex_);
  entry_ = server_.contexts_.insert(server_.contexts_.end(), this);
}

TContext::~TContext() {
  {
    TMutexLock lock(server_.contextsMutex_);
    server_.contexts_.erase(entry_);
    if (server_.contextWaiters_ > 0) server_.contextsChanged_.notify_all();
  }
  // Out of the list, nobody else reaches the connection: closing it here
  // cannot race with a deactivation that disconnects the listed ones.
  connection_.reset();
}

TCustomTCPServer::TCustomTCPServer(std::string name) : name_(std::move(name)) {}

TCustomTCPServer::~TCustomTCPServer() {
  StopAndWait();
}

void TCustomTCPServer::SetActive(bool active) {
  const bool ownThread = currentServer == this;
  if (ownThread) ++threadsInControl_;
  try {
    TMutexLock lock(controlMutex_);
    if (active != active_.load()) {
      if (active) {
        Activate();
      } else {
        Deactivate();
      }
    }
  } catch (...) {
    if (ownThread) --threadsInControl_;
    throw;
  }
  if (ownThread) --threadsInControl_;
}

void TCustomTCPServer::Activate() {
  BeforeActivate();
  if (bindings_.empty()) {
    bindings_.push_back(TSocketHandle{TIPVersion::IPv4, "0.0.0.0", DefaultPort(), TSocket()});
    if (IPv6Available())
      bindings_.push_back(TSocketHandle{TIPVersion::IPv6, "::", DefaultPort(), TSocket()});
  }
  try {
    int chosenPort = 0;
    for (TSocketHandle& binding : bindings_) {
      binding.Socket = TSocket::CreateListening(binding.IPVersion);
      if (binding.Port == 0 && chosenPort != 0) binding.Port = chosenPort;
      try {
        binding.Socket.BindAny(binding.Port);
      } catch (const ESocketError&) {
        throw ECouldNotBindSocket();
      }
      if (binding.Port == 0) binding.Port = chosenPort = binding.Socket.LocalPort();
    }
    for (TSocketHandle& binding : bindings_) binding.Socket.Listen(ListenQueue);
    {
      TMutexLock lock(bindingInfoMutex_);
      bindingInfo_.clear();
      for (const TSocketHandle& binding : bindings_) {
        bindingInfo_.push_back({binding.IPVersion, binding.IP, binding.Port});
      }
    }
    stopListeners_ = false;
    for (size_t i = 0; i < bindings_.size(); ++i) {
      TSocketHandle* binding = &bindings_[i];
      // A listener only accepts and hands over: a connection's stack is ample.
      listeners_.emplace_back([this, binding] { ListenLoop(*binding); }, kConnectionStackSize,
                              name_ + " Listener #" + std::to_string(i + 1));
    }
  } catch (...) {
    Deactivate();
    throw;
  }
  active_ = true;
}

void TCustomTCPServer::Deactivate() {
  active_ = false;
  stopListeners_ = true;
  for (TThread& listener : listeners_) listener.Join();
  listeners_.clear();
  for (TSocketHandle& binding : bindings_) binding.Socket.Close();

  TMutexLock lock(contextsMutex_);
  for (TContext* context : contexts_) context->Connection().Disconnect();
  WaitForContexts(lock, static_cast<size_t>(threadsInControl_.load()));
}

void TCustomTCPServer::WaitForContexts(TMutexLock& lock, size_t remaining) {
  ++contextWaiters_;
  while (contexts_.size() > remaining) {
    contextsChanged_.wait_for(lock, std::chrono::milliseconds(500));
    remaining = std::min(remaining, static_cast<size_t>(threadsInControl_.load()));
  }
  --contextWaiters_;
}

void TCustomTCPServer::StopAndWait() {
  SetActive(false);
  {
    TMutexLock lock(contextsMutex_);
    for (TContext* context : contexts_) context->Connection().Disconnect();
    WaitForContexts(lock, 0);
  }
  TMutexLock lock(threadsMutex_);
  endThreads_ = true;
  for (TIdleThread* idle : idle_) idle->Woken.release();  // with no work: they end
  idle_.clear();
  while (connectionThreads_ > 0) threadsChanged_.wait(lock);
}

void TCustomTCPServer::ListenLoop(TSocketHandle& binding) {
  while (!stopListeners_) {
    bool ready = false;
    try {
      ready = binding.Socket.WaitReadable(kAcceptPollMs);
    } catch (const std::exception&) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kAcceptPollMs));
    }
    if (!ready || stopListeners_) continue;
    try {
      Accept(binding);
    } catch (const std::exception&) {
      // What was created for the connection is released; the listener goes
      // on after a pause, so that running out of file handles does not
      // spin this thread.
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
}

void TCustomTCPServer::Accept(TSocketHandle& binding) {
  auto connection =
      std::make_unique<TTCPConnection>(std::make_unique<TIOHandlerSocket>(binding.Socket.Accept()));
  if (MaxConnections > 0 && ContextCount() >= static_cast<size_t>(MaxConnections)) return;
  auto context = std::make_unique<TContext>(*this, std::move(connection));
  TContext* started = context.get();
  StartConnectionThread([this, started] { RunConnection(started); });
  static_cast<void>(context.release());  // the connection thread owns it now
}

void TCustomTCPServer::StartConnectionThread(std::function<void()> body) {
  TIdleThread* idle = nullptr;
  {
    TMutexLock lock(threadsMutex_);
    if (!idle_.empty()) {
      // The thread that idled last: its stack is the likeliest in cache.
      idle = idle_.back();
      idle_.pop_back();
    } else {
      ++connectionThreads_;
    }
  }
  if (idle != nullptr) {
    // Out of the list, the thread waits for this release and nothing else.
    idle->Body = std::move(body);
    idle->Woken.release();
    return;
  }
  try {
    TThread([this, first = std::move(body)]() mutable { ServeConnections(std::move(first)); },
            kConnectionStackSize, name_ + " Connection")
        .Detach();
  } catch (...) {
    TMutexLock lock(threadsMutex_);
    --connectionThreads_;
    threadsChanged_.notify_all();
    throw;
  }
}

void TCustomTCPServer::ServeConnections(std::function<void()> body) {
  TIdleThread self;
  for (;;) {
    body();
    body = nullptr;
    {
      TMutexLock lock(threadsMutex_);
      if (endThreads_) {
        // The last touch of the server: StopAndWait may return now.
        --connectionThreads_;
        threadsChanged_.notify_all();
        return;
      }
      idle_.push_back(&self);
    }
    if (!self.Woken.try_acquire_for(std::chrono::milliseconds(kIdleThreadMs))) {
      TMutexLock lock(threadsMutex_);
      auto listed = std::find(idle_.begin(), idle_.end(), &self);
      if (listed != idle_.end()) {
        idle_.erase(listed);
        --connectionThreads_;
        threadsChanged_.notify_all();
        return;
      }
      // Taken off the list as the wait ended: its release is on the way.
      lock.unlock();
      self.Woken.acquire();
    }
    if (!self.Body) {
      TMutexLock lock(threadsMutex_);
      --connectionThreads_;
      threadsChanged_.notify_all();
      return;
    }
    body = std::move(self.Body);
    self.Body = nullptr;
  }
}

void TCustomTCPServer::RunConnection(TContext* raw) {
  std::unique_ptr<TContext> context(raw);
  currentServer = this;
  try {
    if (OnConnect) OnConnect(*context);
    while (DoExecute(*context)) {
    }
  } catch (...) {
    // An error escaping a callback ends the connection.
  }
  try {
    if (OnDisconnect) OnDisconnect(*context);
  } catch (...) {
  }
  currentServer = nullptr;
  context.reset();  // deactivation may return now
}

std::vector<TBindingInfo> TCustomTCPServer::Bindings() const {
  TMutexLock lock(bindingInfoMutex_);
  return bindingInfo_;
}

size_t TCustomTCPServer::ContextCount() const {
  TMutexLock lock(contextsMutex_);
  return contexts_.size();
}

size_t TCustomTCPServer::IdleThreadCount() const {
  TMutexLock lock(threadsMutex_);
  return idle_.size();
}

TTCPServer::TTCPServer(TContextEvent onConnect, TContextEvent onExecute, std::string name)
    : TCustomTCPServer(std::move(name)), OnExecute(std::move(onExecute)) {
  OnConnect = std::move(onConnect);
}

TTCPServer::~TTCPServer() {
  StopAndWait();
}

bool TTCPServer::DoExecute(TContext& context) {
  if (OnExecute) OnExecute(context);
  return context.Connection().IsOpen();
}

}  // namespace ormelin
