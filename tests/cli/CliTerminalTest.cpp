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

TEST_F(CliTerminalTest, CtrlCAndSigtermStopTheRunCleanly) {
    for (const int signalNumber : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signalNumber);
        // Sparse sources: made at once, copied at the speed of real data.
        for (int i = 0; i < 6; ++i) {
            MakeFolder(FDir / "src");
            const int fd =
                open((FDir / "src/big" + std::to_string(i)).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(ftruncate(fd, 64 << 20), 0);
            close(fd);
        }
        MakeFolder(FDir / "dst");
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const int null = open((FDir / "err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
            ExecCli({"--config", FConfig, "sync", "P"});
        }
        // The signal comes while a copy is being written.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!HasTemporaryFile(FDir / "dst") && std::chrono::steady_clock::now() < deadline) {
        }
        kill(pid, signalNumber);
        EXPECT_EQ(ExitStatusOf(pid), 2) << ReadTextFile(FDir / "err.txt");
        EXPECT_FALSE(HasTemporaryFile(FDir / "dst")) << "the stopped copy's temporary file is removed";
        EXPECT_FALSE(PathExists(FDir / "dst/big5") && PathExists(FDir / "dst/big0")) << "the run ended early";

        const std::string list = ReadTextFile(FDir / "log/list.xml");
        const std::string day = list.substr(list.find("<item>") + 6, 10);
        const auto log = Gb18030ToUtf8(ReadTextFile(FDir / "log/" + day + ".xml"));
        ASSERT_TRUE(log.has_value());
        EXPECT_NE(log->find("<ProcessStatus>中止</ProcessStatus>"), std::string::npos) << *log;

        std::remove((FDir / "log/" + day + ".xml").c_str());
        for (int i = 0; i < 6; ++i) {
            std::remove((FDir / "dst/big" + std::to_string(i)).c_str());
        }
    }
}

} // namespace
