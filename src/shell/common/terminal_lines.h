#pragma once

#include "core/monitor_events.h"

#include <string>

namespace bv {

// What a terminal or a journal shows of a run without the trace: a line
// when it starts, one per logged change, one per reload of the host list.

// "BeaconVigilor <version> watching 5 hosts every 30 s; log out.txt, down file down.txt"
std::string runStartLine(const RunDescription& run);

// The log line's fields, for a reader:
// "Tue Dec  8 09:10:00 2026 RED db1 10.0.0.1 (main database): Timed out"
// "Tue Dec  8 09:12:00 2026 GREEN db1 10.0.0.1 (main database): back after 120 s"
std::string changeLine(const Address& change);

// A slow or loss alarm raised or ended (median and threshold in ms, loss
// in percent, with at most three decimals):
// "SLOW db1 10.0.0.1: median 250 ms over 20 requests, threshold 100 ms"
// "LOSS db1 10.0.0.1: loss 30 % over 20 requests, threshold 10 %"
// "SLOW db1 10.0.0.1: normal again, median 70 ms"
// "LOSS db1 10.0.0.1: normal again, loss 0 %"
// The slow alarm's requests are those answered, which the median covers.
std::string alarmLine(const RoundTripAlarmChange& change);

// "Reloaded hosts.txt: 10 kept, 1 added (10.0.0.9), 2 removed (10.0.0.3, 10.0.0.4)"
std::string reloadLine(const HostListReload& reload);

// What went wrong in a reload, a line each: the lines the loader skipped,
// or "Could not reload the host list hosts.txt: Could not open input file:
// No such file or directory; the hosts stay as they were". Empty when
// nothing did.
std::vector<std::string> reloadProblems(const HostListReload& reload);

}  // namespace bv
