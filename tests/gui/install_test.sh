#!/usr/bin/env bash
# "cmake --install" into a scratch prefix puts every piece in place, and the
# installed launcher starts the program together with its local directory
# service, pointed at it, and stops the service when the program ends.
# Usage: install_test.sh <build dir> <directory fixture.csv>
set -u
build=$1
fixture=$2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
failures=0
check() {   # description, command...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
port_in_use() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

HOME="$work/home" cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 \
  || { cat "$work/install.log"; echo "FAILED: cmake --install"; exit 1; }
check "kelvora installed" test -x "$prefix/bin/kelvora"
check "kelvora-directory installed" test -x "$prefix/bin/kelvora-directory"
check "launcher installed" test -x "$prefix/bin/kelvora-launch"
check "icon installed" test -s "$prefix/share/icons/hicolor/128x128/apps/kelvora.png"
if [ -f "$build/bin/help.chm" ]; then
  check "help.chm beside the program" test "$(head -c 4 "$prefix/bin/help.chm")" = ITSF
fi
entry="$prefix/share/applications/kelvora.desktop"
check "desktop entry runs the installed launcher" grep -qx "Exec=\"$prefix/bin/kelvora-launch\"" "$entry"
check "desktop entry keeps its name and icon" grep -qx "Icon=kelvora" "$entry"

# The program stands in as a script: it records what it was given and asks
# the service it was pointed at for its front page.
"$build/bin/kelvora-directory" import-csv "$fixture" "$work/sites.db" >/dev/null \
  || { echo "FAILED: could not build the test data set"; exit 1; }
cat >"$prefix/bin/kelvora" <<'PROGRAM'
#!/usr/bin/env bash
out="$KELVORA_TEST_OUT"
echo "search=${KELVORA_SEARCH_HOST:-} traffic=${KELVORA_TRAFFIC_HOST:-} resolve=${KELVORA_RESOLVE:-} args=$*" >"$out"
host=${KELVORA_SEARCH_HOST%:*}
port=${KELVORA_SEARCH_HOST##*:}
if [ "$host" = 127.0.0.1 ] && exec 3<>"/dev/tcp/127.0.0.1/$port"; then
  printf 'GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n' >&3
  timeout 5 cat <&3 >>"$out"
fi
exit 7
PROGRAM
chmod +x "$prefix/bin/kelvora"

first=$((20000 + RANDOM % 20000))
while port_in_use "$first"; do first=$((first + 1)); done
out="$work/program.out"
KELVORA_TEST_OUT="$out" KELVORA_DIRECTORY_DATA="$work/sites.db" KELVORA_DIRECTORY_PORT="$first" \
  XDG_DATA_HOME="$work/data" KELVORA_SEARCH_HOST= timeout 60 "$prefix/bin/kelvora-launch" --x </dev/null 2>"$work/launch.err"
status=$?
check "the program's exit status is the launcher's" test "$status" = 7
check "the program was pointed at the service" \
  grep -q "^search=127.0.0.1:$first traffic=127.0.0.1:$first resolve=\*=127.0.0.1:$first args=--x" "$out"
check "the service answered the program" grep -q '<title>Kelvora Directory</title>' "$out"
check "the service said what a local data set holds" \
  grep -q "business keywords find nothing here" "$work/data/kelvora/directory.log"
stopped=no
for _ in $(seq 50); do
  port_in_use "$first" || { stopped=yes; break; }
  sleep 0.1
done
check "the service stopped with the program" test "$stopped" = yes

# Pointed elsewhere by the user: the program alone, nothing started.
KELVORA_TEST_OUT="$out" KELVORA_SEARCH_HOST=search.example.test:81 XDG_DATA_HOME="$work/data2" \
  timeout 30 "$prefix/bin/kelvora-launch" </dev/null 2>/dev/null
check "a configured search host is kept" grep -q "^search=search.example.test:81 " "$out"
check "no data set is built for it" test ! -e "$work/data2/kelvora"

[ "$failures" -eq 0 ] || { cat "$work/launch.err"; exit 1; }
