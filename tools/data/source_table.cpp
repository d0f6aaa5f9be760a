#include "source_table.h"

#include <algorithm>

namespace ipcountry::data {
namespace {

using Kind = SourceRows::Kind;
using Dated = Feed::Dated;

}  // namespace

const std::vector<Feed>& feedTable() {
    static const std::vector<Feed> kFeeds = {
        {"afrinic", "https://ftp.afrinic.net/pub/stats/afrinic/delegated-afrinic-extended-latest",
         Kind::Registry, true, Dated::ByContent, "registry afrinic",
         "statistics published for public use by AFRINIC, a regional Internet registry"},
        {"apnic", "https://ftp.apnic.net/stats/apnic/delegated-apnic-extended-latest",
         Kind::Registry, true, Dated::ByContent, "registry apnic",
         "statistics published for public use by APNIC, a regional Internet registry"},
        {"arin", "https://ftp.arin.net/pub/stats/arin/delegated-arin-extended-latest",
         Kind::Registry, true, Dated::ByContent, "registry arin",
         "statistics published for public use by ARIN, a regional Internet registry"},
        {"lacnic", "https://ftp.lacnic.net/pub/stats/lacnic/delegated-lacnic-extended-latest",
         Kind::Registry, true, Dated::ByContent, "registry lacnic",
         "statistics published for public use by LACNIC, a regional Internet registry"},
        {"ripencc", "https://ftp.ripe.net/pub/stats/ripencc/delegated-ripencc-extended-latest",
         Kind::Registry, true, Dated::ByContent, "registry ripencc",
         "statistics published for public use by RIPE NCC, a regional Internet registry"},
        // Frozen: the last data this channel published are of 2026-06-17.
        {"ip-location-db-ipv4",
         "https://cdn.jsdelivr.net/npm/@ip-location-db/geo-whois-asn-country/"
         "geo-whois-asn-country-ipv4.csv",
         Kind::Csv, false, Dated::ByServer, "@ip-location-db/geo-whois-asn-country",
         "CC BY 4.0, IP address data \xC2\xA9 Number Resource Organization (nro.net)"},
        {"ip-location-db-ipv6",
         "https://cdn.jsdelivr.net/npm/@ip-location-db/geo-whois-asn-country/"
         "geo-whois-asn-country-ipv6.csv",
         Kind::Csv, false, Dated::ByServer, "@ip-location-db/geo-whois-asn-country",
         "CC BY 4.0, IP address data \xC2\xA9 Number Resource Organization (nro.net)"},
        // DB-IP names each month's file by the month.
        {"dbip-lite", "https://download.db-ip.com/free/dbip-country-lite-%Y-%m.csv.gz", Kind::Csv,
         false, Dated::ByServer, "dbip-lite",
         "CC BY 4.0, IP Geolocation by DB-IP (https://db-ip.com)"},
        // Networks: AS numbers and operators (--asn).
        {"ip-location-db-asn-ipv4", "https://cdn.jsdelivr.net/npm/@ip-location-db/asn/asn-ipv4.csv",
         Kind::Networks, false, Dated::ByServer, "@ip-location-db/asn",
         "CC BY 4.0, AS data \xC2\xA9 RouteViews (routeviews.org), DB-IP IP to ASN Lite "
         "(https://db-ip.com) and Number Resource Organization (nro.net)"},
        {"ip-location-db-asn-ipv6", "https://cdn.jsdelivr.net/npm/@ip-location-db/asn/asn-ipv6.csv",
         Kind::Networks, false, Dated::ByServer, "@ip-location-db/asn",
         "CC BY 4.0, AS data \xC2\xA9 RouteViews (routeviews.org), DB-IP IP to ASN Lite "
         "(https://db-ip.com) and Number Resource Organization (nro.net)"},
        {"iptoasn", "https://iptoasn.com/data/ip2asn-combined.tsv.gz", Kind::Networks, false,
         Dated::ByServer, "iptoasn ip2asn-combined", "not known: see the terms of its publisher"},
    };
    return kFeeds;
}

const std::vector<NamedSource>& namedSources() {
    static const std::vector<NamedSource> kSources = {
        {"registries", {"afrinic", "apnic", "arin", "lacnic", "ripencc"}},
        {"ip-location-db", {"ip-location-db-ipv4", "ip-location-db-ipv6"}},
        {"dbip-lite", {"dbip-lite"}},
        {"ip-location-db-asn", {"ip-location-db-asn-ipv4", "ip-location-db-asn-ipv6"}},
        {"iptoasn", {"iptoasn"}},
    };
    return kSources;
}

const Feed* findFeed(std::string_view name) {
    const auto& feeds = feedTable();
    const auto it =
        std::find_if(feeds.begin(), feeds.end(), [&](const Feed& f) { return f.name == name; });
    return it != feeds.end() ? &*it : nullptr;
}

const NamedSource* findNamedSource(std::string_view name) {
    const auto& sources = namedSources();
    const auto it = std::find_if(sources.begin(), sources.end(),
                                 [&](const NamedSource& s) { return s.name == name; });
    return it != sources.end() ? &*it : nullptr;
}

}  // namespace ipcountry::data
