#include "FmRemote.h"

#include "Accessibility.h"
#include "ByteText.h"
#include "RemoteReach.h"
#include "WorkerRun.h"
#include "config/FileFacts.h"
#include "engine/volume/SftpVolume.h"
#include "sftp/SftpAddress.h"
#include "ui_FmRemote.h"

#include <QIntValidator>
#include <QPushButton>
#include <QTreeWidgetItem>
#include <algorithm>

namespace {

constexpr int RelativeRole = Qt::UserRole;
constexpr int ListedRole = Qt::UserRole + 1;
const QString HomePath = QStringLiteral("~");

// The path field's text as an address's path: "~" and "~/x" below the home
// folder, "/x" absolute, anything else below the home folder.
QString AddressPath(QString path) {
    path = path.trimmed();
    if (path.isEmpty() || path == HomePath) {
        return QStringLiteral("/~");
    }
    if (path.startsWith(QStringLiteral("~/"))) {
        return QLatin1Char('/') + path;
    }
    return path.startsWith(QLatin1Char('/')) ? path : QStringLiteral("/~/") + path;
}

QString JoinPath(const QString& folder, const QString& name) {
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

} // namespace

TFmRemote::TFmRemote(const std::string& sshCommand, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::FmRemote>()), FSshCommand(sshCommand) {
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    ui->EditPort->setValidator(new QIntValidator(1, 65535, ui->EditPort));
    // Enter in a field connects; only the buttons themselves close the dialog.
    for (QPushButton* button : {ui->BtnConnect, ui->BtnOk, ui->BtnCancel}) {
        button->setAutoDefault(false);
    }
    for (QLineEdit* edit : {ui->EditHost, ui->EditPort, ui->EditUser, ui->EditPath}) {
        connect(edit, &QLineEdit::returnPressed, this, &TFmRemote::BtnConnectClick);
    }
    connect(ui->BtnConnect, &QPushButton::clicked, this, &TFmRemote::BtnConnectClick);
    connect(ui->BtnOk, &QPushButton::clicked, this, &TFmRemote::BtnOkClick);
    connect(ui->TreeFolders, &QTreeWidget::itemExpanded, this, &TFmRemote::TreeFoldersExpand);
    connect(ui->TreeFolders, &QTreeWidget::currentItemChanged, this, &TFmRemote::TreeFoldersChange);
    AssignAccessibleNames(this);
    ui->LabStatus->setAccessibleName(QStringLiteral("状态"));
}

TFmRemote::~TFmRemote() = default;

void TFmRemote::SetAddress(const QString& text) {
    TSftpAddress address;
    std::string reason;
    const std::string bytes = TextToBytes(text.trimmed());
    if (!ParseSftpAddress(bytes, address, reason)) {
        return;
    }
    ui->EditHost->setText(BytesToText(address.FHost));
    ui->EditUser->setText(BytesToText(address.FUser));
    ui->EditPort->setText(BytesToText(address.FPort));
    // The path as written: below the home folder shown as ~.
    QString path = BytesToText(bytes.substr(bytes.find('/', 7)));
    if (path == QStringLiteral("/~") || path.startsWith(QStringLiteral("/~/"))) {
        path.remove(0, 1);
    }
    ui->EditPath->setText(path);
}

QString TFmRemote::Address() const {
    QString host = ui->EditHost->text().trimmed();
    if (host.contains(QLatin1Char(':'))) {
        host = QLatin1Char('[') + host + QLatin1Char(']'); // an IPv6 address
    }
    const QString user = ui->EditUser->text().trimmed();
    const QString port = ui->EditPort->text().trimmed();
    return QStringLiteral("sftp://") + (user.isEmpty() ? QString() : user + QLatin1Char('@')) + host +
           (port.isEmpty() ? QString() : QLatin1Char(':') + port) + AddressPath(ui->EditPath->text());
}

bool TFmRemote::BrowseRemote(const std::string& sshCommand, QString& text, QWidget* parent) {
    TFmRemote dialog(sshCommand, parent);
    dialog.SetAddress(text);
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    text = dialog.Address();
    return true;
}

void TFmRemote::SetBusy(bool busy) {
    // A disabled control loses the focus: it comes back where it was, so that
    // the keys that open folders in the tree keep working there.
    if (busy) {
        FFocusBeforeBusy = focusWidget();
    }
    // The controls alone: a question about the host key is a child of this dialog.
    for (QWidget* control : std::initializer_list<QWidget*>{ui->GroupBoxServer, ui->TreeFolders, ui->BtnOk}) {
        control->setEnabled(!busy);
    }
    if (!busy && FFocusBeforeBusy) {
        FFocusBeforeBusy->setFocus();
    }
}

void TFmRemote::ShowStatus(const QString& text, bool problem) {
    ui->LabStatus->setStyleSheet(problem ? QStringLiteral("color: rgb(200, 0, 0);") : QString());
    ui->LabStatus->setText(text);
}

bool TFmRemote::ParseFields(TSftpAddress& address) {
    std::string reason = "未填写主机";
    if (ui->EditHost->text().trimmed().isEmpty() ||
        !ParseSftpAddress(TextToBytes(Address()), address, reason)) {
        ShowStatus(QStringLiteral("地址无效: ") + BytesToText(reason), true);
        ui->EditHost->setFocus();
        return false;
    }
    return true;
}

void TFmRemote::BtnConnectClick() {
    ui->TreeFolders->clear();
    FVolume.reset();
    const std::string root = TextToBytes(Address());
    TSftpAddress address;
    if (!ParseFields(address)) {
        return;
    }
    ShowStatus(QStringLiteral("正在连接……"), false);
    SetBusy(true);
    auto volume = std::make_shared<TSftpVolume>(root, address, FSshCommand);
    const TRemoteReach reach = ReachRemote(this, *volume, FSshCommand);
    TEntryFacts top;
    if (reach.FReached) {
        RunOnWorkerThread([&] { top = volume->Facts("", true); });
    }
    SetBusy(false);
    if (!reach.FReached) {
        ShowStatus(reach.FRefused ? QStringLiteral("已拒绝连接。") : BytesToText(reach.FReason), true);
        return;
    }
    if (!top.FIsFolder) {
        ShowStatus(BytesToText(address.FPath) + QStringLiteral(": ") +
                       (top.FExists       ? QStringLiteral("不是文件夹")
                        : top.FError != 0 ? BytesToText(ErrorText(top.FError))
                                          : QStringLiteral("不存在")),
                   true);
        return;
    }
    FVolume = volume;
    const QString path = ui->EditPath->text().trimmed();
    FTopPath = path.isEmpty() ? HomePath : path;
    auto* item = new QTreeWidgetItem(ui->TreeFolders, {FTopPath});
    item->setData(0, RelativeRole, QString());
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    ShowStatus(QStringLiteral("已连接到 ") + BytesToText(address.FHost), false);
    ui->TreeFolders->setCurrentItem(item);
    item->setExpanded(true);
    ui->TreeFolders->setFocus();
}

void TFmRemote::TreeFoldersExpand(QTreeWidgetItem* item) {
    ListInto(item);
}

void TFmRemote::ListInto(QTreeWidgetItem* item) {
    if (!FVolume || item->data(0, ListedRole).toBool()) {
        return;
    }
    item->setData(0, ListedRole, true);
    const std::string relative = TextToBytes(item->data(0, RelativeRole).toString());
    TFolderListing listing;
    int error = 0;
    SetBusy(true);
    RunOnWorkerThread([&] { error = FVolume->ListFolder(nullptr, relative, false, true, listing); });
    SetBusy(false);
    if (error != 0) {
        item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
        ShowStatus(item->text(0) + QStringLiteral(": ") + BytesToText(ErrorText(error)), true);
        return;
    }
    struct TFolderName {
        QString FName;
        bool FLink;
    };
    std::vector<TFolderName> folders;
    for (const TListedEntry& entry : listing.FEntries) {
        const bool link = entry.FKind == TListedKind::Link && entry.FTarget == TListedKind::Folder;
        if (entry.FKind == TListedKind::Folder || link) {
            folders.push_back({BytesToText(std::string(listing.NameOf(entry))), link});
        }
    }
    std::sort(folders.begin(), folders.end(), [](const TFolderName& a, const TFolderName& b) {
        return a.FName.localeAwareCompare(b.FName) < 0;
    });
    for (const TFolderName& folder : folders) {
        auto* child = new QTreeWidgetItem(item, {folder.FName});
        const QString parent = item->data(0, RelativeRole).toString();
        child->setData(0, RelativeRole,
                       parent.isEmpty() ? folder.FName : parent + QLatin1Char('/') + folder.FName);
        // A link is a folder to choose, never one to list through.
        child->setChildIndicatorPolicy(folder.FLink ? QTreeWidgetItem::DontShowIndicator
                                                    : QTreeWidgetItem::ShowIndicator);
        if (folder.FLink) {
            child->setData(0, ListedRole, true);
        }
    }
    item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

void TFmRemote::TreeFoldersChange(QTreeWidgetItem* current) {
    if (!current || !FVolume) {
        return;
    }
    const QString relative = current->data(0, RelativeRole).toString();
    ui->EditPath->setText(relative.isEmpty() ? FTopPath : JoinPath(FTopPath, relative));
}

void TFmRemote::BtnOkClick() {
    TSftpAddress address;
    if (!ParseFields(address)) {
        return;
    }
    accept();
}
