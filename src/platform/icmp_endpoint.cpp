#include "platform/raw_socket.h"

namespace bv {

namespace platform {

ErrorOr<IcmpEndpoint, IcmpRefusal> openIcmpEndpoint(AddressFamily family)
{
    auto raw = openIcmpEndpointOfKind(IcmpSocketKind::Raw, family);
    if (!raw.is_error())
        return raw.release_value();
    IcmpRefusal refusal { raw.release_error(), std::nullopt };
    // Another failure would be the other kind's too.
    if (!refusedForWantOfRights(refusal.raw))
        return refusal;
    auto unprivileged = openIcmpEndpointOfKind(kUnprivilegedIcmpKind, family);
    if (!unprivileged.is_error())
        return unprivileged.release_value();
    refusal.fallback = unprivileged.release_error();
    return refusal;
}

}  // namespace platform

}  // namespace bv
