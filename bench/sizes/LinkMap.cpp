// A GNU ld map lists, after "Linker script and memory map", each output section at the
// start of a line ("NAME ADDRESS SIZE") and under it each input section indented by one
// blank (" NAME ADDRESS SIZE FILE"); a name too long for its column puts the rest of its
// line on the next one. Patterns (" *(...)"), fill (" *fill*") and symbols (deeper
// indentation, no size) are not sections.
#include "LinkMap.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <sstream>

namespace vela::bench {
namespace {

// Output sections that take no room in the file though they have an address.
bool noFileContents(const std::string &section) {
    return section == ".bss" || section == ".sbss" || section == ".tbss" || section == ".sbss2";
}

// What the linker itself makes, listed under whichever object came first: the tables
// of dynamic linking (symbols, versions, relocations, GOT, PLT and its call stubs) and the
// index of the unwind tables. Empty for a section of an object.
const char *linkerPart(const std::string &section) {
    if (section == ".eh_frame_hdr") return "(unwind table index)";
    if (section == ".got2") return "";  // each object's own addresses
    for (const char *prefix :
         {".interp", ".note", ".hash", ".gnu.hash", ".dynsym", ".dynstr", ".gnu.version", ".rela",
          ".rel.", ".dynamic", ".got", ".plt", ".iplt", ".glink"}) {
        if (section.rfind(prefix, 0) == 0) return "(dynamic linking tables)";
    }
    return "";
}

// "/usr/lib/../libc_nonshared.a(atexit.oS)" -> "libc_nonshared.a(atexit.oS)".
std::string shortName(const std::string &file) {
    const size_t member = std::min(file.find('('), file.size());
    const size_t slash = file.rfind('/', member);
    return slash == std::string::npos ? file : file.substr(slash + 1);
}

bool parseHex(const std::string &text, long long &value) {
    if (text.rfind("0x", 0) != 0) return false;
    char *end = nullptr;
    value = std::strtoll(text.c_str() + 2, &end, 16);
    return end != nullptr && *end == '\0';
}

}  // namespace

std::vector<Part> partsOfLinkMap(std::istream &map) {
    std::map<std::string, long long> bytes;
    std::string line;
    bool started = false;
    std::string pending;  // a section name whose address, size and file are on the next line
    bool pendingIsOutput = false;
    bool outputCounts = false;  // the current output section has contents in the file
    while (std::getline(map, line)) {
        if (!started) {
            started = line.rfind("Linker script and memory map", 0) == 0;
            continue;
        }
        if (line.empty()) continue;
        std::string name, rest;
        bool isOutput = false;
        if (!pending.empty()) {
            name = std::move(pending);
            pending.clear();
            isOutput = pendingIsOutput;
            rest = line;
        } else {
            const bool indented = line[0] == ' ';
            if (indented && (line.size() < 2 || line[1] == ' ' || line[1] == '*')) continue;
            std::istringstream in(line);
            in >> name;
            std::getline(in, rest);
            isOutput = !indented;
            if (rest.find_first_not_of(' ') == std::string::npos) {
                pending = name;
                pendingIsOutput = isOutput;
                continue;
            }
        }
        std::istringstream in(rest);
        std::string address, size, file;
        in >> address >> size;
        std::getline(in >> std::ws, file);
        long long start = 0, length = 0;
        if (!parseHex(address, start) || !parseHex(size, length)) continue;
        if (isOutput) {
            // Sections at address 0 are not loaded: comments, attributes, debugging.
            outputCounts = start != 0 && !noFileContents(name);
        } else if (outputCounts && length > 0 && !file.empty()) {
            const std::string linker = linkerPart(name);
            bytes[linker.empty() ? shortName(file) : linker] += length;
        }
    }
    std::vector<Part> parts;
    for (const auto &[name, count] : bytes)
        parts.push_back({name, static_cast<double>(count)});
    std::stable_sort(parts.begin(), parts.end(),
                     [](const Part &a, const Part &b) { return a.value > b.value; });
    return parts;
}

}  // namespace vela::bench
