#pragma once

#include <string>

namespace bv {

// Local time is UTC in the tests, so times read as written.
void useUtcTimeZone();

// A fresh directory under the system's temporary folder, removed with its
// files when the object goes.
class TemporaryDirectory {
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);
// True when the file exists and holds `text` somewhere.
bool fileHolds(const std::string& path, const std::string& text);

}  // namespace bv
