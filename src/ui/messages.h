#pragma once

#include <exception>
#include <string>
#include <string_view>

#include "analysis/interfaces.h"
#include "lookup/error.h"

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

// An error of the core in the window's words: what follows
// "Error due to wrong data entered! ". `line` is the line a failing line of a
// list names (the error's own line when 0).
inline std::string errorDescription(const lookup::Error& error, std::int64_t line = 0) {
    using lookup::ErrorCode;
    const std::string& name = error.name();
    switch (error.code()) {
        case ErrorCode::OctetEmpty:
        case ErrorCode::OctetNotNumber:
            return "Type mismatch: " + lookup::errorReason(error);
        case ErrorCode::TooFewDots:
            return "Invalid argument: " + lookup::errorReason(error);
        case ErrorCode::NoAddressKey:
            return {};
        case ErrorCode::NoFileName:
            return "File not found: no file name was given";
        case ErrorCode::NulInFileName:
            return "Bad file name: " + name;
        case ErrorCode::FileNotFound:
            return "File not found: " + name;
        case ErrorCode::PermissionDenied:
            return "Permission denied: " + name;
        case ErrorCode::CannotOpen:
            return "Cannot open " + name + ": " + lookup::errorReason(error);
        case ErrorCode::IsFolder:
            return "Cannot read " + name + ": it is a directory, not a file";
        case ErrorCode::NotRegularFile:
            return "Cannot read " + name + ": it is not a regular file";
        case ErrorCode::ReadFailed:
        case ErrorCode::PageUnreadable:
        case ErrorCode::Shrank:
        case ErrorCode::PackedDamaged:
        case ErrorCode::PackedCutShort:
        case ErrorCode::PackedTooLarge:
            return "Cannot read " + name + ": " + lookup::errorReason(error);
        case ErrorCode::TooLarge:
            return "Cannot use " + name + ": " + lookup::errorReason(error);
        case ErrorCode::LineTooLong:
            return "Line " + std::to_string(line != 0 ? line : error.line()) + " is longer than " +
                   std::to_string(error.number()) + " characters";
        case ErrorCode::NoAddress:
            // The window's own reading of the line: the dot walk's failure,
            // or nothing for a line it never tried.
            if (error.cause() == ErrorCode::Described) return {};
            return errorDescription(
                lookup::Error(error.kind(), error.cause(),
                              {.number = error.number(), .text = error.causeText()}));
        case ErrorCode::OutOfMemory:
            return "There is not enough memory to go on with this file; "
                   "the rows found before stay.";
        case ErrorCode::CountryListTooLong:
        case ErrorCode::CountryLineTooShort:
        case ErrorCode::CountryListEmpty:
        case ErrorCode::NetworkFileDamaged:
        case ErrorCode::NetworkEntryBad:
        case ErrorCode::RangeLinesBad:
            return lookup::errorPlace(error.code(), error.values()) + ": " +
                   lookup::errorReason(error);
        case ErrorCode::Described:
            break;
    }
    return error.what();
}

// The description of whatever ended an action: the core's errors in the
// window's words, anything else as it says itself.
inline std::string exceptionDescription(const std::exception& error) {
    if (const auto* failure = dynamic_cast<const lookup::Error*>(&error))
        return errorDescription(*failure);
    return error.what();
}

// The description of a failing line of a list.
inline std::string failingLineDescription(const analysis::FailingLine& line) {
    return errorDescription(line.error, line.lineNumber);
}

}  // namespace ipcountry::ui
