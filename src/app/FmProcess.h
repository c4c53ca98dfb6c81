#pragma once

#include "QueuedProgress.h"

#include <QWidget>
#include <memory>

namespace Ui {
class FmProcess;
}

// The small borderless window that stands in for the main window while a
// check or a synchronisation runs: a heading, the item being handled and a bar.
class TFmProcess : public QWidget, public TProgressView {
    Q_OBJECT
public:
    explicit TFmProcess(QWidget* parent = nullptr);
    ~TFmProcess() override;

    void SetStayOnTop(bool stayOnTop);
    void ShowRunningHeading();
    void ShowStoppingHeading();
    QString Heading() const;
    QString DetailLine() const;
    int BarPosition() const;
    int BarMaximum() const;

    void ShowProgressStatus(const QString& text) override;
    void ShowProgressItem(const QString& prefix, const QString& path) override;
    void ShowProgressBar(std::size_t position, std::size_t maximum) override;

private:
    std::unique_ptr<Ui::FmProcess> ui;
};

inline const QString ProcessHeadingRunning = QStringLiteral("Pairwell处理中......   (按 ESC 停止)");
inline const QString ProcessHeadingStopping = QStringLiteral("取消中......");
