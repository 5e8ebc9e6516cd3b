#include "net/HTTPServer.h"

#include "net/NetErrors.h"
#include "platform/Text.h"

namespace ormelin {

TCustomHTTPServer::TCustomHTTPServer(std::string name) : TCustomTCPServer(std::move(name)) {
  SetDefaultPort(80);
}

TCustomHTTPServer::~TCustomHTTPServer() {
  StopAndWait();
}

void TCustomHTTPServer::SetSessionState(bool value) {
  if (value != sessionState_ && Active()) throw EHTTPCannotSwitchSessionStateWhenActive();
  sessionState_ = value;
}

void TCustomHTTPServer::BeforeActivate() {
  if (SessionTimeOut == 0) sessionState_ = false;
}

bool TCustomHTTPServer::DoExecute(TContext& context) {
  try {
    ServeRequests(context);
  } catch (const ESocketError& error) {
    if (error.LastError() != kSocketErrorConnectionReset) throw;
  } catch (const EClosedSocket&) {
  }
  return false;  // the connection closes as the thread ends
}

void TCustomHTTPServer::ServeRequests(TContext& context) {
  TTCPConnection& connection = context.Connection();
  THTTPRequestSettings settings;
  settings.ParseParams = ParseParams;
  settings.MaximumHeaderLineCount = MaximumHeaderLineCount;
  settings.MaximumBodySize = MaximumBodySize;
  if (OnCreatePostStream) {
    settings.CreatePostStream = [this, &context](THTTPRequestInfo& request) {
      return OnCreatePostStream(context, request);
    };
  }
  bool closeAfter = !KeepAlive;
  do {
    connection.LimitReads(RequestTimeLimitMs.load());
    std::unique_ptr<THTTPRequestInfo> request = ReadRequest(connection, settings);
    connection.LimitReads(0);
    THTTPResponseInfo response(connection);
    response.CloseAfterResponse = !(KeepAlive && SameTextFolded(request->Connection, "Keep-alive"));
    if (!Trim(ServerSoftware).empty()) response.ServerToken = ServerSoftware;
    const bool get = request->MethodKind >= hcHEAD && request->MethodKind <= hcPOST;
    const THTTPCommandEvent& handler = get ? OnCommandGet : OnCommandOther;
    try {
      if (handler) handler(context, *request, response);
    } catch (const ESocketError&) {
      throw;
    } catch (const std::exception& error) {
      response.SetStatus(500);
      response.ReplyText = error.what();
    } catch (...) {
      response.SetStatus(500);
      response.ReplyText.clear();
    }
    if (!response.ReplyText.empty() || response.ReplyStream) {
      response.SendBody();  // the header first, if it is not out yet
    } else if (!response.HeaderSent()) {
      response.SendHeader();
    }
    closeAfter = response.CloseAfterResponse;
  } while (!closeAfter);
}

THTTPServer::THTTPServer(THTTPCommandEvent onCommandGet, std::string name)
    : TCustomHTTPServer(std::move(name)) {
  OnCommandGet = std::move(onCommandGet);
}

THTTPServer::~THTTPServer() {
  StopAndWait();
}

}  // namespace ormelin
