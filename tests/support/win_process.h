#pragma once

// Windows only: a process that a test starts and waits for.

#include <windows.h>

#include <string>

namespace bv {

// A process started with `command` (in `directory`, when given), killed on
// destruction if it is still running.
class WinProcess {
public:
    // Its standard output goes to `outputFile` and its standard error to
    // `errorFile` when they are named: apart, because Wine's appending is not
    // atomic and two threads' lines in one file overwrite each other.
    explicit WinProcess(std::string command, const char* directory = nullptr, const char* outputFile = nullptr,
        const char* errorFile = nullptr)
    {
        STARTUPINFOA startup {};
        startup.cb = sizeof startup;
        const HANDLE output = inheritedAppendHandle(outputFile);
        const HANDLE error = inheritedAppendHandle(errorFile);
        const bool redirected = outputFile || errorFile;
        if (redirected) {
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdOutput = output;
            startup.hStdError = error;
        }
        started_ = ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, redirected ? TRUE : FALSE, 0, nullptr,
                       directory, &startup, &info_)
            != 0;
        for (const HANDLE handle : { output, error })
            if (handle != INVALID_HANDLE_VALUE)
                ::CloseHandle(handle);
    }
    ~WinProcess()
    {
        if (!started_)
            return;
        if (::WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT)
            ::TerminateProcess(info_.hProcess, 99);
        ::CloseHandle(info_.hThread);
        ::CloseHandle(info_.hProcess);
    }
    WinProcess(const WinProcess&) = delete;
    WinProcess& operator=(const WinProcess&) = delete;

    bool started() const { return started_; }
    DWORD processId() const { return info_.dwProcessId; }
    // The exit code, or -1 when it did not end in time.
    long finish(DWORD milliseconds)
    {
        if (::WaitForSingleObject(info_.hProcess, milliseconds) != WAIT_OBJECT_0)
            return -1;
        DWORD code = 0;
        ::GetExitCodeProcess(info_.hProcess, &code);
        return static_cast<long>(code);
    }
    void kill()
    {
        ::TerminateProcess(info_.hProcess, 9);
        ::WaitForSingleObject(info_.hProcess, 20000);
    }

private:
    static HANDLE inheritedAppendHandle(const char* file)
    {
        if (!file)
            return INVALID_HANDLE_VALUE;
        SECURITY_ATTRIBUTES inherited { sizeof inherited, nullptr, TRUE };
        return ::CreateFileA(file, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, CREATE_ALWAYS,
            FILE_ATTRIBUTE_NORMAL, nullptr);
    }

    PROCESS_INFORMATION info_ {};
    bool started_ = false;
};

}  // namespace bv
