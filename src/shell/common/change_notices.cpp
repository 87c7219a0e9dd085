#include "shell/common/change_notices.h"

#include "core/address.h"

namespace bv {

namespace {

constexpr std::size_t kNamesShown = 5;

std::string listLine(const std::vector<std::string>& names, const char* what)
{
    std::string line = std::to_string(names.size()) + (names.size() == 1 ? " host " : " hosts ") + what + ": ";
    for (std::size_t position = 0; position < names.size() && position < kNamesShown; ++position) {
        if (position > 0)
            line += ", ";
        line += names[position];
    }
    if (names.size() > kNamesShown) {
        const std::size_t others = names.size() - kNamesShown;
        line += " and " + std::to_string(others) + (others == 1 ? " other" : " others");
    }
    return line;
}

}  // namespace

std::string changeNoticeText(const std::vector<std::string>& down, const std::vector<std::string>& up)
{
    std::string text;
    if (!down.empty())
        text = listLine(down, "down");
    if (!up.empty())
        text += (text.empty() ? "" : "\n") + listLine(up, "back up");
    return text;
}

ChangeNotices::ChangeNotices(Show show, bool enabled)
    : show_(std::move(show))
    , enabled_(enabled)
{
}

void ChangeNotices::setEnabled(bool enabled)
{
    std::lock_guard lock(mutex_);
    enabled_ = enabled;
    down_.clear();
    up_.clear();
}

bool ChangeNotices::enabled() const
{
    std::lock_guard lock(mutex_);
    return enabled_;
}

void ChangeNotices::changeLogged(const Address& change)
{
    std::lock_guard lock(mutex_);
    if (!enabled_)
        return;
    (change.getStatus() == HostStatus::Green ? up_ : down_).push_back(change.getName());
}

void ChangeNotices::sweepPassDone()
{
    ChangeNotice notice { "BeaconVigilor", std::string() };
    {
        std::lock_guard lock(mutex_);
        notice.text = changeNoticeText(down_, up_);
        down_.clear();
        up_.clear();
    }
    // Shown outside the lock: a desktop may wait for its own thread.
    if (!notice.text.empty() && show_)
        show_(notice);
}

}  // namespace bv
