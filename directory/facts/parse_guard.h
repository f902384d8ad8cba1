#pragma once

#include <cstddef>
#include <string_view>

// Keeps hostile pages from tying up the HTML reader. An HTML5 tree builder
// spends time growing with the square of the element nesting
// depth (about 3 s for 10,000 nested elements, 25 s for 20,000), and it
// re-opens every unclosed formatting element (<b>, <font>, ...) after each
// block that closed it, so 200 unclosed <b> followed by "<div>x</div>"
// repeated make 200 elements per 12 bytes (1.5 GB from a 240 KB page). A
// light scan of the tags, modelling just these two effects, finds where a
// page would pass either limit; only the part before is parsed. Real pages
// stay far below both.
namespace kelvora::directory::facts {

// Elements open at once, at most.
constexpr std::size_t kMaxNestingDepth = 256;
// Formatting elements re-opened over the whole page, at most.
constexpr std::size_t kMaxReopenedElements = 100'000;

// How many bytes of html to hand to the parser: all of them, or those
// before the tag or text where a limit would be passed.
std::size_t ParseableLength(std::string_view html);

} // namespace kelvora::directory::facts
