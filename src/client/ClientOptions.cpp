#include "client/ClientOptions.h"

#include <optional>

#include "net/TlsTransport.h"
#include "platform/Conversions.h"
#include "platform/Cp1250.h"
#include "platform/Format.h"
#include "platform/Paths.h"

namespace ormelin {
namespace {

// An argument as the system's text; one that code page 1250 cannot hold
// would name another project or folder than the user meant.
std::string SystemText(const std::string& argument, const char* what) {
  std::string text = Utf8ToCp1250(argument);
  if (Cp1250ToUtf8(text) != argument) {
    throw EUsageError(
        Format("%s '%s' sadrži znakove koje sustav ne podržava"_cp1250, what, text.c_str()));
  }
  return text;
}

int NumberOption(const std::string& option, const std::string& value, int low, int high) {
  int32_t number = 0;
  if (!TryStrToInt(value, number) || number < low || number > high) {
    throw EUsageError(Format("Neispravna vrijednost '%s' uz opciju %s (dopušteno %d do %d)"_cp1250,
                             Utf8ToCp1250(value).c_str(), option.c_str(), low, high));
  }
  return number;
}

}  // namespace

TClientOptions ParseClientOptions(const std::vector<std::string>& arguments) {
  TClientOptions options;
  std::vector<std::string> positional;
  bool optionsEnded = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      positional.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name = argument;
    std::string value;
    bool hasValue = false;
    if (size_t equals = argument.find('=');
        argument.rfind("--", 0) == 0 && equals != std::string::npos) {
      name = argument.substr(0, equals);
      value = argument.substr(equals + 1);
      hasValue = true;
    }
    auto takeValue = [&]() -> const std::string& {
      if (!hasValue) {
        if (i + 1 >= arguments.size()) {
          throw EUsageError(Format("Opcija %s traži vrijednost"_cp1250, name.c_str()));
        }
        value = arguments[++i];
        hasValue = true;
      }
      return value;
    };
    auto noValue = [&] {
      if (hasValue) throw EUsageError(Format("Opcija %s ne prima vrijednost", name.c_str()));
    };
    if (name == "-h" || name == "--help") {
      noValue();
      options.Help = true;
    } else if (name == "-V" || name == "--version") {
      noValue();
      options.Version = true;
    } else if (name == "-n" || name == "--dry-run") {
      noValue();
      options.DryRun = true;
    } else if (name == "-q" || name == "--quiet") {
      noValue();
      options.Quiet = true;
    } else if (name == "-p" || name == "--port") {
      options.Port = NumberOption(name, takeValue(), 1, 65535);
    } else if (name == "--connections") {
      options.Connections = NumberOption(name, takeValue(), 1, 64);
    } else if (name == "--pipeline") {
      options.Pipeline = NumberOption(name, takeValue(), 1, 1024);
    } else if (name == "--timeout") {
      options.Timeout = NumberOption(name, takeValue(), 1, 86400);
    } else if (name == "--retries") {
      options.Retries = NumberOption(name, takeValue(), 0, 100);
    } else if (name == "--tls") {
      noValue();
      options.Tls = true;
    } else if (name == "--pin") {
      std::optional<std::string> pin = ParsePin(takeValue());
      if (!pin) {
        throw EUsageError(
            Format("Neispravan otisak '%s' uz opciju --pin (očekuje se SHA256: i "
                   "64 heksadekadske znamenke, s dvotočkama ili bez njih)"_cp1250,
                   Utf8ToCp1250(value).c_str()));
      }
      options.Pin = *pin;
      options.Tls = true;
    } else if (name == "--cert") {
      options.CertificateFile = SystemText(takeValue(), "Datoteka");
      options.Tls = true;
    } else if (name == "--key") {
      options.KeyFile = SystemText(takeValue(), "Datoteka");
      options.Tls = true;
    } else if (name == "--make-cert") {
      options.MakeCertificateFolder = SystemText(takeValue(), "Mapa");
      if (options.MakeCertificateFolder.empty()) {
        throw EUsageError("Opcija --make-cert traži mapu"_cp1250);
      }
    } else {
      throw EUsageError(Format("Nepoznata opcija '%s'", Utf8ToCp1250(argument).c_str()));
    }
  }
  if (options.Help || options.Version) return options;
  if (options.CertificateFile.empty() != options.KeyFile.empty()) {
    throw EUsageError("Opcije --cert i --key navode se zajedno"_cp1250);
  }
  if (!options.MakeCertificateFolder.empty()) {
    if (!positional.empty()) {
      throw EUsageError("Uz --make-cert ne navode se poslužitelj, projekt ni mapa"_cp1250);
    }
    return options;
  }
  if (positional.size() != 3) {
    throw EUsageError("Očekuju se tri argumenta: poslužitelj, projekt i mapa"_cp1250);
  }
  options.Host = positional[0];
  options.Project = SystemText(positional[1], "Projekt");
  options.Folder = SystemText(positional[2], "Mapa");
  if (options.Host.empty()) throw EUsageError("Poslužitelj nije naveden"_cp1250);
  if (options.Project.empty()) throw EUsageError("Projekt nije naveden");
  if (options.Project.find(' ') != std::string::npos) {
    throw EUsageError(
        Format("Ime projekta '%s' ne smije sadržavati razmak"_cp1250, options.Project.c_str()));
  }
  if (options.Folder.empty()) throw EUsageError("Mapa nije navedena");
  return options;
}

std::string ClientHelpText() {
  return "Upotreba: ormelin-client [opcije] POSLUŽITELJ PROJEKT MAPA\n"
         "         ormelin-client --make-cert MAPA\n"
         "\n"
         "Preslikava projekt PROJEKT s Ormelin poslužitelja POSLUŽITELJ u lokalnu mapu\n"
         "MAPA (stvara je ako ne postoji). Dohvaćaju se nove datoteke i datoteke koje su\n"
         "na poslužitelju novije; ništa se ne briše, a datoteke koje su novije u mapi\n"
         "ostaju kakve jesu.\n"
         "\n"
         "Opcije:\n"
         "  -p, --port BROJ        sinkronizacijski port poslužitelja (zadano 1974)\n"
         "  -n, --dry-run          samo ispiši zadatke, ništa ne mijenjaj\n"
         "  -q, --quiet            ispisuj samo greške\n"
         "      --connections N    broj istodobnih veza za dohvat datoteka (zadano 4)\n"
         "      --pipeline N       najviše zahtjeva unaprijed poslanih po vezi; njihov\n"
         "                         broj raste dok ne pokrije brzinu i kašnjenje veze\n"
         "                         (zadano 256); 1 izvodi zadatke jedan po jedan\n"
         "                         preko jedne veze\n"
         "      --timeout N        sekunde čekanja na poslužitelj: na spajanje i na svaki\n"
         "                         sljedeći bajt (zadano 60)\n"
         "      --retries N        novih pokušaja spajanja kad veza ne uspije ili se\n"
         "                         prekine (zadano 5; 0 isključuje); svi moraju stati\n"
         "                         u --timeout sekundi od greške\n"
         "      --tls              spoji se TLS-om (port poslužitelja zadaje -p); bez\n"
         "                         --pin certifikat mora potvrditi spremište certifikata\n"
         "                         sustava za ime POSLUŽITELJ\n"
         "      --pin SHA256:OTISAK\n"
         "                         vjeruj samo certifikatu s tim SHA-256 otiskom\n"
         "                         (uključuje --tls)\n"
         "      --cert DATOTEKA    vlastiti certifikat (PEM) koji se pokazuje poslužitelju\n"
         "      --key DATOTEKA     privatni ključ tog certifikata (PEM)\n"
         "      --make-cert MAPA   napravi u MAPI client.crt i client.key, ispiši otisak\n"
         "                         i izađi\n"
         "  -h, --help             ispiši ovu pomoć i izađi\n"
         "  -V, --version          ispiši verziju i izađi\n"
         "\n"
         "Izlazni kod: 0 uspjeh, 1 poslužitelj je odbio zahtjev ili ne odgovara ili\n"
         "zadatak nije uspio, 2 neispravna naredba.\n"_cp1250;
}

}  // namespace ormelin
