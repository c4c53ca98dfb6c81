#pragma once

#include <QDialog>
#include <QString>
#include <memory>

namespace Ui {
class FmInput;
}

// The small modal dialog that asks for one line of text, such as the name a
// project or a job is saved under.
class TFmInput : public QDialog {
    Q_OBJECT
public:
    explicit TFmInput(QWidget* parent = nullptr);
    ~TFmInput() override;

    // Shows the dialog; true with the text exactly as typed when it closed with
    // OK, false (value untouched) for Cancel, Esc or the close box.
    static bool InputValue(const QString& caption, const QString& info, QString& value,
                           QWidget* parent = nullptr);

    void SetInfo(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool ControlKeyPress(int key);

    std::unique_ptr<Ui::FmInput> ui;
};
