// TZevanOrmelinS: the web console. The document table, the actions behind
// "/opcije" (stop, start, settings) with their failure page, and the filling
// of the page templates with the module's current state.
//
// Every value that comes from a request or from a client is HTML-escaped
// where it stands in a page; only event texts go in as they were logged
// (their client links are anchors of their own, and the protocol escapes
// what the client sent before it logs it).
#include <string>
#include <string_view>
#include <vector>

#include "logger/zeLogDump.h"
#include "net/HTTPServer.h"
#include "net/HostHeader.h"
#include "platform/Collation.h"
#include "platform/Conversions.h"
#include "platform/Cp1250.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/Format.h"
#include "platform/Sockets.h"
#include "platform/Streams.h"
#include "platform/Text.h"
#include "server/usvOrmelinS.h"
#include "web/ResourceGet.h"
#include "web/VersionText.h"

namespace ormelin {

namespace {

constexpr int EventLogPageSize = 20;
constexpr int LowestPort = 1;
constexpr int HighestPort = 65534;  // the console listens one port higher

enum class TDocumentKind { Action, Page, Resource };

struct TDocument {
  const char* Path;
  TDocumentKind Kind;
  const char* Resource;
};

// Tried in order; anything else is the status page.
constexpr TDocument Documents[] = {
    {"/opcije", TDocumentKind::Action, ""},
    {"/postavke.html", TDocumentKind::Page, "postavke"},
    {"/about.html", TDocumentKind::Page, "about"},
    {"/style.css", TDocumentKind::Resource, "style_css"},
    {"/ormelinproject.jpg", TDocumentKind::Resource, "ormelinproject_jpg"},
    {"/ormelinproject_footer.jpg", TDocumentKind::Resource, "ormelinproject_footer_jpg"},
    {"/eventlog.html", TDocumentKind::Page, "eventlog"},
};
constexpr TDocument StatusPage = {"", TDocumentKind::Page, "index"};

constexpr const char* ActionStop = "Zaustavi";
constexpr const char* ActionStart = "Pokreni";
constexpr const char* ActionSettings = "Postavi";
constexpr const char* NotDefined = "(nije definirano)";

const char* StateText(uint8_t state) {
  switch (state) {
    case ssInitializing:
    case ssStarting:
      return "Pokretanje";
    case ssProcessing:
      return "Obrada";
    case ssReady:
      return "Spreman";
    case ssStopped:
      return "Zaustavljen";
    default:
      return "Nepoznato";
  }
}

const char* LimitText(TProjectAccess::TLimit limit) {
  switch (limit) {
    case TProjectAccess::TLimit::Open:
      return "otvoren";
    case TProjectAccess::TLimit::Nobody:
      return "zatvoren";
    case TProjectAccess::TLimit::Addresses:
      return "ograničen adresama"_cp1250;
    case TProjectAccess::TLimit::Certificates:
      return "ograničen certifikatima"_cp1250;
    case TProjectAccess::TLimit::AddressesAndCertificates:
      return "ograničen adresama i certifikatima"_cp1250;
  }
  return "";
}

// A value for a page: shown as text, and never taken for a placeholder by
// a later replacement.
std::string PageValue(std::string_view value) {
  std::string escaped = HtmlEscape(value);
  std::string result;
  result.reserve(escaped.size());
  for (char c : escaped) {
    if (c == '{') {
      result += "&#123;";
    } else {
      result += c;
    }
  }
  return result;
}

// "host:port" of an authority ("user@host:port", "[::1]:1975", "host"),
// letter case folded, with the scheme's port when none is given.
std::string SiteOf(std::string_view authority, std::string_view defaultPort) {
  const size_t at = authority.rfind('@');
  if (at != std::string_view::npos) authority.remove_prefix(at + 1);
  const size_t bracket = authority.rfind(']');
  const size_t colon = authority.rfind(':');
  std::string_view host = authority;
  std::string_view port = defaultPort;
  if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
    host = authority.substr(0, colon);
    if (colon + 1 < authority.size()) port = authority.substr(colon + 1);
  }
  return AsciiLower(host) + ":" + std::string(port);
}

// The site a Referer or Origin names ("" when the text names none, such as
// the opaque origin "null").
std::string SiteOfUrl(std::string_view url) {
  const size_t schemeEnd = url.find("://");
  if (schemeEnd == std::string_view::npos) return {};
  const std::string scheme = AsciiLower(url.substr(0, schemeEnd));
  std::string_view rest = url.substr(schemeEnd + 3);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  if (rest.empty()) return {};
  return SiteOf(rest, scheme == "https" ? "443" : "80");
}

// The header value naming another site than the request's Host, or "" when
// the request comes from the console's own pages or names no page at all.
std::string ForeignSource(const THTTPRequestInfo& request) {
  const std::string host = Trim(request.Host);
  const std::string own = host.empty() ? std::string() : SiteOf(host, "80");
  for (const std::string* header : {&request.Origin, &request.Referer}) {
    std::string value = Trim(*header);
    if (value.empty()) continue;
    const std::string site = SiteOfUrl(value);
    if (own.empty() || site != own) return value;
  }
  // A browser sends neither header for an image or link of another page
  // that asks for no referrer, but it still names the request's source.
  const std::string fetchSite = AsciiLower(Trim(request.Headers.Values("Sec-Fetch-Site")));
  if (!fetchSite.empty() && fetchSite != "same-origin" && fetchSite != "none") {
    return "Sec-Fetch-Site: " + fetchSite;
  }
  return {};
}

// What a request naming another site than this machine gets: a browser on
// this machine led here by a foreign name.
std::string ForeignHostPage(std::string_view host) {
  return "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
         "charset=windows-1250\"><title>Pristup odbijen</title></head><body>"
         "<h1>Pristup odbijen</h1><p>Konzola ne odgovara na ime "_cp1250 +
         PageValue(host) +
         ". Otvorite je preko adrese ili imena ovog računala, ili dodajte ime u element "
         "serversettings/consolehosts datoteke orServer.xml.</p></body></html>"_cp1250;
}

std::string FailedActionPage(const std::string& action, const std::string& message) {
  std::string page = GetResourceText("propalaakcija", "TEXT");
  page = ReplaceTextIgnoringCase(page, "{%ACTION%}", PageValue(action));
  page = ReplaceTextIgnoringCase(page, "{%MESSAGE%}", PageValue(message));
  return page;
}

}  // namespace

void TZevanOrmelinS::RefuseRootChange(const std::string& address) {
  const std::string shown = HtmlEscape(address);
  Log("Odbijena promjena korijenske mape projekta s adrese " + shown);
  throw Exception(
      "Korijensku mapu projekta mogu mijenjati samo adrese navedene u elementu "
      "serversettings/consoleallow datoteke orServer.xml (bez njega samo 127.0.0.1 "
      "i ::1). Adresa " +
      address +
      " nije među njima: dodajte je ondje i ponovno "
      "pokrenite servis."_cp1250);
}

bool TZevanOrmelinS::ConsoleAnswersTo(std::string_view host) {
  if (Trim(host).empty()) return true;  // an HTTP/1.0 request names no host
  std::vector<std::string> names;
  {
    TMutexLock lock(SettingsLock);
    names = consoleHosts_;
  }
  names.emplace_back("localhost");
  if (HostHeaderNames(host, names)) return true;
  // Asked once, and only for a name nothing else allows: the fully
  // qualified name may cost a resolver's answer.
  static const std::vector<std::string> machine = [] {
    std::vector<std::string> keys;
    for (const std::string& name : LocalMachineNames()) keys.push_back(HostNameKey(name));
    return keys;
  }();
  return HostHeaderNames(host, machine);
}

void TZevanOrmelinS::HTTPServerCommandGet(TContext& /*context*/, THTTPRequestInfo& request,
                                          THTTPResponseInfo& response) {
  // A page of another site whose name leads to this machine reaches the
  // console from the administrator's own browser, with its own name as the
  // Host: such a request is answered with nothing but the refusal.
  if (!ConsoleAnswersTo(request.Host)) {
    response.SetStatus(403);
    response.ReplyText = ForeignHostPage(request.Host);
    return;
  }
  const TDocument* document = &StatusPage;
  for (const TDocument& entry : Documents) {
    if (AnsiSameText(request.RequestPath, entry.Path)) {
      document = &entry;
      break;
    }
  }
  switch (document->Kind) {
    case TDocumentKind::Action:
      HandleAction(request, response);
      break;
    case TDocumentKind::Page:
      response.ReplyText = FillTemplate(GetResourceText(document->Resource, "TEXT"), request);
      break;
    case TDocumentKind::Resource:
      response.ReplyStream =
          std::make_unique<TReadOnlyMemoryStream>(GetResourceData(document->Resource));
      break;
  }
}

void TZevanOrmelinS::HandleAction(THTTPRequestInfo& request, THTTPResponseInfo& response) {
  const std::string action = Trim(request.Parameters.Value("akcija"));
  const bool stop = AnsiSameText(action, ActionStop);
  const bool start = AnsiSameText(action, ActionStart);
  const bool settings = AnsiSameText(action, ActionSettings);
  if (!stop && !start && !settings) return;  // the empty answer of the HTTP server

  // A page of another site must not drive an administrator's browser into
  // changing the server.
  const std::string foreign = ForeignSource(request);
  if (!foreign.empty()) {
    response.ReplyText = FailedActionPage(
        action, Format("Zahtjev nije poslan sa stranica ove konzole (došao je s %s); "
                       "ništa nije promijenjeno."_cp1250,
                       foreign.c_str()));
    return;
  }

  TMutexLock lock(SettingsLock);
  try {
    if (stop) {
      StopServer();
      response.RedirectTo("/index.html");
    } else if (start) {
      StartServer();
      response.RedirectTo("/index.html");
    } else {
      EventLog().Add("Dodjela novih postavki");
      const std::string portText = Trim(request.Parameters.Value("port"));
      const std::string rootPath = Trim(request.Parameters.Value("rootpath"));
      // A port the listeners could not open at the next start is kept out
      // like a text that is no number.
      int32_t port = 0;
      if (!TryStrToInt(portText, port) || port < LowestPort || port > HighestPort) {
        port = SyncPort();
      }
      SetSyncPort(port);
      if (Projects().Count() > 0 && !rootPath.empty() && rootPath != FirstProjectPath()) {
        // The root decides which files every client may fetch: only the
        // administrator's machines may move it.
        if (!MayChangeRoot(request.RemoteAddress)) RefuseRootChange(request.RemoteAddress);
        if (!DirectoryExists(rootPath)) CreateDir(rootPath);
        SetFirstProjectPath(rootPath);
      }
      SaveSettings();
      response.RedirectTo("/postavke.html");
    }
  } catch (const std::exception& error) {
    response.ReplyText = FailedActionPage(action, error.what());
  }
}

std::string TZevanOrmelinS::TlsRows() const {
  const std::string fingerprint = TlsFingerprint();
  if (fingerprint.empty()) return {};
  auto row = [](const char* label, const std::string& value) {
    return std::string("\r\n  <tr>\r\n    <td><p>") + label +
           "</p></td>\r\n    <td bgcolor=\"#C5D8EB\"><p class=\"white\">" + value +
           "</p></td>\r\n  </tr>";
  };
  return row("TLS port", IntToStr(TlsPort())) +
         row("Otisak TLS certifikata", "SHA256:" + fingerprint);
}

std::string TZevanOrmelinS::FillTemplate(const std::string& page, THTTPRequestInfo& request) {
  TMutexLock lock(SettingsLock);
  const std::string filter = request.Parameters.Value("filter");
  const std::string rootPath =
      Projects().Count() > 0 ? PageValue(FirstProjectPath()) : std::string(NotDefined);

  std::string result = ReplaceTextIgnoringCase(page, "{%VERZIJA%}", PageValue(VersionText()));
  result = ReplaceTextIgnoringCase(result, "{%PORT%}", IntToStr(SyncPort()));
  result = ReplaceTextIgnoringCase(result, "{%ROOTPATH%}", rootPath);
  result = ReplaceTextIgnoringCase(result, "{%PROJECTS%}", ProjectsText());
  result = ReplaceTextIgnoringCase(result, "{%TLS%}", TlsRows());
  result = ReplaceTextIgnoringCase(result, "{%SERVERSTATE%}", StateText(State()));
  result =
      ReplaceTextIgnoringCase(result, "{%ONOFF%}", SyncListenerActive() ? ActionStop : ActionStart);
  result = ReplaceTextIgnoringCase(result, "{%LASTMESSAGE%}", LastMessage());
  result = ReplaceTextIgnoringCase(result, "{%FILTER%}", PageValue(filter));
  return DumpEventLog(EventLog(), result, Trim(request.Parameters.Value("page")), filter,
                      EventLogPageSize);
}

std::string TZevanOrmelinS::ProjectsText() {
  // Each project with who may use it: "Docs: otvoren<br>Ured: ograničen adresama".
  std::string text;
  TMutexLock guard(DataLock);
  for (int i = 0; projects_ && i < projects_->Count(); ++i) {
    const TorProject& project = projects_->Items(i);
    if (!text.empty()) text += "<br>";
    text += PageValue(project.Name) + ": " + LimitText(project.Access.Limit());
  }
  return text.empty() ? std::string(NotDefined) : text;
}

std::string TZevanOrmelinS::LastMessage() {
  TzeEventLog& log = EventLog();
  TzeEventLogLock lock(log);
  std::string text;
  if (log.Count() > 0) text = log.Items(0)->AsText();
  return text;
}

}  // namespace ormelin
