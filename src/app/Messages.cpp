#include "Messages.h"

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
