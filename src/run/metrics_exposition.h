#pragma once

#include <string>

namespace bv {

class Network;

inline constexpr const char* kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";
inline constexpr const char* kMetricsPath = "/metrics";

// The run as Prometheus's text format shows it at this moment. Takes the
// run's vector mutex for the walk over the hosts.
std::string metricsExposition(Network& network);

// A label value as the format writes it between double quotes.
std::string escapeLabelValue(const std::string& value);

}  // namespace bv
