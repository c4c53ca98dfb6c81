#include "FmProcess.h"

#include "PathShortening.h"
#include "ui_FmProcess.h"

#include <QFontMetrics>
#include <algorithm>
#include <climits>

namespace {
// The bar counts in int; a phase of more items is scaled down to fit.
int ToBarValue(std::size_t value, std::size_t maximum) {
    if (maximum <= static_cast<std::size_t>(INT_MAX)) {
        return static_cast<int>(value);
    }
    return static_cast<int>(static_cast<double>(value) / static_cast<double>(maximum) * INT_MAX);
}
} // namespace

TFmProcess::TFmProcess(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), ui(std::make_unique<Ui::FmProcess>()) {
    ui->setupUi(this);
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    setFixedSize(520, 64);
}

TFmProcess::~TFmProcess() = default;

void TFmProcess::SetStayOnTop(bool stayOnTop) {
    const bool wasVisible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, stayOnTop);
    if (wasVisible) {
        show(); // changing the flags hides a shown window
    }
}

void TFmProcess::ShowRunningHeading() {
    ui->Label9->setText(ProcessHeadingRunning);
}

void TFmProcess::ShowStoppingHeading() {
    ui->Label9->setText(ProcessHeadingStopping);
    ui->Label9->repaint();
}

QString TFmProcess::Heading() const {
    return ui->Label9->text();
}

QString TFmProcess::DetailLine() const {
    return ui->Label1->text();
}

int TFmProcess::BarPosition() const {
    return ui->percent->value();
}

int TFmProcess::BarMaximum() const {
    return ui->percent->maximum();
}

void TFmProcess::ShowProgressStatus(const QString& text) {
    ui->Label1->setText(text);
}

void TFmProcess::ShowProgressItem(const QString& prefix, const QString& path) {
    const QFontMetrics metrics(ui->Label1->font());
    const int room = ui->Label1->width() - metrics.horizontalAdvance(prefix);
    const auto widthOf = [&](const QString& text) { return metrics.horizontalAdvance(text); };
    ui->Label1->setText(prefix + ShortenPath(path, room, widthOf));
}

void TFmProcess::ShowProgressBar(std::size_t position, std::size_t maximum) {
    ui->percent->setMaximum(std::max(1, ToBarValue(maximum, maximum)));
    ui->percent->setValue(ToBarValue(std::min(position, maximum), maximum));
}
