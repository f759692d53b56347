#!/bin/sh
# Keeps one Wine server up for a whole test run under Wine.
#   wine_server.sh start|stop WINE-LOADER     (with WINEPREFIX set)
# Left to itself the server ends a few seconds after its last program, and
# a test whose program starts in that moment dies with "wine client error".
# So the server is made persistent for the run, and Wine's own background
# programs are started here, with nothing of the run's output attached:
# they live as long as the server, and a test that started them would keep
# its output open until the end of the run.
set -eu
usage() {
  echo "usage: $0 start|stop WINE-LOADER" >&2
  exit 2
}
[ $# -eq 2 ] || usage
server=$(dirname "$2")/wineserver
case $1 in
start)
  # A server left from listing the tests, or from a run cut short, must
  # end first: a second one cannot start beside it.
  "$server" -k </dev/null >/dev/null 2>&1 || true
  "$server" -w
  "$server" -p </dev/null >/dev/null 2>&1
  "$2" wineboot </dev/null >/dev/null 2>&1
  ;;
stop)
  "$server" -k </dev/null >/dev/null 2>&1 || true
  ;;
*)
  usage
  ;;
esac
