#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Reads folders of a server ahead of a walk: a few threads list the subfolders
// a listing showed while the walk is still on the folder before, so that their
// requests are in flight together rather than one folder at a time. What they
// read goes where the walk looks first; a walk that gets there first reads it
// itself. Bounded: past a number of folders waiting, the oldest are dropped.
class TSftpReadAhead {
public:
    explicit TSftpReadAhead(std::function<void(const std::string&)> list) : FList(std::move(list)) {}
    ~TSftpReadAhead();
    TSftpReadAhead(const TSftpReadAhead&) = delete;
    TSftpReadAhead& operator=(const TSftpReadAhead&) = delete;

    void Ask(std::vector<std::string> paths);

private:
    void Work();

    std::function<void(const std::string&)> FList;
    std::mutex FMutex;
    std::condition_variable FAsked;
    std::deque<std::string> FWaiting;
    std::vector<std::thread> FThreads;
    bool FEnding = false;
};
