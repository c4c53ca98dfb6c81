#pragma once

#include "engine/check/Check.h"
#include "engine/project/ProjectRecord.h"

#include <QWidget>
#include <memory>

class TDirectoryEdit;
class TIniFile;

namespace Ui {
class SettingsPage;
}

// The project settings page: one project record in its controls, the
// modification mark, and the commands that select, save and delete projects.
class TSettingsPage : public QWidget {
    Q_OBJECT
public:
    TSettingsPage(TIniFile& iniFile, QWidget* parent = nullptr);
    ~TSettingsPage() override;

    Ui::SettingsPage& Controls() { return *ui; }

    void ListProjects();
    void LoadProject(const QString& name);
    void SaveProject(const QString& name);
    void DeleteProject(const QString& name);

    // The record as the controls show it, saved or not.
    TProjectRecord ShownRecord() const;
    // The name of the selected project, "" when none is.
    QString ShownProjectName() const;
    // Selects the item equal to name (A-Z case ignored), or none.
    void SelectProject(const QString& name);

    // Puts the threshold date back at midnight of its day, as a check reads
    // it; no edit of the user's, so the mark stays as it was.
    void NormaliseThreshold();

    bool IsModified() const;
    void SetModified(bool modified);

    // Handlers.
    void cbProjectClick(int index);
    void btnSaveSettingClick();
    void btnDeleteSettingClick();
    void cbStayOnTopClick();
    void cbCheckEditTimeClick();
    void cbUpdateToOtherClick();
    // Opens the advanced options of the shown project; a change there raises the mark.
    void btnAdvancedClick();
    void DirectoryEdit1Change();
    // "远程…" beside the source, target and deploy folders: a folder on another machine.
    void btnRemote1Click();
    void btnRemote2Click();
    void btnRemote3Click();

signals:
    // The progress window's stay-on-top style follows "总在最前面".
    void StayOnTopChanged(bool stayOnTop);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BrowseRemote(TDirectoryEdit* edit);
    int FindProject(const QString& name) const;
    void ConnectModificationMark();

    TIniFile& FIniFile;
    std::unique_ptr<Ui::SettingsPage> ui;
    // The shown project as last loaded: the keys this page has no control for
    // are saved back as they were.
    TProjectRecord FLoadedRecord;
};
