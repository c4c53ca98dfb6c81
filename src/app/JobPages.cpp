#include "JobPages.h"

TJobPages::TJobPages(TIniFile& iniFile, const TRunLog& runLog, QWidget* editorPage, QWidget* autoRunPage,
                     QObject* parent)
    : QObject(parent), FIniFile(iniFile), FRunLog(runLog), FEditorPage(editorPage),
      FAutoRunPage(autoRunPage) {}

TJobPages::~TJobPages() = default;

void TJobPages::ListJobs() {}

void TJobPages::BuildJobItems() {}

void TJobPages::AutoJobExecute(const QStringList& /*projects*/) {}

void TJobPages::StopAllRunners() {}
