// Wine and the folder watch. Under Wine a folder's changes reach a
// ReadDirectoryChangesW late: the wineserver reads them from inotify when
// it comes to it, and a thread of the process then fills the read in, so
// a change complete before TFolderWatch::Changed() may not show yet. The
// watch therefore does not vouch under Wine (TFolderWatchLimit::Unsupported)
// unless told to, which only the tests of its own working do, waiting for
// what they expect to see. Safe from any thread.
#pragma once

namespace ormelin {

// Whether this process runs under Wine.
bool RunsUnderWine();

// Lets every watch set up from now on vouch under Wine all the same (for
// tests), or stops it.
void LetFolderWatchVouchUnderWine(bool vouch);

}  // namespace ormelin
