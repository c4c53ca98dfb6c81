#include "InstanceLock.h"

#include "config/PathText.h"

#include <QCryptographicHash>
#include <QDir>
#include <QStandardPaths>
#include <cstdlib>

namespace {

std::string RealPath(const std::string& path) {
    char* real = realpath(path.c_str(), nullptr);
    if (real == nullptr) {
        return {};
    }
    std::string resolved(real);
    free(real);
    return resolved;
}

// The file as the system knows it: links resolved, also when the file itself
// does not exist yet (a first start) but its folder does.
std::string CanonicalConfigName(const std::string& configFileName) {
    if (std::string real = RealPath(configFileName); !real.empty()) {
        return real;
    }
    const std::size_t slash = configFileName.find_last_of('/');
    const std::string name = slash == std::string::npos ? configFileName : configFileName.substr(slash + 1);
    const std::string folder = RealPath(ExtractFileDir(configFileName));
    return folder.empty() ? configFileName : (folder == "/" ? "" : folder) + "/" + name;
}

} // namespace

QString InstanceLockFileName(const std::string& configFileName) {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        folder = QDir::tempPath();
    }
    // A digest keeps the name short and free of the path's delimiters.
    const std::string canonical = CanonicalConfigName(configFileName);
    const QByteArray digest =
        QCryptographicHash::hash(QByteArray::fromStdString(canonical), QCryptographicHash::Sha256)
            .toHex()
            .left(16);
    return QDir(folder).filePath(QStringLiteral("Pairwell-%1.lock").arg(QString::fromLatin1(digest)));
}
