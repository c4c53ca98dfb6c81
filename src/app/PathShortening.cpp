#include "PathShortening.h"

namespace {

const QString CutMark = QStringLiteral("/.../");
const QString BareMark = QStringLiteral(".../");

// "/a/b/" -> "/.../b/", "/.../b/" -> "/.../", "a/b/" -> "/.../b/".
QString DropFirstFolder(const QString& folders) {
    QString rest = folders.startsWith(CutMark) ? folders.mid(CutMark.size()) : folders;
    if (rest.startsWith('/')) {
        rest.remove(0, 1);
    }
    const qsizetype slash = rest.indexOf('/');
    rest = slash < 0 ? QString() : rest.mid(slash + 1);
    return CutMark + rest;
}

} // namespace

QString ShortenPath(const QString& path, int maxWidth, const std::function<int(const QString&)>& widthOf) {
    QString drive = path.size() >= 2 && path.at(1) == ':' ? path.left(2) : QString();
    const QString rest = path.mid(drive.size());
    const qsizetype lastSlash = rest.lastIndexOf('/');
    QString folders = rest.left(lastSlash + 1);
    const QString name = rest.mid(lastSlash + 1);

    while (widthOf(drive + folders + name) > maxWidth && (!drive.isEmpty() || !folders.isEmpty())) {
        if (folders == CutMark) {
            drive.clear();
            folders = BareMark;
        } else if (folders.isEmpty()) {
            drive.clear();
        } else if (folders == BareMark) {
            folders.clear();
        } else {
            folders = DropFirstFolder(folders);
        }
    }
    return drive + folders + name;
}
