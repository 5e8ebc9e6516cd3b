// TZevanOrmelinS: the configuration file orServer.xml and the settings the
// console changes.
#include <string_view>
#include <vector>

#include "comparer/orXMLParser.h"
#include "net/HostHeader.h"
#include "platform/Conversions.h"
#include "platform/Cp1250.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/Format.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "protocol/SyncVocabulary.h"
#include "server/usvOrmelinS.h"

namespace ormelin {

namespace {

constexpr const char* kConfigFileBaseName = "orServer.xml";

// The lines of a text: CR LF, LF and CR each end a line; a last line without
// an end counts, an end at the very end adds no empty line.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
  }
  return lines;
}

// The lines of a text, each ended by CR LF.
std::string JoinLinesCrLf(std::string_view text) {
  std::string joined;
  joined.reserve(text.size() + 2);
  for (std::string_view line : SplitLines(text)) {
    joined += line;
    joined += "\r\n";
  }
  return joined;
}

}  // namespace

std::string TZevanOrmelinS::ConfigFileName() const {
  if (!configFileOverride_.empty()) return configFileOverride_;
  std::string besideExecutable = ExecutableFolder() + kConfigFileBaseName;
  if (FileExists(besideExecutable)) return besideExecutable;
  return PlatformPath(CommonAppDataFolder() + "\\zevan\\ormelin\\" + kConfigFileBaseName);
}

void TZevanOrmelinS::LoadSettings() {
  Log("Lociranje konfiguracijske datoteke");
  TorXMLNode root;
  std::string name = ConfigFileName();
  if (FileExists(name)) {
    Log(Format("Dohvat postavki iz %s", name.c_str()));
    root.Parse(JoinLinesCrLf(ReadFileToString(name)));
  }
  LoadConnectionSettings(root);
  LoadProjects(root);
}

void TZevanOrmelinS::LoadConnectionSettings(TorXMLNode& root) {
  Log("Dohvat postavki spajanja");
  TorXMLNode* settings = root.ChildByName("serversettings", true);
  TorXMLNode* port = settings->ChildByName("defaultport", true);
  int32_t value = kDefaultSyncPort;
  if (!TryStrToInt(port->Text(), value)) value = kDefaultSyncPort;
  SetSyncPort(value);

  const TorXMLNode* allow = settings->ChildByName("consoleallow", false);
  consoleAllowText_.reset();
  consoleAllow_ = TAddressAllowList::LocalMachine();
  if (allow != nullptr) {
    consoleAllowText_ = allow->Text();
    std::vector<std::string> malformed;
    consoleAllow_ = TAddressAllowList::Parse(allow->Text(), malformed);
    for (const std::string& entry : malformed) {
      Log("Neispravna adresa u consoleallow, zanemarena: " + HtmlEscape(entry));
    }
  }

  const TorXMLNode* proxies = settings->ChildByName("proxyfrom", false);
  proxyFromText_.reset();
  proxyFrom_ = TAddressAllowList();
  if (proxies != nullptr) {
    proxyFromText_ = proxies->Text();
    std::vector<std::string> malformed;
    proxyFrom_ = TAddressAllowList::Parse(proxies->Text(), malformed);
    for (const std::string& entry : malformed) {
      Log("Neispravna adresa u proxyfrom, zanemarena: " + HtmlEscape(entry));
    }
  }
  // TLS: present only where the administrator has added it.
  auto optionalText = [settings](const char* name) -> std::optional<std::string> {
    const TorXMLNode* node = settings->ChildByName(name, false);
    if (node == nullptr) return std::nullopt;
    return node->Text();
  };
  tlsPortText_ = optionalText("tlsport");
  tlsCertText_ = optionalText("tlscert");
  tlsKeyText_ = optionalText("tlskey");
  int32_t tlsPort = 0;
  if (tlsPortText_ && (!TryStrToInt(*tlsPortText_, tlsPort) || tlsPort < 1 || tlsPort > 65535)) {
    Log("Neispravan tlsport, TLS je isključen: "_cp1250 + HtmlEscape(*tlsPortText_));
    tlsPort = 0;
  }
  tlsPort_.store(tlsPort);

  const TorXMLNode* hosts = settings->ChildByName("consolehosts", false);
  consoleHostsText_.reset();
  consoleHosts_.clear();
  if (hosts != nullptr) {
    consoleHostsText_ = hosts->Text();
    consoleHosts_ = HostNameKeys(hosts->Text());
  }
}

void TZevanOrmelinS::LoadProjects(TorXMLNode& root) {
  Log("Dohvat projekata");
  TMutexLock guard(DataLock);
  projects_->Clear();
  TorXMLNode* projects = root.ChildByName("projects", true);
  for (int index = projects->IndexOfChild("project", 0); index >= 0;
       index = projects->IndexOfChild("project", index + 1)) {
    TorXMLNode* project = projects->GetChild(index);
    TorXMLNode* nameNode = project->ChildByName("name", false);
    TorXMLNode* pathNode = project->ChildByName("path", false);
    TorXMLNode* allowNode = project->ChildByName("allow", false);
    std::string name = Trim(nameNode != nullptr ? nameNode->Text() : std::string());
    std::string path = Trim(pathNode != nullptr ? pathNode->Text() : std::string());
    if (name.empty() || path.empty()) continue;
    Log(Format("Dohvat projekta %s", name.c_str()));
    TorProject& added = projects_->Add(std::move(name), std::move(path));
    if (allowNode != nullptr) {
      added.AllowText = allowNode->Text();
      std::vector<std::string> malformed;
      added.Access = TProjectAccess::Parse(allowNode->Text(), malformed);
      for (const std::string& entry : malformed) {
        Log(Format("Neispravan unos u popisu dopuštenih projekta %s ne dopušta nikoga: %s"_cp1250,
                   HtmlEscape(added.Name).c_str(), HtmlEscape(entry).c_str()));
      }
    }
  }
  RetainIndexes();
}

void TZevanOrmelinS::RetainIndexes() {
  std::vector<std::string> roots;
  for (int i = 0; projects_ && i < projects_->Count(); ++i)
    roots.push_back(projects_->Items(i).Path);
  projectIndexes_.SetRoots(roots);
}

void TZevanOrmelinS::SaveSettings() {
  Log("Snimanje postavki");
  TorXMLNode root;
  root.SetName("xml");
  SaveConnectionSettings(root);
  SaveProjects(root);

  // All old or all new whatever fails; a link the administrator made stays.
  ReplaceFileContents(ConfigFileName(), JoinLinesCrLf(root.GetXML()));
}

void TZevanOrmelinS::SaveConnectionSettings(TorXMLNode& root) {
  // "Snimajne", not "Snimanje": the system's own spelling of this entry,
  // which must stay as it is.
  Log("Snimajne postavki spajanja");
  TorXMLNode* settings = root.ChildByName("serversettings", true);
  settings->ChildByName("defaultport", true)->SetText(IntToStr(SyncPort()));
  if (consoleAllowText_) settings->ChildByName("consoleallow", true)->SetText(*consoleAllowText_);
  if (consoleHostsText_) settings->ChildByName("consolehosts", true)->SetText(*consoleHostsText_);
  if (proxyFromText_) settings->ChildByName("proxyfrom", true)->SetText(*proxyFromText_);
  if (tlsPortText_) settings->ChildByName("tlsport", true)->SetText(*tlsPortText_);
  if (tlsCertText_) settings->ChildByName("tlscert", true)->SetText(*tlsCertText_);
  if (tlsKeyText_) settings->ChildByName("tlskey", true)->SetText(*tlsKeyText_);
}

bool TZevanOrmelinS::MayChangeRoot(std::string_view address) const {
  return consoleAllow_.Allows(address);
}

void TZevanOrmelinS::SaveProjects(TorXMLNode& root) {
  Log("Snimanje projekata");
  TMutexLock guard(DataLock);
  for (int i = 0; i < projects_->Count(); ++i) {
    const TorProject& project = projects_->Items(i);
    TorXMLNode* node = new TorXMLNode(root.ChildByName("projects", true));
    node->SetName("project");
    TorXMLNode* name = new TorXMLNode(node);
    name->SetName("name");
    name->SetText(project.Name);
    TorXMLNode* path = new TorXMLNode(node);
    path->SetName("path");
    path->SetText(project.Path);
    if (project.AllowText) {
      TorXMLNode* allow = new TorXMLNode(node);
      allow->SetName("allow");
      allow->SetText(*project.AllowText);
    }
  }
}

std::string TZevanOrmelinS::FirstProjectPath() const {
  TMutexLock guard(DataLock);
  return projects_ && projects_->Count() > 0 ? projects_->Items(0).Path : std::string();
}

void TZevanOrmelinS::SetFirstProjectPath(std::string path) {
  TMutexLock guard(DataLock);
  if (projects_ && projects_->Count() > 0) projects_->Items(0).Path = std::move(path);
  RetainIndexes();
}

bool TZevanOrmelinS::FindProject(std::string_view name, TorProject& project) const {
  TMutexLock guard(DataLock);
  const TorProject* found = projects_ ? projects_->FindByName(name) : nullptr;
  if (found == nullptr) return false;
  project = *found;
  return true;
}

}  // namespace ormelin
