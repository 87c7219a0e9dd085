#pragma once

#include <string_view>

namespace bv {

// The trace stream (standard output) and the error stream (standard error).
// Each call writes one whole line, so lines of different threads never mix.
namespace platform {

// False when the trace is turned off, or standard output goes nowhere
// (closed or the null device), so that callers may skip building trace
// lines nobody can read.
bool traceWanted();

// The trace is on unless turned off; a run turns it off unless asked for it
// (-trace), so that a terminal or a journal is not flooded.
void setTraceEnabled(bool enabled);
bool traceEnabled();

// A line for the reader of standard output, whatever the trace does.
void outputLine(std::string_view line);

void traceLine(std::string_view line);
void errorLine(std::string_view line);

namespace detail {
// Each backend: whether standard output leads anywhere a reader could be.
bool standardOutputGoesSomewhere();
}  // namespace detail

}  // namespace platform

}  // namespace bv
