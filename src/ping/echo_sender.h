#pragma once

#include "ping/icmp_message.h"
#include "ping/icmp_socket.h"
#include "platform/raw_socket.h"

namespace bv {

struct EngineContext;

// Sends every due host its echo request, at most six outstanding.
// 0 after exit was requested, 1 when the packet buffer was not allocated.
int echoSenderThread(EngineContext& engine);

// One echo request to 127.0.0.1, sent before the threads start. Its send
// stamp is taken, so that the sender's stamps match its own sends.
SendResult sendPrimingEcho(IcmpSocket& socket);

// The packet size the sender uses: the setting clamped to 8..1024, compared
// as unsigned so that a negative setting becomes 1024.
int clampPacketSize(int packetSize);

}  // namespace bv
