#include "web/ResourceGet.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/Exceptions.h"

namespace ormelin {
namespace {

const char* const kTemplates[] = {"INDEX", "POSTAVKE", "EVENTLOG", "ABOUT", "PROPALAAKCIJA"};

TEST(GetResourceText, EveryResourceIsStored) {
  for (const char* name : kTemplates) EXPECT_FALSE(GetResourceText(name, "TEXT").empty()) << name;
  for (const char* name : {"SVN_INFO", "SVN_INFO_COMPARER"}) {
    EXPECT_FALSE(GetResourceText(name, "TEXT").empty()) << name;
  }
  for (const char* name : {"STYLE_CSS", "ORMELINPROJECT_JPG", "ORMELINPROJECT_FOOTER_JPG"}) {
    EXPECT_FALSE(GetResourceData(name).empty()) << name;
    EXPECT_EQ(GetResourceText(name, "RCDATA"), std::string(GetResourceData(name))) << name;
  }
}

TEST(GetResourceText, NamesIgnoreCase) {
  EXPECT_EQ(GetResourceText("index", "TEXT"), GetResourceText("INDEX", "TEXT"));
  EXPECT_EQ(GetResourceText("PropalaAkcija", "TEXT"), GetResourceText("PROPALAAKCIJA", "TEXT"));
  EXPECT_EQ(GetResourceData("style_css"), GetResourceData("STYLE_CSS"));
}

TEST(GetResourceText, MissingResourceIsAnError) {
  try {
    GetResourceText("nepostoji", "TEXT");
    FAIL() << "found";
  } catch (const EResNotFound& e) {
    EXPECT_EQ(e.Message(), "Resource nepostoji not found");
  }
  EXPECT_THROW(GetResourceData("INDEX"), EResNotFound);  // a template is not raw data
}

bool OnlyCrLfLineEnds(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) return false;
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return false;
  }
  return text.find('\n') != std::string::npos;
}

TEST(Templates, CrLfLineEndsAndTheSharedHead) {
  for (const char* name : kTemplates) {
    SCOPED_TRACE(name);
    const std::string text = GetResourceText(name, "TEXT");
    EXPECT_TRUE(OnlyCrLfLineEnds(text));
    for (const char* part :
         {"content=\"text/html; charset=windows-1250\"", "<title>Ormelin Server</title>",
          "href=\"style.css\"", "lang=\"hr-HR\"",
          "ormelinproject.jpg\" width=\"300\" height=\"80\""}) {
      EXPECT_NE(text.find(part), std::string::npos) << part;
    }
    const bool footer = std::string(name) != "PROPALAAKCIJA";
    EXPECT_EQ(
        text.find("ormelinproject_footer.jpg\" width=\"293\" height=\"30\"") != std::string::npos,
        footer);
  }
  EXPECT_TRUE(OnlyCrLfLineEnds(std::string(GetResourceData("STYLE_CSS"))));
  for (const char* name : {"SVN_INFO", "SVN_INFO_COMPARER"}) {
    EXPECT_TRUE(OnlyCrLfLineEnds(GetResourceText(name, "TEXT"))) << name;
  }
}

TEST(Templates, HoldTheirPlaceholdersAndFields) {
  const std::vector<std::pair<const char*, std::vector<std::string>>> expected = {
      {"INDEX",
       {"{%PORT%}", "{%ROOTPATH%}", "{%SERVERSTATE%}", "{%LASTMESSAGE%}",
        "<form action=\"/opcije\">", "name=\"akcija\" value=\"{%ONOFF%}\"",
        "href=\"postavke.html\">Postavke<", "Korjenska mapa", "Zadnja poruka",
        "href=\"eventlog.html\">Sve poruke<", "href=\"about.html\">O programu...<",
        "bgcolor=\"#C5D8EB\""}},
      {"POSTAVKE",
       {"<form action=\"/opcije\">", "name=\"port\" value=\"{%PORT%}\"",
        "name=\"rootpath\" value=\"{%ROOTPATH%}\"", "name=\"akcija\" value=\"Postavi\"",
        "href=\"index.html\">Natrag<", "bgcolor=\"#000000\""}},
      {"EVENTLOG",
       {"\r\n<!--{%EVENTLOG%}-->\r\n", "{%EVENTID%}", "{%EVENTTIME%}", "{%EVENTTEXT%}",
        "\r\n<!--{%/EVENTLOG%}-->\r\n", "R. b.", "Vrijeme", "Poruka", "bgcolor=\"#CCCCCC\"",
        "href=\"index.html\">Glavna<", "page=1&filter={%EVENTFILTERURL%}\">&lt&lt<",
        "page={%EVENTPREVPAGE%}&filter={%EVENTFILTERURL%}\">&lt<",
        "page={%EVENTNEXTPAGE%}&filter={%EVENTFILTERURL%}\">&gt<",
        "name=\"filter\" value=\"{%FILTER%}\"", "value=\"Tra\x9Ei\""}},
      {"ABOUT",
       {"Ormelin sustav za sinkronizaciju", "Serverski modul ver. {%VERZIJA%}", ">Nova verzija<",
        "href=\"index.html\" class=\"text2\">Glavna strana<", "<p><br><br></p>"}},
      {"PROPALAAKCIJA",
       {"Akcija {%ACTION%} <STRONG>nije</STRONG> pokrenuta:", "Poruka: {%MESSAGE%}",
        "href=\"index.html\">Glavna strana<", "<p><br><br></p>"}},
  };
  for (const auto& [name, parts] : expected) {
    const std::string text = GetResourceText(name, "TEXT");
    for (const std::string& part : parts)
      EXPECT_NE(text.find(part), std::string::npos) << name << ": " << part;
  }
}

TEST(StyleSheet, HoldsEveryRule) {
  const std::string css(GetResourceData("STYLE_CSS"));
  const char* const rules[] = {
      "P { font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 11px; color: #000000; }",
      ".text2 { font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 11px; color: "
      "#5EA1D8; "
      "font-weight: bold; text-indent: 0px; }",
      ".white { font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 11px; color: "
      "#000000; "
      "font-weight: bold; text-indent: 0px; }",
      ".title { font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 14px; color: "
      "#FF5A00; "
      "font-weight: bold; text-indent: 10px; }",
      "A:link, A:visited { font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 11px; "
      "color: #6699CC; font-weight: bold; text-decoration: none; }",
      "A:hover { font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 11px; color: "
      "#6699CC; "
      "font-weight: bold; text-decoration: underline; }",
  };
  for (const char* rule : rules) EXPECT_NE(css.find(rule), std::string::npos) << rule;
  EXPECT_NE(css.find(".text {"), std::string::npos);
  EXPECT_NE(css.find(".bottom {"), std::string::npos);
}

// Width and height from the JPEG's start-of-frame segment.
bool JpegSize(std::string_view jpeg, int& width, int& height) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(jpeg[i]); };
  if (jpeg.size() < 4 || byte(0) != 0xFF || byte(1) != 0xD8) return false;
  size_t at = 2;
  while (at + 9 < jpeg.size()) {
    if (byte(at) != 0xFF) return false;
    const unsigned char marker = byte(at + 1);
    const size_t length = (byte(at + 2) << 8) | byte(at + 3);
    const bool frame =
        marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame) {
      height = (byte(at + 5) << 8) | byte(at + 6);
      width = (byte(at + 7) << 8) | byte(at + 8);
      return true;
    }
    at += 2 + length;
  }
  return false;
}

TEST(Images, AreJpegsOfTheStatedSizes) {
  struct {
    const char* name;
    int width, height;
  } cases[] = {{"ORMELINPROJECT_JPG", 300, 80}, {"ORMELINPROJECT_FOOTER_JPG", 293, 30}};
  for (const auto& c : cases) {
    int width = 0, height = 0;
    ASSERT_TRUE(JpegSize(GetResourceData(c.name), width, height)) << c.name;
    EXPECT_EQ(width, c.width) << c.name;
    EXPECT_EQ(height, c.height) << c.name;
  }
}

}  // namespace
}  // namespace ormelin
