// One configuration file used at once by threads of this process and by
// other processes: no write may be lost and no read may see half a file.

#include "ChildProcess.h"
#include "config/IniFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string KeyOf(int writer, int index) {
    return "w" + std::to_string(writer) + "_k" + std::to_string(index);
}

std::string ValueOf(int writer, int index) {
    return "值 " + std::to_string(writer * 1000 + index);
}

TEST(IniFileConcurrency, ThreadsLoseNoWrites) {
    TTempDir dir;
    const std::string path = dir / "pairwell.ini";
    TIniFile shared(path);
    constexpr int Threads = 8;
    constexpr int Keys = 50;
    std::latch start(Threads);
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            // Half the threads share one object, the others have their own.
            TIniFile own(path);
            TIniFile& ini = t % 2 == 0 ? shared : own;
            start.arrive_and_wait();
            for (int k = 0; k < Keys; ++k) {
                ini.WriteString("shared", KeyOf(t, k), ValueOf(t, k));
                ini.WriteString("job_" + std::to_string(t), "count", std::to_string(k + 1));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    TStringList keys;
    shared.ReadSection("shared", keys);
    EXPECT_EQ(keys.size(), static_cast<std::size_t>(Threads * Keys));
    for (int t = 0; t < Threads; ++t) {
        EXPECT_EQ(shared.ReadString("job_" + std::to_string(t), "count", ""), std::to_string(Keys));
        for (int k = 0; k < Keys; ++k) {
            EXPECT_EQ(shared.ReadString("shared", KeyOf(t, k), "lost"), ValueOf(t, k));
        }
    }
}

TEST(IniFileConcurrency, ProcessesLoseNoWrites) {
    TTempDir dir;
    const std::string path = dir / "pairwell.ini";
    constexpr int Children = 3;
    constexpr int Keys = 50;
    TStartGate gate;
    std::vector<pid_t> children;
    for (int c = 0; c < Children; ++c) {
        children.push_back(StartChild([&, c] {
            gate.Wait();
            TIniFile ini(path);
            for (int k = 0; k < Keys; ++k) {
                ini.WriteString("shared", KeyOf(c, k), ValueOf(c, k));
            }
            return 0;
        }));
    }
    gate.Open();
    TIniFile ini(path);
    for (int k = 0; k < Keys; ++k) {
        ini.WriteString("shared", KeyOf(Children, k), ValueOf(Children, k));
    }
    for (const pid_t child : children) {
        EXPECT_EQ(WaitChild(child), 0);
    }

    TStringList keys;
    ini.ReadSection("shared", keys);
    EXPECT_EQ(keys.size(), static_cast<std::size_t>((Children + 1) * Keys));
    for (int c = 0; c <= Children; ++c) {
        for (int k = 0; k < Keys; ++k) {
            EXPECT_EQ(ini.ReadString("shared", KeyOf(c, k), "lost"), ValueOf(c, k));
        }
    }
}

// A job runner reads the project the window saved a moment earlier.
TEST(IniFileConcurrency, ReadsSeeTheLatestWrite) {
    TTempDir dir;
    const std::string path = dir / "pairwell.ini";
    TIniFile window(path);
    TIniFile runner(path);
    for (int i = 0; i < 100; ++i) {
        window.WriteString("project_p", "source", "/folder/" + std::to_string(i));
        ASSERT_EQ(runner.ReadString("project_p", "source", ""), "/folder/" + std::to_string(i));
    }

    // The same with the writer in another process, in lock step: it writes,
    // says so, and waits until this process has read.
    int written[2];
    int seen[2];
    ASSERT_EQ(pipe(written), 0);
    ASSERT_EQ(pipe(seen), 0);
    const pid_t child = StartChild([&] {
        TIniFile tool(path);
        char c = 0;
        for (int i = 0; i < 20; ++i) {
            tool.WriteString("project_p", "source", "/tool/" + std::to_string(i));
            if (write(written[1], &c, 1) != 1 || read(seen[0], &c, 1) != 1) {
                return 1;
            }
        }
        return 0;
    });
    close(written[1]);
    close(seen[0]);
    char c = 0;
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(read(written[0], &c, 1), 1);
        EXPECT_EQ(runner.ReadString("project_p", "source", ""), "/tool/" + std::to_string(i));
        ASSERT_EQ(write(seen[1], &c, 1), 1);
    }
    close(written[0]);
    close(seen[1]);
    EXPECT_EQ(WaitChild(child), 0);
}

// Readers in this process do not wait for a writer in another process: they
// must still never see a file that is half written.
TEST(IniFileConcurrency, ReadersNeverSeeHalfAFile) {
    TTempDir dir;
    const std::string path = dir / "pairwell.ini";
    const std::size_t size = 100000;
    TIniFile ini(path);
    ini.WriteString("a", "value", std::string(size, '0'));
    ini.WriteString("a", "tail", "end");

    TStartGate gate;
    const pid_t child = StartChild([&] {
        gate.Wait();
        TIniFile writer(path);
        for (int i = 1; i <= 100; ++i) {
            writer.WriteString("a", "value", std::string(size, static_cast<char>('0' + i % 10)));
        }
        return 0;
    });
    gate.Open();
    std::atomic<bool> finished = false;
    std::atomic<int> torn = 0;
    std::thread reader([&] {
        while (!finished) {
            const std::string value = ini.ReadString("a", "value", "");
            if (value.size() != size || value != std::string(size, value[0]) ||
                ini.ReadString("a", "tail", "") != "end") {
                ++torn;
            }
        }
    });
    EXPECT_EQ(WaitChild(child), 0);
    finished = true;
    reader.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(ini.ReadString("a", "value", ""), std::string(size, '0'));
}

// One process saves a record again and again while this one reads it: every
// read sees one save whole, never the source of one and the target of another.
TEST(IniFileConcurrency, SectionSnapshotsNeverMixTwoSaves) {
    TTempDir dir;
    const std::string path = dir / "pairwell.ini";
    TIniFile ini(path);
    ini.WriteString("project_p", "other", "stays");
    TStartGate gate;
    const pid_t child = StartChild([&] {
        gate.Wait();
        TIniFile writer(path);
        for (int i = 0; i < 300; ++i) {
            const std::string n = std::to_string(i);
            writer.WriteSectionValues("project_p", {{"source", "/s" + n}, {"target", "/t" + n}});
        }
        return 0;
    });
    gate.Open();
    int reads = 0;
    int mixed = 0;
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        const TIniFile::TValues values = ini.ReadSectionValues("project_p");
        const std::string source = ::ValueOf(values, "source", "");
        const std::string target = ::ValueOf(values, "Target", "");
        if (source.empty() ? !target.empty() : target != "/t" + source.substr(2)) {
            ++mixed;
        }
        ++reads;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(ini.ReadString("project_p", "target", ""), "/t299");
    EXPECT_EQ(mixed, 0) << "of " << reads << " reads";
    EXPECT_EQ(ini.ReadString("project_p", "other", ""), "stays");
}

} // namespace
