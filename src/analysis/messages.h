#pragma once

#include <string>
#include <string_view>

#include "analysis/analysis.h"

namespace ipcountry::analysis {

// "Error due to wrong data entered! " and the description, directly joined.
inline std::string wrongDataMessage(std::string_view description) {
    std::string text(kWrongDataText);
    text += description;
    return text;
}

// The Yes/No prompt of a failing line of a formatted list.
inline std::string continuePrompt(std::string_view description) {
    std::string text = wrongDataMessage(description);
    text += "\r\n";
    text += kContinueQuestion;
    return text;
}

}  // namespace ipcountry::analysis
