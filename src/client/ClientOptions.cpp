#include "client/ClientOptions.h"

#include "platform/Conversions.h"
#include "platform/Format.h"
#include "platform/Paths.h"

namespace ormelin {
namespace {

// An argument as the system's text; one that code page 1250 cannot hold
// would name another project or folder than the user meant.
std::string SystemText(const std::string& argument, const char* what) {
  std::string text = Utf8ToCp1250(argument);
  if (Cp1250ToUtf8(text) != argument) {
    throw EUsageError(Format("%s '%s' sadr\x9Ei znakove koje sustav ne podr\x9E"
                             "ava",
                             what, text.c_str()));
  }
  return text;
}

int NumberOption(const std::string& option, const std::string& value, int low, int high) {
  int32_t number = 0;
  if (!TryStrToInt(value, number) || number < low || number > high) {
    throw EUsageError(Format("Neispravna vrijednost '%s' uz opciju %s (dopu\x9Ateno %d do %d)",
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
    if (size_t equals = argument.find('='); argument.rfind("--", 0) == 0 && equals != std::string::npos) {
      name = argument.substr(0, equals);
      value = argument.substr(equals + 1);
      hasValue = true;
    }
    auto takeValue = [&]() -> const std::string& {
      if (!hasValue) {
        if (i + 1 >= arguments.size()) {
          throw EUsageError(Format("Opcija %s tra\x9Ei vrijednost", name.c_str()));
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
    } else {
      throw EUsageError(Format("Nepoznata opcija '%s'", Utf8ToCp1250(argument).c_str()));
    }
  }
  if (options.Help || options.Version) return options;
  if (positional.size() != 3) {
    throw EUsageError(
        "O\xE8"
        "ekuju se tri argumenta: poslu\x9Eitelj, projekt i mapa");
  }
  options.Host = positional[0];
  options.Project = SystemText(positional[1], "Projekt");
  options.Folder = SystemText(positional[2], "Mapa");
  if (options.Host.empty()) throw EUsageError("Poslu\x9Eitelj nije naveden");
  if (options.Project.empty()) throw EUsageError("Projekt nije naveden");
  if (options.Project.find(' ') != std::string::npos) {
    throw EUsageError(Format("Ime projekta '%s' ne smije sadr\x9E"
                             "avati razmak",
                             options.Project.c_str()));
  }
  if (options.Folder.empty()) throw EUsageError("Mapa nije navedena");
  return options;
}

std::string ClientHelpText() {
  return "Upotreba: ormelin-client [opcije] POSLU\x8EITELJ PROJEKT MAPA\n"
         "\n"
         "Preslikava projekt PROJEKT s Ormelin poslu\x9Eitelja POSLU\x8EITELJ u lokalnu mapu\n"
         "MAPA (stvara je ako ne postoji). Dohva\xE6"
         "aju se nove datoteke i datoteke koje su\n"
         "na poslu\x9Eitelju novije; ni\x9Ata se ne bri\x9A"
         "e, a datoteke koje su novije u mapi\n"
         "ostaju kakve jesu.\n"
         "\n"
         "Opcije:\n"
         "  -p, --port BROJ        sinkronizacijski port poslu\x9Eitelja (zadano 1974)\n"
         "  -n, --dry-run          samo ispi\x9Ai zadatke, ni\x9Ata ne mijenjaj\n"
         "  -q, --quiet            ispisuj samo gre\x9Ake\n"
         "      --connections N    broj istodobnih veza za dohvat datoteka (zadano 4)\n"
         "      --pipeline N       broj zahtjeva unaprijed poslanih po vezi (zadano 32);\n"
         "                         1 izvodi zadatke jedan po jedan preko jedne veze\n"
         "      --timeout N        sekunde \xE8"
         "ekanja na poslu\x9Eitelj: na spajanje i na svaki\n"
         "                         sljede\xE6i bajt (zadano 60)\n"
         "  -h, --help             ispi\x9Ai ovu pomo\xE6 i iza\xF0i\n"
         "  -V, --version          ispi\x9Ai verziju i iza\xF0i\n"
         "\n"
         "Izlazni kod: 0 uspjeh, 1 poslu\x9Eitelj je odbio zahtjev ili ne odgovara ili\n"
         "zadatak nije uspio, 2 neispravna naredba.\n";
}

}  // namespace ormelin
