// A run is done only once the receiving file system has been flushed to its
// device. A failing device cannot be made at will, so the flush call is
// replaced for these cases.

#include "jobs/JobProcessor.h"

#include "JobTestSupport.h"
#include "engine/FlushFileSystem.h"

#include <atomic>
#include <cerrno>
#include <sys/stat.h>

namespace {

std::atomic<int> FlushCalls{0};
std::atomic<bool> FlushFails{false};
dev_t FlushedDevice = 0;

int CountingSyncFs(int fd) {
    ++FlushCalls;
    struct stat st {};
    fstat(fd, &st);
    FlushedDevice = st.st_dev;
    if (FlushFails) {
        errno = EIO;
        return -1;
    }
    return 0;
}

TEST(FlushRunTest, TheReceivingFileSystemIsFlushedAndAFailedFlushFailsTheRun) {
    TTempDir dir;
    TIniFile ini(dir / "pairwell.ini");
    const TRunLog runLog(dir / "log");
    WriteTextFile(dir / "src/a.txt", "a");
    jobtest::StoreProject(ini, "P", dir / "src", dir / "dst");
    SetSyncFsCallForTests(CountingSyncFs);
    struct TRestore {
        ~TRestore() { SetSyncFsCallForTests(nullptr); }
    } restore;

    TJobProcessor processor(ini, runLog, "");
    EXPECT_TRUE(processor.RunProject("P").FCompleted);
    EXPECT_EQ(FlushCalls, 1);
    struct stat target {};
    ASSERT_EQ(stat((dir / "dst").c_str(), &target), 0);
    EXPECT_EQ(FlushedDevice, target.st_dev);

    FlushFails = true;
    WriteTextFile(dir / "src/b.txt", "b");
    const TProjectRunResult failed = processor.RunProject("P");
    EXPECT_FALSE(failed.FCompleted);
    EXPECT_EQ(failed.FErrorText, "写入设备失败: Input/output error");
    const std::vector<jobtest::Lines> items = jobtest::DayItems(runLog);
    ASSERT_EQ(items.size(), 2U);
    EXPECT_TRUE(jobtest::Contains(items[1], "<ProcessStatus>中止</ProcessStatus>"));
    EXPECT_TRUE(jobtest::Contains(items[1], "<Error>写入设备失败: Input/output error</Error>"));
}

} // namespace
