// memtrack's three forms of the same findings: plain text, JSON and one HTML page.
#ifndef MEMTRACK_REPORTS_H
#define MEMTRACK_REPORTS_H

#include <cstdio>
#include <string>
#include <vector>

#include "analysis.h"

namespace memtrack {

// Leaks listed, largest first; the rest are only counted and summed.
constexpr std::size_t kTextLeaks = 20;
constexpr std::size_t kJsonLeaks = 1000;

void WriteText(std::FILE* out, std::string const& base, Analysis const& analysis);
void WriteDiffText(std::FILE* out, std::string const& first, std::string const& second,
                   std::vector<PhaseDiff> const& diffs);

void WriteJson(std::FILE* out, std::string const& base, Analysis const& analysis);
void WriteDiffJson(std::FILE* out, std::string const& first, std::string const& second,
                   std::vector<PhaseDiff> const& diffs);

// JSON text of a string, quotes included.
std::string JsonString(std::string const& text);

void WriteHtml(std::FILE* out, std::string const& base, Analysis const& analysis);

}  // namespace memtrack

#endif
