#pragma once

#include "engine/project/Plan.h"

#include <string>

// A plan as text, one line per item: "new\t", "update\t" or "delete\t" and
// the line, then "error\t" with the path, a tab and the reason.
inline std::string PlanText(const TPlan& plan) {
    std::string text;
    const auto add = [&](const char* kind, const TStringList& lines) {
        for (const std::string& line : lines) {
            text += std::string(kind) + "\t" + line + "\n";
        }
    };
    add("new", plan.FNewList);
    add("update", plan.FUpdateList);
    add("delete", plan.FDeleteList);
    for (const TItemFailure& error : plan.FErrors) {
        text += "error\t" + error.FPath + "\t" + error.FReason + "\n";
    }
    return text;
}
