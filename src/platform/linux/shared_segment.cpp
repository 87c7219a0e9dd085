#include "platform/linux/shared_segment.h"

#include "platform/lock_objects.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bv {

namespace platform::detail {
namespace {

constexpr std::uint64_t kMagic = 0x42566c6f636b3031ull;  // "BVlock01"
constexpr std::size_t kHeaderSize = 64;                  // keeps the block cache-line aligned
constexpr std::size_t kLongestName = 200;

struct SegmentHeader {
    std::uint64_t magic;
    std::uint32_t kind;
    std::uint32_t blockSize;
};
static_assert(sizeof(SegmentHeader) <= kHeaderSize);

class Descriptor {
public:
    explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
    ~Descriptor()
    {
        if (descriptor_ >= 0)
            close(descriptor_);
    }
    Descriptor(Descriptor&& other) noexcept : descriptor_(other.release()) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return descriptor_; }
    bool valid() const { return descriptor_ >= 0; }
    int release()
    {
        const int descriptor = descriptor_;
        descriptor_ = -1;
        return descriptor;
    }

private:
    int descriptor_;
};

class Mapping {
public:
    Mapping(void* address, std::size_t size) : address_(address), size_(size) {}
    ~Mapping()
    {
        if (address_ != MAP_FAILED)
            munmap(address_, size_);
    }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;

    bool valid() const { return address_ != MAP_FAILED; }
    void* get() const { return address_; }
    void* release()
    {
        void* address = address_;
        address_ = MAP_FAILED;
        return address;
    }

private:
    void* address_;
    std::size_t size_;
};

bool acceptableName(const std::string& name)
{
    return !name.empty() && name.size() <= kLongestName && name.find('/') == std::string::npos
        && name.find('\0') == std::string::npos;
}

// The user id is part of both names, so users never meet in one namespace.
std::string segmentPath(const std::string& name)
{
    return "/beaconvigilor." + std::to_string(geteuid()) + "." + name;
}

std::string openingLockPath(const std::string& name)
{
    return "/beaconvigilor-open." + std::to_string(geteuid()) + "." + name;
}

int flockRetrying(int descriptor, int operation)
{
    int result;
    do {
        result = flock(descriptor, operation);
    } while (result != 0 && errno == EINTR);
    return result;
}

// Refuses anything this user did not create for itself: a file planted by
// someone else, or one that others could read or write.
Descriptor openOwnFile(const std::string& path)
{
    Descriptor file(shm_open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR));
    if (!file.valid())
        return file;
    struct stat status {};
    if (fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != geteuid()
        || (status.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        return Descriptor(-1);
    return file;
}

}  // namespace

std::unique_ptr<SharedSegment> SharedSegment::open(const std::string& name, SegmentKind kind, std::size_t blockSize,
                                                   const std::function<bool(void*)>& initialise)
{
    if (!acceptableName(name))
        return nullptr;
    const std::size_t size = kHeaderSize + blockSize;

    // Held while deciding whether the object is fresh, so that no opener sees
    // the segment between another one's exclusive and shared lock.
    Descriptor opening = openOwnFile(openingLockPath(name));
    if (!opening.valid() || flockRetrying(opening.get(), LOCK_EX) != 0)
        return nullptr;

    Descriptor segment = openOwnFile(segmentPath(name));
    if (!segment.valid())
        return nullptr;

    if (flockRetrying(segment.get(), LOCK_EX | LOCK_NB) == 0) {
        // Nobody holds it: whatever is in it was left by processes that ended.
        if (ftruncate(segment.get(), 0) != 0 || ftruncate(segment.get(), static_cast<off_t>(size)) != 0)
            return nullptr;
        Mapping mapping(mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, segment.get(), 0), size);
        if (!mapping.valid())
            return nullptr;
        auto* bytes = static_cast<unsigned char*>(mapping.get());
        if (!initialise(bytes + kHeaderSize))
            return nullptr;
        auto* header = reinterpret_cast<SegmentHeader*>(bytes);
        header->kind = static_cast<std::uint32_t>(kind);
        header->blockSize = static_cast<std::uint32_t>(blockSize);
        header->magic = kMagic;
        if (flockRetrying(segment.get(), LOCK_SH) != 0)
            return nullptr;
        return std::unique_ptr<SharedSegment>(new SharedSegment(segment.release(), mapping.release(), size));
    }
    if (errno != EWOULDBLOCK || flockRetrying(segment.get(), LOCK_SH) != 0)
        return nullptr;

    struct stat status {};
    if (fstat(segment.get(), &status) != 0 || status.st_size != static_cast<off_t>(size))
        return nullptr;
    Mapping mapping(mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, segment.get(), 0), size);
    if (!mapping.valid())
        return nullptr;
    const auto* header = static_cast<const SegmentHeader*>(mapping.get());
    if (header->magic != kMagic || header->kind != static_cast<std::uint32_t>(kind) || header->blockSize != blockSize)
        return nullptr;
    return std::unique_ptr<SharedSegment>(new SharedSegment(segment.release(), mapping.release(), size));
}

SharedSegment::SharedSegment(int descriptor, void* mapping, std::size_t size)
    : descriptor_(descriptor), mapping_(mapping), size_(size)
{
}

SharedSegment::~SharedSegment()
{
    munmap(mapping_, size_);
    close(descriptor_);
}

void* SharedSegment::block() const
{
    return static_cast<unsigned char*>(mapping_) + kHeaderSize;
}

}  // namespace platform::detail

namespace platform {

bool removeNamedObject(const std::string& name)
{
    using namespace detail;
    if (!acceptableName(name))
        return false;
    const bool segmentGone = shm_unlink(segmentPath(name).c_str()) == 0 || errno == ENOENT;
    const bool lockGone = shm_unlink(openingLockPath(name).c_str()) == 0 || errno == ENOENT;
    return segmentGone && lockGone;
}

}  // namespace platform

}  // namespace bv
