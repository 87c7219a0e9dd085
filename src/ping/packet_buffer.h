#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace bv {

using PacketBuffer = std::unique_ptr<std::uint8_t[]>;

// False after the error note when the memory is not to be had.
bool allocateBuffer(PacketBuffer& buffer, std::size_t size);

}  // namespace bv
