#pragma once

#include <QLineEdit>
#include <QToolButton>
#include <QWidget>

// A folder box: a one-line text box with a button that opens the folder
// browser. The chosen folder replaces the text; any text may also be typed.
class TDirectoryEdit : public QWidget {
    Q_OBJECT
public:
    explicit TDirectoryEdit(QWidget* parent = nullptr);

    QString text() const { return FEdit->text(); }
    void setText(const QString& text) { FEdit->setText(text); }
    QLineEdit* Edit() const { return FEdit; }
    QToolButton* BrowseButton() const { return FButton; }

signals:
    void textChanged(const QString& text);

private:
    void Browse();

    QLineEdit* FEdit;
    QToolButton* FButton;
};
