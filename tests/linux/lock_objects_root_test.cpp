// Named lock objects of another user: root gives up its rights for nobody.

#include "platform/lock_objects.h"
#include "support/child_process.h"
#include "support/lock_objects.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

using namespace bv;

using platform::Mutex;
using platform::Semaphore;
using platform::WaitResult;

namespace {

std::string uniqueName(const std::string& base, const std::string& test)
{
    return base + "-" + std::to_string(getpid()) + "-" + test;
}

}  // namespace

TEST(NamedObjects, OtherUserGetsObjectsOfItsOwn)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: switches to the user nobody";
    const NamedObjects names({ uniqueName("addresMutexName", "user"), uniqueName("fileMutexName", "user") });
    auto semaphore = made(Semaphore::openNamed(names[0], 6, 6));
    auto mutex = made(Mutex::openNamed(names[1]));
    ASSERT_NE(semaphore, nullptr);
    ASSERT_NE(mutex, nullptr);
    ASSERT_EQ(takeAll(*semaphore), 6);
    ASSERT_EQ(mutex->wait(), WaitResult::Signalled);

    const std::string rootSegment = "/beaconvigilor.0." + names[0];
    const int rootOpen = shm_open(rootSegment.c_str(), O_RDWR, 0);
    ASSERT_GE(rootOpen, 0) << "the segment is not where the other user tries it";
    close(rootOpen);

    const ChildOutcome child = runInChild([&] {
        if (!becomeNobody())
            return childSetupFailed("become nobody");
        const int status = checksInChild([&] {
            auto own = made(Semaphore::openNamed(names[0], 6, 6));
            auto ownMutex = made(Mutex::openNamed(names[1]));
            ASSERT_NE(own, nullptr) << "the other user's semaphore did not open";
            ASSERT_NE(ownMutex, nullptr) << "the other user's mutex did not open";
            EXPECT_EQ(takeAll(*own), 6) << "the other user's semaphore does not have its own counts";
            EXPECT_EQ(ownMutex->tryWait(), WaitResult::Signalled) << "the other user's mutex is not its own";
            EXPECT_TRUE(ownMutex->release());
            for (const int flags : { O_RDWR, O_RDONLY }) {
                errno = 0;
                const int direct = shm_open(rootSegment.c_str(), flags, 0);
                const int error = errno;
                EXPECT_LT(direct, 0) << "root's segment opened with flags " << flags;
                EXPECT_EQ(error, EACCES) << flags;
            }
        });
        platform::removeNamedObject(names[0]);
        platform::removeNamedObject(names[1]);
        return status;
    });
    EXPECT_EQ(child.status, 0) << child.output;

    EXPECT_EQ(semaphore->tryWait(), std::nullopt) << "the other user released into this user's semaphore";
    EXPECT_TRUE(mutex->release());
}
