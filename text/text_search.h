#pragma once

#include <cstddef>
#include <string_view>

// The byte searches behind the text helpers, for the text library's own use.
// Both scan whole pages near memory speed: sixteen bytes at a time, keeping
// only places where the pattern's first and last bytes both fit, and compare
// the rest there. Neither copies or lower-cases the text.
namespace kelvora::search {

// 0-based index of the leftmost occurrence of pattern in text at or after
// from; npos when there is none or pattern is empty.
std::size_t FindExact(std::string_view text, std::string_view pattern, std::size_t from);
// The same, A..Z and a..z compared without case. foldedPattern must already
// be lower-cased (A..Z mapped to a..z); no other byte has a case.
std::size_t FindFolded(std::string_view text, std::string_view foldedPattern, std::size_t from);
// LowerCase's work on a buffer in place.
void LowerCaseInPlace(char *data, std::size_t size);

} // namespace kelvora::search
