// What each input file of a link puts into the program's file, read from the GNU ld map
// the link wrote (-Map). Pure; any thread.
#pragma once

#include <istream>
#include <vector>

#include "Figure.h"

namespace vela::bench {

// The bytes (Part::value) of file contents (not .bss, not what strip removes) that each
// input file gives the program, largest first: objects by file name without their folder.
// What the linker makes itself is named in parentheses: "(dynamic linking tables)"
// (symbols, relocations, GOT, PLT and its stubs) and "(unwind table index)".
std::vector<Part> partsOfLinkMap(std::istream &map);

}  // namespace vela::bench
