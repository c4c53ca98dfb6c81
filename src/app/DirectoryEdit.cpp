#include "DirectoryEdit.h"

#include <QFileDialog>
#include <QHBoxLayout>

TDirectoryEdit::TDirectoryEdit(QWidget* parent)
    : QWidget(parent), FEdit(new QLineEdit(this)), FButton(new QToolButton(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);
    layout->addWidget(FEdit);
    layout->addWidget(FButton);
    FButton->setText(QStringLiteral("..."));
    FButton->setToolTip(QStringLiteral("浏览"));
    FButton->setAccessibleName(QStringLiteral("浏览"));
    FButton->setFocusPolicy(Qt::NoFocus);
    setFocusProxy(FEdit);
    connect(FEdit, &QLineEdit::textChanged, this, &TDirectoryEdit::textChanged);
    connect(FButton, &QToolButton::clicked, this, &TDirectoryEdit::Browse);
}

void TDirectoryEdit::Browse() {
    const QString chosen = QFileDialog::getExistingDirectory(this, QString(), FEdit->text());
    if (!chosen.isEmpty()) {
        FEdit->setText(chosen);
    }
}
