#pragma once

#include "core/address.h"
#include "core/region.h"
#include "output/cereal.h"
#include "output/log_file.h"
#include "platform/clock.h"
#include "platform/lock_objects.h"

#include <cstdint>
#include <string>
#include <vector>

namespace bv {

// Where the log writer writes, and what it shares with the run.
struct LogWriterContext {
    std::string logFile;
    std::string downFile;
    std::string serialPort;  // empty: no serial copy
    std::string serialParameters;
    std::int32_t archiveSize = 0;  // KB; 0 turns archiving off
    const Region& hosts;
    platform::Mutex& vectorMutex;  // guards the hosts' status
    platform::Mutex& fileMutex;    // guards the queue and every file and serial write
    std::vector<Address>& printList;
    platform::Clock& clock;
};

// Writes the queued changes to the log (and the serial port), and the red
// hosts to the down file.
class LogWriter {
public:
    explicit LogWriter(const LogWriterContext& context);

    // NotOpened leaves the decision to the run: the log file or the down
    // file could not be opened. A failed write is noted and tried again.
    [[nodiscard]] TextWrite writeLogBatch();
    [[nodiscard]] TextWrite writeDownFile();

    // The thread: a log batch and the down file every 100 ms until exit is
    // requested (empty result) or a file cannot be opened (its name).
    std::string run();

    const LogWriterContext& context() const { return context_; }

private:
    void copyToSerialPort(const std::string& text);

    LogWriterContext context_;
    Cereal serial_;
    // What the down file holds, as this writer last wrote it.
    std::string downFileText_;
    bool downFileWritten_ = false;
};

}  // namespace bv
