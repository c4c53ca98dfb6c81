#pragma once

#include <QString>

class QWidget;

// The program speaks to the user only through message boxes. Notices and
// refusals: caption "Pairwell", the information icon, OK, and the text
// followed by 22 blanks. Questions: caption "确认", the question icon, Yes and
// No; true only for Yes.
void ShowNotice(QWidget* owner, const QString& text);
bool AskQuestion(QWidget* owner, const QString& text);

// The 22 blanks that end every notice.
inline const QString NoticeTail = QString(22, QLatin1Char(' '));
