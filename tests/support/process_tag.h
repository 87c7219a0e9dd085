#pragma once

#include <string>
#include <unistd.h>

namespace bv {

// This process's id in base 36: short enough for interface names, and it
// keeps apart what tests of several presets or builds make at the same time.
inline std::string processTag()
{
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    unsigned long id = static_cast<unsigned long>(getpid());
    std::string text;
    do {
        text.insert(text.begin(), digits[id % 36]);
        id /= 36;
    } while (id != 0);
    return text;
}

}  // namespace bv
