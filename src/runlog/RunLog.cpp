#include "RunLog.h"

#include "LogText.h"
#include "LogViewer.h"
#include "config/AtomicFile.h"
#include "config/Gb18030.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace fs = std::filesystem;

// The element lines in memory are UTF-8; the files on disk are GB18030 and
// declare gb2312 (GB18030's bytes for every GB2312 character). Inserts happen
// on the raw file bytes: the texts searched for ("</log>", "<list>", a list
// entry) are ASCII and begin with "<" (0x3C), a byte that never occurs inside a
// GB18030 multi-byte character, so a match always lies on character bounds.

std::string EscapeXmlText(const std::string& value) {
    // One pass gives the same text as replacing "&", then ">", then "<", then
    // the double quote in turn: the replacements add no character that a later
    // step would replace, and "&" comes first so entities already in the value
    // are escaped again.
    std::string escaped;
    escaped.reserve(value.size());
    for (const char c : value) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

namespace {

constexpr std::size_t LogBlockSize = 1024 * 1024;

} // namespace

void TLogBuffer::WriteLogElement(const std::string& name, const std::string& value) {
    const std::string escaped = EscapeXmlText(MakeLogSafe(value));
    const std::size_t size = 2 * name.size() + escaped.size() + 6;
    if (FBlocks.empty() || FBlocks.back().size() + size > LogBlockSize) {
        FBlocks.emplace_back().reserve(std::max(size, LogBlockSize));
    }
    std::string& block = FBlocks.back();
    block += '<';
    block += name;
    block += '>';
    block += escaped;
    block += "</";
    block += name;
    block += ">\n";
    ++FCount;
}

std::size_t TLogBuffer::TextSize() const {
    std::size_t size = 0;
    for (const std::string& block : FBlocks) {
        size += block.size();
    }
    return size;
}

TStringList TLogBuffer::Lines() const {
    TStringList lines;
    lines.reserve(FCount);
    for (const std::string& block : FBlocks) {
        std::size_t start = 0;
        for (std::size_t end = block.find('\n'); end != std::string::npos; end = block.find('\n', start)) {
            lines.emplace_back(block, start, end - start);
            start = end + 1;
        }
    }
    return lines;
}

void TLogBuffer::TakeBlocks(const std::function<void(const std::string& block)>& visit) {
    std::vector<std::string> blocks;
    blocks.swap(FBlocks);
    FCount = 0;
    for (std::string& block : blocks) {
        visit(block);
        std::string().swap(block);
    }
}

namespace {

const char* const CrLf = "\r\n";

void Fail(const std::string& message) {
    throw ERunLogError("run log: " + message);
}

std::string ListFileName(const std::string& folder) {
    return folder + "/list.xml";
}
// A list file naming no day yet.
std::string NewListText() {
    return std::string("<list>") + CrLf + "</list>" + CrLf;
}
std::string LockFileName(const std::string& folder) {
    return folder + "/.lock";
}
std::string DayFileName(const std::string& folder, TDateTime day) {
    return folder + "/" + FormatLogDate(day) + ".xml";
}

std::string ToFileText(const std::string& utf8, const std::string& path) {
    std::optional<std::string> encoded = Utf8ToGb18030(utf8);
    if (!encoded) {
        Fail("cannot encode text for " + path);
    }
    return std::move(*encoded);
}

// A new day file: exactly the five header lines, dated with the given day.
std::string NewDayFileText(TDateTime day, const std::string& path) {
    return ToFileText(std::string("<?xml version=\"1.0\" encoding=\"gb2312\"?>") + CrLf +
                          "<?xml:stylesheet type=\"text/xsl\" href=\"log.xsl\"?>" + CrLf + "<log>" + CrLf +
                          "<Date>" + FormatChineseDate(day) + "</Date>" + CrLf + "</log>" + CrLf,
                      path);
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::symlink_status(path, ec).type() != fs::file_type::not_found;
}

void MakeFolder(const std::string& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder, ec)) {
        Fail("cannot create the log folder " + folder + (ec ? ": " + ec.message() : std::string()));
    }
}

std::string ReadExisting(const std::string& path) {
    std::optional<std::string> text = ReadWholeFile(path);
    if (!text) {
        Fail("cannot read " + path);
    }
    return std::move(*text);
}

void Write(const std::string& path, const std::string& text) {
    if (!ReplaceFileAtomically(path, NormaliseLineEnds(text))) {
        Fail("cannot write " + path);
    }
}

// Holds the log folder's lock file for the read, insert and write of one
// operation. flock serialises the threads of this process as well as other
// processes, since every holder opens the lock file anew.
class TFolderLock {
public:
    explicit TFolderLock(const std::string& folder) : FLock(LockFileName(folder)) {
        if (!FLock.Locked()) {
            Fail("cannot lock " + LockFileName(folder));
        }
    }

private:
    TFileLock FLock;
};

// Puts "<item>yyyy.mm.dd</item>" right after the first "<list>" of the list
// file unless the entry is already there somewhere; a missing list file is
// created first. A list file without "<list>" is left alone.
void ListDay(const std::string& folder, TDateTime day) {
    const std::string path = ListFileName(folder);
    std::string text = Exists(path) ? ReadExisting(path) : NewListText();
    const std::string entry = "<item>" + FormatLogDate(day) + "</item>";
    if (text.find(entry) != std::string::npos) {
        return;
    }
    const std::size_t list = text.find("<list>");
    if (list == std::string::npos) {
        return;
    }
    text.insert(list + 6, entry);
    Write(path, text);
}

// Writes the five-line day file of the given day unless it exists; true when
// it was written here.
bool CreateDayFile(const std::string& folder, TDateTime day) {
    const std::string path = DayFileName(folder, day);
    if (Exists(path)) {
        return false;
    }
    Write(path, NewDayFileText(day, path));
    return true;
}

// Empties the buffer however the close ends.
class TBufferEmptier {
public:
    explicit TBufferEmptier(TLogBuffer& buffer) : FBuffer(buffer) {}
    ~TBufferEmptier() { FBuffer.Clear(); }
    TBufferEmptier(const TBufferEmptier&) = delete;
    TBufferEmptier& operator=(const TBufferEmptier&) = delete;

private:
    TLogBuffer& FBuffer;
};

// Writes text to a file in large pieces with every line ended by CR LF, as
// NormaliseLineEnds would give it for the whole text at once.
class TCrLfWriter {
public:
    explicit TCrLfWriter(int fd) : FFd(fd) { FOut.reserve(LogBlockSize + 2); }

    bool Put(std::string_view text) {
        while (!text.empty()) {
            // The text up to the next line end goes as it is.
            std::size_t end = 0;
            while (end < text.size() && text[end] != '\n' && text[end] != '\r') {
                ++end;
            }
            if (end > 0) {
                FOut.append(text.substr(0, end));
                FAfterCr = false;
            }
            if (end < text.size()) {
                const char c = text[end];
                if (c == '\r' || !FAfterCr) {
                    FOut += CrLf;
                }
                FAfterCr = c == '\r';
            }
            text.remove_prefix(std::min(end + 1, text.size()));
            if (FOut.size() >= LogBlockSize && !Flush()) {
                return false;
            }
        }
        return true;
    }

    // Ends a last line that has no line end, and writes what is left.
    bool Finish() {
        const char last = FOut.empty() ? FLast : FOut.back();
        if ((FWritten || !FOut.empty()) && last != '\n') {
            FOut += CrLf;
        }
        return Flush();
    }

private:
    bool Flush() {
        if (FOut.empty()) {
            return true;
        }
        FLast = FOut.back();
        FWritten = true;
        const bool written = WriteAllTo(FFd, FOut.data(), FOut.size());
        FOut.clear();
        return written;
    }

    int FFd;
    std::string FOut;
    bool FAfterCr = false;
    bool FWritten = false;
    char FLast = '\0';
};

// Inserts "<item>" + the buffer's blocks + "</item>" before the first "</log>"
// of the day file. The file is read, encoded and written a piece at a time, so
// an item of a million lines is never held twice. Without "</log>" the file is
// not a day file this program can extend: the item is dropped and the file
// left as it is.
void InsertItem(const std::string& path, TLogBuffer& buffer) {
    const int in = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (in < 0 || fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (in >= 0) {
            close(in);
        }
        Fail("cannot read " + path);
    }
    bool started = false;
    bool found = false;
    bool readFailed = false;
    bool encodeFailed = false;
    const bool written = ReplaceFileAtomicallyWith(path, [&](int fd) {
        started = true;
        TCrLfWriter out(fd);
        // Each block is encoded and written, then released; its lines end
        // with LF, which the writer turns into CR LF.
        const auto putItem = [&] {
            bool ok = out.Put("<item>");
            buffer.TakeBlocks([&](const std::string& block) {
                if (!ok) {
                    return;
                }
                const std::optional<std::string> encoded = Utf8ToGb18030(block);
                if (!encoded) {
                    encodeFailed = true;
                    ok = false;
                    return;
                }
                ok = out.Put(*encoded);
            });
            return ok && out.Put("</item>");
        };
        const std::string endTag = "</log>";
        std::string chunk(LogBlockSize, '\0');
        std::string pending; // read, not yet written
        for (;;) {
            const ssize_t n = read(in, chunk.data(), chunk.size());
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                readFailed = true;
                return false;
            }
            if (n == 0) {
                break;
            }
            pending.append(chunk.data(), static_cast<std::size_t>(n));
            if (!found) {
                const std::size_t end = pending.find(endTag);
                if (end == std::string::npos) {
                    // The tag may straddle two pieces: its first bytes wait.
                    const std::size_t keep = std::min(pending.size(), endTag.size() - 1);
                    if (!out.Put(std::string_view(pending).substr(0, pending.size() - keep))) {
                        return false;
                    }
                    pending.erase(0, pending.size() - keep);
                    continue;
                }
                if (!out.Put(std::string_view(pending).substr(0, end)) || !putItem()) {
                    return false;
                }
                pending.erase(0, end);
                found = true;
            }
            if (!out.Put(pending)) {
                return false;
            }
            pending.clear();
        }
        return found && out.Put(pending) && out.Finish();
    });
    close(in);
    if (readFailed) {
        Fail("cannot read " + path);
    }
    if (encodeFailed) {
        Fail("cannot encode text for " + path);
    }
    if (!written && (found || !started)) {
        Fail("cannot write " + path);
    }
}

} // namespace

TRunLog::TRunLog(std::string logFolder, TClock clock)
    : FLogFolder(std::move(logFolder)), FClock(std::move(clock)), FViewerFolder(ProgramLogViewerFolder()) {
    while (FLogFolder.size() > 1 && FLogFolder.back() == '/') {
        FLogFolder.pop_back();
    }
    if (FLogFolder.empty()) {
        FLogFolder = ".";
    }
    if (!FClock) {
        FClock = Now;
    }
}

std::string TRunLog::DayLogFileName() const {
    return DayFileName(FLogFolder, FClock());
}

void TRunLog::OpenDayLog() const {
    MakeFolder(FLogFolder);
    const TFolderLock lock(FLogFolder);
    InstallLogViewer(FLogFolder, FViewerFolder);
    const TDateTime today = FClock();
    // The day file matters more than its listing: it is created even when the
    // list file cannot be read or written, and that failure is raised after.
    std::optional<ERunLogError> listFailure;
    try {
        ListDay(FLogFolder, today);
    } catch (const ERunLogError& e) {
        listFailure = e;
    }
    CreateDayFile(FLogFolder, today);
    if (listFailure) {
        throw *listFailure;
    }
}

void TRunLog::OpenLogFolder() const {
    MakeFolder(FLogFolder);
    const TFolderLock lock(FLogFolder);
    InstallLogViewer(FLogFolder, FViewerFolder);
    if (!Exists(ListFileName(FLogFolder))) {
        Write(ListFileName(FLogFolder), NewListText());
    }
}

void TRunLog::CloseLogItem(TLogBuffer& buffer) const {
    const TBufferEmptier emptier(buffer);
    MakeFolder(FLogFolder);
    const TFolderLock lock(FLogFolder);
    InstallLogViewer(FLogFolder, FViewerFolder);
    const TDateTime now = FClock();
    const std::string path = DayFileName(FLogFolder, now);
    // A run that ends on a day nobody has opened yet (past midnight) starts
    // that day's file itself, so the item is kept.
    const bool created = CreateDayFile(FLogFolder, now);
    InsertItem(path, buffer);
    if (created) {
        ListDay(FLogFolder, now);
    }
}
