// The HTTP server: a listener whose connections each carry HTTP requests.
// A request is read into a request record, handed with a fresh response
// record to the request handler, and the response the handler filled in is
// written; with KeepAlive off (the default) the connection then closes.
// A request that cannot be read (a bad request line, too many header lines,
// an unsupported authorization scheme, a body over the size limit) closes
// the connection without a response. A handler's exception other than a
// socket error becomes status 500 with the exception's message as the body.
//
// Threading: the handler runs on the connection's thread, concurrently for
// different connections; it guards whatever it shares. Settings are read by
// connection threads without a lock: set them before activation.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/HTTPRequest.h"
#include "net/HTTPResponse.h"
#include "net/TCPServer.h"

namespace ormelin {

using THTTPCommandEvent = std::function<void(TContext&, THTTPRequestInfo&, THTTPResponseInfo&)>;

class TCustomHTTPServer : public TCustomTCPServer {
 public:
  explicit TCustomHTTPServer(std::string name = "HTTPServer");
  ~TCustomHTTPServer() override;

  bool KeepAlive = false;
  bool ParseParams = true;
  std::string ServerSoftware;  // when not blank, the "Server" header's value
  int SessionTimeOut = 0;
  bool AutoStartSession = false;
  int MaximumHeaderLineCount = 1024;
  int64_t MaximumBodySize = 1024 * 1024;
  THTTPCommandEvent OnCommandGet;    // HEAD, GET and POST
  THTTPCommandEvent OnCommandOther;  // every other method
  std::function<std::unique_ptr<TStream>(TContext&, THTTPRequestInfo&)> OnCreatePostStream;

  bool SessionState() const { return sessionState_; }
  // Raises EHTTPCannotSwitchSessionStateWhenActive while the server is active.
  void SetSessionState(bool value);

 protected:
  bool DoExecute(TContext& context) override;
  // Activation with SessionTimeOut 0 turns sessions off.
  void BeforeActivate() override;

 private:
  void ServeRequests(TContext& context);

  bool sessionState_ = false;
};

class THTTPServer : public TCustomHTTPServer {
 public:
  explicit THTTPServer(THTTPCommandEvent onCommandGet = {}, std::string name = "HTTPServer");
  ~THTTPServer() override;
};

}  // namespace ormelin
