#pragma once

#include <string_view>

namespace bv {

// The trace stream (standard output) and the error stream (standard error).
// Each call writes one whole line, so lines of different threads never mix.
namespace platform {

// False when standard output goes nowhere (closed or the null device), so
// that callers may skip building trace lines nobody can read.
bool traceWanted();

void traceLine(std::string_view line);
void errorLine(std::string_view line);

namespace detail {
// Each backend: whether standard output leads anywhere a reader could be.
bool standardOutputGoesSomewhere();
}  // namespace detail

}  // namespace platform

}  // namespace bv
