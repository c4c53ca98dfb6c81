#include "FmInput.h"

#include "ui_FmInput.h"

#include <QKeyEvent>

namespace {
constexpr int DesignHeight = 155;
constexpr int ExtraLineHeight = 19;
} // namespace

TFmInput::TFmInput(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::FmInput>()) {
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    setFont(QFont(QStringLiteral("宋体"), 9));
    ui->Edit1->installEventFilter(this);
    ui->Edit1->setAccessibleName(QString());
    ui->BtnOk->setDefault(false);
    setFixedSize(380, DesignHeight);
}

TFmInput::~TFmInput() = default;

void TFmInput::SetInfo(const QString& text) {
    ui->Memo1->setPlainText(text);
    ui->Edit1->setAccessibleName(text);
    const int lines = static_cast<int>(text.split(QLatin1Char('\n')).size());
    setFixedSize(380, DesignHeight + (lines > 1 ? (lines - 1) * ExtraLineHeight : 0));
}

bool TFmInput::InputValue(const QString& caption, const QString& info, QString& value, QWidget* parent) {
    TFmInput dialog(parent);
    dialog.setWindowTitle(caption);
    dialog.SetInfo(info);
    dialog.ui->Edit1->setText(value);
    dialog.ui->Edit1->move(dialog.ui->Label1->x(), dialog.ui->Edit1->y());
    dialog.ui->Edit1->setFocus();
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    value = dialog.ui->Edit1->text();
    return true;
}

bool TFmInput::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->Edit1 && event->type() == QEvent::KeyPress) {
        return ControlKeyPress(static_cast<QKeyEvent*>(event)->key());
    }
    return QDialog::eventFilter(watched, event);
}

// Enter in the entry box moves on to OK instead of closing the dialog at once.
bool TFmInput::ControlKeyPress(int key) {
    if (key != Qt::Key_Return && key != Qt::Key_Enter) {
        return false;
    }
    focusNextChild();
    return true;
}
