# Sourced by the tests that run the Windows build under wine in a prefix of their own
# ($WINEPREFIX, set by the caller).

# wine_prefix_keep: starts the prefix's wineserver, in the caller's network namespace, to run
# until the test ends it (wineserver -k). wine's server ends a moment after the last program of
# its prefix; a program started in that moment can reach it as it closes and die at once with
# "wine client error:0: recvmsg: Connection reset by peer". A test that starts one program
# after another keeps its server up instead. A server still running first is ended: left by an
# earlier run, it would make the sockets in that run's network namespace, and it would end.
wine_prefix_keep() {
  timeout 20 wineserver -k 2>/dev/null
  # The server forks away at once; its output would hold the caller's (ctest's pipe) open.
  timeout 20 wineserver -p >/dev/null 2>&1
}
