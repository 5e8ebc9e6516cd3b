#include "comparer/StructStreamer.h"

#include <array>
#include <utility>
#include <vector>

#include "comparer/DiskWalk.h"
#include "comparer/FileStructures.h"
#include "platform/Collation.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/Format.h"
#include "platform/Paths.h"
#include "platform/Text.h"

namespace ormelin {

namespace {

const char* const kUnit = "StructStreamer";
// Assertion lines the callers' diagnostics have always carried.
const int kDiskAssertLine = 59;
const int kXMLAssertLine = 118;

// In the order of TTreeElement.
constexpr std::array<const char*, 4> kElementNames = {"name", "datemodified", "directory", "file"};

// ---- date-time text ----

// What the locale's long time layout says about writing a time.
struct TTimeLayout {
  bool LeadingZero = true;
  bool TwelveHour = false;
  bool DesignatorFirst = false;
};

bool StartsWithFolded(std::string_view text, size_t pos, std::string_view word) {
  return text.size() - pos >= word.size() && SameTextFolded(text.substr(pos, word.size()), word);
}

TTimeLayout ReadTimeLayout(std::string_view layout) {
  TTimeLayout result;
  bool hourSeen = false;
  bool designatorSeen = false;
  size_t i = 0;
  while (i < layout.size()) {
    char c = layout[i];
    if (c == '\'' || c == '"') {  // quoted text
      size_t close = layout.find(c, i + 1);
      i = close == std::string_view::npos ? layout.size() : close + 1;
      continue;
    }
    if ((c == 'h' || c == 'H') && !hourSeen) {
      hourSeen = true;
      result.LeadingZero = i + 1 < layout.size() && (layout[i + 1] == 'h' || layout[i + 1] == 'H');
      result.DesignatorFirst = designatorSeen;
    }
    for (std::string_view word : {"am/pm", "a/p", "ampm"}) {
      if (StartsWithFolded(layout, i, word)) {
        result.TwelveHour = true;
        designatorSeen = true;
        i += word.size() - 1;
        break;
      }
    }
    ++i;
  }
  return result;
}

// Appends `value` in decimal with at least `width` digits, as "%0*d" would
// (a minus sign counts towards the width).
void AppendNumber(std::string& out, int value, int width) {
  char digits[16];
  int count = 0;
  const bool negative = value < 0;
  unsigned magnitude = negative ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) {
    out += '-';
    --width;
  }
  for (int i = count; i < width; ++i) out += '0';
  while (count > 0) out += digits[--count];
}

const std::string& AmText(const TFormatSettings& settings) {
  static const std::string fallback = "AM";
  return settings.TimeAMString.empty() ? fallback : settings.TimeAMString;
}

const std::string& PmText(const TFormatSettings& settings) {
  static const std::string fallback = "PM";
  return settings.TimePMString.empty() ? fallback : settings.TimePMString;
}

// The reader of the lenient date-time grammar: blanks may precede every
// number, separator and designator.
class TDateTimeScanner {
 public:
  TDateTimeScanner(std::string_view text, const TFormatSettings& settings)
      : text_(text), settings_(settings) {}

  void Restart() { pos_ = 0; }
  bool AtEnd() const { return pos_ >= text_.size(); }

  void SkipBlanks() {
    while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
  }

  bool Separator(char c) {
    SkipBlanks();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  // Decimal digits, read while the value so far is below 1000.
  bool Number(int& value, int& digits) {
    SkipBlanks();
    size_t start = pos_;
    int n = 0;
    while (pos_ < text_.size() && IsDigit(text_[pos_]) && n < 1000) {
      n = n * 10 + (text_[pos_] - '0');
      ++pos_;
    }
    if (pos_ == start) return false;
    value = n;
    digits = static_cast<int>(pos_ - start);
    return true;
  }

  bool Number(int& value) {
    int digits = 0;
    return Number(value, digits);
  }

  // 0 for AM, 1 for PM, -1 when no designator stands here.
  int Designator() {
    SkipBlanks();
    const std::array<std::pair<std::string_view, int>, 4> designators = {
        {{settings_.TimeAMString, 0}, {settings_.TimePMString, 1}, {"AM", 0}, {"PM", 1}}};
    for (const auto& [word, meaning] : designators) {
      if (!word.empty() && StartsWithFolded(text_, pos_, word)) {
        pos_ += word.size();
        return meaning;
      }
    }
    return -1;
  }

  bool Date(TDateTime& date) {
    int first = 0, firstDigits = 0, second = 0, third = 0;
    if (!Number(first, firstDigits) || !Separator('-') || !Number(second)) return false;
    int year, month, day, yearDigits;
    if (Separator('-')) {
      if (!Number(third)) return false;
      year = first;
      yearDigits = firstDigits;
      month = second;
      day = third;
    } else {
      year = CurrentYear();
      yearDigits = 4;
      month = first;
      day = second;
    }
    // A one- or two-digit year is taken in the current century.
    if (yearDigits <= 2) year += CurrentYear() / 100 * 100;
    if (!TryEncodeDate(year, month, day, date)) return false;
    Separator('-');
    SkipBlanks();
    return true;
  }

  bool Time(TDateTime& time) {
    int designator = Designator();
    int hour = 0, minute = 0, second = 0, millisecond = 0;
    if (!Number(hour)) return false;
    if (Separator('-')) {
      if (!Number(minute)) return false;
      if (Separator('-')) {
        if (!Number(second)) return false;
        if (Separator(settings_.DecimalSeparator) && !Number(millisecond)) return false;
      }
    }
    if (designator < 0) designator = Designator();
    if (designator >= 0) {
      if (hour < 1 || hour > 12) return false;
      if (hour == 12) hour = 0;
      if (designator == 1) hour += 12;
    }
    SkipBlanks();
    return TryEncodeTime(hour, minute, second, millisecond, time);
  }

 private:
  std::string_view text_;
  const TFormatSettings& settings_;
  size_t pos_ = 0;
};

// The date plus the time of day; before the epoch the fraction still counts
// forward within the day, so it is taken away from the negative day number.
TDateTime Combine(TDateTime date, TDateTime time) {
  return date < 0 ? date - time : date + time;
}

// The value of `count` digits at `text`, or -1 when one is not a digit.
int Digits(const char* text, int count) {
  int value = 0;
  for (int i = 0; i < count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// The form this system writes, "yyyy-mm-dd" or "yyyy-mm-dd hh-nn-ss", read
// without the scanner: the scanner would read the same fields and encode
// them the same way. False for any other text, and where a designator of
// the locale could begin with a digit.
bool ReadWrittenForm(std::string_view text, const TFormatSettings& settings, TDateTime& value) {
  if (text.size() != 10 && text.size() != 19) return false;
  for (const std::string* designator : {&settings.TimeAMString, &settings.TimePMString})
    if (!designator->empty() && IsDigit((*designator)[0])) return false;
  const char* t = text.data();
  const int year = Digits(t, 4), month = Digits(t + 5, 2), day = Digits(t + 8, 2);
  if (year < 0 || month < 0 || day < 0 || t[4] != '-' || t[7] != '-') return false;
  TDateTime date = 0;
  if (!TryEncodeDate(year, month, day, date)) return false;
  if (text.size() == 10) {
    value = date;
    return true;
  }
  const int hour = Digits(t + 11, 2), minute = Digits(t + 14, 2), second = Digits(t + 17, 2);
  if (t[10] != ' ' || hour < 0 || minute < 0 || second < 0 || t[13] != '-' || t[16] != '-')
    return false;
  TDateTime time = 0;
  if (!TryEncodeTime(hour, minute, second, 0, time)) return false;
  value = Combine(date, time);
  return true;
}

}  // namespace

// ---- element names ----

TTreeElement ClassifyTreeElement(std::string_view name) {
  // A name equal to a word but for ASCII letter case is that word under the
  // locale comparison too, so the usual spellings cost no collation.
  for (size_t i = 0; i < kElementNames.size(); ++i) {
    if (SameTextFolded(name, kElementNames[i])) return static_cast<TTreeElement>(i);
  }
  static const std::array<std::string, 4> keys = {
      CollationKey(kElementNames[0]), CollationKey(kElementNames[1]),
      CollationKey(kElementNames[2]), CollationKey(kElementNames[3])};
  const std::string key = CollationKey(name);
  for (size_t i = 0; i < keys.size(); ++i) {
    if (key == keys[i]) return static_cast<TTreeElement>(i);
  }
  return TTreeElement::Other;
}

// ---- disk ----

void TLoader::LoadFromDisk(std::string_view path, TDirectory* target, TScanReport* report) {
  Assert(target != nullptr, kUnit, kDiskAssertLine);
  target->Clear();
  if (DirectoryExists(path)) ScanFolder(path, target, report);
}

TDirectory* TLoader::AddFoundEntry(const TFolderEntry& entry, TDirectory* folder) {
  if (entry.IsDirectory) {
    auto* directory = new TDirectory(folder);
    directory->SetName(entry.Name);
    directory->SetDateModified(entry.DateModified);
    return directory;
  }
  auto* file = new TFile(folder);
  file->SetName(entry.Name);
  file->SetDateModified(entry.DateModified);
  return nullptr;
}

namespace {

// Fills a tree of objects for WalkDisk: a folder's files as it is read, its
// sub-folders as the walk reaches them.
struct TDirectoryFiller {
  using TFolder = TDirectory*;

  static void Read(TDirectory* folder, const std::vector<TFolderEntry>& entries) {
    for (const TFolderEntry& entry : entries) {
      if (entry.NameIsPath && !entry.IsDirectory) TLoader::AddFoundEntry(entry, folder);
    }
  }
  static TDirectory* AddFolder(TDirectory* parent, const TFolderEntry& entry) {
    return TLoader::AddFoundEntry(entry, parent);
  }
};

}  // namespace

void TLoader::ScanFolder(std::string_view path, TDirectory* folder, TScanReport* report) {
  TDirectoryFiller filler;
  WalkDisk(path, folder, IncludeTrailingBackslash(folder->GetFullPath()), filler, report);
}

// ---- XML ----

void TLoader::LoadFromXML(std::string_view xml, TDirectory* target,
                          const TFormatSettings& settings) {
  Assert(target != nullptr, kUnit, kXMLAssertLine);
  target->Clear();
  TorXMLNode node;
  node.Parse(xml);
  ReadDirectoryNode(target, &node, settings);
}

void TLoader::ReadDirectoryNode(TDirectory* folder, const TorXMLNode* node,
                                const TFormatSettings& settings) {
  // Each sub-folder element is read completely before its next sibling, as
  // the recursive reading does, so entries are named in the same order.
  struct TFrame {
    TDirectory* folder;
    const TorXMLNode* node;
    int next;
  };
  std::vector<TFrame> stack{{folder, node, 0}};
  while (!stack.empty()) {
    TFrame& frame = stack.back();
    if (frame.next >= frame.node->ChildCount()) {
      stack.pop_back();
      continue;
    }
    TDirectory* current = frame.folder;
    const TorXMLNode* child = frame.node->GetChild(frame.next++);
    switch (ClassifyTreeElement(child->Name())) {
      case TTreeElement::Name:
        current->SetName(child->Text());
        break;
      case TTreeElement::DateModified:
        current->SetDateModified(TextToDateTime(child->Text(), settings));
        break;
      case TTreeElement::Directory:
        stack.push_back({new TDirectory(current), child, 0});
        break;
      case TTreeElement::File:
        ReadFileNode(new TFile(current), child, settings);
        break;
      case TTreeElement::Other:
        break;
    }
  }
}

void TLoader::ReadFileNode(TFile* file, const TorXMLNode* node, const TFormatSettings& settings) {
  int name = node->IndexOfChild("name", 0);
  if (name >= 0) file->SetName(node->GetChild(name)->Text());
  int date = node->IndexOfChild("datemodified", 0);
  if (date >= 0) file->SetDateModified(TextToDateTime(node->GetChild(date)->Text(), settings));
}

std::string TLoader::SaveToXML(const TDirectory& directory, const TFormatSettings& settings) {
  TorXMLNode root;
  root.SetName("tree");
  auto addText = [](TorXMLNode* parent, const char* name, std::string_view text) {
    auto* node = new TorXMLNode(parent);
    node->SetName(name);
    node->SetText(text);
  };
  if (directory.Name() != "\\") addText(&root, "name", directory.Name());
  if (directory.DateModified() != 0) {
    addText(&root, "datemodified", DateTimeToText(directory.DateModified(), settings));
  }
  std::vector<std::pair<const TDirectory*, TorXMLNode*>> pending{{&directory, &root}};
  while (!pending.empty()) {
    auto [folder, element] = pending.back();
    pending.pop_back();
    for (int i = 0; i < folder->FileCount(); ++i) {
      const TFile* file = folder->GetFile(i);
      auto* node = new TorXMLNode(element);
      node->SetName("file");
      addText(node, "name", file->Name());
      addText(node, "datemodified", DateTimeToText(file->DateModified(), settings));
    }
    for (int i = 0; i < folder->DirectoryCount(); ++i) {
      const TDirectory* sub = folder->GetDirectory(i);
      auto* node = new TorXMLNode(element);
      node->SetName("directory");
      addText(node, "name", sub->Name());
      addText(node, "datemodified", DateTimeToText(sub->DateModified(), settings));
      pending.emplace_back(sub, node);
    }
  }
  return root.GetXML();
}

// ---- date-time text ----

std::string TLoader::DateTimeToText(TDateTime value, const TFormatSettings& settings) {
  int year, month, day, hour, minute, second, millisecond;
  DecodeDate(value, year, month, day);
  DecodeTime(value, hour, minute, second, millisecond);
  std::string text;
  text.reserve(32);
  AppendNumber(text, year, 4);
  text += '-';
  AppendNumber(text, month, 2);
  text += '-';
  AppendNumber(text, day, 2);
  if (hour == 0 && minute == 0 && second == 0) return text;

  const TTimeLayout layout = ReadTimeLayout(settings.LongTimeFormat);
  int shownHour = hour;
  if (layout.TwelveHour) shownHour = hour % 12 == 0 ? 12 : hour % 12;
  std::string time;
  AppendNumber(time, shownHour, layout.LeadingZero ? 2 : 1);
  time += '-';
  AppendNumber(time, minute, 2);
  time += '-';
  AppendNumber(time, second, 2);
  text += ' ';
  if (!layout.TwelveHour) return text + time;
  const std::string& designator = hour < 12 ? AmText(settings) : PmText(settings);
  return layout.DesignatorFirst ? text + designator + ' ' + time : text + time + ' ' + designator;
}

TDateTime TLoader::TextToDateTime(std::string_view text, const TFormatSettings& settings) {
  TDateTime date = 0;
  if (ReadWrittenForm(text, settings, date)) return date;
  TDateTimeScanner scanner(text, settings);
  TDateTime time = 0;
  if (scanner.Date(date) && (scanner.AtEnd() || scanner.Time(time))) return Combine(date, time);
  scanner.Restart();
  time = 0;
  if (scanner.Time(time) && scanner.AtEnd()) return time;
  throw EConvertError("'" + std::string(text) + "' is not a valid date and time");
}

}  // namespace ormelin
