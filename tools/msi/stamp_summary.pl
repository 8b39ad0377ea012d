#!/usr/bin/perl
# Sets the creation and last-saved times of an MSI's summary information to a given time.
#
#   stamp_summary.pl PACKAGE FROM TO EPOCH
#
# wixl writes both as VT_FILETIME values of the whole second it read from the clock, between FROM and TO
# (seconds since 1970); each is replaced by EPOCH. Exactly two values must be found.
use strict;
use warnings;

my ($file, $from, $to, $epoch) = @ARGV;
die "usage: stamp_summary.pl PACKAGE FROM TO EPOCH\n" unless defined $epoch;

sub filetime { return pack("V", 0x40) . pack("Q<", ($_[0] + 11644473600) * 10000000); }

open(my $in, "<:raw", $file) or die "$file: $!\n";
my $data = do { local $/; <$in> };
close($in);

my $new = filetime($epoch);
my $count = 0;
for my $t ($from .. $to) {
    my $old = filetime($t);
    $count += ($data =~ s/\Q$old\E/$new/g);
}
die "$file: expected the two time stamps of the summary information, found $count\n" unless $count == 2;

open(my $out, ">:raw", $file) or die "$file: $!\n";
print $out $data;
close($out) or die "$file: $!\n";
