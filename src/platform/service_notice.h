#pragma once

#include <string>

namespace bv::platform {

// Tells the service manager that started the program how it is doing
// (systemd's notification socket). Without such a manager, or on a system
// that has none, every call does nothing.
class ServiceNotice {
public:
    // Reads the manager's socket and watchdog period from the environment.
    ServiceNotice();
    ~ServiceNotice();
    ServiceNotice(const ServiceNotice&) = delete;
    ServiceNotice& operator=(const ServiceNotice&) = delete;

    // A manager waits for this program's notices.
    bool listened() const { return socket_ >= 0; }
    // The manager restarts the program unless it hears a watchdog notice in time.
    bool watchdogWanted() const { return watchdogWanted_; }

    void ready();
    void reloading();
    void stopping();
    void watchdog();

private:
    bool send(const std::string& text);

    int socket_ = -1;
    bool watchdogWanted_ = false;
    std::string address_;
};

}  // namespace bv::platform
