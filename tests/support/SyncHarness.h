#pragma once

// A check followed by the apply of its plan, on real folders, for tests of
// whole synchronisations.

#include "engine/apply/Apply.h"
#include "engine/check/Check.h"

#include "TempDir.h"

#include <string>

struct TSyncHarness {
    TTempDir FDir;
    std::string FSource = FDir / "src";
    std::string FTarget = FDir / "dst";
    TCheckSettings FSettings;
    TApplyOptions FOptions;
    TPlan FPlan;
    TLogBuffer FLog;
    TPhaseResult FNew, FUpdate, FDelete;

    TSyncHarness() {
        MakeFolder(FSource);
        MakeFolder(FTarget);
        FSettings.FSourceRoot = FOptions.FSourceRoot = FSource + "/";
        FSettings.FTargetRoot = FOptions.FTargetRoot = FOptions.FWriteRoot = FTarget + "/";
        FSettings.FDeletePass = true;
    }

    void Check() {
        FLog.Clear();
        RunCheck(FSettings, FPlan, SilentProgress());
    }
    // The plan of the last check, then the three phases.
    void Apply() {
        FOptions.FLinks = FSettings.FLinks;
        FNew = ApplyPhase(TApplyPhase::New, FPlan.FNewList, FOptions, FLog, SilentProgress());
        FUpdate = ApplyPhase(TApplyPhase::Update, FPlan.FUpdateList, FOptions, FLog, SilentProgress());
        FDelete = ApplyPhase(TApplyPhase::Delete, FPlan.FDeleteList, FOptions, FLog, SilentProgress());
    }
    void Sync() {
        Check();
        Apply();
    }
};
