// Random damage for the streaming readers' differential tests: the harm any
// XML text may come to (cut short, a stray byte, an entity whole or cut, a
// closing tag lost or misspelt, a byte removed). Each reader's generator
// adds the damage its own dialect invites.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

namespace ormelin::testing {

class TXMLMutator {
 public:
  explicit TXMLMutator(uint32_t seed) : random_(seed) {}

  int Pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random_); }
  bool Chance(int percent) { return Pick(100) < percent; }
  std::mt19937& Random() { return random_; }

 protected:
  static constexpr int kCommonDamage = 5;

  // Applies damage `kind` (0 to kCommonDamage - 1) at `at`.
  void Damage(std::string& xml, size_t at, int kind) {
    switch (kind) {
      case 0:
        xml.resize(at);
        break;
      case 1: {
        static const char stray[] = "<>/&; \r\naT";
        xml.insert(at, 1, stray[Pick(sizeof stray - 1)]);
        break;
      }
      case 2: {
        static const char* const entities[] = {"&amp;",  "&lt;",  "&GT;", "&apos",
                                               "&quot;", "&#38;", "&"};
        xml.insert(at, entities[Pick(7)]);
        break;
      }
      case 3: {
        const size_t close = xml.find("</", at);
        if (close == std::string::npos) break;
        const size_t end = xml.find('>', close);
        if (end == std::string::npos) break;
        if (Chance(50))
          xml.erase(close, end - close + 1);
        else
          xml.insert(close + 2, "x");
        break;
      }
      case 4:
        if (at < xml.size()) xml.erase(at, 1);
        break;
    }
  }

 private:
  std::mt19937 random_;
};

}  // namespace ormelin::testing
