#include "Messages.h"

#include "ByteText.h"

#include <QMessageBox>

void ShowNotice(QWidget* owner, const QString& text) {
    QMessageBox box(QMessageBox::Information, QStringLiteral("Pairwell"), text + NoticeTail, QMessageBox::Ok,
                    owner);
    box.exec();
}

bool AskQuestion(QWidget* owner, const QString& text) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("确认"), text, QMessageBox::Yes | QMessageBox::No,
                    owner);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void ShowErrorBox(QWidget* owner, const std::exception& error) {
    QMessageBox box(QMessageBox::Critical, owner->window()->windowTitle(), BytesToText(error.what()),
                    QMessageBox::Ok, owner);
    box.exec();
}

bool WriteOrShowError(QWidget* owner, const std::function<void()>& write) {
    try {
        write();
        return true;
    } catch (const std::exception& error) {
        ShowErrorBox(owner, error);
        return false;
    }
}
