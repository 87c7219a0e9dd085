#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace bv {

namespace platform::detail {

enum class SegmentKind : std::uint32_t { Semaphore = 1, Mutex = 2 };

// The memory of one named lock object, shared by the processes of this user
// that have it open. Each holder keeps a shared file lock on it, which the
// kernel drops however the process ends; an opener that finds no holder
// starts the object afresh, so nothing a dead process held survives it.
class SharedSegment {
public:
    // `initialise` runs on a zeroed block when nobody else uses the object;
    // it returns false when it could not set the block up. Null on failure,
    // including a segment of another kind or not owned by this user.
    static std::unique_ptr<SharedSegment> open(const std::string& name, SegmentKind kind, std::size_t blockSize,
                                               const std::function<bool(void*)>& initialise);

    ~SharedSegment();
    SharedSegment(const SharedSegment&) = delete;
    SharedSegment& operator=(const SharedSegment&) = delete;

    void* block() const;

private:
    SharedSegment(int descriptor, void* mapping, std::size_t size);

    int descriptor_;
    void* mapping_;
    std::size_t size_;
};

}  // namespace platform::detail

}  // namespace bv
