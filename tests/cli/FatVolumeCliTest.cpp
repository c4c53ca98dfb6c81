// Synchronising to the file systems of USB sticks: exFAT mounted through FUSE
// and the kernel's vfat, each on a loop device. They need root and the tools
// (exfat-fuse, exfatprogs, dosfstools); without them the cases are skipped.

#include "CliProgram.h"
#include "TempDir.h"
#include "config/IniFile.h"
#include "engine/project/ProjectRecord.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool Shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string ShellOutput(const std::string& command) {
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
            text += buffer;
        }
        pclose(pipe);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

// A fresh image of the given kind mounted at a folder, gone again at the end.
class TMountedImage {
public:
    TMountedImage(const TTempDir& dir, const std::string& kind) : FFolder(dir / "volume") {
        const std::string image = dir / (kind + ".img");
        MakeFolder(FFolder);
        if (geteuid() != 0 || !Shell("truncate -s 32M " + image)) {
            return;
        }
        if (kind == "exfat") {
            if (!Shell("mkfs.exfat " + image)) {
                return;
            }
            FLoop = ShellOutput("losetup -f --show " + image + " 2>/dev/null");
            FMounted = !FLoop.empty() && Shell("mount.exfat-fuse " + FLoop + " " + FFolder);
        } else {
            FMounted = Shell("mkfs.vfat " + image) && Shell("mount -t vfat -o loop " + image + " " + FFolder);
        }
    }
    ~TMountedImage() {
        if (FMounted) {
            Shell("umount " + FFolder);
        }
        if (!FLoop.empty()) {
            Shell("losetup -d " + FLoop);
        }
    }
    TMountedImage(const TMountedImage&) = delete;
    TMountedImage& operator=(const TMountedImage&) = delete;

    bool Mounted() const { return FMounted; }
    const std::string& Folder() const { return FFolder; }

private:
    std::string FFolder;
    std::string FLoop;
    bool FMounted = false;
};

struct TRun {
    int FStatus = -1;
    std::string FOut;
};

TRun RunCli(const TTempDir& dir, std::vector<std::string> args) {
    args.insert(args.begin(), {"--config", dir / "pairwell.ini"});
    const std::string outPath = dir / "stdout";
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
        dup2(open("/dev/null", O_WRONLY), STDERR_FILENO);
        ExecCli(args);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadTextFile(outPath)};
}

class FatVolumeCliTest : public ::testing::TestWithParam<std::string> {};

TEST_P(FatVolumeCliTest, CopiesUpdatesAndThenPlansNothingWithTheAutomaticTolerance) {
    TTempDir dir;
    const TMountedImage volume(dir, GetParam());
    if (!volume.Mounted()) {
        GTEST_SKIP() << GetParam() << " needs root, its tools and a kernel that mounts it here";
    }
    // Odd seconds and a fraction: the volume keeps times to two seconds.
    WriteTextFile(dir / "src/a.txt", "first");
    WriteTextFile(dir / "src/sub/b.txt", "b");
    SetModifiedTime(dir / "src/a.txt", 1'700'000'001, 730'000'000);
    SetModifiedTime(dir / "src/sub/b.txt", 1'700'000'003, 10'000'000);
    TIniFile ini(dir / "pairwell.ini");
    ini.WriteString(ProjectSection("stick"), "source", dir / "src");
    ini.WriteString(ProjectSection("stick"), "target", volume.Folder() + "/backup");
    ini.WriteString(ProjectSection("stick"), "FileDelete", "True");

    const TRun first = RunCli(dir, {"sync", "stick"});
    ASSERT_EQ(first.FStatus, 0) << first.FOut;
    EXPECT_NE(first.FOut.find("new: 2 done, 0 failed"), std::string::npos) << first.FOut;
    EXPECT_EQ(ReadTextFile(volume.Folder() + "/backup/sub/b.txt"), "b");
    EXPECT_EQ(RunCli(dir, {"check", "stick"}).FOut, "") << "no update planned, TimeTolerance absent";

    WriteTextFile(dir / "src/a.txt", "second");
    SetModifiedTime(dir / "src/a.txt", 1'700'000'101);
    EXPECT_EQ(RunCli(dir, {"check", "stick"}).FOut, "update\ta.txt\n");
    const TRun update = RunCli(dir, {"sync", "stick"});
    EXPECT_EQ(update.FStatus, 0) << update.FOut;
    EXPECT_EQ(ReadTextFile(volume.Folder() + "/backup/a.txt"), "second");
    EXPECT_EQ(RunCli(dir, {"check", "stick"}).FOut, "");

    // With no tolerance the volume's coarse times would be taken for changes.
    ini.WriteString(ProjectSection("stick"), "TimeTolerance", "0");
    EXPECT_NE(RunCli(dir, {"check", "stick"}).FOut.find("update\tsub/b.txt"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Volumes, FatVolumeCliTest, ::testing::Values("exfat", "vfat"));

} // namespace
