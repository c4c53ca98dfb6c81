#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// Reads folders of a server ahead of a walk: the subfolders a listing showed
// are listed while the walk is still on the folder before, many of them in
// flight together on the connection, without a thread each. What they read
// goes where the walk looks first; a walk that gets there first reads it
// itself. Bounded: past a number of folders waiting, the oldest are dropped.
class TSftpReadAhead {
public:
    // Starts listing path and calls done once it ends (on any thread); false
    // when it did not start, and then done is not called.
    //
    // Places freed by listings that ended are filled at the next Ask: the
    // walk asks at every folder it lists.
    using TStart = std::function<bool(const std::string& path, std::function<void()> done)>;

    explicit TSftpReadAhead(TStart start) : FStart(std::move(start)) {}
    // Waits for the listings in flight: their ends use what owns this.
    ~TSftpReadAhead();
    TSftpReadAhead(const TSftpReadAhead&) = delete;
    TSftpReadAhead& operator=(const TSftpReadAhead&) = delete;

    void Ask(std::vector<std::string> paths);

private:
    // Starts what waits, as far as the bound allows: on the asking thread
    // only, never where a listing ends (the connection's reader thread).
    void StartWaiting();
    // A listing ended and gives up its place. Nothing of this is touched once
    // the destructor's wait may end.
    void Ended();

    TStart FStart;
    std::mutex FMutex;
    std::condition_variable FSettled;
    std::deque<std::string> FWaiting;
    std::size_t FInFlight = 0;
    std::size_t FStarting = 0; // threads inside FStart
    bool FEnding = false;
};
