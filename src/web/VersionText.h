// The build's version text for the about page: the two version-control
// information texts stored with the executable (SVN_INFO for the server
// module, SVN_INFO_COMPARER for the tree-comparison module), each condensed
// to module-branch@last-changed-revision (revision).
//
// Threading: pure functions over read-only resources, safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace ormelin {

// The short form of one information text: "%s-%s@%s (%s)" with the module
// folder and the branch path of its "URL:" line, its "Last Changed Rev:"
// and its "Revision:". Lines may end in CR LF, LF or CR; a line that is
// missing or does not fit leaves its parts empty (a text with none of them
// gives "-@ ()"). Never fails.
std::string ShortVersionForm(std::string_view info);

// The short form of the named TEXT resource. A missing resource raises
// EResNotFound "Resource %s not found".
std::string ParseVersionInfo(std::string_view resourceName);

// ParseVersionInfo("SVN_INFO") + " / " + ParseVersionInfo("SVN_INFO_COMPARER"),
// read at the first call (the resources never change).
std::string VersionText();

}  // namespace ormelin
