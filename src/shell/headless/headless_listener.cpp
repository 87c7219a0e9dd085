#include "shell/headless/headless_listener.h"

#include "platform/diagnostics.h"
#include "shell/common/terminal_lines.h"

namespace bv {

void HeadlessListener::runStarted(const RunDescription& run)
{
    if (!platform::traceEnabled())
        platform::outputLine(runStartLine(run));
}

void HeadlessListener::changeLogged(const Address& change)
{
    if (!platform::traceEnabled())
        platform::outputLine(changeLine(change));
}

void HeadlessListener::roundTripAlarmChanged(const RoundTripAlarmChange& change)
{
    if (!platform::traceEnabled())
        platform::outputLine(alarmLine(change));
}

void HeadlessListener::hostListReloaded(const HostListReload& reload)
{
    for (const std::string& problem : reloadProblems(reload))
        platform::errorLine(problem);
    if (reload.failure.empty() && !platform::traceEnabled())
        platform::outputLine(reloadLine(reload));
}

void HeadlessListener::outageGroupFound(const OutageGroup& group)
{
    if (!platform::traceEnabled())
        platform::outputLine(outageGroupText(group));
}

void HeadlessListener::outageGroupEnded(const OutageGroup& group)
{
    if (!platform::traceEnabled())
        platform::outputLine(outageGroupEndedText(group));
}

void HeadlessListener::ownLinkChanged(const OwnLink& link)
{
    if (!platform::traceEnabled())
        platform::outputLine(ownLinkText(link));
}

void HeadlessListener::showMessageBox(const std::string& text, const std::string& caption, MessageIcon)
{
    writeBoxToErrorStream(text, caption);
}

}  // namespace bv
