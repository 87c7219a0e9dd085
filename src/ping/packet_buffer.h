#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace bv {

using PacketBuffer = std::unique_ptr<std::uint8_t[]>;

// 0 when allocated; -1 after the error note.
int allocateBuffer(PacketBuffer& buffer, std::size_t size);

}  // namespace bv
