#pragma once

#include "support/test_environment.h"

#include <cstddef>
#include <sstream>
#include <string>
#include <vector>

namespace bv {

// The lines of a log or down file, each split at its tabs; the log's
// batches end with an empty line, which is skipped. None for no file.
inline std::vector<std::vector<std::string>> readRecordFields(const std::string& path)
{
    std::vector<std::vector<std::string>> records;
    if (!fileExists(path))
        return records;
    std::istringstream text(readFile(path));
    for (std::string line; std::getline(text, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
            fields.push_back(line.substr(start, tab - start));
        fields.push_back(line.substr(start));
        records.push_back(std::move(fields));
    }
    return records;
}

}  // namespace bv
