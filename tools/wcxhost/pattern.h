// Glob patterns for choosing entries, matched against the entry's path as
// the host shows it ('/'-separated on POSIX, '\' on Windows). Written here
// rather than taken from the C library so that it behaves the same on every
// platform.
//
//   *      any run of characters, separators included
//   ?      any one character
//   [abc]  one of the listed characters; ranges a-z; [!...] or [^...] negates
//   / \    either matches either separator, so a pattern means the same on
//          every platform and whichever form the plug-in reports
// Everything else matches itself, case-sensitively.
#pragma once

#include <string>
#include <vector>

namespace pattern {

bool matches(const std::string& pat, const std::string& path);
// True when `pats` is empty (everything is selected) or any pattern matches.
bool selects(const std::vector<std::string>& pats, const std::string& path);
// selects(), trying every pattern and setting matched[i] for each pattern
// i that matches (`matched` has one element per pattern).
bool selects(const std::vector<std::string>& pats, const std::string& path, std::vector<bool>& matched);

}  // namespace pattern
