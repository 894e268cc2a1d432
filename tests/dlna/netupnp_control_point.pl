#!/usr/bin/perl
# A second, independent UPnP stack as a control point: Debian's Net::UPnP finds the media
# server by M-SEARCH, browses from the root down a folder path with RequestedCount 0 (it never
# pages), checks the last folder lists every file it holds, fetches one file by its res URL,
# byte for byte as on the disk, and checks the facts the server read from files: items whose res
# must say their resolution and duration, and whose upnp:albumArtURI must answer a JPEG picture.
# Usage: netupnp_control_point.pl --name REGEX --root ROOT --folder TITLE... --count N
#          --file TITLE --bytes PATH [--facts TITLE=WxH:SECONDS]... [--seconds S]
#   ROOT: "*" the first root container, "~REGEX" the first whose title matches.
#   --facts: an item of the folder, its res's resolution and duration (within $DURATION_SLACK s).
# Prints "control point: PASS <url>" or "FAIL: ..." (exit 1).
use strict;
use warnings;
use Getopt::Long;
use Net::UPnP::ControlPoint;
use Net::UPnP::HTTP;
use Net::UPnP::AV::MediaServer;

my ($name, $root, @folders, $count, $file, $bytes, @facts) = ('', '*');
my $seconds = 20;
GetOptions('name=s' => \$name, 'root=s' => \$root, 'folder=s' => \@folders,
           'count=i' => \$count, 'file=s' => \$file, 'bytes=s' => \$bytes,
           'facts=s' => \@facts, 'seconds=i' => \$seconds) or die "FAIL: bad arguments\n";
# The server answers a Browse before it has read every file's facts and reads the rest behind
# it: the folder is listed again, a pause apart, this many times at most.
my $FACTS_BROWSES = 10;
my $FACTS_PAUSE_SECONDS = 0.3;
my $DURATION_SLACK = 0.1;  # seconds between res@duration and the length the file was made with
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

# ---- the facts read from files, and the art, on a listing of the folder ----
# Net::UPnP's items keep only the title and URL: the other attributes come from the DIDL itself.
sub didl_items {
  my ($id) = @_;
  my $answer = $media->browsedirectchildren(ObjectID => $id, RequestedCount => 0);
  $answer->getstatuscode() == 200 or fail("Browse of $id answered " . $answer->getstatuscode());
  my %items;
  for my $didl ($answer->getargumentlist()->{Result} =~ m{<item\b(.*?)</item>}sg) {
    $didl =~ m{<dc:title>(.*?)</dc:title>}s and $items{Net::UPnP::HTTP::xmldecode($1)} = $didl;
  }
  return %items;
}
# The item's facts as its res says them ("" while it does not yet); fails when they are wrong.
sub facts_of {
  my ($title, $didl, $size, $length) = @_;
  my ($res) = ($didl // '') =~ m{<res\b([^>]*)>}s;
  my ($h, $m, $s) = ($res // '') =~ /\bduration="(\d+):(\d\d):(\d\d(?:\.\d+)?)"/;
  my ($resolution) = ($res // '') =~ /\bresolution="([^"]*)"/;
  defined $h && defined $resolution or return "";
  my $found = $h * 3600 + $m * 60 + $s;
  abs($found - $length) <= $DURATION_SLACK or fail("'$title': res duration $found s, the file lasts $length s");
  $resolution eq $size or fail("'$title': res resolution $resolution, the file is $size");
  return "'$title' $found s $resolution";
}
sub check_art {
  my ($title, $didl) = @_;
  my ($art) = $didl =~ m{<upnp:albumArtURI\b[^>]*>([^<]*)</upnp:albumArtURI>}s;
  $art or fail("no upnp:albumArtURI on '$title'");
  $art = Net::UPnP::HTTP::xmldecode($art);
  $art =~ m{^http://([0-9.]+):(\d+)(/.*)$} or fail("art URL '$art' is no http URL");
  my $answer = Net::UPnP::HTTP->new()->post($1, $2, 'GET', $3, '', '');
  my ($type) = $answer ? $answer->getheader() =~ /^Content-Type:\s*([^;\r\n]*)/mi : ();
  $answer && $answer->getstatuscode() == 200 && ($type // '') eq 'image/jpeg' &&
    $answer->getcontent() =~ /^\xff\xd8\xff/ or
    fail("the art $art of '$title' is no JPEG picture answered as image/jpeg (" .
         ($answer ? $answer->getstatus() =~ s/\s+$//r : 'no answer') . ", " . ($type // 'no type') . ")");
  print "art of '$title': $art image/jpeg, ", length($answer->getcontent()), " bytes\n";
}
my %wanted = map { /^(.+)=(\d+x\d+):([0-9.]+)$/ or fail("--facts '$_' is not TITLE=WxH:SECONDS");
                   ($1 => [$2, $3]) } @facts;
for my $browse (1 .. (%wanted ? $FACTS_BROWSES : 0)) {
  my %items = didl_items($at->getid());
  my @found = map { facts_of($_, $items{$_}, @{$wanted{$_}}) } sort keys %wanted;
  if (!grep { !$_ } @found) {
    print "facts at listing $browse: ", join(', ', @found), "\n";
    check_art($_, $items{$_}) for sort keys %wanted;
    last;
  }
  $browse < $FACTS_BROWSES or fail("after $FACTS_BROWSES listings $FACTS_PAUSE_SECONDS s apart, still no " .
    "duration or resolution on " . join(', ', grep { !facts_of($_, $items{$_}, @{$wanted{$_}}) } sort keys %wanted));
  select(undef, undef, undef, $FACTS_PAUSE_SECONDS);
}
print "control point: PASS $url\n";

