#pragma once

#include <stdexcept>
#include <string>

namespace ipcountry::lookup {

// What went wrong, for callers that react differently to different failures.
enum class ErrorKind {
    TypeMismatch,     // an octet that is empty or not a number
    InvalidArgument,  // an address with fewer than three dots, or an octet above 255
    FileNotFound,     // a data file or an input file that does not exist
    FileUnreadable,   // exists, but cannot be opened or read (a directory, no permission)
    BadData,          // a data file whose content cannot be used (Country.dbf too long, short line)
};

// The one exception type of the core. what() is a description a person
// understands; the ui puts it after "Error due to wrong data entered! ".
class Error : public std::runtime_error {
public:
    Error(ErrorKind kind, const std::string& description)
        : std::runtime_error(description), m_kind(kind), m_problem(description) {}
    // An error about one file: the command line names the file and the
    // reason alone (strerror's text for a system error), as cat and grep do.
    Error(ErrorKind kind, const std::string& description, const std::string& file,
          const std::string& reason)
        : std::runtime_error(description), m_kind(kind), m_problem(file + ": " + reason) {}
    ErrorKind kind() const noexcept { return m_kind; }
    // "FILE: reason" for an error about a file, else the description.
    const std::string& problem() const noexcept { return m_problem; }

private:
    ErrorKind m_kind;
    std::string m_problem;
};

}  // namespace ipcountry::lookup
