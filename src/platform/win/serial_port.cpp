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

bool SerialPort::open(const std::string& deviceName)
{
    close();
    // Opened for reading as well as writing, which Windows grants alike:
    // under Wine a port held for writing alone can be neither read nor set
    // and reports nothing written. No sharing keeps other programs out.
    const HANDLE handle = ::CreateFileA(deviceName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
        0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    handle_ = handle;
    return true;
}

std::optional<SerialLineState> SerialPort::readLineState() const
{
    if (!handle_) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return std::nullopt;
    }
    DCB dcb {};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(handleOf(handle_), &dcb))
        return std::nullopt;
    return stateOf(dcb);
}

bool SerialPort::applyLineState(const SerialLineState& wanted)
{
    if (!handle_) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    DCB dcb {};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(handleOf(handle_), &dcb))
        return false;
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
    return ::SetCommState(handleOf(handle_), &dcb) != 0;
}

bool SerialPort::applySettingsText(const std::string& text)
{
    if (!handle_) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    DCB dcb {};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(handleOf(handle_), &dcb))
        return false;
    // The system's reader of the mode-command syntax; it keeps what the text
    // does not name.
    if (!::BuildCommDCBA(text.c_str(), &dcb))
        return false;
    return ::SetCommState(handleOf(handle_), &dcb) != 0;
}

long SerialPort::write(const char* bytes, std::size_t count)
{
    if (!handle_) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return -1;
    }
    const DWORD length = count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(count);
    DWORD written = 0;
    if (!::WriteFile(handleOf(handle_), bytes, length, &written, nullptr))
        return -1;
    return static_cast<long>(written);
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
