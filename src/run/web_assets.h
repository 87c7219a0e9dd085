#pragma once

#include <optional>
#include <string_view>

namespace bv {

// A file of res/web/ by its name ("index.html", "status.js", "status.css"),
// as built into the program.
std::optional<std::string_view> webAsset(std::string_view name);

}  // namespace bv
