#include "SettingsPage.h"

#include "ByteText.h"
#include "DateTimeQt.h"
#include "FmAdvanced.h"
#include "FmInput.h"
#include "FmRemote.h"
#include "Messages.h"
#include "config/AsciiCase.h"
#include "config/IniFile.h"
#include "ui_SettingsPage.h"

#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QSignalBlocker>

namespace {

std::string Bytes(const QString& text) {
    return TextToBytes(text);
}

} // namespace

TSettingsPage::TSettingsPage(TIniFile& iniFile, QWidget* parent)
    : QWidget(parent), FIniFile(iniFile), ui(std::make_unique<Ui::SettingsPage>()) {
    ui->setupUi(this);
    ui->editMark->setVisible(false);
    // Controls captioned by the check box before them speak with its caption.
    ui->Time1->setAccessibleName(ui->cbCheckEditTime->text());
    ui->DirectoryEdit3->setAccessibleName(ui->cbUpdateToOther->text());
    ui->DirectoryEdit3->Edit()->setAccessibleName(ui->cbUpdateToOther->text());
    ui->cbLastEditTime->setCurrentIndex(0);
    ui->DirectoryEdit3->setEnabled(false);
    ui->btnRemote3->setEnabled(false);
    for (QPlainTextEdit* memo : {ui->Edit1, ui->Edit2, ui->Edit3, ui->Edit4}) {
        memo->installEventFilter(this);
    }
    ConnectModificationMark();
    connect(ui->cbProject, &QComboBox::activated, this, &TSettingsPage::cbProjectClick);
    connect(ui->btnSaveSetting, &QPushButton::clicked, this, &TSettingsPage::btnSaveSettingClick);
    connect(ui->btnDeleteSetting, &QPushButton::clicked, this, &TSettingsPage::btnDeleteSettingClick);
    connect(ui->cbStayOnTop, &QCheckBox::toggled, this, &TSettingsPage::cbStayOnTopClick);
    connect(ui->cbCheckEditTime, &QCheckBox::toggled, this, &TSettingsPage::cbCheckEditTimeClick);
    connect(ui->cbUpdateToOther, &QCheckBox::toggled, this, &TSettingsPage::cbUpdateToOtherClick);
    connect(ui->btnAdvanced, &QPushButton::clicked, this, &TSettingsPage::btnAdvancedClick);
    connect(ui->btnRemote1, &QPushButton::clicked, this, &TSettingsPage::btnRemote1Click);
    connect(ui->btnRemote2, &QPushButton::clicked, this, &TSettingsPage::btnRemote2Click);
    connect(ui->btnRemote3, &QPushButton::clicked, this, &TSettingsPage::btnRemote3Click);
}

TSettingsPage::~TSettingsPage() = default;

// Every change a control reports raises the mark, whoever made it.
void TSettingsPage::ConnectModificationMark() {
    for (TDirectoryEdit* edit : {ui->DirectoryEdit1, ui->DirectoryEdit2, ui->DirectoryEdit3}) {
        connect(edit, &TDirectoryEdit::textChanged, this, &TSettingsPage::DirectoryEdit1Change);
    }
    for (QPlainTextEdit* memo : {ui->Edit1, ui->Edit2, ui->Edit3, ui->Edit4}) {
        connect(memo, &QPlainTextEdit::textChanged, this, &TSettingsPage::DirectoryEdit1Change);
    }
    connect(ui->cbLastEditTime, &QComboBox::currentIndexChanged, this, &TSettingsPage::DirectoryEdit1Change);
    connect(ui->Time1, &QDateTimeEdit::dateTimeChanged, this, &TSettingsPage::DirectoryEdit1Change);
    for (QCheckBox* box :
         {ui->cbCheckSize, ui->cbFileDelete, ui->cbUpdateReadOnly, ui->cbIncludeBlankFolder}) {
        connect(box, &QCheckBox::toggled, this, &TSettingsPage::DirectoryEdit1Change);
    }
}

bool TSettingsPage::eventFilter(QObject* watched, QEvent* event) {
    // The keyword memos take no Enter: a keyword list stays on one line.
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool TSettingsPage::IsModified() const {
    return !ui->editMark->isHidden();
}

void TSettingsPage::SetModified(bool modified) {
    ui->editMark->setVisible(modified);
}

void TSettingsPage::DirectoryEdit1Change() {
    SetModified(true);
}

void TSettingsPage::cbStayOnTopClick() {
    SetModified(true);
    emit StayOnTopChanged(ui->cbStayOnTop->isChecked());
}

void TSettingsPage::cbCheckEditTimeClick() {
    SetModified(true);
    ui->Time1->setEnabled(ui->cbCheckEditTime->isChecked());
}

void TSettingsPage::cbUpdateToOtherClick() {
    SetModified(true);
    ui->DirectoryEdit3->setEnabled(ui->cbUpdateToOther->isChecked());
    ui->btnRemote3->setEnabled(ui->cbUpdateToOther->isChecked());
}

void TSettingsPage::BrowseRemote(TDirectoryEdit* edit) {
    QString text = edit->text();
    if (TFmRemote::BrowseRemote(FLoadedRecord.FSshCommand, text, this)) {
        edit->setText(text);
    }
}

void TSettingsPage::btnRemote1Click() {
    BrowseRemote(ui->DirectoryEdit1);
}

void TSettingsPage::btnRemote2Click() {
    BrowseRemote(ui->DirectoryEdit2);
}

void TSettingsPage::btnRemote3Click() {
    BrowseRemote(ui->DirectoryEdit3);
}

void TSettingsPage::btnAdvancedClick() {
    TFmAdvanced dialog(this);
    dialog.SetRecord(FLoadedRecord);
    if (dialog.exec() != QDialog::Accepted || !dialog.IsModified()) {
        return;
    }
    FLoadedRecord = dialog.Record(FLoadedRecord);
    SetModified(true);
}

void TSettingsPage::NormaliseThreshold() {
    const QSignalBlocker quiet(ui->Time1);
    ui->Time1->setDateTime(QDateTime(ui->Time1->date(), QTime(0, 0)));
}

void TSettingsPage::ListProjects() {
    TStringList names;
    ::ListProjects(FIniFile, names);
    ui->cbProject->clear();
    for (const std::string& name : names) {
        ui->cbProject->addItem(BytesToText(name));
    }
    ui->cbProject->setCurrentIndex(-1);
}

int TSettingsPage::FindProject(const QString& name) const {
    const std::string wanted = Bytes(name);
    for (int i = 0; i < ui->cbProject->count(); ++i) {
        if (SameTextIgnoringAsciiCase(Bytes(ui->cbProject->itemText(i)), wanted)) {
            return i;
        }
    }
    return -1;
}

void TSettingsPage::SelectProject(const QString& name) {
    ui->cbProject->setCurrentIndex(FindProject(name));
}

QString TSettingsPage::ShownProjectName() const {
    return ui->cbProject->currentText();
}

void TSettingsPage::LoadProject(const QString& name) {
    namespace K = ProjectKey;
    const std::string section = ProjectSection(Bytes(name));
    const auto text = [&](const std::string& key, const std::string& def = "") {
        return BytesToText(FIniFile.ReadString(section, key, def));
    };
    const auto flag = [&](const std::string& key, const char* def) {
        return TextIsTrue(FIniFile.ReadString(section, key, def));
    };
    ui->DirectoryEdit1->setText(text(K::Source));
    ui->DirectoryEdit2->setText(text(K::Target));
    ui->DirectoryEdit3->setText(text(K::Deploy));
    ui->Edit1->setPlainText(text(K::FileTypeInclude));
    ui->Edit2->setPlainText(text(K::FileTypeExcept));
    ui->Edit3->setPlainText(text(K::DirInclude));
    ui->Edit4->setPlainText(text(K::DirExcept));
    ui->cbStayOnTop->setChecked(flag(K::StayOnTop, "False"));
    ui->cbFileDelete->setChecked(flag(K::FileDelete, "False"));
    ui->cbUpdateReadOnly->setChecked(flag(K::UpdateReadOnly, "True"));
    ui->cbUpdateToOther->setChecked(flag(K::UpdateToOther, "False"));
    // One guarded group: a value that does not convert leaves the rest of the
    // group as it was, silently.
    try {
        const int mode = TextToInt(FIniFile.ReadString(section, K::EditTime, "0"));
        ui->cbLastEditTime->setCurrentIndex(mode >= 0 && mode <= 3 ? mode : -1);
        const std::string stored = FIniFile.ReadString(section, K::Time1, DateTimeToText(Now()));
        ui->Time1->setDateTime(ToQDateTime(TextToThresholdDate(stored)));
    } catch (const EConvertError&) {
    }
    ui->cbCheckEditTime->setChecked(flag(K::CheckEditTime, "False"));
    ui->cbCheckSize->setChecked(flag(K::CheckSize, "False"));
    ui->cbIncludeBlankFolder->setChecked(flag(K::IncludeBlankFolder, "False"));
    try {
        FLoadedRecord = ReadProject(FIniFile, Bytes(name));
    } catch (const EConvertError&) {
        FLoadedRecord = TProjectRecord();
    }
    cbStayOnTopClick();
    cbCheckEditTimeClick();
    cbUpdateToOtherClick();
    SetModified(false);
}

TProjectRecord TSettingsPage::ShownRecord() const {
    TProjectRecord record = FLoadedRecord;
    record.FSource = Bytes(ui->DirectoryEdit1->text());
    record.FTarget = Bytes(ui->DirectoryEdit2->text());
    record.FDeploy = Bytes(ui->DirectoryEdit3->text());
    record.FFileTypeInclude = Bytes(ui->Edit1->toPlainText());
    record.FFileTypeExcept = Bytes(ui->Edit2->toPlainText());
    record.FDirInclude = Bytes(ui->Edit3->toPlainText());
    record.FDirExcept = Bytes(ui->Edit4->toPlainText());
    record.FStayOnTop = ui->cbStayOnTop->isChecked();
    record.FFileDelete = ui->cbFileDelete->isChecked();
    record.FUpdateReadOnly = ui->cbUpdateReadOnly->isChecked();
    record.FUpdateToOther = ui->cbUpdateToOther->isChecked();
    record.FEditTime = ui->cbLastEditTime->currentIndex();
    record.FCheckEditTime = ui->cbCheckEditTime->isChecked();
    record.FCheckSize = ui->cbCheckSize->isChecked();
    record.FIncludeBlankFolder = ui->cbIncludeBlankFolder->isChecked();
    record.FTime1 = FromQDateTime(ui->Time1->dateTime());
    return record;
}

void TSettingsPage::SaveProject(const QString& name) {
    WriteProject(FIniFile, Bytes(name), ShownRecord());
}

void TSettingsPage::DeleteProject(const QString& name) {
    ::DeleteProject(FIniFile, Bytes(name));
}

void TSettingsPage::cbProjectClick(int index) {
    LoadProject(ui->cbProject->itemText(index));
}

void TSettingsPage::btnSaveSettingClick() {
    QString name = ui->cbProject->currentText();
    if (!TFmInput::InputValue(QStringLiteral("保存设置"), QStringLiteral("请输入项目名称"), name, this)) {
        return;
    }
    if (name.trimmed().isEmpty()) {
        ShowNotice(this, QStringLiteral("项目名称不能为空白!"));
        return;
    }
    const int found = FindProject(name);
    if (found >= 0 && name != ui->cbProject->currentText() &&
        !AskQuestion(this, QStringLiteral("\"%1\" 已存在，是否覆盖?").arg(name))) {
        return;
    }
    if (!WriteOrShowError(this, [&] { SaveProject(name); })) {
        return; // not stored: the edits stay marked
    }
    if (found < 0) {
        ui->cbProject->addItem(name);
        ui->cbProject->setCurrentIndex(ui->cbProject->count() - 1);
    }
    SetModified(false);
}

void TSettingsPage::btnDeleteSettingClick() {
    const QString name = ui->cbProject->currentText();
    if (name.isEmpty()) {
        return;
    }
    const int index = ui->cbProject->currentIndex();
    if (!AskQuestion(this, QStringLiteral("是否删除项目 \"%1\" ?").arg(name))) {
        return;
    }
    if (!WriteOrShowError(this, [&] { DeleteProject(name); })) {
        return;
    }
    ui->cbProject->removeItem(index);
    ui->cbProject->setCurrentIndex(-1);
}
