#pragma once

#include <string>

namespace bv {

// In single quotes, `word` is one word for the shell, whatever it holds.
inline std::string shellQuoted(const std::string& word)
{
    std::string text = "'";
    for (char c : word) {
        if (c == '\'')
            text += "'\\''";
        else
            text += c;
    }
    return text + "'";
}

}  // namespace bv
