#pragma once

#include <string>

class Network;
struct ReplyInfo;

// Reads every ICMP datagram and applies those about our requests to their
// hosts. Returns 0.
int receiverThread(Network& network);

// Called with the vector mutex held. -1 when no host has the key, else 0.
int applyReply(const std::string& key, Network& network, const ReplyInfo& reply);
