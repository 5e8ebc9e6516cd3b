#include "logger/zeLogDump.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "logger/zeRegex.h"
#include "platform/Format.h"
#include "platform/Text.h"
#include "web/ResourceGet.h"

namespace ormelin {
namespace {

// A small page: links before the block, one row per event as [id|text].
const std::string kPage =
    "prev={%EVENTPREVPAGE%} next={%EVENTNEXTPAGE%}\r\n"
    "<!--{%EVENTLOG%}-->[{%EVENTID%}|{%EVENTTEXT%}]<!--{%/EVENTLOG%}-->\r\n"
    "end";

struct TRow {
  int id;
  std::string text;
  bool operator==(const TRow& o) const { return id == o.id && text == o.text; }
};

std::vector<TRow> Rows(const std::string& page) {
  std::vector<TRow> rows;
  size_t at = page.find("\r\n") + 2;
  const size_t end = page.rfind("\r\nend");
  while (at < end) {
    EXPECT_EQ(page[at], '[');
    const size_t bar = page.find('|', at);
    const size_t close = page.find(']', bar);
    rows.push_back(
        {std::stoi(page.substr(at + 1, bar - at - 1)), page.substr(bar + 1, close - bar - 1)});
    at = close + 1;
  }
  return rows;
}

std::string FirstLine(const std::string& page) {
  return page.substr(0, page.find("\r\n"));
}

TEST(DumpEventLog, PagesOfFortyFiveEvents) {
  TzeEventLog log;
  for (int i = 1; i <= 45; ++i)
    log.Add(
        Format("Doga\xF0"
               "aj %d",
               i));
  struct {
    const char* page;
    int first, last;
    const char* links;
  } cases[] = {
      {"1", 1, 20, "prev=1 next=2"},
      {"2", 21, 40, "prev=1 next=3"},
      {"3", 41, 45, "prev=2 next=4"},
      {"4", 0, -1, "prev=3 next=5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.page);
    const std::string page = DumpEventLog(log, kPage, c.page, "", 20);
    std::vector<TRow> expected;
    for (int n = c.first; n <= c.last; ++n)
      expected.push_back({n, Format("Doga\xF0"
                                    "aj %d",
                                    46 - n)});
    EXPECT_EQ(Rows(page), expected);
    EXPECT_EQ(FirstLine(page), c.links);
    EXPECT_EQ(page.find("<!--"), std::string::npos);
  }
}

TEST(DumpEventLog, PageNumberTexts) {
  TzeEventLog log;
  for (int i = 1; i <= 5; ++i) log.Add(Format("e%d", i));
  struct {
    const char* page;
    int firstId;  // 0 for no rows
    const char* links;
  } cases[] = {
      {"", 1, "prev=1 next=2"},
      {"abc", 1, "prev=1 next=2"},
      {" 2 ", 3, "prev=1 next=3"},
      {"$2", 3, "prev=1 next=3"},
      {"0", 0, "prev=1 next=1"},
      {"-3", 0, "prev=1 next=-2"},
      {"2147483647", 0, "prev=2147483646 next=2147483648"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.page);
    const std::string page = DumpEventLog(log, kPage, c.page, "", 2);
    const std::vector<TRow> rows = Rows(page);
    if (c.firstId == 0) {
      EXPECT_TRUE(rows.empty());
    } else {
      ASSERT_EQ(rows.size(), 2u);
      EXPECT_EQ(rows[0].id, c.firstId);
    }
    EXPECT_EQ(FirstLine(page), c.links);
  }
}

TEST(DumpEventLog, FiltersAreCaseIgnoringRegularExpressions) {
  TzeEventLog log;
  for (const char* text : {"Server pokrenut", "Klijent 1 spojen", "klijent 2 spojen", "Hello od x",
                           "Server zaustavljen", "Poruka za KLIJENT",
                           "\xC8"
                           "a\x8A"
                           "a"}) {
    log.Add(text);
  }
  struct {
    const char* filter;
    std::vector<TRow> rows;
  } cases[] = {
      {"server", {{1, "Server zaustavljen"}, {2, "Server pokrenut"}}},
      {"^Klijent", {{1, "klijent 2 spojen"}, {2, "Klijent 1 spojen"}}},
      {"x*", {{1, "Hello od x"}}},
      {"\xE8"
       "a\x9A",
       {{1,
         "\xC8"
         "a\x8A"
         "a"}}},
      {"nema toga", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.filter);
    EXPECT_EQ(Rows(DumpEventLog(log, kPage, "1", c.filter, 20)), c.rows);
  }
  // Numbering runs across pages among the matching events only.
  EXPECT_EQ(Rows(DumpEventLog(log, kPage, "2", "klijent", 2)),
            (std::vector<TRow>{{3, "Klijent 1 spojen"}}));
}

TEST(DumpEventLog, InvalidFilterFailsOnlyWhenThereIsSomethingToTest) {
  TzeEventLog log;
  EXPECT_TRUE(Rows(DumpEventLog(log, kPage, "1", "(", 20)).empty());
  log.Add("Server pokrenut");
  EXPECT_EQ(DumpEventLog(log, "no block {%EVENTNEXTPAGE%}", "1", "(", 20),
            "no block {%EVENTNEXTPAGE%}");
  try {
    DumpEventLog(log, kPage, "1", "(", 20);
    FAIL() << "no error";
  } catch (const ERegexError& e) {
    EXPECT_NE(e.Message().find("missing closing parenthesis"), std::string::npos) << e.Message();
    EXPECT_NE(e.Message().find("offset 1"), std::string::npos) << e.Message();
  }
  // The lock was released: another thread can still add.
  std::thread([&] { log.Add("poslije"); }).join();
  EXPECT_EQ(log.Count(), 2);
}

TEST(DumpEventLog, EventTextsAreShownExactly) {
  TzeEventLog log;
  const std::string text = "C:\\put\\$1 \\1 {%EVENTID%} {%EVENTPREVPAGE%} {%EVENTTIME%}";
  log.Add(text);
  const std::string page = DumpEventLog(log, kPage, "1", "", 20);
  EXPECT_EQ(Rows(page), (std::vector<TRow>{{1, text}}));
  EXPECT_EQ(FirstLine(page), "prev=1 next=2");
}

TEST(DumpEventLog, RowTimeIsTheEventsTimeText) {
  TzeEventLog log;
  log.Add("jedan");
  const std::string page =
      DumpEventLog(log, "<!--{%EVENTLOG%}-->{%EVENTTIME%}<!--{%/EVENTLOG%}-->", "", "", 20);
  EXPECT_EQ(page, DateTimeToStr(log.Items(0)->Time(), DefaultFormatSettings()));
}

TEST(DumpEventLog, PageWithoutBlockIsUnchanged) {
  TzeEventLog log;
  log.Add("x");
  const std::string page = "<p>{%EVENTID%} {%EVENTFILTERURL%}</p>";
  EXPECT_EQ(DumpEventLog(log, page, "3", "a b", 20), page);
}

TEST(DumpEventLog, BlockRunsFromFirstOpeningToLastClosingMarker) {
  TzeEventLog log;
  log.Add("x");
  const std::string page = DumpEventLog(
      log, "A<!--{%EVENTLOG%}-->r<!--{%/EVENTLOG%}-->B<!--{%/EVENTLOG%}-->C", "", "", 20);
  EXPECT_EQ(page, "Ar<!--{%/EVENTLOG%}-->BC");
}

// A filter whose matching runs away fails the page quickly with the engine's
// message, and the log is unlocked for the threads that add to it.
TEST(DumpEventLog, RunawayFilterFailsAndReleasesTheLog) {
  auto* log = new TzeEventLog;  // outlives a stuck adder if the lock leaked
  log->Add(std::string(40, 'a') + "!");
  for (int i = 0; i < 20; ++i) log->Add("aaa");
  // The walk stops when the page is full, so page 1 never reaches the old event.
  EXPECT_EQ(Rows(DumpEventLog(*log, kPage, "1", "(a+)+$", 20)).size(), 20u);
  try {
    DumpEventLog(*log, kPage, "2", "(a+)+$", 20);
    FAIL() << "no error";
  } catch (const ERegexError& e) {
    EXPECT_NE(e.Message().find("limit"), std::string::npos) << e.Message();
  }
  auto added = std::make_shared<std::promise<void>>();
  std::thread([log, added] {
    log->Add("poslije");
    added->set_value();
  }).detach();
  ASSERT_EQ(added->get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
  EXPECT_EQ(log->Items(0)->Text(), "poslije");
  delete log;
}

TEST(PercentEncode, KeepsOnlyUnreservedBytes) {
  EXPECT_EQ(PercentEncode("aZ09-_.~"), "aZ09-_.~");
  EXPECT_EQ(PercentEncode("a b+c&d%e#f=\"<>"), "a%20b%2Bc%26d%25e%23f%3D%22%3C%3E");
  EXPECT_EQ(PercentEncode("\x9A\xFF"), "%9A%FF");
  EXPECT_EQ(PercentEncode(""), "");
}

std::string PercentDecode(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The console's own page: the filter typed by the user is shown as text in
// the field (escaped when the field is filled) and carried by every paging
// link, percent-encoded.
TEST(DumpEventLog, EventLogTemplateCarriesTheFilterSafely) {
  TzeEventLog log;
  log.Add("\"><script>alert(1)</script>");
  log.Add("obi\xE8no");
  const std::string filter = "\"><script>";
  std::string page = ReplaceTextIgnoringCase(GetResourceText("EVENTLOG", "TEXT"), "{%FILTER%}",
                                             HtmlEscape(filter));
  page = DumpEventLog(log, page, "1", filter, 20);

  EXPECT_EQ(page.find("{%"), std::string::npos);
  EXPECT_EQ(page.find("<!--"), std::string::npos);
  EXPECT_NE(page.find("value=\"&quot;&gt;&lt;script&gt;\""), std::string::npos);
  // The event itself is shown as logged (event texts may carry markup).
  EXPECT_NE(page.find("<p>\"><script>alert(1)</script></p>"), std::string::npos);
  EXPECT_EQ(page.find("obi\xE8no"), std::string::npos);

  const std::string encoded = PercentEncode(filter);
  EXPECT_EQ(PercentDecode(encoded), filter);
  for (const char* link : {"eventlog.html?page=1&filter=", "eventlog.html?page=1&filter=",
                           "eventlog.html?page=2&filter="}) {
    EXPECT_NE(page.find(std::string(link) + encoded + "\""), std::string::npos) << link;
  }
  size_t links = 0;
  for (size_t at = page.find("&filter=" + encoded + "\""); at != std::string::npos;
       at = page.find("&filter=" + encoded + "\"", at + 1)) {
    ++links;
  }
  EXPECT_EQ(links, 3u);
}

// Pages rendered while other threads add: each page is one consistent,
// newest-first snapshot.
TEST(DumpEventLog, ConsistentWhileOthersAdd) {
  TzeEventLog log;
  std::atomic<bool> done{false};
  std::thread adder([&] {
    for (int i = 0; i < 2000; ++i) log.Add(Format("%d", i));
    done = true;
  });
  while (!done) {
    const std::vector<TRow> rows = Rows(DumpEventLog(log, kPage, "1", "", 20));
    for (size_t i = 0; i < rows.size(); ++i) {
      ASSERT_EQ(rows[i].id, static_cast<int>(i) + 1);
      if (i > 0) {
        ASSERT_EQ(std::stoi(rows[i].text), std::stoi(rows[i - 1].text) - 1);
      }
    }
  }
  adder.join();
}

}  // namespace
}  // namespace ormelin
