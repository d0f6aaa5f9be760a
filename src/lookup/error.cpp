#include "lookup/error.h"

#include <cerrno>
#include <cstring>
#include <tuple>

namespace ipcountry::lookup {

namespace {

std::string systemText(int error) { return std::strerror(error); }

std::string megabytes(std::uint64_t n) { return std::to_string(n) + " MB"; }

// The reason of an address's dot walk, from its code and values.
std::string addressReason(ErrorCode code, std::uint64_t octet, const std::string& text) {
    switch (code) {
        case ErrorCode::OctetEmpty:
            return "octet " + std::to_string(octet) + " is empty";
        case ErrorCode::OctetNotNumber:
            return "octet " + std::to_string(octet) + " (\"" + text + "\") is not a number";
        case ErrorCode::TooFewDots:
            return "the address has fewer than three dots";
        default:
            return {};
    }
}

std::string reasonOf(ErrorCode code, const Error::Values& v, const std::string& described) {
    switch (code) {
        case ErrorCode::OctetEmpty:
        case ErrorCode::OctetNotNumber:
        case ErrorCode::TooFewDots:
        case ErrorCode::NoAddressKey:
            return addressReason(code, v.number, v.text);
        case ErrorCode::NoFileName:
            return systemText(ENOENT);
        case ErrorCode::NulInFileName:
            return "the name holds a NUL character";
        case ErrorCode::FileNotFound:
        case ErrorCode::PermissionDenied:
        case ErrorCode::CannotOpen:
        case ErrorCode::ReadFailed:
            return systemText(v.system);
        case ErrorCode::IsFolder:
            return systemText(EISDIR);
        case ErrorCode::NotRegularFile:
            return "not a regular file";
        case ErrorCode::PageUnreadable:
            return "a part of it could not be read (" + systemText(v.system) + ")";
        case ErrorCode::Shrank:
            return "the file shrank while it was read";
        case ErrorCode::TooLarge:
            return "the file is larger than " + megabytes(v.number);
        case ErrorCode::PackedDamaged:
            return "its " + v.text + " data is damaged";
        case ErrorCode::PackedCutShort:
            return "the file is cut short (its " + v.text + " data ends before it is complete)";
        case ErrorCode::PackedTooLarge:
            return "unpacking its " + v.text + " data would need more than " + megabytes(v.number) +
                   " of memory";
        case ErrorCode::LineTooLong:
            return "line is longer than " + std::to_string(v.number) + " characters";
        case ErrorCode::NoAddress:
            return v.text;
        case ErrorCode::OutOfMemory:
            return "out of memory";
        case ErrorCode::CountryListTooLong:
            return "the list holds more than " + std::to_string(v.number) + " countries";
        case ErrorCode::CountryLineTooShort:
            return "the line is shorter than two characters (a code and a name are needed)";
        case ErrorCode::CountryListEmpty:
            return "the list holds no countries";
        case ErrorCode::NetworkFileDamaged:
            return v.text;
        case ErrorCode::NetworkEntryBad:
            return "'" + v.text + "': " + v.causeText;
        case ErrorCode::RangeLinesBad:
            return "lines malformed or out of order; the networks are read from a well-formed "
                   "range file only";
        case ErrorCode::Described:
            return described;
    }
    return described;
}

std::string plainText(ErrorCode code, const Error::Values& v) {
    const std::string reason = reasonOf(code, v, {});
    const std::string place = errorPlace(code, v);
    return place.empty() ? reason : place + ": " + reason;
}

}  // namespace

std::string errorPlace(ErrorCode code, const Error::Values& v) {
    switch (code) {
        case ErrorCode::CountryListTooLong:
        case ErrorCode::CountryLineTooShort:
            return v.file + ", line " + std::to_string(v.line);
        case ErrorCode::NetworkEntryBad:
            return v.file + ":" + std::to_string(v.line);
        default:
            return v.file;
    }
}

Error::Error(ErrorKind kind, ErrorCode code, Values values)
    : std::runtime_error(plainText(code, values)),
      m_kind(kind),
      m_code(code),
      m_values(std::move(values)) {}

Error::Error(ErrorKind kind, const std::string& description)
    : std::runtime_error(description), m_kind(kind), m_code(ErrorCode::Described) {}

Error::Error(ErrorKind kind, const std::string& description, const std::string& file,
             const std::string& reason)
    : std::runtime_error(description),
      m_kind(kind),
      m_code(ErrorCode::Described),
      m_values{.file = file},
      m_reason(reason) {}

bool Error::sameAs(const Error& other) const noexcept {
    const auto fields = [](const Error& e) {
        const Values& v = e.m_values;
        return std::tie(e.m_kind, e.m_code, v.file, v.name, v.line, v.system, v.number, v.text,
                        v.cause, v.causeText, e.m_reason);
    };
    return fields(*this) == fields(other) && std::string_view(what()) == other.what();
}

std::string errorReason(const Error& error) {
    if (error.code() == ErrorCode::Described)
        return error.file().empty() ? std::string(error.what()) : error.reason();
    return reasonOf(error.code(), error.values(), {});
}

}  // namespace ipcountry::lookup
