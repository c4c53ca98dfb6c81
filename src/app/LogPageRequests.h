#pragma once

#include <QLocalServer>
#include <QObject>
#include <string>

// Takes requests of other programs on this window's configuration (the
// daemon, when its notice's "查看日志" is invoked) to show the log page, on the
// local socket that jobs/WindowRequests.h names.
class TLogPageRequests : public QObject {
    Q_OBJECT
public:
    TLogPageRequests(const std::string& configFile, QObject* parent = nullptr);

signals:
    void ShowLogRequested();

private:
    void Accept();

    QLocalServer FServer;
};
