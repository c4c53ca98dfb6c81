#include "SshHostKeys.h"

#include "ByteText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace {

constexpr int ProgramLimitMs = 30000;
constexpr int KeyscanSeconds = 10;

struct TRunOutput {
    bool FOk = false;
    QByteArray FOutput;
    QString FErrors;
};

TRunOutput RunProgram(const QString& program, const QStringList& arguments, const QByteArray& input = {}) {
    TRunOutput result;
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(ProgramLimitMs)) {
        result.FErrors = program + QStringLiteral(": ") + process.errorString();
        return result;
    }
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(ProgramLimitMs)) {
        process.kill();
        process.waitForFinished();
        result.FErrors = program + QStringLiteral(": 超时");
        return result;
    }
    result.FOutput = process.readAllStandardOutput();
    result.FErrors = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    result.FOk = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return result;
}

// The value of key in `ssh -G` output (its first word), empty when absent.
QString ConfigValue(const QByteArray& configuration, const QByteArray& key) {
    for (const QByteArray& line : configuration.split('\n')) {
        if (line.startsWith(key + ' ')) {
            return QString::fromLocal8Bit(line.mid(key.size() + 1).trimmed()).section(QLatin1Char(' '), 0, 0);
        }
    }
    return {};
}

QString WithHomeExpanded(QString path) {
    if (path.startsWith(QStringLiteral("~/"))) {
        path.replace(0, 1, QDir::homePath());
    }
    return path;
}

} // namespace

THostKeyRefusal HostKeyRefusalOf(const std::string& sshReason) {
    if (sshReason.find("IDENTIFICATION HAS CHANGED") != std::string::npos ||
        sshReason.find("has changed and you have requested strict checking") != std::string::npos) {
        return THostKeyRefusal::Changed;
    }
    if (sshReason.find("host key is known for") != std::string::npos &&
        sshReason.find("you have requested strict checking") != std::string::npos) {
        return THostKeyRefusal::Unknown;
    }
    return THostKeyRefusal::None;
}

THostKeyScan ScanHostKeys(const std::string& sshCommand, const TSftpAddress& address) {
    THostKeyScan scan;
    const std::vector<std::string> words = SplitSshCommand(sshCommand);
    QStringList arguments;
    for (std::size_t i = 1; i < words.size(); ++i) {
        arguments.append(BytesToText(words[i]));
    }
    arguments.append(QStringLiteral("-G"));
    if (!address.FUser.empty()) {
        arguments << QStringLiteral("-l") << BytesToText(address.FUser);
    }
    if (!address.FPort.empty()) {
        arguments << QStringLiteral("-p") << BytesToText(address.FPort);
    }
    arguments.append(BytesToText(address.FHost));
    const TRunOutput configuration = RunProgram(BytesToText(words.front()), arguments);
    if (!configuration.FOk) {
        scan.FProblem = configuration.FErrors;
        return scan;
    }
    scan.FHost = ConfigValue(configuration.FOutput, "hostname");
    scan.FPort = ConfigValue(configuration.FOutput, "port");
    scan.FKnownHostsFile = WithHomeExpanded(ConfigValue(configuration.FOutput, "userknownhostsfile"));
    const QString alias = ConfigValue(configuration.FOutput, "hostkeyalias");
    if (scan.FHost.isEmpty() || scan.FKnownHostsFile.isEmpty()) {
        scan.FProblem = QStringLiteral("ssh -G: 未给出主机或 known_hosts 文件");
        return scan;
    }
    const TRunOutput keys = RunProgram(
        QStringLiteral("ssh-keyscan"),
        {QStringLiteral("-T"), QString::number(KeyscanSeconds), QStringLiteral("-p"),
         scan.FPort.isEmpty() ? QStringLiteral("22") : scan.FPort, QStringLiteral("--"), scan.FHost});
    for (const QByteArray& line : keys.FOutput.split('\n')) {
        const QString text = QString::fromLocal8Bit(line).trimmed();
        if (text.isEmpty() || text.startsWith(QLatin1Char('#'))) {
            continue;
        }
        // ssh looks a key up under HostKeyAlias, when the configuration sets one, without the port.
        scan.FLines.append(alias.isEmpty() || alias == QStringLiteral("none")
                               ? text
                               : alias + text.mid(text.indexOf(QLatin1Char(' '))));
    }
    if (scan.FLines.isEmpty()) {
        scan.FProblem = keys.FErrors.isEmpty() ? QStringLiteral("ssh-keyscan: 主机未给出密钥") : keys.FErrors;
        return scan;
    }
    const TRunOutput fingerprints = RunProgram(
        QStringLiteral("ssh-keygen"), {QStringLiteral("-l"), QStringLiteral("-f"), QStringLiteral("-")},
        scan.FLines.join(QLatin1Char('\n')).toLocal8Bit() + '\n');
    for (const QByteArray& line : fingerprints.FOutput.split('\n')) {
        if (!line.trimmed().isEmpty()) {
            scan.FFingerprints.append(QString::fromLocal8Bit(line.trimmed()));
        }
    }
    if (!fingerprints.FOk || scan.FFingerprints.isEmpty()) {
        scan.FProblem =
            fingerprints.FErrors.isEmpty() ? QStringLiteral("ssh-keygen -l 失败") : fingerprints.FErrors;
    }
    return scan;
}

bool AddKnownHosts(const THostKeyScan& scan, QString& problem) {
    const QString folder = QFileInfo(scan.FKnownHostsFile).absolutePath();
    if (!QFileInfo::exists(folder) && mkdir(QFile::encodeName(folder).constData(), 0700) != 0) {
        problem = folder + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    QFile file(scan.FKnownHostsFile);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append)) {
        problem = scan.FKnownHostsFile + QStringLiteral(": ") + file.errorString();
        return false;
    }
    QByteArray text;
    if (file.size() > 0) {
        file.seek(file.size() - 1);
        if (file.read(1) != "\n") {
            text.append('\n'); // the last line of the file stays whole
        }
    }
    text.append(scan.FLines.join(QLatin1Char('\n')).toLocal8Bit() + '\n');
    if (file.write(text) != text.size() || !file.flush()) {
        problem = scan.FKnownHostsFile + QStringLiteral(": ") + file.errorString();
        return false;
    }
    return true;
}
