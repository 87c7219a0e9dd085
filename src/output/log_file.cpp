#include "output/log_file.h"

#include "platform/diagnostics.h"
#include "platform/files.h"
#include "platform/process.h"
#include "run/network.h"
#include "shell/desktop.h"

#include <cstdio>
#include <cstring>
#include <fstream>

namespace bv {

bool writeTextFile(const std::string& text, const std::string& name, bool append)
{
    const auto outcome = platform::writeWholeFile(name, text + "\r\n", append);
    if (outcome.is_error() && platform::couldNotOpen(outcome.error())) {
        showMessageBox("Could not open " + name, "Log File Error", MessageIcon::Error);
        platform::exitImmediately(1);
    }
    return !outcome.is_error();
}

std::int64_t fileSizeOf(const std::string& name)
{
    const auto size = platform::fileSize(name);
    return size.is_error() ? -1 : size.value();
}

std::string archiveName(const std::string& logFile, const platform::LocalTime& time, const char* directorySeparators)
{
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, ".%04d-%02d-%02d.%02d-%02d-%02d", time.year, time.month, time.day, time.hour,
        time.minute, time.second);
    const std::size_t dot = logFile.rfind('.');
    const std::size_t separator = logFile.find_last_of(directorySeparators);
    if (dot != std::string::npos && (separator == std::string::npos || dot > separator))
        return logFile.substr(0, dot) + stamp + logFile.substr(dot);
    return logFile + stamp;
}

namespace {

// A run killed inside its write can leave the log ending in a part of a
// line; the next batch must not be glued to it.
bool endsInsideALine(const std::string& name)
{
    std::ifstream file(name, std::ios::binary | std::ios::ate);
    if (!file.is_open() || file.tellg() <= 0)
        return false;
    file.seekg(-1, std::ios::end);
    char last = '\n';
    return file.get(last) && last != '\n';
}

// One line for the error stream from a text that may end with a line end.
std::string oneLine(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

}  // namespace

void Network::copyToSerialPort(const std::string& text)
{
    Cereal& port = serialPortWriter();
    if (!port.open(getSerialPort())) {
        platform::errorLine(oneLine("Error opening the serial port " + port.errorDescription()));
        return;
    }
    port.configure(getSerialParameters());
    if (port.write(text.data(), static_cast<int>(text.size())) < 1)
        platform::errorLine(oneLine("Error writing to the serial port " + port.errorDescription()));
    port.close();
}

void Network::writeLogBatch()
{
    if (fileMutex().wait() != platform::WaitResult::Signalled) {
        platform::errorLine("f:mutex cannot be acquired");
        return;
    }
    std::vector<Address>& queued = printList();
    if (!queued.empty()) {
        std::string batch;
        for (const Address& snapshot : queued) {
            batch += snapshot.getText();
            batch += "\r\n";
        }
        const std::int64_t size = fileSizeOf(getLogFile());
        // Without -archive the size is 0, and archiving is off.
        if (getArchiveSize() > 0 && size > std::int64_t(getArchiveSize()) * 1024) {
            const std::string archive
                = archiveName(getLogFile(), platform::localTimeOf(clock().now()), platform::kDirectorySeparators);
            if (const auto archived = platform::renameFileNoReplace(getLogFile(), archive); archived.is_error())
                platform::errorLine("could not archive the log file " + getLogFile() + " as " + archive + ": "
                    + archived.error().message());
        }
        const std::string separation = endsInsideALine(getLogFile()) ? "\r\n" : "";
        if (writeTextFile(separation + batch, getLogFile(), true)) {
            if (!getSerialPort().empty())
                copyToSerialPort(batch);
            queued.clear();
        } else {
            // Kept queued: the next cycle tries the whole batch again.
            platform::errorLine("could not write the log file " + getLogFile());
        }
    }
    if (!fileMutex().release())
        platform::errorLine("f:mutex cannot be released");
}

void Network::writeDownFile()
{
    std::vector<Address> red;
    if (vectorMutex().wait() == platform::WaitResult::Signalled) {
        for (std::size_t position = 0; position < hostCount(); ++position) {
            if (host(position)->getStatus() == HostStatus::Red)
                red.push_back(*host(position));
        }
        if (!vectorMutex().release())
            platform::errorLine("f:mutex cannot be released");
    }
    if (fileMutex().wait() != platform::WaitResult::Signalled) {
        platform::errorLine("f:mutex cannot be acquired");
        return;
    }
    std::string text;
    for (const Address& host : red) {
        text += host.getDownText();
        text += "\r\n";
    }
    if (!writeTextFile(text, getDownFile(), false))
        platform::errorLine("could not write the down file " + getDownFile());
    if (!fileMutex().release())
        platform::errorLine("f:mutex cannot be released");
}

void Network::writeFinalBatch()
{
    // Changes the sweep had not yet queued join the queue, so that nothing
    // seen before exit is missing from the log.
    if (vectorMutex().wait() == platform::WaitResult::Signalled) {
        for (std::size_t position = 0; position < hostCount(); ++position) {
            if (host(position)->getPingState() == PingState::ChangePending)
                queueChange(*host(position));
        }
        vectorMutex().release();
    }
    writeLogBatch();
    writeDownFile();
}

int logWriterThread(Network& network)
{
    while (!exitRequested.load()) {
        network.writeLogBatch();
        network.writeDownFile();
        network.clock().sleepMilliseconds(100);
    }
    return 0;
}

}  // namespace bv
