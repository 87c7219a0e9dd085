#include "shell/headless/service_listener.h"

namespace bv {

void ServiceListener::sweepPassDone()
{
    if (!readySent_) {
        readySent_ = true;
        notice_.ready();
    }
    notice_.watchdog();
}

}  // namespace bv
