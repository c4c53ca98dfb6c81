#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>
#include <memory>

namespace Ui {
class FmAskPass;
}

// The dialog in which the person answers what ssh asks: a password or a
// key's passphrase, with ssh's own prompt shown and the typing hidden.
class TFmAskPass : public QDialog {
    Q_OBJECT
public:
    explicit TFmAskPass(const QString& prompt, QWidget* parent = nullptr);
    ~TFmAskPass() override;

    Ui::FmAskPass& Controls() { return *ui; }

private:
    std::unique_ptr<Ui::FmAskPass> ui;
};

// What ssh asks through its password program (SSH_ASKPASS_PROMPT): a secret,
// a yes-or-no confirmation, or a notice that needs no answer.
enum class TAskPassKind { Secret, Confirm, Notice };
TAskPassKind AskPassKindOf(const QByteArray& promptVariable);

// Asks prompt as kind requires. 0 with the answer (the secret and a newline;
// nothing for the others) to write on standard output, 1 when the person
// cancelled or said no. The answer is kept nowhere else.
int AskPass(const QString& prompt, TAskPassKind kind, QByteArray& answer);
