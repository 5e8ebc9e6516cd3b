#include "net/HTTPParams.h"

#include <gtest/gtest.h>

#include "net/HTTPHeaderList.h"

namespace ormelin {
namespace {

std::vector<std::string> Decoded(const std::string& text) {
  TParameterList list;
  list.Add("stale=1");
  DecodeParameters(text, list);
  return list.Entries();
}

TEST(DecodeParameters, Table) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"akcija=Pokreni", {"akcija=Pokreni"}},
      {"port=19+74", {"port=19 74"}},
      {"a=%2B", {"a=+"}},
      {"a=%4", {std::string("a=\x04", 3)}},
      {"a=%zz1", {"a=1"}},
      {"a=b%", {"a=b"}},
      {"a=%00b", {std::string("a=\0b", 4)}},
      {"a=1&&b=2", {"a=1", "", "b=2"}},
      {"a=1&", {"a=1"}},
      {"&", {""}},
      {"", {}},
      {"x=%26y%3Dz", {"x=&y=z"}},
      {"rootpath=D%3A%5CData", {"rootpath=D:\\Data"}},
      {"name=%C8%e8", {"name=\xC8\xE8"}},
  };
  for (const auto& [text, entries] : cases) EXPECT_EQ(Decoded(text), entries) << text;
}

TEST(DecodeParameters, LookupIgnoresCaseAndTakesTheFirst) {
  TParameterList list;
  DecodeParameters("akcija=Pokreni&flag&port=1&PORT=2&empty=", list);
  EXPECT_EQ(list.Value("AKCIJA"), "Pokreni");
  EXPECT_EQ(list.Value("port"), "1");
  EXPECT_EQ(list.Value("flag"), "");  // an entry without "=" never matches
  EXPECT_EQ(list.Value("empty"), "");
  EXPECT_EQ(list.Value("missing"), "");
}

TEST(RequestPathOf, Table) {
  struct TCase {
    std::string target, path, host;
  };
  const std::vector<TCase> cases = {
      {"/index.html", "/index.html", ""},
      {"", "", ""},
      {"*", "*", ""},
      {"/a%20b.html", "/a b.html", ""},
      {"\\index.html", "/index.html", ""},
      {"/dir\\sub%2Fx/doc.html", "/dir/sub/x/doc.html", ""},
      {"/x=%41", "/x=%41", ""},
      {"/a%41/b=%41/c", "/aA/b=%41/c", ""},
      {"/p=1#frag", "/p=1", ""},
      {"http://example.org:1975/index.html", "/index.html", "example.org"},
      {"http://user:pw@host/a%20b#top", "/a b", "host"},
      {"http://[::1]:80/x", "/x", "::1"},
      {"http://host", "/", "host"},
  };
  for (const TCase& c : cases) {
    std::string host;
    EXPECT_EQ(RequestPathOf(c.target, host), c.path) << c.target;
    EXPECT_EQ(host, c.host) << c.target;
  }
}

TEST(Base64Decode, Credentials) {
  EXPECT_EQ(Base64Decode("dXNlcjpwYXNz"), "user:pass");
  EXPECT_EQ(Base64Decode("YTpiOmM="), "a:b:c");
  EXPECT_EQ(Base64Decode("YQ=="), "a");
  EXPECT_EQ(Base64Decode(""), "");
}

TEST(THeaderList, LookupUnfoldsAndSetReplacesInPlace) {
  THeaderList headers;
  headers.Add("Host: localhost:1975");
  headers.Add("X-Long:  first  ");
  headers.Add("   second ");
  headers.Add("\tthird");
  headers.Add("Accept: */*");
  headers.Add("x-long: duplicate");
  EXPECT_EQ(headers.Values("HOST"), "localhost:1975");
  EXPECT_EQ(headers.Values("x-long"), "first   second third");
  EXPECT_EQ(headers.Values("Missing"), "");
  headers.SetValue("accept", "text/html");
  EXPECT_EQ(headers[4], "accept: text/html");
  headers.SetValue("Host", "");
  EXPECT_FALSE(headers.Has("Host"));
  headers.SetValue("New", "1");
  EXPECT_EQ(headers.Lines().back(), "New: 1");
}

}  // namespace
}  // namespace ormelin
