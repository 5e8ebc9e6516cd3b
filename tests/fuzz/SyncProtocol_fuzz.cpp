// Fuzz target for the synchronisation protocol: the command-line dispatch
// with the Sync and GetFile streams, run by the real service module over a
// scripted connection. The first byte seeds how the bytes are split into
// reads; the rest is what a client sends. Whatever it sends, the server's
// answer is well framed (a greeting, reply lines with a code, a framed
// stream after each 202 and 203, the failure pair only at the end) and holds
// nothing of the file that lies beside the project's root folder.
// Failures print what was sent with NUL bytes shown as "\0".
#include <unistd.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include "net/NetErrors.h"
#include "net/TCPConnection.h"
#include "net/TCPServer.h"
#include "platform/Exceptions.h"
#include "server/usvOrmelinS.h"
#include "support/FuzzTransport.h"

namespace {

using namespace ormelin;
namespace fs = std::filesystem;

constexpr std::string_view kSecret = "SECRET-BESIDE-THE-ROOT";
constexpr int kRunsPerModule = 20000;  // the event log only grows

void WriteFile(const fs::path& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

// A project folder with a few entries, a file beside it and the
// configuration naming it; removed when the process ends.
struct TFixture {
  fs::path Folder;
  std::string Config;
  TFixture() {
    Folder = fs::temp_directory_path() / ("ormelin-fuzz-" + std::to_string(getpid()));
    fs::create_directories(Folder / "Demo" / "sub" / "deeper");
    WriteFile(Folder / "Demo" / "a.txt", "alpha\r\n");
    WriteFile(Folder / "Demo" / "a b.txt", "with a blank");
    WriteFile(Folder / "Demo" / "empty.txt", "");
    WriteFile(Folder / "Demo" / "sub" / "inner.txt", "inner");
    WriteFile(Folder / "Demo" / "sub" / "deeper" / "x.bin", std::string(3000, '\x01'));
    WriteFile(Folder / "secret.txt", kSecret);
    fs::create_directories(Folder / "Demo2");
    WriteFile(Folder / "Demo2" / "b.txt", "beta");
    Config = (Folder / "orServer.xml").string();
    WriteFile(Config,
              "<xml><serversettings><defaultport>1974</defaultport></serversettings>"
              "<projects><project><name>Demo</name><path>" +
                  (Folder / "Demo").string() +
                  "</path></project><project><name>Demo2</name><path>" +
                  (Folder / "Demo2").string() + "\\</path></project></projects></xml>");
  }
  ~TFixture() {
    std::error_code ignored;
    fs::remove_all(Folder, ignored);
  }
};

TFixture& Fixture() {
  static TFixture fixture;
  return fixture;
}

TZevanOrmelinS& Module() {
  static std::unique_ptr<TZevanOrmelinS> module;
  static int runs = 0;
  if (!module || ++runs % kRunsPerModule == 0) {
    module.reset();
    module = std::make_unique<TZevanOrmelinS>(Fixture().Config);
    module->LoadSettings();
  }
  return *module;
}

[[noreturn]] void Fail(const char* what, const std::string& sent) {
  std::string shown;
  for (char c : sent) shown += c == '\0' ? std::string("\\0") : std::string(1, c);
  std::fprintf(stderr, "%s; the server sent:\n%s\n", what, shown.c_str());
  std::abort();
}

// Checks the framing of everything the server sent.
void CheckAnswer(const std::string& sent, bool complete) {
  size_t at = 0;
  auto line = [&](std::string& text) {
    const size_t end = sent.find("\r\n", at);
    if (end == std::string::npos) return false;
    text = sent.substr(at, end - at);
    at = end + 2;
    return true;
  };
  std::string text;
  if (!line(text) || text != "200 Ready") Fail("no greeting", sent);
  while (at < sent.size()) {
    if (!line(text)) {
      if (complete) Fail("an unterminated line", sent);
      return;
    }
    if (text.size() < 4 || !std::isdigit(static_cast<unsigned char>(text[0])) ||
        !std::isdigit(static_cast<unsigned char>(text[1])) ||
        !std::isdigit(static_cast<unsigned char>(text[2])) || (text[3] != ' ' && text[3] != '-'))
      Fail("a reply line without a code", sent);
    if (text.compare(0, 4, "500-") == 0) {
      if (!line(text) || text != "500 Better luck next time") Fail("a broken failure pair", sent);
      if (at != sent.size()) Fail("the server went on after the failure pair", sent);
      return;
    }
    if (text == "202 Sync Started" || text == "203 Get File Started") {
      std::string size;
      if (!line(size)) return;  // the request broke off before the stream
      if (size.compare(0, 4, "500-") == 0) {
        // The stream was never started; the failure pair ends the answer.
        if (!line(text) || text != "500 Better luck next time") Fail("a broken failure pair", sent);
        if (at != sent.size()) Fail("the server went on after the failure pair", sent);
        return;
      }
      char* end = nullptr;
      const long long count = std::strtoll(size.c_str(), &end, 10);
      if (size.empty() || *end != '\0' || count < 0) Fail("a bad size line", sent);
      if (sent.size() - at < static_cast<size_t>(count)) {
        if (complete) Fail("a stream shorter than its size line", sent);
        return;
      }
      at += static_cast<size_t>(count);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  TZevanOrmelinS& module = Module();
  auto transport = std::make_unique<fuzz::TFuzzTransport>(bytes, data[0]);
  fuzz::TFuzzTransport& peer = *transport;
  {
    TContext context(module.TCPServer(), std::make_unique<TTCPConnection>(std::move(transport)));
    try {
      module.TCPServerConnect(context);
      // Every command reads at least one byte, so the loop ends.
      while (context.Connection().IsOpen()) module.TCPServerExecute(context);
    } catch (const Exception&) {
      // A failed command ends the connection, as on a listener.
    }
    const std::string& sent = peer.Sent();
    // Error messages quote the client's path, so a client that names the
    // secret gets it echoed: only the file's content would be a leak.
    if (sent.find(kSecret) != std::string::npos && bytes.find(kSecret) == std::string_view::npos)
      Fail("a file outside the root was served", sent);
    CheckAnswer(sent, sent.size() < (1 << 20));
  }
  return 0;
}
