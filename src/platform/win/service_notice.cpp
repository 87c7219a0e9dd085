#include "platform/service_notice.h"

namespace bv::platform {

// Windows services speak to their manager through the service control
// dispatcher, which this program does not use.
ServiceNotice::ServiceNotice() = default;
ServiceNotice::~ServiceNotice() = default;
void ServiceNotice::ready() {}
void ServiceNotice::reloading() {}
void ServiceNotice::stopping() {}
void ServiceNotice::watchdog() {}
bool ServiceNotice::send(const std::string&) { return false; }

}  // namespace bv::platform
