#pragma once

#include "platform/ip_address.h"

namespace bv {

struct EngineContext;
struct ReplyInfo;

// Reads every ICMP datagram of the family's socket and applies those about
// our requests to their hosts. The IPv6 one waits until its socket opens.
// Returns 0.
int receiverThread(EngineContext& engine, platform::AddressFamily family = platform::AddressFamily::V4);

enum class ReplyMatch { Applied, NoSuchHost };

// Called with the vector mutex held. Applied also when the host was not
// waiting and nothing changed.
// `about` is whom the message is about (ReplyInfo::about).
ReplyMatch applyReply(const platform::IpAddress& about, EngineContext& engine, const ReplyInfo& reply);
// The same, except that a count to give back is added to `countsOwed` for
// the caller to release once it has let go of the vector mutex.
ReplyMatch applyReply(
    const platform::IpAddress& about, EngineContext& engine, const ReplyInfo& reply, int& countsOwed);

// Gives back the counts that applyReply left owed; each gives the trace or
// the error note that applyReply would have written.
void releaseOwedCounts(EngineContext& engine, int& countsOwed);

}  // namespace bv
