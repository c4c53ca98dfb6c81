#pragma once

#include <QString>
#include <exception>
#include <functional>

class QWidget;

// The program speaks to the user only through message boxes. Notices and
// refusals: caption "Pairwell", the information icon, OK, and the text
// followed by 22 blanks. Questions: caption "确认", the question icon, Yes and
// No; true only for Yes.
void ShowNotice(QWidget* owner, const QString& text);
bool AskQuestion(QWidget* owner, const QString& text);
// The standard error box: the program's caption, the error icon, OK, and the
// error's own text.
void ShowErrorBox(QWidget* owner, const std::exception& error);
// Runs a write of the configuration. When it fails, the error box names the
// file and the reason, and the result is false: the caller leaves its state
// as it was before the write.
bool WriteOrShowError(QWidget* owner, const std::function<void()>& write);

// The 22 blanks that end every notice.
inline const QString NoticeTail = QString(22, QLatin1Char(' '));
