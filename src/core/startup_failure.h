#pragma once

#include <stdexcept>
#include <string>

namespace bv {

// A failure that stops the run from being built; its text is shown to the
// user by the run driver, which alone catches it.
class StartupFailure : public std::runtime_error {
public:
    explicit StartupFailure(const std::string& text) : std::runtime_error(text) {}
};

}  // namespace bv
