#include "JobPages.h"

#include "ByteText.h"
#include "DateTimeQt.h"
#include "FmInput.h"
#include "FrmItem.h"
#include "Messages.h"
#include "config/AsciiCase.h"
#include "config/IniFile.h"
#include "ui_AutoRunPage.h"
#include "ui_JobEditorPage.h"

#include <QPainter>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

namespace {

constexpr int ClockMilliseconds = 450;
constexpr int HourMaximum = 24;
constexpr int MinuteMaximum = 1440;

std::string Bytes(const QString& text) {
    return TextToBytes(text);
}

bool SameName(const QString& a, const QString& b) {
    return SameTextIgnoringAsciiCase(Bytes(a), Bytes(b));
}

// Draws the job's project entries, grey when no such project exists.
class TSelectedProjectDelegate : public QStyledItemDelegate {
public:
    TSelectedProjectDelegate(std::function<bool(const QString&)> known, QObject* parent)
        : QStyledItemDelegate(parent), FKnown(std::move(known)) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem item(option);
        initStyleOption(&item, index);
        const bool selected = item.state.testFlag(QStyle::State_Selected);
        painter->fillRect(item.rect, selected ? item.palette.highlight() : item.palette.base());
        QColor color = selected ? item.palette.highlightedText().color() : item.palette.text().color();
        if (!selected && !FKnown(item.text)) {
            color = QColor(128, 128, 128);
        }
        painter->setPen(color);
        painter->drawText(item.rect.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignTop, item.text);
    }

private:
    std::function<bool(const QString&)> FKnown;
};

} // namespace

TJobPages::TJobPages(TIniFile& iniFile, const TRunLog& runLog, QWidget* editorPage, QWidget* autoRunPage,
                     QObject* parent)
    : QObject(parent), FIniFile(iniFile), FRunLog(runLog), FEditor(std::make_unique<Ui::JobEditorPage>()),
      FAutoRun(std::make_unique<Ui::AutoRunPage>()) {
    FEditorPanel = new QWidget(editorPage);
    FEditor->setupUi(FEditorPanel);
    editorPage->layout()->addWidget(FEditorPanel);
    FAutoRunPanel = new QWidget(autoRunPage);
    FAutoRun->setupUi(FAutoRunPanel);
    autoRunPage->layout()->addWidget(FAutoRunPanel);

    Ui::JobEditorPage& e = *FEditor;
    e.editMark2->setVisible(false);
    // Controls captioned by the radio button before them speak with its caption.
    e.DateJob->setAccessibleName(QStringLiteral("每天(D):"));
    e.EditMinute->setAccessibleName(QStringLiteral("周期(P):"));
    e.CbTime->setAccessibleName(QStringLiteral("周期单位"));
    e.cbJob->setCurrentIndex(-1);
    e.LbSelect->setItemDelegate(new TSelectedProjectDelegate(
        [this](const QString& name) { return IsKnownProject(name); }, e.LbSelect));
    connect(e.cbJob, &QComboBox::activated, this, &TJobPages::cbJobClick);
    connect(e.Button3, &QPushButton::clicked, this, &TJobPages::Button3Click);
    connect(e.Button4, &QPushButton::clicked, this, &TJobPages::Button4Click);
    // The rules and the mark follow the controls' state, however it changed:
    // a click, the arrow keys, or a screen reader's action.
    for (QRadioButton* kind : {e.RbDay, e.RbPeriod, e.RbChange, e.RbConnect}) {
        connect(kind, &QRadioButton::toggled, this, &TJobPages::RbDayClick);
    }
    const QDate today = QDate::currentDate();
    e.DateJob->setDateTime(QDateTime(today, QTime(17, 30)));
    e.TimeBegin->setDateTime(QDateTime(today, QTime(0, 0)));
    e.TimeEnd->setDateTime(QDateTime(today, QTime(23, 59)));
    for (QDateTimeEdit* picker : {e.DateJob, e.TimeBegin, e.TimeEnd}) {
        connect(picker, &QDateTimeEdit::dateTimeChanged, this, &TJobPages::DateJobChange);
    }
    connect(e.EditMinute, &QSpinBox::valueChanged, this, &TJobPages::DateJobChange);
    connect(e.CbJobValid, &QCheckBox::toggled, this, &TJobPages::DateJobChange);
    connect(e.CbCatchUp, &QCheckBox::toggled, this, &TJobPages::DateJobChange);
    connect(e.EditStaleDays, &QSpinBox::valueChanged, this, &TJobPages::DateJobChange);
    connect(e.CbTime, &QComboBox::currentIndexChanged, this, &TJobPages::CbTimeChange);
    connect(e.BtnAdd, &QPushButton::clicked, this, &TJobPages::BtnAddClick);
    connect(e.LbProject, &QListWidget::itemDoubleClicked, this, &TJobPages::BtnAddClick);
    connect(e.BtnDelete, &QPushButton::clicked, this, &TJobPages::BtnDeleteClick);

    // Where no lock can be taken (a read-only folder) the window schedules as it always did.
    FSchedulerLock = std::make_unique<TSchedulerLock>(FIniFile.FileName(), "Pairwell window");

    FAutoRun->cbNotify->setCurrentText(NotifyModeToText(ReadNotifyMode(FIniFile)));
    connect(FAutoRun->cbNotify, &QComboBox::currentIndexChanged, this, &TJobPages::cbNotifyChange);

    // The automatic-run page's clock.
    const auto tick = [this] {
        FAutoRun->RxClock1->setText(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")));
        // The daemon ended: the window takes the jobs over.
        if (!SchedulesJobs() && FSchedulerLock->TryTake() == TSchedulerLock::Taken) {
            for (TFrmItem* row : JobItems()) {
                row->SetRunByService(false);
            }
        }
    };
    tick();
    FClockTimer.setInterval(ClockMilliseconds);
    connect(&FClockTimer, &QTimer::timeout, this, tick);
    FClockTimer.start();
}

TJobPages::~TJobPages() {
    FKeeper.JoinAll();
}

bool TJobPages::IsModified() const {
    return !FEditor->editMark2->isHidden();
}

void TJobPages::SetModified(bool modified) {
    FEditor->editMark2->setVisible(modified);
}

void TJobPages::ListJobs() {
    TStringList names;
    ::ListJobs(FIniFile, names);
    FEditor->cbJob->clear();
    for (const std::string& name : names) {
        FEditor->cbJob->addItem(BytesToText(name));
    }
    FEditor->cbJob->setCurrentIndex(-1);
}

int TJobPages::FindJob(const QString& name) const {
    for (int i = 0; i < FEditor->cbJob->count(); ++i) {
        if (SameName(FEditor->cbJob->itemText(i), name)) {
            return i;
        }
    }
    return -1;
}

bool TJobPages::IsKnownProject(const QString& name) const {
    for (int i = 0; i < FEditor->LbProject->count(); ++i) {
        if (SameName(FEditor->LbProject->item(i)->text(), name)) {
            return true;
        }
    }
    return false;
}

void TJobPages::LoadJob(const QString& name) {
    Ui::JobEditorPage& e = *FEditor;
    const std::string section = JobSection(Bytes(name));
    const auto read = [&](const std::string& key, const std::string& def) {
        return FIniFile.ReadString(section, key, def);
    };
    // A value that does not convert ends this group silently; what was
    // applied before it stays.
    try {
        e.EditMinute->setValue(TextToInt(read(JobKey::EditMinute, "0")));
        e.CbTime->setCurrentIndex(TextToInt(read(JobKey::CbTime, "0")));
        const std::string now = DateTimeToText(Now());
        for (const auto& [key, picker] :
             {std::pair{&JobKey::DateJob, e.DateJob}, std::pair{&JobKey::TimeBegin, e.TimeBegin},
              std::pair{&JobKey::TimeEnd, e.TimeEnd}}) {
            const std::optional<TDateTime> value = TryTextToDateTime(read(*key, now));
            if (!value) {
                throw EConvertError("not a date-time");
            }
            picker->setDateTime(ToQDateTime(*value));
        }
    } catch (const EConvertError&) {
    }
    e.CbJobValid->setChecked(TextIsTrue(read(JobKey::CbJobValid, "False")));
    FLoadedJob = TJobRecord();
    try {
        ReadJobOptions(FIniFile, Bytes(name), FLoadedJob);
    } catch (const EConvertError&) {
    }
    // No kind is selected when none is stored as "True".
    const std::initializer_list<std::pair<QRadioButton*, bool>> kinds = {
        {e.RbDay, TextIsTrue(read(JobKey::RbDay, "False"))},
        {e.RbPeriod, TextIsTrue(read(JobKey::RbPeriod, "False"))},
        {e.RbChange, FLoadedJob.FRbChange},
        {e.RbConnect, FLoadedJob.FRbConnect}};
    for (const auto& [kind, on] : kinds) {
        kind->setAutoExclusive(false);
    }
    for (const auto& [kind, on] : kinds) {
        kind->setChecked(on);
    }
    for (const auto& [kind, on] : kinds) {
        kind->setAutoExclusive(true);
    }
    RbDayClick();
    // A stored job without these keys has no catch-up and no alert.
    e.CbCatchUp->setChecked(FLoadedJob.FCatchUp);
    e.EditStaleDays->setValue(FLoadedJob.FStaleDays);
    e.LbSelect->clear();
    for (const std::string& project : ReadJobProjects(FIniFile, Bytes(name))) {
        e.LbSelect->addItem(BytesToText(project));
    }
    SetModified(false);
}

TJobRecord TJobPages::ShownJob() const {
    const Ui::JobEditorPage& e = *FEditor;
    // Keys without a control on this page are saved back as they were loaded.
    TJobRecord record = FLoadedJob;
    record.FProjects.clear();
    record.FEditMinute = e.EditMinute->value();
    record.FCbTime = e.CbTime->currentIndex();
    record.FDateJob = FromQDateTime(e.DateJob->dateTime());
    record.FTimeBegin = FromQDateTime(e.TimeBegin->dateTime());
    record.FTimeEnd = FromQDateTime(e.TimeEnd->dateTime());
    record.FCbJobValid = e.CbJobValid->isChecked();
    record.FRbDay = e.RbDay->isChecked();
    record.FRbPeriod = e.RbPeriod->isChecked();
    record.FRbChange = e.RbChange->isChecked();
    record.FRbConnect = e.RbConnect->isChecked();
    record.FCatchUp = e.CbCatchUp->isChecked();
    record.FStaleDays = e.EditStaleDays->value();
    for (int i = 0; i < e.LbSelect->count(); ++i) {
        record.FProjects.push_back(Bytes(e.LbSelect->item(i)->text()));
    }
    return record;
}

void TJobPages::SaveJob(const QString& name) {
    WriteJob(FIniFile, Bytes(name), ShownJob());
}

void TJobPages::DeleteJob(const QString& name) {
    ::DeleteJob(FIniFile, Bytes(name));
}

void TJobPages::cbJobClick(int index) {
    LoadJob(FEditor->cbJob->itemText(index));
}

void TJobPages::Button3Click() {
    Ui::JobEditorPage& e = *FEditor;
    QString name = e.cbJob->currentText();
    if (!TFmInput::InputValue(QStringLiteral("保存设置"), QStringLiteral("请输入任务名称"), name,
                              e.Button3)) {
        return;
    }
    if (name.trimmed().isEmpty()) {
        ShowNotice(e.Button3, QStringLiteral("任务名称不能为空白!"));
        return;
    }
    const int found = FindJob(name);
    if (found >= 0 && name != e.cbJob->currentText() &&
        !AskQuestion(e.Button3, QStringLiteral("\"%1\" 已存在，是否覆盖?").arg(name))) {
        return;
    }
    if (!WriteOrShowError(e.Button3, [&] { SaveJob(name); })) {
        return; // not stored: the edits stay marked, the rows as they were
    }
    if (found < 0) {
        e.cbJob->addItem(name);
        e.cbJob->setCurrentIndex(e.cbJob->count() - 1);
    }
    SetModified(false);
    if (e.CbJobValid->isChecked()) {
        RefreshJobItem(name);
    } else {
        RemoveJobItem(name);
    }
}

void TJobPages::Button4Click() {
    Ui::JobEditorPage& e = *FEditor;
    const QString name = e.cbJob->currentText();
    if (name.isEmpty()) {
        return;
    }
    if (!AskQuestion(e.Button4, QStringLiteral("是否删除任务 \"%1\" ?").arg(name))) {
        return;
    }
    if (!WriteOrShowError(e.Button4, [&] { DeleteJob(name); })) {
        return;
    }
    RemoveJobItem(name);
    e.cbJob->removeItem(e.cbJob->currentIndex());
    e.cbJob->setCurrentIndex(-1);
}

void TJobPages::RbDayClick() {
    Ui::JobEditorPage& e = *FEditor;
    SetModified(true);
    const bool daily = e.RbDay->isChecked();
    const bool periodic = e.RbPeriod->isChecked();
    e.DateJob->setEnabled(daily);
    for (QWidget* control : std::initializer_list<QWidget*>{e.EditMinute, e.CbTime, e.TimeBegin, e.TimeEnd}) {
        control->setEnabled(periodic);
    }
    // Only a job that runs at set times can miss one.
    e.CbCatchUp->setEnabled(daily || periodic);
}

void TJobPages::DateJobChange() {
    SetModified(true);
}

// An hour period holds at most a day; a larger value becomes 1, which marks
// the job as any change of the period does.
void TJobPages::CbTimeChange() {
    QSpinBox* period = FEditor->EditMinute;
    if (FEditor->CbTime->currentIndex() == 1) {
        const int value = period->value();
        {
            const QSignalBlocker quiet(period); // the cap is not the change: the 1 is
            period->setMaximum(HourMaximum);
        }
        if (value > HourMaximum) {
            period->setValue(1);
        }
    } else {
        period->setMaximum(MinuteMaximum);
    }
    period->setMinimum(1);
}

void TJobPages::BtnAddClick() {
    Ui::JobEditorPage& e = *FEditor;
    QListWidgetItem* chosen = e.LbProject->currentItem();
    if (!chosen || !chosen->isSelected()) {
        return;
    }
    for (int i = 0; i < e.LbSelect->count(); ++i) {
        if (SameName(e.LbSelect->item(i)->text(), chosen->text())) {
            return;
        }
    }
    e.LbSelect->addItem(chosen->text());
    SetModified(true);
}

void TJobPages::BtnDeleteClick() {
    Ui::JobEditorPage& e = *FEditor;
    QListWidgetItem* chosen = e.LbSelect->currentItem();
    if (!chosen || !chosen->isSelected()) {
        return;
    }
    delete e.LbSelect->takeItem(e.LbSelect->row(chosen));
    SetModified(true);
}

void TJobPages::cbNotifyChange(int index) {
    QComboBox* box = FAutoRun->cbNotify;
    const std::string text = TextToBytes(box->itemText(index));
    if (!WriteOrShowError(box, [&] { FIniFile.WriteString("system", NotifyKey, text); })) {
        const QSignalBlocker quiet(box); // not stored: the choice shows what is
        box->setCurrentText(NotifyModeToText(ReadNotifyMode(FIniFile)));
    }
}

void TJobPages::AutoJobExecute(const QStringList& projects) {
    FEditor->LbProject->clear();
    FEditor->LbProject->addItems(projects);
    FEditor->LbSelect->viewport()->update();
}

QList<TFrmItem*> TJobPages::JobItems() const {
    return FAutoRun->ItemHomeContents->findChildren<TFrmItem*>(QString(), Qt::FindDirectChildrenOnly);
}

TFrmItem* TJobPages::CreateJobItem(const QString& name) {
    auto* row = new TFrmItem(FIniFile, FRunLog, FKeeper, FAutoRun->ItemHomeContents);
    auto* rows = static_cast<QVBoxLayout*>(FAutoRun->ItemHomeContents->layout());
    rows->insertWidget(rows->count() - 1, row); // above the spacer: rows stack at the top
    connect(row, &TFrmItem::RunFinished, this, &TJobPages::JobRunFinished);
    connect(row, &TFrmItem::StaleSeen, this, &TJobPages::JobStale);
    if (!SchedulesJobs()) {
        row->SetRunByService(true);
    }
    row->SetJob(name);
    return row;
}

void TJobPages::BuildJobItems() {
    TStringList names;
    ::ListJobs(FIniFile, names);
    for (const std::string& name : names) {
        if (TextIsTrue(FIniFile.ReadString(JobSection(name), JobKey::CbJobValid, "False"))) {
            CreateJobItem(BytesToText(name));
        }
    }
}

void TJobPages::RefreshJobItem(const QString& name) {
    const QList<TFrmItem*> rows = JobItems();
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        if ((*it)->JobName() == name) {
            (*it)->Reschedule();
            return;
        }
    }
    CreateJobItem(name);
}

void TJobPages::RemoveJobItem(const QString& name) {
    const QList<TFrmItem*> rows = JobItems();
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        if ((*it)->JobName() == name) {
            delete *it; // a running job is asked to stop and kept until it ends
        }
    }
}

void TJobPages::StopAllRunners() {
    for (TFrmItem* row : JobItems()) {
        if (TJobThread* runner = row->Processor()) {
            runner->RequestStop();
        }
    }
    for (TFrmItem* row : JobItems()) {
        if (TJobThread* runner = row->Processor()) {
            runner->Wait();
        }
    }
    FKeeper.JoinAll();
}

void TJobPages::RemoveAllJobItems() {
    for (TFrmItem* row : JobItems()) {
        delete row;
    }
    FKeeper.JoinAll();
}
