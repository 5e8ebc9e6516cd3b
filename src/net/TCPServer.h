// The listener component: it listens on a port (the IPv4 any-address, and
// the IPv6 any-address where the machine offers it), accepts connections in
// 250 ms polls on one listener thread per binding, and serves each accepted
// connection on a thread of its own through the connect callback and the
// per-connection routine. The number of threads is not limited. A thread
// whose connection has ended waits a while for the next accepted connection
// before it ends, so that a burst of short connections (a browser, a load
// balancer's checks) does not pay for a new thread each.
//
// Threading: SetActive, DefaultPort and the bindings may be used from any
// thread, also from a connection thread of another server (the console
// stops the synchronisation listener). A connection thread may deactivate
// its own server; its own connection then ends after that call returns.
// Callbacks run on the connection threads, concurrently for different
// connections. Deactivation closes every connection and waits for every
// connection thread; it must not be run from inside a callback of a server
// that is about to be destroyed. The members each mutex guards are marked
// GUARDED_BY, which clang checks.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "net/TCPConnection.h"
#include "platform/Mutex.h"
#include "platform/Sockets.h"
#include "platform/Thread.h"

namespace ormelin {

class TCustomTCPServer;

// One accepted connection, owned by its connection thread. It adds itself to
// the server's contexts list on creation and removes itself on release,
// which then closes the socket.
class TContext {
 public:
  TContext(TCustomTCPServer& server, std::unique_ptr<TTCPConnection> connection);
  ~TContext();
  TContext(const TContext&) = delete;
  TContext& operator=(const TContext&) = delete;

  TTCPConnection& Connection() { return *connection_; }
  TCustomTCPServer& Server() { return server_; }

 private:
  TCustomTCPServer& server_;
  std::unique_ptr<TTCPConnection> connection_;
  std::list<TContext*>::iterator entry_;
};

using TContextEvent = std::function<void(TContext&)>;

// A listening socket: the address, the port and the IP version it binds.
struct TSocketHandle {
  TIPVersion IPVersion = TIPVersion::IPv4;
  std::string IP;
  int Port = 0;
  TSocket Socket;
};

// What a binding listens on, for callers that want to know.
struct TBindingInfo {
  TIPVersion IPVersion;
  std::string IP;
  int Port;
};

class TCustomTCPServer {
 public:
  static constexpr int kAcceptPollMs = 250;
  // The stack reserved for a connection or listener thread. The deepest
  // sync uses under 3 KiB of it (tests/ConnectionStack_test), a line read
  // and written with an exception thrown and caught under 7 KiB: the rest
  // is room for what system libraries run on it.
  static constexpr size_t kConnectionStackSize = 256 * 1024;
  // How long a connection thread with nothing to serve waits for the next
  // connection before it ends.
  static constexpr int kIdleThreadMs = 5000;

  explicit TCustomTCPServer(std::string name);
  // Deactivates and waits for every connection thread. A descendant that
  // replaces DoExecute calls StopAndWait in its own destructor, before its
  // part of the object is gone.
  virtual ~TCustomTCPServer();
  TCustomTCPServer(const TCustomTCPServer&) = delete;
  TCustomTCPServer& operator=(const TCustomTCPServer&) = delete;

  int DefaultPort() const { return defaultPort_.load(); }
  // Takes effect only while no bindings have been created yet.
  void SetDefaultPort(int port) { defaultPort_.store(port); }
  bool Active() const { return active_.load(); }
  // Activation creates the bindings when there are none (port 0: the system
  // picks one port, shared by both bindings), binds and listens on each and
  // starts the listener threads. A bind that fails raises
  // ECouldNotBindSocket and leaves the server inactive. Deactivation stops
  // the listeners, closes every connection and waits for every connection
  // thread. Setting the current state again does nothing.
  void SetActive(bool active);

  int ListenQueue = MaxListenQueue();
  // How long a connection may take to send its next request (a command
  // line, an HTTP request) before it is closed without a reply, which frees
  // its thread; 0: for ever. Read by each connection as it awaits a request.
  std::atomic<int> RequestTimeLimitMs{0};
  int MaxConnections = 0;  // positive: connections beyond it are closed at once
  TContextEvent OnConnect;
  TContextEvent OnDisconnect;

  std::vector<TBindingInfo> Bindings() const;
  size_t ContextCount() const;
  // Connection threads waiting for their next connection.
  size_t IdleThreadCount() const;

 protected:
  // The per-connection routine, run again and again on the connection's
  // thread while it reports true.
  virtual bool DoExecute(TContext& context) = 0;
  // Runs `body` on a connection thread with a small stack: an idle one when
  // there is one, otherwise a new one. Raises EThreadError when no thread
  // can be created (the caller then closes the connection and the listener
  // goes on).
  virtual void StartConnectionThread(std::function<void()> body);
  // Called at activation before any socket is created.
  virtual void BeforeActivate() {}
  // Deactivates and waits until no connection thread is left, also one that
  // deactivated the server itself, and ends the idle ones: what a
  // destructor does.
  void StopAndWait();

 private:
  friend class TContext;
  struct TListener;

  void Activate() REQUIRES(controlMutex_);
  void Deactivate() REQUIRES(controlMutex_);
  // Waits until at most `remaining` contexts are left; `lock` holds
  // contextsMutex_.
  void WaitForContexts(TMutexLock& lock, size_t remaining) REQUIRES(contextsMutex_);
  void ListenLoop(TSocketHandle& binding);
  void Accept(TSocketHandle& binding);
  void RunConnection(TContext* context);
  // The life of a connection thread: `body`, then whatever connections are
  // handed to it while it waits idle.
  void ServeConnections(std::function<void()> body);

  const std::string name_;
  std::atomic<int> defaultPort_{0};
  std::atomic<bool> active_{false};

  // Serialises activation and deactivation; guards bindings_ and listeners_.
  mutable TMutex controlMutex_;
  std::vector<TSocketHandle> bindings_ GUARDED_BY(controlMutex_);
  std::vector<TThread> listeners_ GUARDED_BY(controlMutex_);
  std::atomic<bool> stopListeners_{false};
  // Connection threads of this server waiting in SetActive; deactivation
  // does not wait for them (they cannot end before it returns).
  std::atomic<int> threadsInControl_{0};

  // Guards bindingInfo_, the copy of the bindings that Bindings() returns
  // (callbacks may ask while a deactivation holds controlMutex_).
  mutable TMutex bindingInfoMutex_;
  std::vector<TBindingInfo> bindingInfo_ GUARDED_BY(bindingInfoMutex_);

  // Guards contexts_; contextsChanged_ is signalled when one leaves while
  // someone waits for that.
  mutable TMutex contextsMutex_;
  std::condition_variable_any contextsChanged_;
  std::list<TContext*> contexts_ GUARDED_BY(contextsMutex_);
  int contextWaiters_ GUARDED_BY(contextsMutex_) = 0;

  // Guards the connection threads' hand-over; threadsChanged_ is signalled
  // when a thread ends. An idle thread waits on a semaphore of its own, so
  // that a hand-over wakes that thread alone and nothing else contends.
  struct TIdleThread;
  mutable TMutex threadsMutex_;
  std::condition_variable_any threadsChanged_;
  std::vector<TIdleThread*> idle_ GUARDED_BY(threadsMutex_);  // the latest to idle last
  size_t connectionThreads_ GUARDED_BY(threadsMutex_) = 0;
  bool endThreads_ GUARDED_BY(threadsMutex_) = false;
};

// The listener with the two callbacks given at construction: the connect
// callback once per connection, then the execute callback again and again
// while the connection is open.
class TTCPServer : public TCustomTCPServer {
 public:
  TTCPServer(TContextEvent onConnect, TContextEvent onExecute, std::string name = "TCPServer");
  ~TTCPServer() override;

  TContextEvent OnExecute;

 protected:
  bool DoExecute(TContext& context) override;
};

}  // namespace ormelin
