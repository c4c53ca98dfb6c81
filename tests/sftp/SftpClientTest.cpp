#include "sftp/SftpClient.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <future>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

const char* const ServerProgram = "/usr/lib/openssh/sftp-server";

// The system's own SFTP server, started as a child over a socket: the client
// alone, no network.
std::unique_ptr<TSftpClient> StartServer() {
    std::string reason;
    auto channel = TSftpChannel::Start({ServerProgram}, reason);
    EXPECT_TRUE(channel) << reason;
    if (!channel) {
        return nullptr;
    }
    return std::make_unique<TSftpClient>(std::move(channel));
}

std::string Pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    unsigned value = seed;
    for (char& c : bytes) {
        value = value * 1103515245u + 12345u;
        c = static_cast<char>(value >> 16);
    }
    return bytes;
}

// Writes bytes to path through pipelined writes, and reads them back through pipelined reads.
void WriteRemote(TSftpClient& client, const std::string& path, const std::string& bytes) {
    std::string handle;
    TSftpResult opened =
        client.Open(path, sftp::OpenWrite | sftp::OpenCreate | sftp::OpenTruncate, {}, handle);
    ASSERT_TRUE(opened) << opened.Reason();
    TSftpPipelinedWriter writer(client, handle);
    // In uneven pieces, as a copy's blocks come.
    for (std::size_t at = 0; at < bytes.size(); at += 100000) {
        writer.Write(std::string_view(bytes).substr(at, 100000), at);
    }
    ASSERT_TRUE(writer.Finish()) << writer.Result().Reason();
    ASSERT_TRUE(client.Close(handle));
}

std::string ReadRemote(TSftpClient& client, const std::string& path) {
    std::string handle;
    EXPECT_TRUE(client.Open(path, sftp::OpenRead, {}, handle));
    std::string bytes;
    {
        TSftpPipelinedReader reader(client, handle);
        char buffer[50000];
        long got = 0;
        while ((got = reader.Read(buffer, sizeof buffer)) > 0) {
            bytes.append(buffer, static_cast<std::size_t>(got));
        }
        EXPECT_EQ(got, 0) << reader.Result().Reason();
    }
    EXPECT_TRUE(client.Close(handle));
    return bytes;
}

} // namespace

TEST(SftpClient, FilesOfEverySizeAroundAPieceGoAndComeBackWhole) {
    TTempDir dir;
    auto client = StartServer();
    ASSERT_TRUE(client);
    EXPECT_GE(client->ChunkSize(), 32768u); // limits@openssh.com, or the protocol's 32 KiB
    EXPECT_GE(client->Depth(), 16u);
    for (const std::size_t size : {0, 1, 32767, 32768, 32769, 5 * 1024 * 1024 + 7}) {
        const std::string path = dir / ("f" + std::to_string(size));
        const std::string bytes = Pattern(size, static_cast<unsigned>(size));
        WriteRemote(*client, path, bytes);
        EXPECT_TRUE(ReadTextFile(path) == bytes) << size;
        EXPECT_TRUE(ReadRemote(*client, path) == bytes) << size;
        TSftpAttrs attrs;
        ASSERT_TRUE(client->Stat(path, attrs));
        EXPECT_EQ(attrs.FSize, size);
    }
    // Reads asked larger than the server gives come back short, and the rest is asked again.
    client->SetChunkSize(1u << 20);
    const std::string big = Pattern(3 * 1024 * 1024 + 5, 7);
    WriteTextFile(dir / "big", big);
    EXPECT_TRUE(ReadRemote(*client, dir / "big") == big);
}

TEST(SftpClient, AFolderOf1001EntriesIsListedWithTheirAttributes) {
    TTempDir dir;
    MakeFolder(dir / "many");
    for (int i = 0; i < 1001; ++i) {
        WriteTextFile(dir / ("many/entry" + std::to_string(i)),
                      std::string(static_cast<std::size_t>(i % 7), 'x'));
    }
    MakeFolder(dir / "many/sub");
    SetModifiedTime(dir / "many/entry5", 1600000000);
    auto client = StartServer();
    ASSERT_TRUE(client);
    std::vector<TSftpEntry> entries;
    ASSERT_TRUE(client->List(dir / "many", entries));
    ASSERT_EQ(entries.size(), 1002u);
    for (const TSftpEntry& entry : entries) {
        ASSERT_TRUE(entry.FAttrs.FFlags & sftp::AttrSize);
        if (entry.FName == "sub") {
            EXPECT_TRUE(S_ISDIR(entry.FAttrs.FMode));
        } else {
            EXPECT_TRUE(S_ISREG(entry.FAttrs.FMode));
            EXPECT_EQ(entry.FAttrs.FSize, std::stoul(entry.FName.substr(5)) % 7);
        }
        if (entry.FName == "entry5") {
            EXPECT_EQ(entry.FAttrs.FModified, 1600000000u);
        }
    }
    EXPECT_EQ(client->List(dir / "absent", entries).FError, ENOENT);
}

TEST(SftpClient, RenameKeepsOrReplacesTheDestinationAsAsked) {
    TTempDir dir;
    WriteTextFile(dir / "a", "new");
    WriteTextFile(dir / "b", "old");
    auto client = StartServer();
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->HasPosixRename());
    // The protocol's rename never replaces.
    EXPECT_FALSE(client->Rename(dir / "a", dir / "b"));
    EXPECT_EQ(ReadTextFile(dir / "b"), "old");
    ASSERT_TRUE(client->PosixRename(dir / "a", dir / "b"));
    EXPECT_EQ(ReadTextFile(dir / "b"), "new");
    EXPECT_FALSE(PathExists(dir / "a"));
    ASSERT_TRUE(client->Rename(dir / "b", dir / "c"));
    EXPECT_EQ(ReadTextFile(dir / "c"), "new");
}

TEST(SftpClient, LinksAreMadeAndReadTheRightWayRound) {
    TTempDir dir;
    WriteTextFile(dir / "file", "text");
    auto client = StartServer();
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->Symlink(dir / "link", "file"));
    char text[64] = {};
    ASSERT_EQ(readlink((dir / "link").c_str(), text, sizeof text - 1), 4);
    EXPECT_STREQ(text, "file");
    std::string read;
    ASSERT_TRUE(client->ReadLink(dir / "link", read));
    EXPECT_EQ(read, "file");
    TSftpAttrs attrs;
    ASSERT_TRUE(client->Lstat(dir / "link", attrs));
    EXPECT_TRUE(S_ISLNK(attrs.FMode));
    ASSERT_TRUE(client->Stat(dir / "link", attrs));
    EXPECT_TRUE(S_ISREG(attrs.FMode));
    ASSERT_TRUE(client->HasHardlink());
    ASSERT_TRUE(client->Hardlink(dir / "file", dir / "same"));
    struct stat first {
    }, second{};
    ASSERT_EQ(stat((dir / "file").c_str(), &first), 0);
    ASSERT_EQ(stat((dir / "same").c_str(), &second), 0);
    EXPECT_EQ(first.st_ino, second.st_ino);
}

TEST(SftpClient, ThreadsShareOneConnectionWithTheirRequestsInFlightTogether) {
    TTempDir dir;
    auto client = StartServer();
    ASSERT_TRUE(client);
    std::atomic<int> whole{0};
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (unsigned i = 0; i < 5; ++i) {
                const std::string path = dir / ("t" + std::to_string(t) + "_" + std::to_string(i));
                const std::string bytes = Pattern(200000 + t * 1000 + i, t * 10 + i);
                WriteRemote(*client, path, bytes);
                if (ReadRemote(*client, path) == bytes) {
                    ++whole;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(whole.load(), 30);
}

TEST(SftpClient, ManyFoldersAreListedTogetherWithoutAThreadEach) {
    TTempDir dir;
    // Around OpenSSH's 100 entries a reply, and an empty folder.
    const std::vector<int> sizes = {0, 1, 99, 100, 101, 250};
    for (std::size_t f = 0; f < 30; ++f) {
        const std::string folder = dir / ("f" + std::to_string(f));
        MakeFolder(folder);
        for (int i = 0; i < sizes[f % sizes.size()]; ++i) {
            WriteTextFile(folder + "/e" + std::to_string(i), "x");
        }
    }
    auto client = StartServer();
    ASSERT_TRUE(client);
    std::mutex mutex;
    std::condition_variable ended;
    std::map<std::string, TSftpResult> results;
    std::map<std::string, std::size_t> counts;
    std::vector<std::string> asked;
    for (std::size_t f = 0; f < 30; ++f) {
        asked.push_back(dir / ("f" + std::to_string(f)));
    }
    asked.push_back(dir / "absent");
    {
        // Requests of one thread held back go out together.
        TSftpChannel::THold together(client->Channel());
        for (const std::string& path : asked) {
            client->ListAsync(path, [&, path](TSftpResult result, std::vector<TSftpEntry> entries) {
                const std::lock_guard lock(mutex);
                results[path] = std::move(result);
                counts[path] = entries.size();
                ended.notify_all();
            });
        }
    }
    std::unique_lock lock(mutex);
    ASSERT_TRUE(
        ended.wait_for(lock, std::chrono::seconds(20), [&] { return results.size() == asked.size(); }));
    for (std::size_t f = 0; f < 30; ++f) {
        const std::string& path = asked[f];
        EXPECT_TRUE(results[path]) << path << ": " << results[path].Reason();
        EXPECT_EQ(counts[path], static_cast<std::size_t>(sizes[f % sizes.size()])) << path;
    }
    EXPECT_EQ(results[dir / "absent"].FError, ENOENT);
}

TEST(SftpClient, ASilentOrLostServerEndsTheWaitWithAReason) {
    // A program that never answers: the greeting waits out the time limit.
    std::string reason;
    const auto started = std::chrono::steady_clock::now();
    auto silent = TSftpChannel::Start({"sleep", "30"}, reason, std::chrono::milliseconds(300));
    EXPECT_FALSE(silent);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_NE(reason.find("did not answer"), std::string::npos) << reason;
    // A program that is not there, and one that says why it ends.
    EXPECT_FALSE(TSftpChannel::Start({"/nonexistent/ssh"}, reason));
    EXPECT_NE(reason.find("/nonexistent/ssh"), std::string::npos) << reason;
    EXPECT_FALSE(TSftpChannel::Start({"sh", "-c", "echo 'Connection refused' >&2; exit 255"}, reason));
    EXPECT_EQ(reason, "Connection refused");

    // A server gone mid-run fails the requests under way and those after.
    TTempDir dir;
    auto client = StartServer();
    ASSERT_TRUE(client);
    TSftpAttrs attrs;
    ASSERT_TRUE(client->Stat(dir.Path(), attrs));
    client->Channel().Abort("stopped by the test");
    EXPECT_EQ(client->Stat(dir.Path(), attrs).FError, ECONNABORTED);
    EXPECT_FALSE(client->Channel().Alive());
    std::vector<TSftpEntry> entries;
    EXPECT_EQ(client->List(dir.Path(), entries).FError, ECONNABORTED);

    // A server that greets and then answers nothing: a request whose reply
    // goes to a handler, which nobody waits for, still ends within the limit.
    auto greetsOnly = TSftpChannel::Start(
        {"sh", "-c",
         "head -c 9 >/dev/null; printf '\\000\\000\\000\\005\\002\\000\\000\\000\\003'; sleep 30"},
        reason);
    ASSERT_TRUE(greetsOnly) << reason;
    greetsOnly->SetLimit(std::chrono::milliseconds(1500)); // past the reader's one-second look
    std::promise<TSftpReply> answered;
    greetsOnly->Send(sftp::Opendir, std::string_view("\0\0\0\1/", 5),
                     [&](TSftpReply reply) { answered.set_value(reply); });
    auto reply = answered.get_future();
    ASSERT_EQ(reply.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(reply.get().FError, ETIMEDOUT);
    EXPECT_FALSE(greetsOnly->Alive());
}

TEST(SftpClient, ServerExtensionsFlushAndMeasure) {
    TTempDir dir;
    auto client = StartServer();
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->HasFsync());
    std::string handle;
    ASSERT_TRUE(client->Open(dir / "f", sftp::OpenWrite | sftp::OpenCreate, {}, handle));
    EXPECT_TRUE(client->Write(handle, 0, "abc"));
    TSftpAttrs times;
    times.FFlags = sftp::AttrTimes;
    times.FAccessed = times.FModified = 1500000000;
    EXPECT_TRUE(client->Fsetstat(handle, times));
    EXPECT_TRUE(client->Fsync(handle));
    EXPECT_TRUE(client->Close(handle));
    struct stat st {};
    ASSERT_EQ(stat((dir / "f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1500000000);
    TSftpSpace space;
    ASSERT_TRUE(client->Statvfs(dir.Path(), space));
    EXPECT_GT(space.FBlocks, 0u);
    EXPECT_EQ(client->MakeFolder(dir / "f", 0755).FError, EIO); // exists: OpenSSH says only "Failure"
}
