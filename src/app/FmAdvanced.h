#pragma once

#include "engine/project/ProjectRecord.h"

#include <QDialog>
#include <memory>

namespace Ui {
class FmAdvanced;
}

// The settings page's "高级…" dialog: the deletion guard, versions, time
// tolerance, links and content comparison of the shown project.
class TFmAdvanced : public QDialog {
    Q_OBJECT
public:
    explicit TFmAdvanced(QWidget* parent = nullptr);
    ~TFmAdvanced() override;

    Ui::FmAdvanced& Controls() { return *ui; }

    // Shows the record's keys; the dialog then counts as unchanged.
    void SetRecord(const TProjectRecord& record);
    // The record with this dialog's keys as the controls show them.
    TProjectRecord Record(TProjectRecord record) const;
    // Whether a control reported a change since SetRecord.
    bool IsModified() const { return FModified; }

    // Handlers.
    void cbDeleteGuardClick();
    void cbVersioningClick();
    void ControlChange();
    void BtnOkClick();

private:
    std::unique_ptr<Ui::FmAdvanced> ui;
    bool FModified = false;
};

// Whether text is a valid "IgnoreTimeShift": empty, or whole minutes
// separated by "|".
bool IsTimeShiftList(const QString& text);
