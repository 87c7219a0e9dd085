#include "output/log_writer.h"

#include "core/monitor_events.h"
#include "platform/diagnostics.h"
#include "platform/files.h"
#include "platform/lock_hold.h"

#include <fstream>

namespace bv {

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

LogWriter::LogWriter(const LogWriterContext& context)
    : context_(context)
{
}

void LogWriter::copyToSerialPort(const std::string& text)
{
    if (!serial_.open(context_.serialPort)) {
        platform::errorLine(oneLine("Error opening the serial port " + serial_.errorDescription()));
        return;
    }
    serial_.configure(context_.serialParameters);
    if (serial_.write(text.data(), static_cast<int>(text.size())) < 1)
        platform::errorLine(oneLine("Error writing to the serial port " + serial_.errorDescription()));
    serial_.close();
}

TextWrite LogWriter::writeLogBatch()
{
    platform::MutexHold files(context_.fileMutex, "f:mutex cannot be released");
    if (!files) {
        platform::errorLine("f:mutex cannot be acquired");
        return TextWrite::Failed;
    }
    std::vector<Address>& queued = context_.printList;
    if (queued.empty())
        return TextWrite::Written;
    std::string batch;
    for (const Address& snapshot : queued) {
        batch += snapshot.getText();
        batch += "\r\n";
    }
    const std::string& logFile = context_.logFile;
    // Without -archive the size is 0, and archiving is off.
    if (context_.archiveSize > 0 && fileSizeOf(logFile) > std::int64_t(context_.archiveSize) * 1024) {
        const std::string archive
            = archiveName(logFile, platform::localTimeOf(context_.clock.now()), platform::kDirectorySeparators);
        if (const auto archived = platform::renameFileNoReplace(logFile, archive); archived.is_error())
            platform::errorLine(
                "could not archive the log file " + logFile + " as " + archive + ": " + archived.error().message());
    }
    const std::string separation = endsInsideALine(logFile) ? "\r\n" : "";
    const TextWrite written = writeTextFile(separation + batch, logFile, true);
    if (written == TextWrite::Written) {
        if (!context_.serialPort.empty())
            copyToSerialPort(batch);
        for (const Address& snapshot : queued)
            notifyChangeLogged(snapshot);
        queued.clear();
    } else if (written == TextWrite::Failed) {
        // Kept queued: the next cycle tries the whole batch again.
        platform::errorLine("could not write the log file " + logFile);
    }
    return written;
}

TextWrite LogWriter::writeDownFile()
{
    std::vector<Address> red;
    {
        platform::MutexHold hosts(context_.vectorMutex, "f:mutex cannot be released");
        if (hosts) {
            for (std::size_t position = 0; position < context_.hosts.hostCount(); ++position) {
                if (context_.hosts.host(position)->getStatus() == HostStatus::Red)
                    red.push_back(*context_.hosts.host(position));
            }
        }
    }
    platform::MutexHold files(context_.fileMutex, "f:mutex cannot be released");
    if (!files) {
        platform::errorLine("f:mutex cannot be acquired");
        return TextWrite::Failed;
    }
    std::string text;
    for (const Address& host : red) {
        text += host.getDownText();
        text += "\r\n";
    }
    // Replacing a file makes the file system flush it: only a changed list
    // is written, and the first one always.
    if (downFileWritten_ && text == downFileText_)
        return TextWrite::Written;
    const TextWrite written = replaceTextFile(text, context_.downFile);
    if (written == TextWrite::Written) {
        downFileWritten_ = true;
        downFileText_ = std::move(text);
    } else if (written == TextWrite::Failed) {
        platform::errorLine("could not write the down file " + context_.downFile);
    }
    return written;
}

std::string LogWriter::run()
{
    while (!exitRequested.load()) {
        if (writeLogBatch() == TextWrite::NotOpened)
            return context_.logFile;
        if (writeDownFile() == TextWrite::NotOpened)
            return context_.downFile;
        context_.clock.pauseMilliseconds(100, exitRequested.wakeup());
    }
    return std::string();
}

}  // namespace bv
