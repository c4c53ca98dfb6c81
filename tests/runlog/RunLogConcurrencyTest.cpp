// Many writers on one log folder at once: threads of one process and separate
// processes, each with its own TRunLog, all opening the same new day and
// closing items into it.
#include "RunLogTestSupport.h"

#include <gtest/gtest.h>

#include <latch>
#include <map>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Every project name in the day file with how often it occurs; fails the test
// when the file is not a header followed by well-joined items.
std::map<std::string, int> ItemsOf(const std::string& path) {
    const std::string text = ReadDayFileUtf8(path);
    std::map<std::string, int> names;
    const std::string header = "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n"
                               "<?xml:stylesheet type=\"text/xsl\" href=\"log.xsl\"?>\r\n"
                               "<log>\r\n"
                               "<Date>2005年1月1日</Date>\r\n";
    EXPECT_EQ(text.substr(0, header.size()), header);
    std::size_t pos = header.size();
    const std::string open = "<item><Project>";
    const std::string close = "</Project>\r\n<ProcessStatus>完成</ProcessStatus>\r\n</item>";
    while (text.compare(pos, open.size(), open) == 0) {
        const std::size_t nameEnd = text.find(close, pos);
        if (nameEnd == std::string::npos) {
            ADD_FAILURE() << "broken item at " << pos;
            break;
        }
        ++names[text.substr(pos + open.size(), nameEnd - pos - open.size())];
        pos = nameEnd + close.size();
    }
    EXPECT_EQ(text.substr(pos), "</log>\r\n");
    return names;
}

void WriteItems(const TRunLog& log, const std::string& prefix, int count) {
    log.OpenDayLog();
    for (int i = 0; i < count; ++i) {
        TLogBuffer buffer;
        buffer.WriteLogElement("Project", prefix + "-" + std::to_string(i));
        buffer.WriteLogElement("ProcessStatus", "完成");
        log.CloseLogItem(buffer);
    }
}

void ExpectEveryItemOnce(const std::string& folder, const std::vector<std::string>& prefixes, int count) {
    const std::map<std::string, int> names = ItemsOf(folder + "/2005.01.01.xml");
    EXPECT_EQ(names.size(), prefixes.size() * static_cast<std::size_t>(count));
    for (const std::string& prefix : prefixes) {
        for (int i = 0; i < count; ++i) {
            const auto it = names.find(prefix + "-" + std::to_string(i));
            EXPECT_TRUE(it != names.end() && it->second == 1) << prefix << "-" << i;
        }
    }
    EXPECT_EQ(ReadTextFile(folder + "/list.xml"), "<list><item>2005.01.01</item>\r\n</list>\r\n");
}

const TRunLog::TClock FixedDay = [] { return At(2005, 1, 1); };

} // namespace

TEST(RunLogConcurrency, EightThreadsLoseNoItem) {
    TTempDir dir;
    const int threads = 8;
    const int items = 25;
    std::latch start(threads);
    std::vector<std::string> prefixes;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        prefixes.push_back("线程" + std::to_string(t));
        workers.emplace_back([&, prefix = prefixes.back()] {
            const TRunLog log(dir / "log", FixedDay);
            start.arrive_and_wait();
            try {
                WriteItems(log, prefix, items);
            } catch (const std::exception& e) {
                ADD_FAILURE() << prefix << ": " << e.what();
            }
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    ExpectEveryItemOnce(dir / "log", prefixes, items);
}

TEST(RunLogConcurrency, SeveralProcessesLoseNoItem) {
    TTempDir dir;
    const int children = 3;
    const int items = 30;
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    std::vector<pid_t> pids;
    std::vector<std::string> prefixes;
    for (int c = 0; c < children; ++c) {
        prefixes.push_back("process" + std::to_string(c));
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(gate[1]);
            char byte;
            // Every writer starts when the parent closes the gate.
            [[maybe_unused]] const ssize_t n = read(gate[0], &byte, 1);
            int status = 0;
            try {
                WriteItems(TRunLog(dir / "log", FixedDay), prefixes.back(), items);
            } catch (...) {
                status = 1;
            }
            _exit(status);
        }
        pids.push_back(pid);
    }
    close(gate[0]);
    close(gate[1]);
    prefixes.push_back("parent");
    WriteItems(TRunLog(dir / "log", FixedDay), prefixes.back(), items);
    for (const pid_t pid : pids) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer process failed: " << status;
    }
    ExpectEveryItemOnce(dir / "log", prefixes, items);
}
