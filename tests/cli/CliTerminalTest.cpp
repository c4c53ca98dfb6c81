// pairwell-cli as a person runs it: on a terminal, and stopped with Ctrl+C.

#include "CliProgram.h"
#include "TempDir.h"
#include "config/Gb18030.h"
#include "config/IniFile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <pty.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

class CliTerminalTest : public ::testing::Test {
protected:
    CliTerminalTest() : FIni(FConfig) {
        FIni.WriteString("project_P", "source", FDir / "src");
        FIni.WriteString("project_P", "target", FDir / "dst");
    }

    TTempDir FDir;
    std::string FConfig = FDir / "pairwell.ini";
    TIniFile FIni;
};

// Whether the folder holds one of the copies' hidden temporary files.
bool HasTemporaryFile(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    bool found = false;
    while (dir != nullptr && !found) {
        const dirent* entry = readdir(dir);
        if (entry == nullptr) {
            break;
        }
        found = std::string(entry->d_name).rfind(".pairwell-", 0) == 0;
    }
    if (dir != nullptr) {
        closedir(dir);
    }
    return found;
}

int ExitStatusOf(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(CliTerminalTest, ThePlanNeverSharesALineWithTheProgressLine) {
    for (int i = 0; i < 3000; ++i) {
        WriteTextFile(FDir / "src/file" + std::to_string(i), "x");
    }
    int terminal = -1;
    winsize size{};
    size.ws_col = 120;
    size.ws_row = 40;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, &size);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ExecCli({"--config", FConfig, "check", "P"});
    }
    std::string screen;
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(terminal, buffer, sizeof buffer);
        if (n <= 0) {
            break; // EIO once the program has ended
        }
        screen.append(buffer, static_cast<std::size_t>(n));
    }
    close(terminal);
    EXPECT_EQ(ExitStatusOf(pid), 0);
    ASSERT_NE(screen.find("生成源文件索引..."), std::string::npos) << "the progress line was drawn";
    std::size_t lines = 0;
    for (std::size_t at = screen.find("new\t"); at != std::string::npos; at = screen.find("new\t", at + 1)) {
        ++lines;
        const std::string before = screen.substr(at - 3, 3);
        EXPECT_TRUE(before == "\033[K" || before.back() == '\n')
            << "a plan line starts after: " << screen.substr(at > 60 ? at - 60 : 0, 60);
    }
    EXPECT_EQ(lines, 3000u);
}

// Runs "sync P" and sends the signal as soon as a copy is being written.
// Returns the exit status, or -1 when the run had finished every copy before
// the signal could land (a busy machine): then nothing was tested.
int SyncInterrupted(const TTempDir& dir, const std::string& config, int signalNumber) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open((dir / "err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        ExecCli({"--config", config, "sync", "P"});
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!HasTemporaryFile(dir / "dst") && std::chrono::steady_clock::now() < deadline) {
    }
    kill(pid, signalNumber);
    const int status = ExitStatusOf(pid);
    return status == 0 && PathExists(dir / "dst/big5") && PathExists(dir / "dst/big0") ? -1 : status;
}

TEST_F(CliTerminalTest, CtrlCAndSigtermStopTheRunCleanly) {
    // Real data (holes would be copied as holes, at once): six files of 48 MiB.
    MakeFolder(FDir / "src");
    const std::string block(1 << 20, 'x');
    for (int i = 0; i < 6; ++i) {
        const int fd =
            open((FDir / "src/big" + std::to_string(i)).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        for (int m = 0; m < 48; ++m) {
            ASSERT_EQ(write(fd, block.data(), block.size()), static_cast<ssize_t>(block.size()));
        }
        close(fd);
    }
    for (const int signalNumber : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signalNumber);
        int status = -1;
        for (int attempt = 0; attempt < 5 && status == -1; ++attempt) {
            std::filesystem::remove_all(FDir / "dst");
            std::filesystem::remove_all(FDir / "log");
            MakeFolder(FDir / "dst");
            status = SyncInterrupted(FDir, FConfig, signalNumber);
        }
        ASSERT_NE(status, -1) << "every run finished before its signal";
        EXPECT_EQ(status, 2) << ReadTextFile(FDir / "err.txt");
        EXPECT_FALSE(HasTemporaryFile(FDir / "dst")) << "the stopped copy's temporary file is removed";

        const std::string list = ReadTextFile(FDir / "log/list.xml");
        const std::string day = list.substr(list.find("<item>") + 6, 10);
        const auto log = Gb18030ToUtf8(ReadTextFile(FDir / "log/" + day + ".xml"));
        ASSERT_TRUE(log.has_value());
        EXPECT_NE(log->find("<ProcessStatus>中止</ProcessStatus>"), std::string::npos) << *log;
    }
}

} // namespace
