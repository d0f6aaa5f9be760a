// The MD5 checksum files the registries publish beside their statistics.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace ipcountry::data {

// The checksum (32 lower-case hex digits) of a checksum file in either common
// form, "MD5 (NAME) = HEX" (BSD) or "HEX  NAME" (md5sum); nullopt when no
// line has either form.
std::optional<std::string> parseMd5File(std::string_view text);

// The MD5 of a file's bytes as 32 lower-case hex digits; throws std::runtime_error.
std::string md5OfFile(const std::filesystem::path& file);

}  // namespace ipcountry::data
