#include "UiTestSupport.h"

#include "FmInput.h"
#include "config/Gb18030.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

TProgramFolder::TProgramFolder() {
    QDir(FDir.path()).mkpath(QStringLiteral("log"));
    WriteFile(File(QStringLiteral("log/list.xml")),
              "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n<list></list>\r\n");
}

void TProgramFolder::WriteConfig(const QString& text) const {
    WriteFile(File(QStringLiteral("pairwell.ini")), text.toUtf8());
}

std::unique_ptr<TFmPairwell> TProgramFolder::OpenWindow(bool trayAvailable,
                                                        const QString& askPassProgram) const {
    TFmPairwellOptions options;
    options.FProgramFolder = Path();
    options.FConfigFileName = File(QStringLiteral("pairwell.ini"));
    options.FWithBrowser = false;
    options.FTrayAvailable = trayAvailable;
    options.FSessionBusNotices = false; // no test speaks to the desktop's notification service
    options.FAskPassProgram = askPassProgram;
    auto window = std::make_unique<TFmPairwell>(options);
    window->show();
    return window;
}

QObject* WhenModalShows(const std::function<void(QWidget*)>& act) {
    return WhenModalShows([](QWidget*) { return true; }, act);
}

QObject* WhenModalShows(const std::function<bool(QWidget*)>& accepts,
                        const std::function<void(QWidget*)>& act) {
    auto* timer = new QTimer(qApp); // a watcher that never fired goes with the application
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, accepts, act] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || !accepts(modal)) {
            return;
        }
        timer->stop();
        timer->deleteLater();
        act(modal);
    });
    timer->start();
    return timer;
}

void AnswerInputWith(const QString& name) {
    WhenModalShows([](QWidget* modal) { return qobject_cast<TFmInput*>(modal) != nullptr; },
                   [name](QWidget* dialog) {
                       dialog->findChild<QLineEdit*>(QStringLiteral("Edit1"))->setText(name);
                       dialog->findChild<QPushButton*>(QStringLiteral("BtnOk"))->click();
                   });
}

void AnswerNextMessageBox(QMessageBox::StandardButton button, QString* text) {
    WhenModalShows([](QWidget* modal) { return qobject_cast<QMessageBox*>(modal) != nullptr; },
                   [button, text](QWidget* modal) {
                       auto* box = qobject_cast<QMessageBox*>(modal);
                       if (text) {
                           *text = box->windowTitle() + QLatin1Char('|') + box->text();
                       }
                       if (QAbstractButton* answer = box->button(button)) {
                           answer->click();
                       } else {
                           box->close();
                       }
                   });
}

TMessageBoxes::TMessageBoxes(QList<QMessageBox::StandardButton> answers) : FAnswers(std::move(answers)) {
    auto* timer = new QTimer(this);
    timer->setInterval(10);
    connect(timer, &QTimer::timeout, this, [this] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible() || box->property("answered").toBool()) {
            return;
        }
        box->setProperty("answered", true);
        FSeen.append(box->windowTitle() + QLatin1Char('|') + box->text());
        FIcons.append(box->icon());
        QAbstractButton* answer = FAnswers.isEmpty() ? nullptr : box->button(FAnswers.takeFirst());
        if (answer) {
            answer->click();
        } else {
            box->close();
        }
    });
    timer->start();
}

bool TMessageBoxes::WaitFor(int count, int milliseconds) const {
    return WaitUntil([&] { return FSeen.size() >= count; }, milliseconds);
}

bool WaitUntil(const std::function<bool()>& condition, int milliseconds) {
    QDeadlineTimer deadline(milliseconds);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QTest::qWait(10);
    }
    return true;
}

void WriteFile(const QString& path, const QByteArray& contents) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qFatal("cannot write %s", qPrintable(path));
    }
    file.write(contents);
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString ReadTodaysDayLog(const TProgramFolder& folder) {
    const QDir log(folder.File(QStringLiteral("log")));
    QString days;
    for (const QString& name : log.entryList({QStringLiteral("????.??.??.xml")}, QDir::Files, QDir::Name)) {
        const std::optional<std::string> text = Gb18030ToUtf8(ReadFile(log.filePath(name)).toStdString());
        days += text ? QString::fromStdString(*text) : QString();
    }
    return days;
}

void MakeFiles(const QString& root, const QStringList& relativePaths, const QByteArray& contents) {
    for (const QString& path : relativePaths) {
        WriteFile(QDir(root).filePath(path), contents);
    }
}
