// Windows: no notifications are used yet (ReadDirectoryChangesW would be
// the way), so a watch never vouches and every sync reads the folder itself.
#include "platform/FolderWatch.h"

namespace ormelin {

struct TFolderWatch::TImpl {};

TFolderWatch::TFolderWatch() : impl_(std::make_unique<TImpl>()) {
  limit_ = TFolderWatchLimit::Unsupported;
}

void TFolderWatch::Watch(std::string_view, int) {}

TFolderWatch::~TFolderWatch() = default;

bool TFolderWatch::Changed() {
  return true;
}

int TFolderWatch::WatchCount() const {
  return 0;
}

}  // namespace ormelin
