#include "RemoteReach.h"

#include "ByteText.h"
#include "SshHostKeys.h"
#include "WorkerRun.h"
#include "engine/volume/Volume.h"
#include "sftp/SftpAddress.h"

#include <QMessageBox>

namespace {

std::string WithoutTrailingDelimiters(std::string root) {
    while (root.size() > 1 && root.back() == '/') {
        root.pop_back();
    }
    return root;
}

QString HostText(const TSftpAddress& address, const THostKeyScan& scan) {
    const QString port = scan.FPort.isEmpty() ? QStringLiteral("22") : scan.FPort;
    const QString named = BytesToText(address.FHost);
    return named == scan.FHost ? QStringLiteral("%1 (端口 %2)").arg(named, port)
                               : QStringLiteral("%1 (%2, 端口 %3)").arg(named, scan.FHost, port);
}

bool AskToTrust(QWidget* owner, const TSftpAddress& address, const THostKeyScan& scan) {
    const QString text =
        QStringLiteral("无法确认主机 %1 的身份: %2 中没有它的密钥。\n\n"
                       "主机给出的密钥指纹:\n%3\n\n"
                       "请与主机的管理员核对指纹。信任此主机、记下它的密钥并继续连接吗?")
            .arg(HostText(address, scan), scan.FKnownHostsFile, scan.FFingerprints.join(QLatin1Char('\n')));
    QMessageBox box(QMessageBox::Question, UnknownHostCaption, text, QMessageBox::Yes | QMessageBox::No,
                    owner);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void WarnChanged(QWidget* owner, const TSftpAddress& address, const std::string& reason) {
    const QString text =
        QStringLiteral("主机 %1 的密钥与已知的不同: 可能有人冒充该主机, 也可能主机换了密钥。"
                       "已拒绝连接。\n请向主机的管理员确认后, 再修改 known_hosts 文件。\n\n%2")
            .arg(BytesToText(address.FHost), BytesToText(reason));
    QMessageBox box(QMessageBox::Warning, ChangedHostKeyCaption, text, QMessageBox::Ok, owner);
    box.exec();
}

} // namespace

TRemoteReach ReachRemote(QWidget* owner, TVolume& volume, const std::string& sshCommand) {
    TRemoteReach reach;
    TSftpAddress address;
    std::string reason;
    if (!IsSftpAddress(volume.Root())) {
        reach.FReached = true;
        return reach;
    }
    if (!ParseSftpAddress(WithoutTrailingDelimiters(volume.Root()), address, reason)) {
        reach.FReason = reason;
        return reach;
    }
    bool asked = false;
    for (;;) {
        RunOnWorkerThread([&] { reach.FReason = volume.ReachProblem(); });
        if (reach.FReason.empty()) {
            reach.FReached = true;
            return reach;
        }
        const THostKeyRefusal refusal = HostKeyRefusalOf(reach.FReason);
        if (refusal == THostKeyRefusal::Changed) {
            WarnChanged(owner, address, reach.FReason);
            reach.FRefused = true;
            return reach;
        }
        // A key just accepted that ssh still refuses is not asked about again.
        if (refusal != THostKeyRefusal::Unknown || asked) {
            return reach;
        }
        asked = true;
        THostKeyScan scan;
        RunOnWorkerThread([&] { scan = ScanHostKeys(sshCommand, address); });
        if (!scan.FProblem.isEmpty()) {
            reach.FReason += "\n" + TextToBytes(scan.FProblem);
            return reach;
        }
        if (!AskToTrust(owner, address, scan)) {
            reach.FRefused = true;
            return reach;
        }
        QString problem;
        if (!AddKnownHosts(scan, problem)) {
            reach.FReason = TextToBytes(problem);
            return reach;
        }
    }
}
