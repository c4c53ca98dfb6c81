#include "ResultsPage.h"

#include "ByteText.h"
#include "ui_ResultsPage.h"

#include <QKeyEvent>
#include <QTextBlock>

TResultsPage::TResultsPage(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::ResultsPage>()) {
    ui->setupUi(this);
    QFont memoFont(QStringLiteral("宋体"));
    memoFont.setPixelSize(12);
    for (QPlainTextEdit* memo : {ui->Memo1, ui->Memo2, ui->Memo3}) {
        memo->setFont(memoFont);
        memo->installEventFilter(this);
    }
    connect(ui->Memo1, &QPlainTextEdit::textChanged, this, &TResultsPage::Memo1Change);
    connect(ui->Memo2, &QPlainTextEdit::textChanged, this, &TResultsPage::Memo2Change);
    connect(ui->Memo3, &QPlainTextEdit::textChanged, this, &TResultsPage::Memo3Change);
}

TResultsPage::~TResultsPage() = default;

QPlainTextEdit* TResultsPage::Memo(TApplyPhase phase) const {
    switch (phase) {
    case TApplyPhase::New:
        return ui->Memo1;
    case TApplyPhase::Update:
        return ui->Memo2;
    case TApplyPhase::Delete:
        break;
    }
    return ui->Memo3;
}

TStringList TResultsPage::MemoLines(TApplyPhase phase) const {
    QStringList lines = Memo(phase)->toPlainText().split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty()) {
        lines.removeLast();
    }
    TStringList result;
    result.reserve(static_cast<std::size_t>(lines.size()));
    for (const QString& line : lines) {
        result.push_back(TextToBytes(line));
    }
    return result;
}

void TResultsPage::SetMemoLines(TApplyPhase phase, const TStringList& lines) {
    QStringList text;
    text.reserve(static_cast<qsizetype>(lines.size()));
    for (const std::string& line : lines) {
        text.append(BytesToText(line));
    }
    Memo(phase)->setPlainText(text.join(QLatin1Char('\n')));
}

void TResultsPage::ShowPhaseCounts(TApplyPhase phase, int done, int failed) {
    QLabel* doneLabel = phase == TApplyPhase::New      ? ui->LabNew
                        : phase == TApplyPhase::Update ? ui->LabUpdate
                                                       : ui->LabDelete;
    QLabel* failLabel = phase == TApplyPhase::New      ? ui->LabNewFail
                        : phase == TApplyPhase::Update ? ui->LabUpdateFail
                                                       : ui->LabDeleteFail;
    doneLabel->setText(QString::number(done));
    failLabel->setText(QString::number(failed));
}

void TResultsPage::ShowMoveCount(int moves) {
    ui->LabMove->setText(QStringLiteral("移动 %1").arg(moves));
}

void TResultsPage::ClearPlan() {
    ShowMoveCount(0);
    for (QPlainTextEdit* memo : {ui->Memo1, ui->Memo2, ui->Memo3}) {
        memo->clear();
    }
    for (QLabel* label : {ui->LabNewPlan, ui->LabNew, ui->LabNewFail, ui->LabUpdatePlan, ui->LabUpdate,
                          ui->LabUpdateFail, ui->LabDeletePlan, ui->LabDelete, ui->LabDeleteFail}) {
        label->setText(QStringLiteral("0"));
    }
}

bool TResultsPage::eventFilter(QObject* watched, QEvent* event) {
    auto* memo = qobject_cast<QPlainTextEdit*>(watched);
    if (memo && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        bool handled = false;
        MemoKeyDown(memo, key->key(), key->modifiers(), handled);
        if (handled) {
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// Ctrl+A selects the whole memo, whatever other modifier keys are held.
void TResultsPage::MemoKeyDown(QPlainTextEdit* memo, int key, Qt::KeyboardModifiers modifiers,
                               bool& handled) {
    if (key == Qt::Key_A && modifiers.testFlag(Qt::ControlModifier)) {
        memo->selectAll();
        handled = true;
    }
}

void TResultsPage::ShowLineCount(const QPlainTextEdit* memo, QLabel* label) {
    const QTextDocument* document = memo->document();
    int lines = document->blockCount();
    if (document->lastBlock().text().isEmpty()) {
        --lines; // an empty last line is not a plan line
    }
    label->setText(QString::number(lines));
}

void TResultsPage::Memo1Change() {
    ShowLineCount(ui->Memo1, ui->LabNewPlan);
}

void TResultsPage::Memo2Change() {
    ShowLineCount(ui->Memo2, ui->LabUpdatePlan);
}

void TResultsPage::Memo3Change() {
    ShowLineCount(ui->Memo3, ui->LabDeletePlan);
}
