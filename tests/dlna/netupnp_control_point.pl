#!/usr/bin/perl
# A second, independent UPnP stack as a control point: Debian's Net::UPnP finds the media
# server by M-SEARCH, browses from the root down a folder path with RequestedCount 0 (it never
# pages), checks the last folder lists every file it holds, and fetches one file by its res
# URL, byte for byte as on the disk.
# Usage: netupnp_control_point.pl --name REGEX --root ROOT --folder TITLE... --count N
#          --file TITLE --bytes PATH [--seconds S]
#   ROOT: "*" the first root container, "~REGEX" the first whose title matches.
# Prints "control point: PASS <url>" or "FAIL: ..." (exit 1).
use strict;
use warnings;
use Getopt::Long;
use Net::UPnP::ControlPoint;
use Net::UPnP::HTTP;
use Net::UPnP::AV::MediaServer;

my ($name, $root, @folders, $count, $file, $bytes) = ('', '*');
my $seconds = 20;
GetOptions('name=s' => \$name, 'root=s' => \$root, 'folder=s' => \@folders,
           'count=i' => \$count, 'file=s' => \$file, 'bytes=s' => \$bytes,
           'seconds=i' => \$seconds) or die "FAIL: bad arguments\n";
sub fail { print "FAIL: @_\n"; exit 1; }

# ---- discovery: M-SEARCH for media servers until ours answers, within the bound ----
my $deadline = time + $seconds;
my $server;
while (!$server && time < $deadline) {
  for my $dev (Net::UPnP::ControlPoint->new()->search(
                 st => 'urn:schemas-upnp-org:device:MediaServer:1', mx => 1)) {
    $server = $dev if $dev->getfriendlyname() =~ /$name/;
  }
}
$server or fail("no media server named /$name/ answered M-SEARCH within $seconds s");
print "found: ", $server->getfriendlyname(), "\n";

my $media = Net::UPnP::AV::MediaServer->new();
$media->setdevice($server);

# ---- down the tree; each listing is one Browse with RequestedCount 0 ----
sub listing {
  my ($id) = @_;
  my $answer = $media->browsedirectchildren(ObjectID => $id, RequestedCount => 0);
  $answer->getstatuscode() == 200 or fail("Browse of $id answered " . $answer->getstatuscode());
  my $args = $answer->getargumentlist();
  $args->{NumberReturned} == $args->{TotalMatches} or
    fail("Browse of $id returned $args->{NumberReturned} of $args->{TotalMatches}");
  return $media->getcontentlist(ObjectID => $id, RequestedCount => 0);
}
my @contents = listing('0');
my ($at) = grep { $_->iscontainer() &&
                  ($root eq '*' || ($root =~ /^~(.*)/ && $_->gettitle() =~ /$1/)) } @contents;
$at or fail("no root container " . $root);
for my $title (@folders) {
  @contents = listing($at->getid());
  ($at) = grep { $_->iscontainer() && $_->gettitle() eq $title } @contents;
  $at or fail("no folder '$title' in the listing");
}
@contents = listing($at->getid());
my @items = grep { $_->isitem() } @contents;
scalar(@items) == $count or fail("the folder listed " . scalar(@items) . " files, not $count");
my ($item) = grep { $_->gettitle() eq $file } @items;
$item or fail("no '$file' in the folder");
print "listed: ", scalar(@items), " files in one Browse\n";

# ---- the file by its res URL ----
my $url = $item->geturl();
$url =~ m{^http://([0-9.]+):(\d+)(/.*)$} or fail("res URL '$url' is no http URL");
my $answer = Net::UPnP::HTTP->new()->post($1, $2, 'GET', $3, '', '');
$answer && $answer->getstatuscode() == 200 or fail("GET $url did not answer 200");
open(my $in, '<:raw', $bytes) or fail("cannot read $bytes");
my $expected = do { local $/; <$in> };
$answer->getcontent() eq $expected or
  fail("GET $url gave " . length($answer->getcontent()) . " bytes unlike the file's " . length($expected));
print "control point: PASS $url\n";
