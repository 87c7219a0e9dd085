#pragma once

#include "core/region.h"
#include "platform/name_lookup.h"

#include <functional>
#include <string>

namespace bv {

using NameResolver = std::function<platform::ErrorOr<platform::NameAddresses>(const std::string&)>;

// For -family both: looks up the list's names, several at once (a list of
// names behind a slow name server would otherwise hold up the start for
// each in turn), and gives each name that has addresses of both families
// its IPv6 twin. A name that does not resolve now stays one host.
void twinDualStackNames(Region& region, const NameResolver& resolve = platform::lookUpName);

}  // namespace bv
