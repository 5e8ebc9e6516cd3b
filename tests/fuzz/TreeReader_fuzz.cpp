// Fuzz target for the streaming reader of the client's tree: for any bytes,
// fed in pieces whose sizes the input's first byte chooses, the reader
// builds the same tree as TLoader::LoadFromXML (every entry's name and time,
// in list order) or fails with the same error type and message; and the
// sync's answer to that tree from a fixed project, through the packed trees,
// is the task builder's. Any difference aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "support/TreeOutcome.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks the pieces (PatternCuts).
  const unsigned pattern = data[0];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  const std::vector<size_t> cuts = ormelin::testing::PatternCuts(pattern, text.size());
  const std::string expected = ormelin::testing::OutcomeByNodes(text);
  const std::string streamed = ormelin::testing::OutcomeStreamed(text, cuts);
  if (streamed != expected) {
    std::fprintf(stderr,
                 "the streaming reader differs from LoadFromXML\nnode path:\n%s\nstreamed:\n%s\n",
                 expected.c_str(), streamed.c_str());
    std::abort();
  }

  // A project whose names clash but for case and accents, with an empty
  // name and names only a collation tells apart.
  static const char kProject[] =
      "<tree><file><name>a.txt</name><datemodified>2008-11-14 10-20-30</datemodified></file>"
      "<file><name>A.TXT</name><datemodified>2008-11-14</datemodified></file>"
      "<file><name>\xe8</name><datemodified>2021-1-2 3-4-5</datemodified></file>"
      "<file><datemodified>2008-11-14</datemodified></file>"
      "<directory><name>B</name><file><name>doc</name></file>"
      "<directory><name>a</name><file><name>1</name></file></directory></directory>"
      "<directory><name>b</name><file><name>x</name></file></directory></tree>";
  static ormelin::TDirectory* project = [] {
    auto* tree = new ormelin::TDirectory();
    ormelin::TLoader::LoadFromXML(kProject, tree);
    return tree;
  }();
  static const ormelin::TFrozenTree* frozen = new ormelin::TFrozenTree(*project);
  static const ormelin::TCompactTree* compact = [] {
    auto* tree = new ormelin::TCompactTree(ormelin::TCompactTree::FromDirectory(*project));
    tree->Freeze();
    return tree;
  }();
  const std::string byBuilder = ormelin::testing::AnswerByNodes(*frozen, text);
  const std::string packed = ormelin::testing::AnswerCompact(*compact, text);
  if (packed != byBuilder) {
    std::fprintf(stderr, "the packed answer differs\ntask builder:\n%s\npacked:\n%s\n",
                 byBuilder.c_str(), packed.c_str());
    std::abort();
  }
  return 0;
}
