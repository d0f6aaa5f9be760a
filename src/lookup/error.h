#pragma once

#include <cstdint>
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

// Exactly what went wrong, with the values that tell it apart; each front
// end words it its own way (the window's sentences, the command line's
// "FILE: reason").
enum class ErrorCode {
    // The dot walk over an address (makeAddressKey).
    OctetEmpty,      // number: the octet (1-4)
    OctetNotNumber,  // number: the octet; text: what it holds
    TooFewDots,
    NoAddressKey,  // a key that holds no address (an octet above 255): nothing more to say
    // Opening a file (OpenedFile).
    NoFileName,
    NulInFileName,
    FileNotFound,      // system: ENOENT or ENOTDIR
    PermissionDenied,  // system: EACCES or EPERM
    CannotOpen,        // system: what open or fstat said
    IsFolder,
    NotRegularFile,
    // Reading it.
    ReadFailed,      // system: what read or fstat said
    PageUnreadable,  // a page of a file read in place could not be read (system: EIO)
    Shrank,          // the file shrank while it was read in place
    TooLarge,        // number: the limit in MiB
    PackedDamaged,   // text: the packing (gzip, bzip2, xz, zstd)
    PackedCutShort,  // text: the packing
    PackedTooLarge,  // text: the packing; number: the memory limit in MiB
    // A line of a formatted list.
    LineTooLong,  // number: the longest line taken, in characters
    NoAddress,    // the window's reading is `cause`; text: the command line reader's reason
    // An error that ends a run.
    OutOfMemory,
    // The content of a data file.
    CountryListTooLong,   // line; number: the most countries a list holds
    CountryLineTooShort,  // line
    CountryListEmpty,
    NetworkFileDamaged,  // text: what is wrong with it
    NetworkEntryBad,     // line; text: the entry as written (a NUL as \0); causeText: why
    RangeLinesBad,       // the range file's lines are malformed or out of order
    // Anything else that ended an action, as it said itself: `text` (and
    // `file` with `reason` for the command line).
    Described,
};

// The one exception type of the core: a value (code, file, line, system
// error) that each front end words (ui/messages.h, tools/batch_messages.h).
// what() is a plain fallback, "FILE: reason", for code that only knows
// std::exception.
class Error : public std::runtime_error {
public:
    struct Values {
        std::string file = {};  // as the command line names it ("-" for standard input)
        std::string name = {};  // as a person reads it ("standard input"); the file when empty
        std::int64_t line = 0;
        int system = 0;  // errno, when the system said what went wrong
        std::uint64_t number = 0;
        std::string text = {};
        // NoAddress: how the window's reading failed, with what the octet held.
        ErrorCode cause = ErrorCode::Described;
        std::string causeText = {};
    };

    Error(ErrorKind kind, ErrorCode code, Values values);
    // An error said whole: `description` is what a person reads.
    Error(ErrorKind kind, const std::string& description);
    // The same about one file: the command line names the file and the
    // reason alone (strerror's text for a system error), as cat and grep do.
    Error(ErrorKind kind, const std::string& description, const std::string& file,
          const std::string& reason);

    ErrorKind kind() const noexcept { return m_kind; }
    const Values& values() const noexcept { return m_values; }
    ErrorCode code() const noexcept { return m_code; }
    const std::string& file() const noexcept { return m_values.file; }
    const std::string& name() const noexcept {
        return m_values.name.empty() ? m_values.file : m_values.name;
    }
    std::int64_t line() const noexcept { return m_values.line; }
    int system() const noexcept { return m_values.system; }
    std::uint64_t number() const noexcept { return m_values.number; }
    const std::string& text() const noexcept { return m_values.text; }
    ErrorCode cause() const noexcept { return m_values.cause; }
    const std::string& causeText() const noexcept { return m_values.causeText; }
    // Described with a file: the reason alone.
    const std::string& reason() const noexcept { return m_reason; }

    // The same failure, for keeping one copy of a run of equal ones.
    bool sameAs(const Error& other) const noexcept;

private:
    ErrorKind m_kind;
    ErrorCode m_code;
    Values m_values;
    std::string m_reason;
};

// The reason alone, as the system or the reader of the data put it: what
// follows "FILE: " (strerror's text, "octet 2 is empty"). Both front ends
// build their texts around it.
std::string errorReason(const Error& error);

// Where the error stands as both front ends name it before its reason: the
// file, "FILE, line N" in the country list, "FILE:N" in a list of networks;
// empty for an error about no file.
std::string errorPlace(ErrorCode code, const Error::Values& values);

}  // namespace ipcountry::lookup
