#include "platform/files.h"

#include "platform/win/handle.h"

#include <windows.h>

#include <optional>
#include <string>

namespace bv {

namespace platform {

// Windows takes both; a "." in a directory written with "/" must not be
// taken for the start of the extension.
const char* const kDirectorySeparators = "\\/";

namespace {

// Every byte, in parts WriteFile takes; a write that takes nothing is a
// full disk even when the system gives no code.
ErrorOr<void> writeAll(HANDLE file, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::size_t rest = bytes.size() - done;
        const DWORD part = rest > 0x40000000u ? 0x40000000u : static_cast<DWORD>(rest);
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data() + done, part, &written, nullptr) || written == 0) {
            const DWORD code = ::GetLastError();
            return Error(code != 0 ? static_cast<int>(code) : ERROR_DISK_FULL, "WriteFile");
        }
        done += written;
    }
    return {};
}

}  // namespace

ErrorOr<std::int64_t> fileSize(const std::string& name)
{
    const detail::Handle file(::CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        return Error::fromLastSystemError("open", ErrorKind::CouldNotOpen);
    LARGE_INTEGER size {};
    if (!::GetFileSizeEx(file.get(), &size))
        return Error::fromLastSystemError("GetFileSizeEx");
    return static_cast<std::int64_t>(size.QuadPart);
}

InputFile::~InputFile()
{
    if (handle_ != -1)
        ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

ErrorOr<void> InputFile::open(const std::string& name)
{
    if (handle_ != -1)
        return Error(ERROR_BUSY, "open", ErrorKind::CouldNotOpen);
    // Without FILE_FLAG_BACKUP_SEMANTICS a directory does not open; the
    // attribute check covers file systems that open it anyway.
    const HANDLE file = ::CreateFileA(name.c_str(), GENERIC_READ,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Error::fromLastSystemError("open", ErrorKind::CouldNotOpen);
    BY_HANDLE_FILE_INFORMATION information {};
    if (::GetFileType(file) == FILE_TYPE_DISK && ::GetFileInformationByHandle(file, &information)
        && (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        ::CloseHandle(file);
        return Error(ERROR_DIRECTORY, "open", ErrorKind::CouldNotOpen);
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    return {};
}

ErrorOr<std::size_t> InputFile::read(char* buffer, std::size_t size)
{
    if (handle_ == -1)
        return Error(ERROR_INVALID_HANDLE, "read");
    const DWORD part = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD got = 0;
    if (!::ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, part, &got, nullptr)) {
        // A pipe whose writer has gone has simply ended.
        const DWORD code = ::GetLastError();
        if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF)
            return std::size_t { 0 };
        return Error(static_cast<int>(code), "read");
    }
    return static_cast<std::size_t>(got);
}

ErrorOr<std::int64_t> InputFile::seekToLast(std::int64_t bytes)
{
    if (handle_ == -1)
        return Error(ERROR_INVALID_HANDLE, "SetFilePointerEx");
    const HANDLE file = reinterpret_cast<HANDLE>(handle_);
    LARGE_INTEGER size {};
    if (!::GetFileSizeEx(file, &size))
        return Error::fromLastSystemError("GetFileSizeEx");
    LARGE_INTEGER at {};
    at.QuadPart = size.QuadPart > bytes ? size.QuadPart - bytes : 0;
    if (!::SetFilePointerEx(file, at, nullptr, FILE_BEGIN))
        return Error::fromLastSystemError("SetFilePointerEx");
    return static_cast<std::int64_t>(at.QuadPart);
}

ErrorOr<void> renameFileNoReplace(const std::string& from, const std::string& to)
{
    // MoveFileA never replaces an existing file.
    if (!::MoveFileA(from.c_str(), to.c_str()))
        return Error::fromLastSystemError("MoveFileA");
    return {};
}

ErrorOr<void> writeWholeFile(const std::string& name, const std::string& bytes, bool append)
{
    // Readers (the shell's "open") may look at the files while they are written.
    detail::Handle file(::CreateFileA(name.c_str(), append ? FILE_APPEND_DATA | GENERIC_READ : GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
        nullptr));
    if (!file.valid())
        return Error::fromLastSystemError("open", ErrorKind::CouldNotOpen);
    LARGE_INTEGER oldLength {};
    const bool lengthKnown = ::GetFileSizeEx(file.get(), &oldLength) != 0;
    auto written = writeAll(file.get(), bytes);
    // The log must survive a crash; the down file is rewritten ten times a second.
    if (!written.is_error() && append && !::FlushFileBuffers(file.get()))
        written = Error::fromLastSystemError("FlushFileBuffers");
    const bool failed = written.is_error();
    if (failed && append && lengthKnown) {
        // Appending handles cannot move their end; a second handle cuts it back.
        file.reset();
        const detail::Handle cut(::CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (cut.valid() && ::SetFilePointerEx(cut.get(), oldLength, nullptr, FILE_BEGIN))
            ::SetEndOfFile(cut.get());
    }
    return written;
}

ErrorOr<void> replaceFileContent(const std::string& name, const std::string& bytes)
{
    // What is no plain file (a directory, a device) is written through, as
    // before, never moved over.
    const DWORD attributes = ::GetFileAttributesA(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)))
        return writeWholeFile(name, bytes, false);
    // Beside the file, so the move stays on one volume and is a rename.
    const std::string temporary = name + ".tmp." + std::to_string(::GetCurrentProcessId());
    std::optional<Error> failed;
    {
        const detail::Handle file(::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
            FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid())
            return Error::fromLastSystemError("open", ErrorKind::CouldNotOpen);
        if (auto written = writeAll(file.get(), bytes); written.is_error())
            failed = written.release_error();
    }
    // A reader that opened the old file without FILE_SHARE_DELETE holds off
    // its replacement while it reads; that lasts moments.
    for (int attempt = 0; !failed; ++attempt) {
        if (::MoveFileExA(temporary.c_str(), name.c_str(), MOVEFILE_REPLACE_EXISTING))
            return {};
        const DWORD code = ::GetLastError();
        if ((code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION) || attempt == 10)
            failed = Error(static_cast<int>(code), "MoveFileExA");
        else
            ::Sleep(1);
    }
    ::DeleteFileA(temporary.c_str());
    return *failed;
}

}  // namespace platform

}  // namespace bv
