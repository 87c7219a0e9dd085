#pragma once

#include <string>

namespace bv {

struct EngineContext;
struct ReplyInfo;

// Reads every ICMP datagram and applies those about our requests to their
// hosts. Returns 0.
int receiverThread(EngineContext& engine);

enum class ReplyMatch { Applied, NoSuchHost };

// Called with the vector mutex held. Applied also when the host was not
// waiting and nothing changed.
ReplyMatch applyReply(const std::string& key, EngineContext& engine, const ReplyInfo& reply);
// The same, except that a count to give back is added to `countsOwed` for
// the caller to release once it has let go of the vector mutex.
ReplyMatch applyReply(const std::string& key, EngineContext& engine, const ReplyInfo& reply, int& countsOwed);

// Gives back the counts that applyReply left owed; each gives the trace or
// the error note that applyReply would have written.
void releaseOwedCounts(EngineContext& engine, int& countsOwed);

}  // namespace bv
