// Each error of the core in the window's words and in the command line's,
// held to the texts both front ends have always shown. The errors come from
// the real readers wherever a test can make them happen.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "analysis/line_reader.h"
#include "common/error_text.h"
#include "lookup/address_key.h"
#include "lookup/address_text.h"
#include "lookup/as_file.h"
#include "lookup/country_table.h"
#include "lookup/error.h"
#include "lookup/network_set.h"
#include "lookup/text_file.h"
#include "support/temp_dir.h"
#include "ui/messages.h"

namespace ipcountry {
namespace {

using lookup::Error;
using lookup::ErrorCode;
using lookup::ErrorKind;

struct WordsCase {
    const char* name;
    // The error, made in `dir`; what the texts call P is `path`.
    std::function<Error(const std::string& path)> make;
    const char* file;  // P: the file the case names, under the folder ("" for none)
    std::string window;
    std::string commandLine;
};

Error caught(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& error) {
        return error;
    }
    throw std::runtime_error("no error");
}

Error opening(const std::string& path) {
    return caught([&] { lookup::OpenedFile file(path); });
}

Error reading(const std::string& path) {
    return caught([&] {
        analysis::LineReader reader;
        reader.open(path, 1 << 16, false, false);
        std::string_view piece;
        bool ends = false;
        while (reader.next(piece, ends) != analysis::LineReader::Next::End) {
        }
    });
}

Error made(ErrorKind kind, ErrorCode code, Error::Values values) {
    return {kind, code, std::move(values)};
}

const std::string kNoFile = std::strerror(ENOENT);

// P stands for the case's path in the expected texts.
std::string withPath(std::string text, const std::string& path) {
    for (std::size_t at = text.find('\x01'); at != std::string::npos; at = text.find('\x01', at))
        text.replace(at, 1, path), at += path.size();
    return text;
}

class ErrorWords : public ::testing::TestWithParam<WordsCase> {};

TEST_P(ErrorWords, windowAndCommandLine) {
    const WordsCase& c = GetParam();
    test::TempDir dir("ipcountry-words");
    std::FILE* packed = std::fopen((dir.path() / "cut.gz").c_str(), "wb");
    // The first bytes of a gzip member, cut off before its data ends.
    const unsigned char member[] = {0x1f, 0x8b, 8, 0, 0, 0, 0, 0, 0, 3, 0x33, 0xd4, 0x33};
    std::fwrite(member, 1, sizeof member, packed);
    std::fclose(packed);
    std::FILE* large = std::fopen((dir.path() / "large.dbf").c_str(), "wb");
    std::fseek(large, (1 << 20) + 1, SEEK_SET);
    std::fputc('x', large);
    std::fclose(large);
    std::FILE* plain = std::fopen((dir.path() / "plain.txt").c_str(), "wb");
    std::fclose(plain);

    const std::string path = *c.file == '\0' ? std::string() : (dir.path() / c.file).string();
    const Error error = c.make(path);
    EXPECT_EQ(ui::errorDescription(error), withPath(c.window, path)) << c.name;
    EXPECT_EQ(output::problemText(error), withPath(c.commandLine, path)) << c.name;
}

// \x01 in a text stands for the path.
INSTANTIATE_TEST_SUITE_P(
    EachCode, ErrorWords,
    ::testing::Values(
        // Addresses read by the dot walk.
        WordsCase{
            "octetEmpty",
            [](const std::string&) { return caught([] { lookup::makeAddressKey("1..2.3"); }); }, "",
            "Type mismatch: octet 2 is empty", "Type mismatch: octet 2 is empty"},
        WordsCase{
            "octetNotNumber",
            [](const std::string&) { return caught([] { lookup::makeAddressKey("1.x.3.4"); }); },
            "", "Type mismatch: octet 2 (\"x\") is not a number",
            "Type mismatch: octet 2 (\"x\") is not a number"},
        WordsCase{"tooFewDots",
                  [](const std::string&) { return caught([] { lookup::makeAddressKey("1.2"); }); },
                  "", "Invalid argument: the address has fewer than three dots",
                  "Invalid argument: the address has fewer than three dots"},
        WordsCase{
            "octetAbove255",
            [](const std::string&) { return caught([] { lookup::readAddress("300.1.1.1"); }); }, "",
            "", ""},
        // Files opened.
        WordsCase{"noFileName", [](const std::string&) { return opening(""); }, "",
                  "File not found: no file name was given", ": " + kNoFile},
        WordsCase{"nulInName",
                  [](const std::string& p) { return opening(p + std::string(1, '\0') + "x"); }, "a",
                  "Bad file name: \x01" + std::string(1, '\0') + "x",
                  "\x01" + std::string(1, '\0') + "x: the name holds a NUL character"},
        WordsCase{"missing", opening, "missing.txt", "File not found: \x01", "\x01: " + kNoFile},
        WordsCase{"underAFile", opening, "plain.txt/x", "File not found: \x01",
                  "\x01: " + std::string(std::strerror(ENOTDIR))},
        WordsCase{"folder", opening, ".", "Cannot read \x01: it is a directory, not a file",
                  "\x01: " + std::string(std::strerror(EISDIR))},
        WordsCase{"notRegular", [](const std::string&) { return opening("/dev/null"); }, "",
                  "Cannot read /dev/null: it is not a regular file",
                  "/dev/null: not a regular file"},
        WordsCase{"noPermission",
                  [](const std::string& p) {
                      return made(ErrorKind::FileUnreadable, ErrorCode::PermissionDenied,
                                  {.file = p, .system = EACCES});
                  },
                  "IP_db.dbf", "Permission denied: \x01",
                  "\x01: " + std::string(std::strerror(EACCES))},
        WordsCase{"cannotOpen",
                  [](const std::string& p) {
                      return made(ErrorKind::FileUnreadable, ErrorCode::CannotOpen,
                                  {.file = p, .system = EMFILE});
                  },
                  "IP_db.dbf", "Cannot open \x01: " + std::string(std::strerror(EMFILE)),
                  "\x01: " + std::string(std::strerror(EMFILE))},
        // Files read.
        WordsCase{"tooLarge",
                  [](const std::string& p) {
                      return caught([&] { lookup::OpenedFile(p).readAll(std::uint64_t{1} << 20); });
                  },
                  "large.dbf", "Cannot use \x01: the file is larger than 1 MB",
                  "\x01: the file is larger than 1 MB"},
        WordsCase{"cutShort", reading, "cut.gz",
                  "Cannot read \x01: the file is cut short (its gzip data ends before it is "
                  "complete)",
                  "\x01: the file is cut short (its gzip data ends before it is complete)"},
        WordsCase{"readFailed",
                  [](const std::string& p) {
                      return made(ErrorKind::FileUnreadable, ErrorCode::ReadFailed,
                                  {.file = p, .system = EIO});
                  },
                  "in.txt", "Cannot read \x01: " + std::string(std::strerror(EIO)),
                  "\x01: " + std::string(std::strerror(EIO))},
        WordsCase{"standardInput",
                  [](const std::string&) {
                      return made(ErrorKind::FileUnreadable, ErrorCode::ReadFailed,
                                  {.file = "-", .name = "standard input", .system = EIO});
                  },
                  "", "Cannot read standard input: " + std::string(std::strerror(EIO)),
                  "-: " + std::string(std::strerror(EIO))},
        WordsCase{"pageUnreadable",
                  [](const std::string& p) {
                      return made(ErrorKind::FileUnreadable, ErrorCode::PageUnreadable,
                                  {.file = p, .system = EIO});
                  },
                  "in.txt",
                  "Cannot read \x01: a part of it could not be read (" +
                      std::string(std::strerror(EIO)) + ")",
                  "\x01: a part of it could not be read (" + std::string(std::strerror(EIO)) + ")"},
        WordsCase{"shrank",
                  [](const std::string& p) {
                      return made(ErrorKind::FileUnreadable, ErrorCode::Shrank, {.file = p});
                  },
                  "in.txt", "Cannot read \x01: the file shrank while it was read",
                  "\x01: the file shrank while it was read"},
        WordsCase{"packedDamaged",
                  [](const std::string& p) {
                      return made(ErrorKind::FileUnreadable, ErrorCode::PackedDamaged,
                                  {.file = p, .text = "bzip2"});
                  },
                  "in.bz2", "Cannot read \x01: its bzip2 data is damaged",
                  "\x01: its bzip2 data is damaged"},
        WordsCase{"packedTooLarge",
                  [](const std::string& p) {
                      return made(ErrorKind::FileUnreadable, ErrorCode::PackedTooLarge,
                                  {.file = p, .number = 256, .text = "xz"});
                  },
                  "in.xz",
                  "Cannot read \x01: unpacking its xz data would need more than 256 MB of memory",
                  "\x01: unpacking its xz data would need more than 256 MB of memory"},
        // Lines of a list, and what ends a run.
        WordsCase{"lineTooLong",
                  [](const std::string&) {
                      return made(ErrorKind::BadData, ErrorCode::LineTooLong,
                                  {.line = 2, .number = 65536});
                  },
                  "", "Line 2 is longer than 65536 characters",
                  "line is longer than 65536 characters"},
        WordsCase{"noAddressOctet",
                  [](const std::string&) {
                      return made(ErrorKind::TypeMismatch, ErrorCode::NoAddress,
                                  {.number = 2,
                                   .text = "octet 2 (\"x\") is not a number",
                                   .cause = ErrorCode::OctetNotNumber,
                                   .causeText = "x"});
                  },
                  "", "Type mismatch: octet 2 (\"x\") is not a number",
                  "octet 2 (\"x\") is not a number"},
        WordsCase{"noAddressNoColon",
                  [](const std::string&) {
                      return made(ErrorKind::InvalidArgument, ErrorCode::NoAddress,
                                  {.text = "not an IPv4 or IPv6 address"});
                  },
                  "", "", "not an IPv4 or IPv6 address"},
        WordsCase{"noAddressDots",
                  [](const std::string&) {
                      return made(ErrorKind::InvalidArgument, ErrorCode::NoAddress,
                                  {.text = "3 octets, not 4", .cause = ErrorCode::TooFewDots});
                  },
                  "", "Invalid argument: the address has fewer than three dots", "3 octets, not 4"},
        WordsCase{"outOfMemory",
                  [](const std::string&) {
                      return made(ErrorKind::FileUnreadable, ErrorCode::OutOfMemory, {});
                  },
                  "",
                  "There is not enough memory to go on with this file; the rows found before "
                  "stay.",
                  "out of memory"},
        // Said whole by whoever found them.
        WordsCase{"describedAboutAFile",
                  [](const std::string& p) {
                      return Error(ErrorKind::BadData, p + ": lines malformed or out of order", p,
                                   "lines malformed");
                  },
                  "IP_db.dbf", "\x01: lines malformed or out of order", "\x01: lines malformed"},
        // The content of data files, from their readers.
        WordsCase{"countryListTooLong",
                  [](const std::string&) {
                      std::string list;
                      for (int i = 0; i <= lookup::kSlotCount; ++i) list += "AAA\r\n";
                      return caught([&] { lookup::parseCountryTable(list, "Country.dbf"); });
                  },
                  "", "Country.dbf, line 238: the list holds more than 237 countries",
                  "Country.dbf, line 238: the list holds more than 237 countries"},
        WordsCase{"countryLineTooShort",
                  [](const std::string&) {
                      return caught(
                          [] { lookup::parseCountryTable("ATAustria\r\nX\r\n", "Country.dbf"); });
                  },
                  "",
                  "Country.dbf, line 2: the line is shorter than two characters (a code and a "
                  "name are needed)",
                  "Country.dbf, line 2: the line is shorter than two characters (a code and a "
                  "name are needed)"},
        WordsCase{"countryListEmpty",
                  [](const std::string&) {
                      return caught([] { lookup::parseCountryTable("", "Country.dbf"); });
                  },
                  "", "Country.dbf: the list holds no countries",
                  "Country.dbf: the list holds no countries"},
        WordsCase{"networkEntryBad",
                  [](const std::string&) {
                      // A NUL is shown escaped.
                      static constexpr char kList[] = "# mine\n10.0.0.0/8\n1.2.\0/33\n";
                      lookup::NetworkSet set;
                      return caught([&] {
                          lookup::readNetworkList(std::string_view(kList, sizeof kList - 1),
                                                  "nets.txt", set);
                      });
                  },
                  "", "nets.txt:3: '1.2.\\0/33': not an IPv4 or IPv6 address",
                  "nets.txt:3: '1.2.\\0/33': not an IPv4 or IPv6 address"},
        WordsCase{"networkFileDamaged",
                  [](const std::string& p) { return caught([&] { lookup::AsFile file(p); }); },
                  "plain.txt", "\x01: not a network file", "\x01: not a network file"},
        WordsCase{"rangeLinesBad",
                  [](const std::string& p) {
                      return made(ErrorKind::BadData, ErrorCode::RangeLinesBad, {.file = p});
                  },
                  "IP_db.dbf",
                  "\x01: lines malformed or out of order; the networks are read from a "
                  "well-formed range file only",
                  "\x01: lines malformed or out of order; the networks are read from a "
                  "well-formed range file only"}),
    [](const ::testing::TestParamInfo<WordsCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ipcountry
