#include "FmAskPass.h"

#include "Accessibility.h"
#include "ui_FmAskPass.h"

#include <QMessageBox>

TFmAskPass::TFmAskPass(const QString& prompt, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::FmAskPass>()) {
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint |
                   Qt::WindowStaysOnTopHint);
    ui->LabPrompt->setText(prompt);
    ui->EditPassword->setAccessibleDescription(prompt);
    AssignAccessibleNames(this);
    ui->EditPassword->setFocus();
}

TFmAskPass::~TFmAskPass() = default;

TAskPassKind AskPassKindOf(const QByteArray& promptVariable) {
    if (promptVariable == "confirm") {
        return TAskPassKind::Confirm;
    }
    return promptVariable == "none" ? TAskPassKind::Notice : TAskPassKind::Secret;
}

int AskPass(const QString& prompt, TAskPassKind kind, QByteArray& answer) {
    answer.clear();
    if (kind == TAskPassKind::Confirm) {
        QMessageBox box(QMessageBox::Question, QStringLiteral("确认"), prompt,
                        QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? 0 : 1;
    }
    if (kind == TAskPassKind::Notice) {
        // Shown until ssh ends it (a security key waiting for a touch) or the person closes it.
        QMessageBox box(QMessageBox::Information, QStringLiteral("Pairwell"), prompt, QMessageBox::Ok);
        box.exec();
        return 0;
    }
    TFmAskPass dialog(prompt);
    if (dialog.exec() != QDialog::Accepted) {
        return 1;
    }
    answer = dialog.Controls().EditPassword->text().toUtf8() + '\n';
    dialog.Controls().EditPassword->clear();
    return 0;
}
