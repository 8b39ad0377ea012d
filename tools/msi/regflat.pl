#!/usr/bin/perl
# Flattens a registry export (regedit /E, UTF-16) into sorted lines that compare with diff:
#
#   K <tab> key
#   V <tab> key <tab> value name ("@" for the default value) <tab> data
#
#   regflat.pl EXPORT.reg [PATH...]
#
# String data is unescaped; a string equal to one of the PATHs (in any letter case) becomes "<DLL>", so
# that states written with the long and the short form of the library's path compare equal.
use strict;
use warnings;
use Encode qw(decode);

my ($file, @paths) = @ARGV;
die "usage: regflat.pl EXPORT.reg [PATH...]\n" unless defined $file;

open(my $in, "<:raw", $file) or die "$file: $!\n";
my $raw = do { local $/; <$in> };
close($in);
my $text = decode("UTF-16LE", $raw);
$text =~ s/^\x{FEFF}//;
$text =~ s/\r//g;

my %paths = map { lc($_) => 1 } @paths;
my @out;
my $key;
my @lines = split /\n/, $text;
for (my $i = 0; $i < @lines; $i++) {
    my $line = $lines[$i];
    # Long binary values go on over lines that end with a backslash.
    while ($line =~ /\\$/ && $line !~ /"$/ && $i + 1 < @lines) {
        $line =~ s/\\$//;
        (my $next = $lines[++$i]) =~ s/^\s+//;
        $line .= $next;
    }
    next if $line eq "" || $line =~ /^Windows Registry Editor/ || $line =~ /^;/;
    if ($line =~ /^\[(.*)\]$/) {
        $key = $1;
        push @out, "K\t$key";
        next;
    }
    die "$file: value outside a key: $line\n" unless defined $key;
    my ($name, $data);
    if ($line =~ /^@=(.*)$/) {
        ($name, $data) = ("@", $1);
    } elsif ($line =~ /^"((?:[^"\\]|\\.)*)"=(.*)$/) {
        ($name, $data) = ($1, $2);
        $name =~ s/\\(.)/$1/g;
    } else {
        die "$file: cannot read: $line\n";
    }
    if ($data =~ /^"(.*)"$/) {
        $data = $1;
        $data =~ s/\\(.)/$1/g;
        $data = "<DLL>" if $paths{lc $data};
        $data = "\"$data\"";
    }
    push @out, "V\t$key\t$name\t$data";
}
binmode(STDOUT, ":encoding(UTF-8)");
print "$_\n" for sort @out;
