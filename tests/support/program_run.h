#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace bv {

// A program started in a directory with its standard output and error
// captured, for tests that watch its trace and stop it with a signal.
// The program runs with TZ=UTC so that the times it writes read plainly.
class ProgramRun {
public:
    ProgramRun(const std::string& directory, const std::vector<std::string>& command);
    // Kills a program that is still running, and waits for it.
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    void signal(int number);
    // Its exit status, or -1 when it did not exit within `limit` or ended by a signal.
    int waitForExit(std::chrono::milliseconds limit);
    // True once `count` lines of the standard output hold `text`.
    bool waitForOutputLines(const std::string& text, std::size_t count, std::chrono::milliseconds limit);
    pid_t pid() const { return child_; }
    // The most resident memory it ever had, in kilobytes; -1 until it has exited.
    long peakResidentKilobytes() const { return peakResidentKilobytes_; }
    std::string output();
    std::string errors();

private:
    void readInto(int descriptor, std::string& into);

    pid_t child_ = -1;
    bool reaped_ = false;
    int status_ = -1;
    long peakResidentKilobytes_ = -1;
    std::mutex mutex_;
    std::condition_variable grown_;
    std::string output_;
    std::string errors_;
    std::thread outputReader_;
    std::thread errorReader_;
};

}  // namespace bv
