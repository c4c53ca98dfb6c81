// Writes that cannot reach the disk, and writers that die half way: the file
// is always the old one or the new one, never something in between.

#include "ChildProcess.h"
#include "config/IniFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <poll.h>
#include <string>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>

namespace {

std::string WriteErrorOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const EIniFileError& error) {
        return error.what();
    }
    return "no error";
}

// Temporary files left in the folder.
int TemporaryFilesIn(const std::string& folder) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        count += entry.path().filename().string().find(".tmp") != std::string::npos;
    }
    return count;
}

TEST(IniFileFailure, UnreachableFolderRaisesTheWriteError) {
    TTempDir dir;
    WriteTextFile(dir / "plain-file", "not a folder");
    // Neither can be created, not even by root.
    for (const auto& [path, reason] : {std::pair{dir / "missing/pairwell.ini", "No such file or directory"},
                                       std::pair{dir / "plain-file/pairwell.ini", "Not a directory"}}) {
        TIniFile ini(path);
        EXPECT_EQ(WriteErrorOf([&] { ini.WriteString("system", "project", "x"); }),
                  "Unable to write to " + path + ": the lock file " + path +
                      ".lock cannot be made: " + reason);
        EXPECT_EQ(ini.ReadString("system", "project", "default"), "default");
        EXPECT_NO_THROW(ini.EraseSection("system")) << "erasing nothing writes nothing";
    }
    EXPECT_FALSE(PathExists(dir / "missing"));
    EXPECT_EQ(ReadTextFile(dir / "plain-file"), "not a folder");
}

// Something that exists but cannot be read, not even by root, must not be
// replaced by a file that lacks its contents.
TEST(IniFileFailure, UnreadableFileIsNotOverwritten) {
    TTempDir dir;
    const std::string folder = dir / "folder.ini";
    WriteTextFile(folder + "/inside", "kept");
    TIniFile onFolder(folder);
    EXPECT_EQ(WriteErrorOf([&] { onFolder.WriteString("s", "k", "v"); }),
              "Unable to write to " + folder + ": not a regular file");
    EXPECT_EQ(ReadTextFile(folder + "/inside"), "kept");

    const std::string socketPath = dir / "socket.ini";
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    TIniFile onSocket(socketPath);
    EXPECT_EQ(WriteErrorOf([&] { onSocket.WriteString("s", "k", "v"); }),
              "Unable to write to " + socketPath + ": not a regular file");
    struct stat st {};
    EXPECT_EQ(lstat(socketPath.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode)) << "replaced";
    close(listener);
}

// A full disk, made real for root too: the child's file size limit stops the
// write of the temporary file half way.
TEST(IniFileFailure, FullDiskKeepsTheOldFileAndRaisesTheWriteError) {
    TTempDir dir;
    const std::string path = dir / "pairwell.ini";
    const std::string before = "[small]\r\nk=v\r\n[big]\r\nk=" + std::string(10000, 'b') + "\r\n";
    WriteTextFile(path, before);

    const pid_t child = StartChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        TIniFile ini(path);
        const std::string expected = "Unable to write to " + path + ": File too large";
        if (WriteErrorOf([&] { ini.WriteString("small", "k", "changed"); }) != expected) {
            return 1;
        }
        if (WriteErrorOf([&] { ini.EraseSection("small"); }) != expected) {
            return 2;
        }
        return 0;
    });
    EXPECT_EQ(WaitChild(child), 0);
    EXPECT_EQ(ReadTextFile(path), before);
    EXPECT_EQ(TemporaryFilesIn(dir.Path()), 0) << "a failed write cleans up after itself";
}

TEST(IniFileFailure, LeftoverTemporaryFilesDoNotDisturbTheStore) {
    TTempDir dir;
    const std::string path = dir / "pairwell.ini";
    WriteTextFile(path, "[a]\r\nk=real\r\n");
    WriteTextFile(path + ".tmp-abc123", "[a]\r\nk=half wri");
    WriteTextFile(path + ".lock", "");
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("a", "k", ""), "real");
    ini.WriteString("a", "k", "next");
    EXPECT_EQ(ini.ReadString("a", "k", ""), "next");
    EXPECT_EQ(ReadTextFile(path), "[a]\r\nk=next\r\n");
}

TEST(IniFileFailure, WritesKeepTheFilePermissions) {
    TTempDir dir;
    const std::string path = dir / "pairwell.ini";
    WriteTextFile(path, "[a]\r\nk=1\r\n");
    namespace fs = std::filesystem;
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
    TIniFile(path).WriteString("a", "k", "2");
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

// Blocks until something in the folder is created or written to; false after
// ten seconds of silence.
bool AwaitChangeIn(const std::string& folder) {
    const int notify = inotify_init1(IN_CLOEXEC);
    if (notify < 0 || inotify_add_watch(notify, folder.c_str(), IN_CREATE | IN_MODIFY) < 0) {
        return false;
    }
    pollfd ready{notify, POLLIN, 0};
    const bool changed = poll(&ready, 1, 10000) == 1;
    close(notify);
    return changed;
}

// A writer killed at any moment of a write, the file half written, leaves a
// file that is wholly the old or wholly the new version.
TEST(IniFileFailure, KilledWriterLeavesAWholeFile) {
    TTempDir dir;
    const std::string path = dir / "pairwell.ini";
    const std::size_t size = 300000;
    TIniFile ini(path);
    ini.WriteString("a", "value", std::string(size, '0'));
    ini.WriteString("a", "tail", "end");

    for (int round = 0; round < 24; ++round) {
        int running[2];
        ASSERT_EQ(pipe(running), 0);
        const pid_t child = StartChild([&] {
            close(running[0]);
            TIniFile writer(path);
            for (int i = 1;; ++i) {
                writer.WriteString("a", "value", std::string(size, static_cast<char>('0' + i % 10)));
                if (i == 1 && write(running[1], "!", 1) != 1) {
                    return 1;
                }
            }
            return 0;
        });
        close(running[1]);
        char c = 0;
        ASSERT_EQ(read(running[0], &c, 1), 1);
        close(running[0]);
        // The next write has begun to reach the disk: kill it at a point a
        // little further on each round.
        EXPECT_TRUE(AwaitChangeIn(dir.Path()));
        std::this_thread::sleep_for(std::chrono::microseconds(40 * round));
        kill(child, SIGKILL);
        EXPECT_EQ(WaitChild(child), -1);

        const std::string value = ini.ReadString("a", "value", "");
        ASSERT_EQ(value.size(), size) << "round " << round;
        EXPECT_EQ(value, std::string(size, value[0])) << "round " << round;
        EXPECT_EQ(ini.ReadString("a", "tail", ""), "end") << "round " << round;
    }
    // The lock died with its holder.
    ini.WriteString("a", "value", "done");
    EXPECT_EQ(ini.ReadString("a", "value", ""), "done");
}

} // namespace
