// The sources ipcountry-update-data knows by name, as data: each file a named
// source fetches is a row (its --url name, where it is published, what it
// must be, how it is checked and dated, whose terms it comes under), read
// by the one fetch-check-read path of source_reader.h. A new source is a row
// here and a line in the help, not new code.
#pragma once

#include <string_view>
#include <vector>

#include "source_file.h"

namespace ipcountry::data {

// One file a named source fetches.
struct Feed {
    enum class Dated {
        ByContent,  // the file states its date (a registry's version line)
        ByServer,   // the publisher's server states it (Last-Modified)
    };
    std::string_view name;     // its --url name
    std::string_view address;  // published address; %Y and %m name a monthly file's month
    SourceRows::Kind kind;     // what the file must hold
    bool checksumBeside;       // NAME.md5 is published beside it
    Dated dated;
    std::string_view label;  // how provenance.txt names it, before its address
    std::string_view licence;

    bool monthly() const { return address.find("%m") != std::string_view::npos; }
};

struct NamedSource {
    std::string_view name;
    std::vector<std::string_view> feeds;
};

// What an update reads when no source is given.
inline constexpr std::string_view kDefaultSource = "registries";

const std::vector<Feed>& feedTable();
const std::vector<NamedSource>& namedSources();

// nullptr when there is none of that name.
const Feed* findFeed(std::string_view name);
const NamedSource* findNamedSource(std::string_view name);

}  // namespace ipcountry::data
