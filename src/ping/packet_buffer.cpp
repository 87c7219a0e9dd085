#include "ping/packet_buffer.h"

#include "platform/diagnostics.h"

#include <new>

namespace bv {

bool allocateBuffer(PacketBuffer& buffer, std::size_t size)
{
    buffer.reset(new (std::nothrow) std::uint8_t[size]());
    if (!buffer) {
        platform::errorLine("Failed to allocate output buffer.");
        return false;
    }
    return true;
}

}  // namespace bv
