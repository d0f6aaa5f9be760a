#!/usr/bin/perl
# Writes a MaxMind DB country database with Debian's MaxMind::DB::Writer, the
# independent writer the reader's tests are held to.
# usage: write_mmdb.pl OUTPUT LAYOUT IP_VERSION ALIAS < ranges
#   LAYOUT     iso (country.iso_code, as GeoLite2-Country and DB-IP lite) or
#              code (a top-level country_code, as ip-location-db)
#   IP_VERSION 4 or 6; ALIAS 1 aliases ::ffff:0:0/96, 2001::/32 and 2002::/16
#              to the IPv4 space of an IPv6 tree
#   ranges     one "FIRST LAST CC" per line; CC "-" writes a record without a
#              country (a continent only)
use strict;
use warnings;
use MaxMind::DB::Writer::Tree;

my ($output, $layout, $ip_version, $alias) = @ARGV;
die "usage: $0 OUTPUT iso|code 4|6 0|1\n" unless defined $alias;

my %types = (
    country      => 'map',
    iso_code     => 'utf8_string',
    country_code => 'utf8_string',
    continent    => 'map',
    code         => 'utf8_string',
);
my $tree = MaxMind::DB::Writer::Tree->new(
    ip_version               => $ip_version,
    record_size              => 24,
    database_type            => $layout eq 'iso' ? 'Test-Country' : 'test-country-code',
    languages                => ['en'],
    description              => { en => 'ipcountry test database' },
    map_key_type_callback    => sub { $types{ $_[0] } },
    alias_ipv6_to_ipv4       => $alias ? 1 : 0,
    remove_reserved_networks => 0,
);
while (my $line = <STDIN>) {
    chomp $line;
    next if $line eq '';
    my ($first, $last, $cc) = split ' ', $line;
    my $data =
          $cc eq '-'      ? { continent => { code => 'EU' } }
        : $layout eq 'iso' ? { country => { iso_code => $cc } }
        :                    { country_code => $cc };
    $tree->insert_range($first, $last, $data);
}
open my $fh, '>:raw', $output or die "$output: $!\n";
$tree->write_tree($fh);
close $fh or die "$output: $!\n";
