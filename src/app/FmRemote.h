#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>
#include <memory>
#include <string>

class QTreeWidgetItem;
class TVolume;
struct TSftpAddress;

namespace Ui {
class FmRemote;
}

// The "远程…" dialog of a folder field: host, user, port and path of a folder
// on another machine, and a tree of the server's folders browsed over SFTP
// with the project's ssh command. OK gives the folder's address.
class TFmRemote : public QDialog {
    Q_OBJECT
public:
    TFmRemote(const std::string& sshCommand, QWidget* parent = nullptr);
    ~TFmRemote() override;

    Ui::FmRemote& Controls() { return *ui; }

    // Fills the fields from an address; other text leaves them empty.
    void SetAddress(const QString& text);
    // The address the fields make: sftp://[user@]host[:port]/path, a path
    // below the home folder as /~/path.
    QString Address() const;

    // Shows the dialog for the text of a folder field: true with the chosen
    // address in text after OK.
    static bool BrowseRemote(const std::string& sshCommand, QString& text, QWidget* parent = nullptr);

    // Handlers.
    void BtnConnectClick();
    void TreeFoldersExpand(QTreeWidgetItem* item);
    void TreeFoldersChange(QTreeWidgetItem* current);
    void BtnOkClick();

private:
    // Lists the folders below item's folder into it, once.
    void ListInto(QTreeWidgetItem* item);
    void ShowStatus(const QString& text, bool problem);
    void SetBusy(bool busy);
    // The address of the fields; false, with the problem shown, when they give none.
    bool ParseFields(TSftpAddress& address);

    std::unique_ptr<Ui::FmRemote> ui;
    std::string FSshCommand;
    std::shared_ptr<TVolume> FVolume; // the connected folder, the tree's top
    QString FTopPath;                 // its path as the path field shows it
    QPointer<QWidget> FFocusBeforeBusy;
};
