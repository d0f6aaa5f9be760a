#include "checksum.h"

#include <openssl/evp.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>

namespace ipcountry::data {
namespace {

std::optional<std::string> hex32(std::string_view text) {
    if (text.size() != 32) return std::nullopt;
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return std::nullopt;
    }
    return lower;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

}  // namespace

std::optional<std::string> parseMd5File(std::string_view text) {
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = trim(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.starts_with("MD5 (") || line.starts_with("MD5(")) {
            const std::size_t equals = line.rfind(") = ");
            if (equals != std::string_view::npos)
                if (auto sum = hex32(trim(line.substr(equals + 4)))) return sum;
            continue;
        }
        // md5sum's form: the sum, blanks, and the name ("*NAME" in binary mode).
        const std::size_t blank = line.find_first_of(" \t");
        if (blank == 32 && !trim(line.substr(blank)).empty())
            if (auto sum = hex32(line.substr(0, 32))) return sum;
    }
    return std::nullopt;
}

std::string md5OfFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error(file.string() + ": cannot open: " + std::strerror(errno));
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1)
        throw std::runtime_error("MD5 is not available");
    char buffer[1 << 16];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0)
        EVP_DigestUpdate(context.get(), buffer, static_cast<std::size_t>(in.gcount()));
    if (in.bad()) throw std::runtime_error(file.string() + ": cannot read");
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_DigestFinal_ex(context.get(), digest, &size);
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned i = 0; i < size; ++i) {
        hex += kDigits[digest[i] >> 4];
        hex += kDigits[digest[i] & 0xF];
    }
    return hex;
}

}  // namespace ipcountry::data
