#include "platform/serial_port.h"

#include <utility>
#include <windows.h>

namespace bv {

namespace platform {
namespace {

SerialLineState stateOf(const DCB& dcb)
{
    SerialLineState s;
    s.baudRate = dcb.BaudRate;
    s.parity = dcb.Parity;
    s.dataBits = dcb.ByteSize;
    s.stopBits = dcb.StopBits;
    s.ctsOutputFlow = dcb.fOutxCtsFlow != 0;
    s.dsrOutputFlow = dcb.fOutxDsrFlow != 0;
    s.dtrControl = static_cast<int>(dcb.fDtrControl);
    s.rtsControl = static_cast<int>(dcb.fRtsControl);
    s.dsrSensitivity = dcb.fDsrSensitivity != 0;
    s.xonXoff = dcb.fOutX != 0 && dcb.fInX != 0;
    return s;
}

HANDLE handleOf(void* handle)
{
    return static_cast<HANDLE>(handle);
}

}  // namespace

SerialPort::~SerialPort()
{
    close();
}

SerialPort::SerialPort(SerialPort&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

SerialPort& SerialPort::operator=(SerialPort&& other) noexcept
{
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

ErrorOr<void> SerialPort::open(const std::string& deviceName)
{
    close();
    // Opened for reading as well as writing, which Windows grants alike:
    // under Wine a port held for writing alone can be neither read nor set
    // and reports nothing written. No sharing keeps other programs out.
    const HANDLE handle = ::CreateFileA(deviceName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
        0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return Error::fromLastSystemError("CreateFileA");
    handle_ = handle;
    return {};
}

namespace {

// The line as it is now; every change starts from it.
ErrorOr<DCB> currentLine(void* handle)
{
    if (!handle)
        return Error(ERROR_INVALID_HANDLE, "GetCommState");
    DCB dcb {};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(handleOf(handle), &dcb))
        return Error::fromLastSystemError("GetCommState");
    return dcb;
}

}  // namespace

ErrorOr<SerialLineState> SerialPort::readLineState() const
{
    return stateOf(TRY(currentLine(handle_)));
}

ErrorOr<void> SerialPort::applyLineState(const SerialLineState& wanted)
{
    DCB dcb = TRY(currentLine(handle_));
    dcb.BaudRate = wanted.baudRate;
    dcb.Parity = static_cast<BYTE>(wanted.parity);
    dcb.ByteSize = static_cast<BYTE>(wanted.dataBits);
    dcb.StopBits = static_cast<BYTE>(wanted.stopBits);
    dcb.fOutxCtsFlow = wanted.ctsOutputFlow;
    dcb.fOutxDsrFlow = wanted.dsrOutputFlow;
    dcb.fDtrControl = static_cast<DWORD>(wanted.dtrControl);
    dcb.fRtsControl = static_cast<DWORD>(wanted.rtsControl);
    dcb.fDsrSensitivity = wanted.dsrSensitivity;
    dcb.fOutX = wanted.xonXoff;
    dcb.fInX = wanted.xonXoff;
    if (!::SetCommState(handleOf(handle_), &dcb))
        return Error::fromLastSystemError("SetCommState");
    return {};
}

ErrorOr<void> SerialPort::applySettingsText(const std::string& text)
{
    DCB dcb = TRY(currentLine(handle_));
    // The system's reader of the mode-command syntax; it keeps what the text
    // does not name.
    if (!::BuildCommDCBA(text.c_str(), &dcb))
        return Error::fromLastSystemError("BuildCommDCBA");
    if (!::SetCommState(handleOf(handle_), &dcb))
        return Error::fromLastSystemError("SetCommState");
    return {};
}

ErrorOr<std::size_t> SerialPort::write(const char* bytes, std::size_t count)
{
    if (!handle_)
        return Error(ERROR_INVALID_HANDLE, "WriteFile");
    const DWORD length = count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(count);
    DWORD written = 0;
    if (!::WriteFile(handleOf(handle_), bytes, length, &written, nullptr))
        return Error::fromLastSystemError("WriteFile");
    return static_cast<std::size_t>(written);
}

void SerialPort::close()
{
    if (!handle_)
        return;
    const DWORD saved = ::GetLastError();
    ::CloseHandle(handleOf(handle_));
    handle_ = nullptr;
    ::SetLastError(saved);
}

}  // namespace platform

}  // namespace bv
