#include "support/program_run.h"

#include <cerrno>
#include <csignal>
#include <string_view>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bv {

ProgramRun::ProgramRun(const std::string& directory, const std::vector<std::string>& command)
{
    int output[2];
    int errors[2];
    if (pipe(output) != 0)
        return;
    if (pipe(errors) != 0) {
        close(output[0]);
        close(output[1]);
        return;
    }
    std::vector<char*> argv;
    for (const std::string& argument : command)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    child_ = fork();
    if (child_ == 0) {
        if (chdir(directory.c_str()) != 0)
            _exit(127);
        dup2(output[1], 1);
        dup2(errors[1], 2);
        close(output[0]);
        close(errors[0]);
        setenv("TZ", "UTC", 1);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(output[1]);
    close(errors[1]);
    if (child_ < 0) {
        close(output[0]);
        close(errors[0]);
        return;
    }
    outputReader_ = std::thread([this, descriptor = output[0]] { readInto(descriptor, output_); });
    errorReader_ = std::thread([this, descriptor = errors[0]] { readInto(descriptor, errors_); });
}

ProgramRun::~ProgramRun()
{
    if (child_ > 0 && !reaped_) {
        kill(child_, SIGKILL);
        waitForExit(std::chrono::seconds(10));
    }
    if (outputReader_.joinable())
        outputReader_.join();
    if (errorReader_.joinable())
        errorReader_.join();
}

void ProgramRun::readInto(int descriptor, std::string& into)
{
    char buffer[8192];
    while (true) {
        const ssize_t got = read(descriptor, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        std::lock_guard lock(mutex_);
        into.append(buffer, static_cast<std::size_t>(got));
        grown_.notify_all();
    }
    close(descriptor);
}

void ProgramRun::signal(int number)
{
    if (child_ > 0 && !reaped_)
        kill(child_, number);
}

int ProgramRun::waitForExit(std::chrono::milliseconds limit)
{
    if (child_ <= 0)
        return -1;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!reaped_) {
        int status = 0;
        rusage usage {};
        const pid_t got = wait4(child_, &status, WNOHANG, &usage);
        if (got == child_) {
            reaped_ = true;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            peakResidentKilobytes_ = usage.ru_maxrss;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Whatever it wrote last is read before the caller looks.
    if (outputReader_.joinable())
        outputReader_.join();
    if (errorReader_.joinable())
        errorReader_.join();
    return status_;
}

namespace {

std::size_t linesHolding(const std::string& text, const std::string& needle)
{
    std::size_t count = 0;
    std::size_t lineStart = 0;
    while (lineStart < text.size()) {
        std::size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string::npos)
            break;  // a line still being written does not count yet
        if (std::string_view(text).substr(lineStart, lineEnd - lineStart).find(needle) != std::string_view::npos)
            ++count;
        lineStart = lineEnd + 1;
    }
    return count;
}

}  // namespace

bool ProgramRun::waitForOutputLines(const std::string& text, std::size_t count, std::chrono::milliseconds limit)
{
    std::unique_lock lock(mutex_);
    return grown_.wait_for(lock, limit, [&] { return linesHolding(output_, text) >= count; });
}

std::string ProgramRun::output()
{
    std::lock_guard lock(mutex_);
    return output_;
}

std::string ProgramRun::errors()
{
    std::lock_guard lock(mutex_);
    return errors_;
}

}  // namespace bv
