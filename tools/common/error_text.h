#pragma once

#include <string>

#include "lookup/error.h"

namespace ipcountry::output {

// An error of the core in the command line's words: "FILE: reason" for an
// error about a file (sayProblem leaves out the file it already names), the
// reason alone for a line.
inline std::string problemText(const lookup::Error& error) {
    using lookup::ErrorCode;
    switch (error.code()) {
        case ErrorCode::OctetEmpty:
        case ErrorCode::OctetNotNumber:
            return "Type mismatch: " + lookup::errorReason(error);
        case ErrorCode::TooFewDots:
            return "Invalid argument: " + lookup::errorReason(error);
        case ErrorCode::NoAddressKey:
            return {};
        case ErrorCode::NoAddress:
        case ErrorCode::LineTooLong:
        case ErrorCode::OutOfMemory:
            return lookup::errorReason(error);
        case ErrorCode::Described:
            if (error.file().empty()) return error.what();
            break;
        default:
            break;
    }
    return lookup::errorPlace(error.code(), error.values()) + ": " + lookup::errorReason(error);
}

}  // namespace ipcountry::output
