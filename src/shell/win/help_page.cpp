#include "shell/win/help_page.h"

#include "shell/win/program_path.h"

namespace bv {

std::string helpPagePath()
{
    std::string path = programPath();
    const std::size_t slash = path.find_last_of("\\/");
    path.erase(slash == std::string::npos ? 0 : slash + 1);
    return path + "beaconvigilor-help.html";
}

}  // namespace bv
