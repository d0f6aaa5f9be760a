#pragma once

#include <string>
#include <string_view>

namespace ipcountry::ui {

// The prompt's fixed texts.
inline constexpr std::string_view kWrongDataText = "Error due to wrong data entered! ";
inline constexpr std::string_view kContinueQuestion = "Do you want continue?";

// "Error due to wrong data entered! " and the description, directly joined.
inline std::string wrongDataMessage(std::string_view description) {
    std::string text(kWrongDataText);
    text += description;
    return text;
}

// The Yes/No prompt of a failing line of a formatted list; the window's
// message boxes break lines as CR LF.
inline std::string continuePrompt(std::string_view description) {
    std::string text = wrongDataMessage(description);
    text += "\r\n";
    text += kContinueQuestion;
    return text;
}

}  // namespace ipcountry::ui
