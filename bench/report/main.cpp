// vela_bench_report: prints the figures of a results file as one table and writes them as
// JSON.   vela_bench_report --results FILE [--json PATH] [--machine TEXT]
// Exits 0 when every figure with a target met it, 1 otherwise, 2 on a usage error.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>

#include "Report.h"

int main(int argc, char **argv) {
    using namespace vela::bench;
    std::string results, json, machine;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--results") == 0 && hasValue) {
            results = argv[++i];
        } else if (std::strcmp(argv[i], "--json") == 0 && hasValue) {
            json = argv[++i];
        } else if (std::strcmp(argv[i], "--machine") == 0 && hasValue) {
            machine = argv[++i];
        } else {
            results.clear();
            break;
        }
    }
    if (results.empty()) {
        std::fputs("usage: vela_bench_report --results FILE [--json PATH] [--machine TEXT]\n",
                   stderr);
        return 2;
    }
    int skipped = 0;
    std::vector<Figure> figures = readFigures(results, &skipped);
    std::stable_sort(figures.begin(), figures.end(), figureLess);
    printTable(std::cout, figures);
    printParts(std::cout, figures);
    for (const Figure &f : figures) {
        const Verdict v = verdictOf(f);
        if (v == Verdict::Failed || v == Verdict::Skipped)
            std::cout << f.id << ": " << f.note << "\n";
    }
    if (skipped > 0) std::cout << skipped << " unreadable line(s) in " << results << "\n";
    if (!json.empty()) {
        std::ofstream out(json);
        writeJson(out, figures, machine);
        if (!out) {
            std::fprintf(stderr, "vela_bench_report: cannot write %s\n", json.c_str());
            return 2;
        }
    }
    return allTargetsMet(figures) ? 0 : 1;
}
