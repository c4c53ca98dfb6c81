#include "engine/apply/ParallelCopies.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace {

TEST(ParallelCopiesTest, AutoFollowsTheCoresAndTheReceivingDisk) {
    EXPECT_EQ(TextToParallelCopies(""), ParallelCopiesAuto);
    EXPECT_EQ(TextToParallelCopies(" Auto "), ParallelCopiesAuto);
    EXPECT_EQ(TextToParallelCopies("16"), 16);
    for (const char* bad : {"0", "17", "-1", "2x", "many"}) {
        EXPECT_THROW(TextToParallelCopies(bad), EConvertError) << bad;
    }
    EXPECT_EQ(ResolveParallelCopies(5, "/"), 5);

    // Device folders as /sys shows them: a partition's disk is the folder above.
    TTempDir sys;
    const auto disk = [&](const std::string& path, const char* rotational) {
        WriteTextFile(sys / (path + "/queue/rotational"), rotational);
        return sys / path;
    };
    const std::string sata = disk("devices/pci0000:00/ata1/host0/block/sda", "1\n");
    MakeFolder(sata + "/sda1");
    EXPECT_TRUE(IsRotatingDevice(sata));
    EXPECT_TRUE(IsRotatingDevice(sata + "/sda1"));
    EXPECT_FALSE(IsRotatingDevice(disk("devices/pci0000:00/nvme/nvme0/block/nvme0n1", "0\n")));
    EXPECT_FALSE(IsRotatingDevice(disk("devices/pci0000:00/0000:00:05.0/virtio2/block/vda", "1\n")));
    EXPECT_FALSE(IsRotatingDevice(sys / "devices/virtual/block/none"));

    // This machine's temporary folder: never more than the cores, at most 8.
    const TTempDir here;
    const int copies = ResolveParallelCopies(ParallelCopiesAuto, here.Path());
    EXPECT_GE(copies, 1);
    EXPECT_LE(copies, std::min(8, static_cast<int>(std::max(1u, std::thread::hardware_concurrency()))));
}

} // namespace
