#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Reads folders of a server ahead of a walk: the subfolders a listing showed
// are listed while the walk is still on the folder before, many of them in
// flight together on the connection. One thread of its own starts them as
// places come free, so that the server always has listings to answer. What
// they read goes where the walk looks first; a walk that gets there first
// reads it itself. Bounded: past a number of folders waiting, the oldest are
// dropped.
class TSftpReadAhead {
public:
    // Starts listing path and calls done once it ends (on any thread); false
    // when it did not start, and then done is not called.
    using TStart = std::function<bool(const std::string& path, std::function<void()> done)>;

    explicit TSftpReadAhead(TStart start) : FStart(std::move(start)) {}
    // Waits for the listings in flight: their ends use what owns this.
    ~TSftpReadAhead();
    TSftpReadAhead(const TSftpReadAhead&) = delete;
    TSftpReadAhead& operator=(const TSftpReadAhead&) = delete;

    void Ask(std::vector<std::string> paths);

private:
    void Work();
    // A listing ended and gives up its place; nothing of this is touched once
    // the destructor's wait may end.
    void Ended();

    TStart FStart;
    std::mutex FMutex;
    std::condition_variable FChanged;
    std::deque<std::string> FWaiting;
    std::size_t FInFlight = 0;
    bool FEnding = false;
    std::thread FThread; // started by the first Ask
};
