// Directory trees in the sync dialect for the differential tests of the
// readers and of the sync's answer: random folders, files, names (cases,
// entities, code page 1250 letters) and dates, and damage to the text.
#pragma once

#include <gtest/gtest.h>

#include <exception>
#include <string>

#include "comparer/CompactTree.h"
#include "comparer/FileStructures.h"
#include "comparer/StructStreamer.h"
#include "support/XMLMutator.h"

namespace ormelin::testing {

class TTreeGenerator : public TXMLMutator {
 public:
  using TXMLMutator::TXMLMutator;

  // A whole tree in the dialect, now and then a little off it.
  std::string Tree() {
    const std::string outer = Word("tree");
    std::string xml = "<" + outer + ">";
    Folder(xml, 0);
    if (!Chance(10)) xml += "</" + outer + ">";
    return xml;
  }

  // The tree damaged in one to three places.
  std::string Mutate(std::string xml) {
    const int count = 1 + Pick(3);
    for (int i = 0; i < count && !xml.empty(); ++i) {
      const size_t at = static_cast<size_t>(Pick(static_cast<int>(xml.size()) + 1));
      switch (const int kind = Pick(kCommonDamage + 3)) {
        default:
          Damage(xml, at, kind);
          break;
        case kCommonDamage:  // an unclosed tag
          xml.insert(at, "<" + Word(Chance(50) ? "directory" : "file") + ">");
          break;
        case kCommonDamage + 1:  // a bad date
          xml.insert(at, "<datemodified>" + std::string(Chance(50) ? "2008-02-30" : "x") +
                             "</datemodified>");
          break;
        case kCommonDamage + 2:  // a name or date element dropped or doubled
          for (const char* tag : {"<name>", "<datemodified>"}) {
            const size_t open = xml.find(tag, at);
            if (open == std::string::npos) continue;
            const size_t close = xml.find('<', open + 1);
            if (close == std::string::npos) break;
            const size_t end = xml.find('>', close);
            if (end == std::string::npos) break;
            const std::string element = xml.substr(open, end - open + 1);
            if (Chance(50))
              xml.erase(open, element.size());
            else
              xml.insert(open, element);
            break;
          }
          break;
      }
    }
    return xml;
  }

 private:
  std::string Word(const char* word) {
    std::string text = word;
    if (Chance(15))
      for (char& c : text)
        if (Chance(50)) c = static_cast<char>(c - 'a' + 'A');
    return text;
  }

  std::string Name() {
    static const char* const parts[] = {"a",    "B",    "doc",     " x ", "&amp;", "&lt;b&gt;",
                                        "\xe8", "\x8a", "&bogus;", "1",   "a.txt", "A.TXT"};
    std::string name;
    const int count = Chance(5) ? 0 : 1 + Pick(2);
    for (int i = 0; i < count; ++i) name += parts[Pick(12)];
    return name;
  }

  std::string Date() {
    static const char* const dates[] = {"2008-11-14 10-20-30",    "2008-11-14", " 2021-1-2 3-4-5 ",
                                        "2008-11-14 12-00-00 PM", "11-14",      "10-20",
                                        "1980-01-01 0-00-02"};
    return dates[Pick(7)];
  }

  void Text(std::string& xml, const char* element, const std::string& text) {
    if (text.empty() && Chance(30)) {
      xml += "<" + Word(element) + "/>";
      return;
    }
    const std::string word = Word(element);
    xml += "<" + word + ">" + text + "</" + word + ">";
  }

  void Entry(std::string& xml, int depth, bool folder) {
    if (Chance(5)) {
      xml += folder ? "<directory/>" : "<file/>";
      return;
    }
    const char* element = folder ? "directory" : "file";
    xml += "<" + std::string(element) + ">";
    if (folder) {
      Folder(xml, depth + 1);
    } else {
      if (Chance(90)) Text(xml, "name", Name());
      if (Chance(85)) Text(xml, "datemodified", Date());
      if (Chance(10)) Text(xml, "name", Name());
      if (Chance(10)) xml += "<other>x<name>y</name></other>";
    }
    xml += "</" + std::string(element) + ">";
  }

  void Folder(std::string& xml, int depth) {
    if (Chance(85)) Text(xml, "name", Name());
    if (Chance(70)) Text(xml, "datemodified", Date());
    // Now and then a crowd: more entries than a sort of a few handles, most
    // of them with names that differ only in letter case.
    const bool crowd = depth < 2 && Chance(4);
    const int entries = crowd ? 17 + Pick(24) : Pick(depth < 3 ? 6 : 2);
    for (int i = 0; i < entries; ++i) {
      if (Chance(10)) xml += Chance(50) ? "\r\n " : " stray text ";
      if (crowd) {
        CrowdEntry(xml, depth);
      } else {
        Entry(xml, depth, Chance(30));
      }
    }
    if (Chance(5)) Text(xml, "name", Name());
  }

  // A file or folder of a crowd, named as several others but for letter
  // case, with a date that loads.
  void CrowdEntry(std::string& xml, int depth) {
    static const char* const names[] = {"a.txt", "doc", "x y", "\xe8o"};
    static const char* const dates[] = {"2008-11-14 10-20-30", "2008-11-14", "1980-01-01 0-00-02"};
    std::string name = names[Pick(4)];
    for (char& c : name)
      if (c >= 'a' && c <= 'z' && Chance(50)) c = static_cast<char>(c - 'a' + 'A');
    const bool folder = Chance(20);
    const std::string element = folder ? "directory" : "file";
    xml += "<" + element + "><name>" + name + "</name><datemodified>" + dates[Pick(3)] +
           "</datemodified>";
    if (folder && Chance(50)) Entry(xml, depth + 1, false);
    xml += "</" + element + ">";
  }
};

// The projects of the differential tests: `count` trees from `generator`,
// each that loads handed to `visit(i, project, compact)` as the tree of
// objects and its packed tree, frozen; `visit` may take more trees from the
// generator. Stops at a fatal failure. Returns how many loaded.
template <typename TVisit>
int ForEachGeneratedProject(TTreeGenerator& generator, int count, TVisit&& visit) {
  int loaded = 0;
  for (int i = 0; i < count && !::testing::Test::HasFatalFailure(); ++i) {
    TDirectory project;
    try {
      TLoader::LoadFromXML(generator.Tree(), &project);
    } catch (const std::exception&) {
      continue;
    }
    TCompactTree compact = TCompactTree::FromDirectory(project);
    compact.Freeze();
    visit(i, project, compact);
    ++loaded;
  }
  return loaded;
}

}  // namespace ormelin::testing
