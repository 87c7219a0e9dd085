#include "platform/raw_socket.h"

namespace bv::platform::detail {

ErrorOr<std::size_t> receiveOneWaitingDatagram(const IcmpEndpoint& socket, DatagramBatch& batch)
{
    if (!TRY(waitForReadable(socket, 0)))
        return std::size_t { 0 };
    batch.cut[0] = false;
    auto received = receiveDatagram(socket, batch.slot(0), DatagramBatch::kSlotSize);
    if (received.is_error()) {
        if (!received.error().is(ErrorKind::MessageTooLong))
            return received.release_error();
        batch.received[0] = ReceivedDatagram {};
        batch.cut[0] = true;
        return std::size_t { 1 };
    }
    batch.received[0] = received.release_value();
    return std::size_t { 1 };
}

}  // namespace bv::platform::detail
