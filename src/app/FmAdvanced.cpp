#include "FmAdvanced.h"

#include "Accessibility.h"
#include "ByteText.h"
#include "Messages.h"
#include "ui_FmAdvanced.h"

#include <QRegularExpression>

namespace {

// The order of the items of "符号链接".
constexpr TLinkMode LinkModes[] = {TLinkMode::File, TLinkMode::Link, TLinkMode::Skip};

int LinkModeIndex(TLinkMode mode) {
    for (int i = 0; i < 3; ++i) {
        if (LinkModes[i] == mode) {
            return i;
        }
    }
    return 0;
}

} // namespace

bool IsTimeShiftList(const QString& text) {
    static const QRegularExpression list(QStringLiteral("^([0-9]+(\\|[0-9]+)*)?$"));
    return list.match(text).hasMatch();
}

TFmAdvanced::TFmAdvanced(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::FmAdvanced>()) {
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    setFont(QFont(QStringLiteral("宋体"), 9));
    ui->DirectoryEdit4->Edit()->setPlaceholderText(
        QStringLiteral("留空则为接收文件夹中的 .pairwell-versions"));
    AssignAccessibleNames(this);

    connect(ui->cbDeleteGuard, &QCheckBox::toggled, this, &TFmAdvanced::cbDeleteGuardClick);
    connect(ui->cbVersioning, &QCheckBox::toggled, this, &TFmAdvanced::cbVersioningClick);
    for (QCheckBox* box : {ui->cbCompareContent, ui->cbVerifyCopy, ui->cbDetectMoves}) {
        connect(box, &QCheckBox::toggled, this, &TFmAdvanced::ControlChange);
    }
    for (QSpinBox* spin : {ui->EditDeleteGuardCount, ui->EditDeleteGuardPercent, ui->EditVersionKeepDays,
                           ui->EditTimeTolerance}) {
        connect(spin, &QSpinBox::valueChanged, this, &TFmAdvanced::ControlChange);
    }
    for (QLineEdit* edit : {ui->EditSourceMarker, ui->EditIgnoreTimeShift}) {
        connect(edit, &QLineEdit::textChanged, this, &TFmAdvanced::ControlChange);
    }
    connect(ui->DirectoryEdit4, &TDirectoryEdit::textChanged, this, &TFmAdvanced::ControlChange);
    connect(ui->cbLinks, &QComboBox::currentIndexChanged, this, &TFmAdvanced::ControlChange);
    connect(ui->BtnOk, &QPushButton::clicked, this, &TFmAdvanced::BtnOkClick);
    adjustSize();
    setFixedSize(sizeHint());
}

TFmAdvanced::~TFmAdvanced() = default;

void TFmAdvanced::SetRecord(const TProjectRecord& record) {
    ui->cbDeleteGuard->setChecked(record.FDeleteGuard);
    ui->EditDeleteGuardCount->setValue(record.FDeleteGuardCount);
    ui->EditDeleteGuardPercent->setValue(record.FDeleteGuardPercent);
    ui->EditSourceMarker->setText(BytesToText(record.FSourceMarker));
    ui->cbVersioning->setChecked(record.FVersioning);
    ui->DirectoryEdit4->setText(BytesToText(record.FVersionFolder));
    ui->EditVersionKeepDays->setValue(record.FVersionKeepDays);
    ui->EditTimeTolerance->setValue(record.FTimeTolerance < 0 ? TimeToleranceAuto : record.FTimeTolerance);
    ui->EditIgnoreTimeShift->setText(BytesToText(record.FIgnoreTimeShift));
    ui->cbLinks->setCurrentIndex(LinkModeIndex(record.FLinks));
    ui->cbCompareContent->setChecked(record.FCompareContent);
    ui->cbVerifyCopy->setChecked(record.FVerifyCopy);
    ui->cbDetectMoves->setChecked(record.FDetectMoves);
    cbDeleteGuardClick();
    cbVersioningClick();
    FModified = false;
}

TProjectRecord TFmAdvanced::Record(TProjectRecord record) const {
    record.FDeleteGuard = ui->cbDeleteGuard->isChecked();
    record.FDeleteGuardCount = ui->EditDeleteGuardCount->value();
    record.FDeleteGuardPercent = ui->EditDeleteGuardPercent->value();
    record.FSourceMarker = TextToBytes(ui->EditSourceMarker->text().trimmed());
    record.FVersioning = ui->cbVersioning->isChecked();
    record.FVersionFolder = TextToBytes(ui->DirectoryEdit4->text());
    record.FVersionKeepDays = ui->EditVersionKeepDays->value();
    record.FTimeTolerance = ui->EditTimeTolerance->value(); // the minimum, -1, is "自动"
    record.FIgnoreTimeShift = TextToBytes(ui->EditIgnoreTimeShift->text().remove(QLatin1Char(' ')));
    record.FLinks = LinkModes[std::max(0, ui->cbLinks->currentIndex())];
    record.FCompareContent = ui->cbCompareContent->isChecked();
    record.FVerifyCopy = ui->cbVerifyCopy->isChecked();
    record.FDetectMoves = ui->cbDetectMoves->isChecked();
    return record;
}

void TFmAdvanced::ControlChange() {
    FModified = true;
}

// The guard's limits matter only while the guard is on; the marker is checked
// either way.
void TFmAdvanced::cbDeleteGuardClick() {
    ControlChange();
    const bool on = ui->cbDeleteGuard->isChecked();
    ui->EditDeleteGuardCount->setEnabled(on);
    ui->EditDeleteGuardPercent->setEnabled(on);
}

void TFmAdvanced::cbVersioningClick() {
    ControlChange();
    const bool on = ui->cbVersioning->isChecked();
    ui->DirectoryEdit4->setEnabled(on);
    ui->EditVersionKeepDays->setEnabled(on);
}

// Values that a run could not use are refused here, with the dialog still
// open and nothing lost.
void TFmAdvanced::BtnOkClick() {
    if (ui->EditSourceMarker->text().contains(QLatin1Char('/'))) {
        ShowNotice(this, QStringLiteral("标记文件应为源文件夹中的文件名，不能含有\"/\"!"));
        ui->EditSourceMarker->setFocus();
        return;
    }
    if (!IsTimeShiftList(ui->EditIgnoreTimeShift->text().remove(QLatin1Char(' ')))) {
        ShowNotice(this, QStringLiteral("忽略时差应为以\"|\"分隔的分钟数，例如\"60\"!"));
        ui->EditIgnoreTimeShift->setFocus();
        return;
    }
    accept();
}
