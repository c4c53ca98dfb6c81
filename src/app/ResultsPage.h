#pragma once

#include "config/StringList.h"
#include "engine/apply/Apply.h"

#include <QWidget>
#include <memory>

class QLabel;
class QPlainTextEdit;

namespace Ui {
class ResultsPage;
}

// The results page: the plan in three editable memos (new, update, delete)
// and the nine counters of planned, done and failed items.
class TResultsPage : public QWidget {
    Q_OBJECT
public:
    explicit TResultsPage(QWidget* parent = nullptr);
    ~TResultsPage() override;

    Ui::ResultsPage& Controls() { return *ui; }

    QPlainTextEdit* Memo(TApplyPhase phase) const;
    // A memo's lines as plan lines (bytes), an empty last line left out.
    TStringList MemoLines(TApplyPhase phase) const;
    void SetMemoLines(TApplyPhase phase, const TStringList& lines);
    // The done and failed counters of a phase.
    void ShowPhaseCounts(TApplyPhase phase, int done, int failed);
    // "移动 N": how many moves the plan of the last check holds, and after a
    // synchronisation how many it made.
    void ShowMoveCount(int moves);
    // Empties the memos and sets all nine counters to "0", and the moves too.
    void ClearPlan();

    void MemoKeyDown(QPlainTextEdit* memo, int key, Qt::KeyboardModifiers modifiers, bool& handled);
    void Memo1Change();
    void Memo2Change();
    void Memo3Change();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static void ShowLineCount(const QPlainTextEdit* memo, QLabel* label);

    std::unique_ptr<Ui::ResultsPage> ui;
};
