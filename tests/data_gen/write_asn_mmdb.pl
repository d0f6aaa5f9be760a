#!/usr/bin/perl
# Writes a MaxMind DB ASN database with Debian's MaxMind::DB::Writer, the
# independent writer the updater's reading of networks is held to.
# usage: write_asn_mmdb.pl OUTPUT TYPE IP_VERSION ALIAS < ranges
#   TYPE       the database_type written (GeoLite2-ASN, DBIP-ASN-Lite, ...)
#   IP_VERSION 4 or 6; ALIAS 1 aliases ::ffff:0:0/96, 2001::/32 and 2002::/16
#              to the IPv4 space of an IPv6 tree
#   ranges     one "FIRST LAST NUMBER ORGANIZATION..." per line (UTF-8); an
#              ORGANIZATION of "-" writes a record with the number alone
use strict;
use warnings;
use utf8;
use Encode qw(decode);
use MaxMind::DB::Writer::Tree;

my ($output, $type, $ip_version, $alias) = @ARGV;
die "usage: $0 OUTPUT TYPE 4|6 0|1\n" unless defined $alias;

my %types = (
    autonomous_system_number       => 'uint32',
    autonomous_system_organization => 'utf8_string',
);
my $tree = MaxMind::DB::Writer::Tree->new(
    ip_version               => $ip_version,
    record_size              => 28,
    database_type            => $type,
    languages                => ['en'],
    description              => { en => 'ipcountry test networks' },
    map_key_type_callback    => sub { $types{ $_[0] } },
    alias_ipv6_to_ipv4       => $alias ? 1 : 0,
    remove_reserved_networks => 0,
);
while (my $line = <STDIN>) {
    chomp $line;
    next if $line eq '';
    my ($first, $last, $number, $name) = split ' ', decode('UTF-8', $line), 4;
    my $data = { autonomous_system_number => $number + 0 };
    $data->{autonomous_system_organization} = $name if $name ne '-';
    $tree->insert_range($first, $last, $data);
}
open my $fh, '>:raw', $output or die "$output: $!\n";
$tree->write_tree($fh);
close $fh or die "$output: $!\n";
