#include "platform/serial_port.h"

#include "platform/serial_settings.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace bv {

namespace platform {
namespace {

struct Speed {
    std::uint32_t rate;
    speed_t code;
};

constexpr std::array kSpeeds = {
    Speed{50, B50}, Speed{75, B75}, Speed{110, B110}, Speed{134, B134}, Speed{150, B150},
    Speed{200, B200}, Speed{300, B300}, Speed{600, B600}, Speed{1200, B1200},
    Speed{1800, B1800}, Speed{2400, B2400}, Speed{4800, B4800}, Speed{9600, B9600},
    Speed{19200, B19200}, Speed{38400, B38400}, Speed{57600, B57600},
    Speed{115200, B115200}, Speed{230400, B230400}, Speed{460800, B460800},
    Speed{500000, B500000}, Speed{576000, B576000}, Speed{921600, B921600},
    Speed{1000000, B1000000}, Speed{1152000, B1152000}, Speed{1500000, B1500000},
    Speed{2000000, B2000000}, Speed{2500000, B2500000}, Speed{3000000, B3000000},
    Speed{3500000, B3500000}, Speed{4000000, B4000000}};

std::uint32_t rateOf(speed_t code)
{
    for (const auto& s : kSpeeds) {
        if (s.code == code)
            return s.rate;
    }
    return 0;
}

bool codeOf(std::uint32_t rate, speed_t& code)
{
    for (const auto& s : kSpeeds) {
        if (s.rate == rate) {
            code = s.code;
            return true;
        }
    }
    return false;
}

// The line as it is now; every change starts from it.
ErrorOr<termios> currentLine(int fd)
{
    if (fd < 0)
        return Error(EBADF, "tcgetattr");
    termios t {};
    if (tcgetattr(fd, &t) != 0)
        return Error::fromLastSystemError("tcgetattr");
    return t;
}

// Keeps the failing call's error across the clean-up that follows it.
void closeKeepingError(int fd)
{
    const int saved = errno;
    ::close(fd);
    errno = saved;
}

SerialLineState stateOf(const termios& t, int fd)
{
    SerialLineState s;
    s.baudRate = rateOf(cfgetospeed(&t));
    if (!(t.c_cflag & PARENB))
        s.parity = kParityNone;
    else if (t.c_cflag & CMSPAR)
        s.parity = (t.c_cflag & PARODD) ? kParityMark : kParitySpace;
    else
        s.parity = (t.c_cflag & PARODD) ? kParityOdd : kParityEven;
    switch (t.c_cflag & CSIZE) {
    case CS5: s.dataBits = 5; break;
    case CS6: s.dataBits = 6; break;
    case CS7: s.dataBits = 7; break;
    default: s.dataBits = 8; break;
    }
    // With five data bits the hardware sends one and a half stop bits for CSTOPB.
    if (t.c_cflag & CSTOPB)
        s.stopBits = s.dataBits == 5 ? kStopOneAndHalf : kStopTwo;
    else
        s.stopBits = kStopOne;
    s.ctsOutputFlow = (t.c_cflag & CRTSCTS) != 0;
    s.xonXoff = (t.c_iflag & IXON) && (t.c_iflag & IXOFF);
    // Lines without modem control (pseudo-terminals) read as raised, which is
    // how the system leaves them at open.
    int lines = 0;
    const int saved = errno;
    if (ioctl(fd, TIOCMGET, &lines) == 0) {
        s.dtrControl = (lines & TIOCM_DTR) ? kDtrOn : kDtrOff;
        s.rtsControl = (lines & TIOCM_RTS) ? kRtsOn : kRtsOff;
    }
    errno = saved;
    return s;
}

bool settable(const SerialLineState& s)
{
    if (s.parity < kParityNone || s.parity > kParitySpace)
        return false;
    if (s.dataBits < 5 || s.dataBits > 8)
        return false;
    // The hardware only does one and a half stop bits with five data bits,
    // and two stop bits only with more.
    if (s.stopBits == kStopOneAndHalf && s.dataBits != 5)
        return false;
    if (s.stopBits == kStopTwo && s.dataBits == 5)
        return false;
    if (s.stopBits < kStopOne || s.stopBits > kStopTwo)
        return false;
    // No DSR flow, DTR handshake or RTS toggling in termios.
    if (s.dsrOutputFlow || s.dsrSensitivity || s.dtrControl == kDtrHandshake || s.rtsControl == kRtsToggle)
        return false;
    if (s.dtrControl != kDtrOn && s.dtrControl != kDtrOff)
        return false;
    return s.rtsControl >= kRtsOff && s.rtsControl <= kRtsHandshake;
}

bool setModemLine(int fd, int line, bool raised)
{
    return ioctl(fd, raised ? TIOCMBIS : TIOCMBIC, &line) == 0;
}

bool sameLine(const SerialLineState& a, const SerialLineState& b)
{
    return a.baudRate == b.baudRate && a.parity == b.parity && a.dataBits == b.dataBits &&
           a.stopBits == b.stopBits && a.ctsOutputFlow == b.ctsOutputFlow && a.xonXoff == b.xonXoff;
}

}  // namespace

SerialPort::~SerialPort()
{
    close();
}

SerialPort::SerialPort(SerialPort&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

SerialPort& SerialPort::operator=(SerialPort&& other) noexcept
{
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

ErrorOr<void> SerialPort::open(const std::string& deviceName)
{
    close();
    // Not blocking here: a line without carrier would otherwise hold the open.
    const int fd = ::open(deviceName.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return Error::fromLastSystemError("open");
    // The lock keeps out other programs that lock the same way; TIOCEXCL
    // keeps out every other open by those without privilege.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            errno = EBUSY;
        closeKeepingError(fd);
        return Error::fromLastSystemError("open");
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        closeKeepingError(fd);
        return Error::fromLastSystemError("open");
    }
    const int saved = errno;
    if (isatty(fd)) {
        ioctl(fd, TIOCEXCL);
        // A serial port has no line discipline on the other system; bytes go
        // out as given, line ends included.
        termios t{};
        if (tcgetattr(fd, &t) == 0 && (t.c_oflag & OPOST)) {
            t.c_oflag &= ~OPOST;
            tcsetattr(fd, TCSANOW, &t);
        }
    }
    errno = saved;
    fd_ = fd;
    return {};
}

ErrorOr<SerialLineState> SerialPort::readLineState() const
{
    return stateOf(TRY(currentLine(fd_)), fd_);
}

ErrorOr<void> SerialPort::applyLineState(const SerialLineState& wanted)
{
    const termios before = TRY(currentLine(fd_));
    if (!settable(wanted))
        return Error(EINVAL, "tcsetattr");
    // Touch only what differs, so that settings we have no name for stay.
    termios t = before;
    const SerialLineState current = stateOf(t, fd_);
    if (wanted.baudRate != current.baudRate) {
        speed_t code{};
        if (!codeOf(wanted.baudRate, code))
            return Error(EINVAL, "tcsetattr");
        cfsetospeed(&t, code);
        cfsetispeed(&t, code);
    }
    if (wanted.parity != current.parity) {
        t.c_cflag &= ~(PARENB | PARODD | CMSPAR);
        switch (wanted.parity) {
        case kParityOdd: t.c_cflag |= PARENB | PARODD; break;
        case kParityEven: t.c_cflag |= PARENB; break;
        case kParityMark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
        case kParitySpace: t.c_cflag |= PARENB | CMSPAR; break;
        default: break;
        }
    }
    if (wanted.dataBits != current.dataBits) {
        t.c_cflag &= ~CSIZE;
        constexpr std::array<tcflag_t, 4> sizes = {CS5, CS6, CS7, CS8};
        t.c_cflag |= sizes[static_cast<std::size_t>(wanted.dataBits - 5)];
    }
    if (wanted.stopBits != current.stopBits) {
        if (wanted.stopBits == kStopOne)
            t.c_cflag &= ~CSTOPB;
        else
            t.c_cflag |= CSTOPB;
    }
    const bool hardwareFlow = wanted.ctsOutputFlow || wanted.rtsControl == kRtsHandshake;
    if (hardwareFlow != ((t.c_cflag & CRTSCTS) != 0)) {
        if (hardwareFlow)
            t.c_cflag |= CRTSCTS;
        else
            t.c_cflag &= ~CRTSCTS;
    }
    if (wanted.xonXoff != current.xonXoff) {
        if (wanted.xonXoff)
            t.c_iflag |= IXON | IXOFF;
        else
            t.c_iflag &= ~(IXON | IXOFF);
    }
    if (tcsetattr(fd_, TCSANOW, &t) != 0)
        return Error::fromLastSystemError("tcsetattr");
    // tcsetattr reports success when any part was taken, and some lines
    // (pseudo-terminals) quietly drop parity and data bits: check, and put
    // the line back when it did not take it all.
    termios taken{};
    if (tcgetattr(fd_, &taken) != 0)
        return Error::fromLastSystemError("tcsetattr");
    SerialLineState expected = wanted;
    expected.ctsOutputFlow = hardwareFlow;
    if (!sameLine(stateOf(taken, fd_), expected)) {
        tcsetattr(fd_, TCSANOW, &before);
        return Error(EINVAL, "tcsetattr");
    }
    if (wanted.dtrControl != current.dtrControl && !setModemLine(fd_, TIOCM_DTR, wanted.dtrControl == kDtrOn))
        return Error::fromLastSystemError("TIOCMSET");
    if (wanted.rtsControl != kRtsHandshake && wanted.rtsControl != current.rtsControl &&
        !setModemLine(fd_, TIOCM_RTS, wanted.rtsControl == kRtsOn))
        return Error::fromLastSystemError("TIOCMSET");
    return {};
}

ErrorOr<void> SerialPort::applySettingsText(const std::string& text)
{
    SerialLineState state = TRY(readLineState());
    if (!applySerialSettingsText(text, state))
        return Error(EINVAL, "settings text");
    return applyLineState(state);
}

ErrorOr<std::size_t> SerialPort::write(const char* bytes, std::size_t count)
{
    if (fd_ < 0)
        return Error(EBADF, "write");
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd_, bytes + done, count - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (done == 0)
                return Error::fromLastSystemError("write");
            return done;
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

void SerialPort::close()
{
    if (fd_ < 0)
        return;
    const int saved = errno;
    if (isatty(fd_))
        ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
    errno = saved;
}

}  // namespace platform

}  // namespace bv
