// The benchmark report: the figures with their ratios and verdicts, as a table for people
// and as JSON for programs. Pure functions of their arguments; any thread.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "Figure.h"

namespace vela::bench {

enum class Verdict { Met, Missed, Reported, Skipped, Failed };

// shell / baseline, or NaN when either is missing.
double ratioOf(const Figure &figure);
// The same for the CPU time per unit.
double cpuRatioOf(const Figure &figure);
// Judges the figure by its target: "report", "skipped", or conditions that must all hold,
// separated by commas: "ratio<=X", "ratio>=X", "cpu<=X" (the CPU ratio), "value<=X",
// "value==X"; a value==X target is met within 0.005, so allocation counts below one per
// 200 lines read as none. An unknown target reports.
Verdict verdictOf(const Figure &figure);
// The target as the table shows it (">= 0.800x, CPU <= 2.00x").
std::string targetText(const std::string &target);
// True when no figure failed or missed its target; skipped ones count as neither.
bool allTargetsMet(const std::vector<Figure> &figures);
// "1a" < "1b" < "2a" < "10a": by the leading number, then by the rest.
bool idLess(const std::string &a, const std::string &b);
// The report's order: the host build's rows first, then each other build's, each by id.
bool figureLess(const Figure &a, const Figure &b);

// The table, one row per figure, in the given order, a heading before each build's rows,
// and what the CPU columns count.
void printTable(std::ostream &out, const std::vector<Figure> &figures);
// The parts of the figures made of parts, each figure's under its id and what.
void printParts(std::ostream &out, const std::vector<Figure> &figures);
// The JSON document: machine, then every figure with its ratios, verdict and parts.
void writeJson(std::ostream &out, const std::vector<Figure> &figures, const std::string &machine);
// Text as a JSON string literal, quotes included.
std::string jsonString(const std::string &text);

}  // namespace vela::bench
