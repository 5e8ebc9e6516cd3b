#include "reference/DiffList.h"

#include "comparer/ReceivedTree.h"
#include "comparer/SyncAnswer.h"
#include "comparer/TreeReader.h"
#include "server/usvOrmelinS.h"

namespace ormelin {

std::string BuildDiffList(TZevanOrmelinS& module, const TorProject& project,
                          const std::string& clientTree) {
  const TZevanOrmelinS::TDiffTrees trees = module.CompareWithClient(
      project, [&clientTree](TStreamingTreeReader& reader) { reader.Feed(clientTree); });
  return SyncAnswerXML(trees.Server->Tree, *trees.Client);
}

}  // namespace ormelin
