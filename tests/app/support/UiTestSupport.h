#pragma once

#include "FmPairwell.h"

#include <QMessageBox>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <memory>

// A program folder of its own for one test: the configuration, the log
// folder with its list file, and real source and target folders.
class TProgramFolder {
public:
    TProgramFolder();
    QString Path() const { return FDir.path(); }
    QString File(const QString& relative) const { return FDir.filePath(relative); }
    std::string Bytes(const QString& relative) const { return File(relative).toStdString(); }
    void WriteConfig(const QString& text) const;
    // Opens the window on this folder, as the program does at start; ssh asks
    // its passwords through askPassProgram when one is given.
    std::unique_ptr<TFmPairwell> OpenWindow(bool trayAvailable = false,
                                            const QString& askPassProgram = QString()) const;

private:
    QTemporaryDir FDir;
};

// Answers the next modal box or dialog once it shows, from the event loop:
// a message box with the given button, any other dialog through the callback.
void AnswerNextMessageBox(QMessageBox::StandardButton button, QString* text = nullptr);
// The returned watcher may be deleted to take the answer back.
QObject* WhenModalShows(const std::function<void(QWidget*)>& act);
// The same for the first modal widget that the predicate accepts; others are left alone.
QObject* WhenModalShows(const std::function<bool(QWidget*)>& accepts,
                        const std::function<void(QWidget*)>& act);
// Answers every message box that shows while it lives, so that no box the
// test did not expect can hang it: with the given answers in turn, then by
// closing the box. Each box is recorded as "caption|text".
class TMessageBoxes : public QObject {
public:
    explicit TMessageBoxes(QList<QMessageBox::StandardButton> answers = {});
    void Answer(QMessageBox::StandardButton button) { FAnswers.append(button); }
    const QStringList& Seen() const { return FSeen; }
    const QList<QMessageBox::Icon>& Icons() const { return FIcons; }
    // Runs the event loop until count boxes have been seen (or the time ran out).
    bool WaitFor(int count, int milliseconds = 20000) const;

private:
    QList<QMessageBox::StandardButton> FAnswers;
    QStringList FSeen;
    QList<QMessageBox::Icon> FIcons;
};
// Types a name into the input dialog and confirms it.
void AnswerInputWith(const QString& name);
// Runs the event loop until the condition holds or the time runs out.
bool WaitUntil(const std::function<bool()>& condition, int milliseconds = 20000);

void WriteFile(const QString& path, const QByteArray& contents);
QByteArray ReadFile(const QString& path);

// The day files of the run log under the folder, oldest first, read back as
// UTF-8 into one text: a run that crosses midnight writes into two, so the
// wall clock's day is never the test's to pick.
QString ReadTodaysDayLog(const TProgramFolder& folder);
// Real files for a run: each relative path gets the given contents.
void MakeFiles(const QString& root, const QStringList& relativePaths, const QByteArray& contents = "x");
