// A run is done only once the receiving file system has been flushed to its
// device. A failing device cannot be made at will, so the run's volumes fail
// the flush on cue for these cases.

#include "jobs/JobProcessor.h"

#include "FaultyVolume.h"
#include "JobTestSupport.h"

#include <atomic>
#include <cerrno>
#include <memory>
#include <sys/stat.h>

namespace {

std::atomic<int> FlushCalls{0};
std::atomic<bool> FlushFails{false};
dev_t FlushedDevice = 0;

// Every folder a run opens flushes through a volume that counts its flushes
// and fails them on cue.
std::shared_ptr<TVolume> CountingVolume(const std::string& root) {
    auto volume = std::make_shared<TFaultyVolume>(root);
    volume->FFlushFault = [root] {
        ++FlushCalls;
        struct stat st {};
        stat(root.c_str(), &st);
        FlushedDevice = st.st_dev;
        return FlushFails ? EIO : 0;
    };
    return volume;
}

TEST(FlushRunTest, TheReceivingFileSystemIsFlushedAndAFailedFlushFailsTheRun) {
    TTempDir dir;
    TIniFile ini(dir / "pairwell.ini");
    const TRunLog runLog(dir / "log");
    WriteTextFile(dir / "src/a.txt", "a");
    jobtest::StoreProject(ini, "P", dir / "src", dir / "dst");
    SetVolumeOpener(CountingVolume);
    struct TRestore {
        ~TRestore() { SetVolumeOpener(nullptr); }
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
