#include "RunLog.h"

#include "LogText.h"
#include "LogViewer.h"
#include "config/AtomicFile.h"
#include "config/Gb18030.h"

#include <filesystem>
#include <optional>
#include <system_error>
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

void TLogBuffer::WriteLogElement(const std::string& name, const std::string& value) {
    FLines.push_back("<" + name + ">" + EscapeXmlText(MakeLogSafe(value)) + "</" + name + ">");
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
    std::string item = "<item>";
    for (const std::string& line : buffer.Lines()) {
        // Lines made by WriteLogElement are safe already; this keeps any other
        // line from splitting or breaking the file.
        item += MakeLogSafe(line);
        item += CrLf;
    }
    item += "</item>";

    MakeFolder(FLogFolder);
    const TFolderLock lock(FLogFolder);
    InstallLogViewer(FLogFolder, FViewerFolder);
    const TDateTime now = FClock();
    const std::string path = DayFileName(FLogFolder, now);
    const std::string encodedItem = ToFileText(item, path);
    // A run that ends on a day nobody has opened yet (past midnight) starts
    // that day's file itself, so the item is kept.
    const bool created = CreateDayFile(FLogFolder, now);
    std::string text = ReadExisting(path);
    const std::size_t end = text.find("</log>");
    if (end != std::string::npos) {
        text.insert(end, encodedItem);
        Write(path, text);
    }
    // Without "</log>" the file is not a day file this program can extend: the
    // item is dropped and the file left as it is.
    if (created) {
        ListDay(FLogFolder, now);
    }
}
