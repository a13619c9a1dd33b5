#!/bin/sh
# demo.sh BUILD_DIR - the main job of zelwire, end to end, on loopback.
#
# Starts the host simulator (hostsim) for one host system LOCALHOST on
# 127.0.0.1, runs the connection check with its progress bar (over TCP/IP,
# then over the IPX stand-in), holds a signed-on conversation that sends and
# receives a few datastreams, shows the trace of that conversation, and
# stops the simulator.  Exits 0 only if every step worked.
#
# The server mapper's port 449 is privileged, so this runs in a network
# namespace of its own, where all of 127.0.0.0/8 is private: `./zw demo`
# makes it; started by hand outside one, the script makes it itself
# (tests/netns-run: `unshare -n` as root, `unshare -rn` as another user).
# Everything it writes (registry, trace file, logs) goes into a folder of
# its own under /tmp, removed at the end.
set -u

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")

if [ $# -ne 1 ] || [ "$1" = "-h" ] || [ "$1" = "--help" ]; then
  echo "usage: tools/demo.sh BUILD_DIR   (normally run by ./zw demo)" >&2
  [ $# -eq 1 ] && exit 0
  exit 2
fi
build=$(cd "$1" 2>/dev/null && pwd) || { echo "demo: no build folder $1" >&2; exit 2; }
client=$build/tools/client/zelwire
hostsim=$build/tools/hostsim/hostsim
for program in "$client" "$hostsim"; do
  if [ ! -x "$program" ]; then
    echo "demo: $program is missing: build first (./zw build)" >&2
    exit 2
  fi
done

# A namespace of our own has the loopback interface and nothing else.
only_loopback() {
  [ "$(ip -o link show 2>/dev/null | grep -cv ': lo:')" -eq 0 ] &&
    ip -o link show lo 2>/dev/null | grep -q 'UP'
}
if [ "${ZW_DEMO_IN_NETNS:-}" != 1 ] && ! only_loopback; then
  ZW_DEMO_IN_NETNS=1 exec "$root/tests/netns-run" "$0" "$build"
fi

umask 077
work=$(mktemp -d /tmp/zelwire-demo.XXXXXX) || { echo "demo: cannot make a temporary folder" >&2; exit 1; }
sim_pid=

stop_simulator() {
  [ -n "$sim_pid" ] || return 0
  kill -TERM "$sim_pid" 2>/dev/null
  wait "$sim_pid"
  status=$?
  sim_pid=
  return $status
}
cleanup() {
  stop_simulator
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

step() { printf '\n== %s\n' "$*"; }
failed() {
  echo "demo: FAILED: $*" >&2
  if [ -s "$work/hostsim.log" ]; then
    echo "demo: the simulator's log:" >&2
    sed 's/^/  /' "$work/hostsim.log" >&2
  fi
  exit 1
}

# The library keeps its registry, trace file and logs in ZELWIRE_HOME.  The
# trace file is switched on; the system LOCALHOST gets its addresses from
# the registry's address cache rather than from the host name service and
# the IPX service query (IPX network 00000001 is 127.0.0.1).  Without
# a HostServers key the connection check pings the built-in list of host
# servers, which the simulator's configuration below serves.
export ZELWIRE_HOME="$work/home"
mkdir "$ZELWIRE_HOME"
unset ZELWIRE_LIBRARY ZELWIRE_SERVICE_TRACE
cat >"$ZELWIRE_HOME/registry.reg" <<'EOF'
REGEDIT4

[HKEY_CURRENT_USER\Software\Morvex\Varnilo\CurrentVersion\Internal_Components\Communication]
"trace"=dword:00000001

[HKEY_CURRENT_USER\Software\Morvex\Varnilo\CurrentVersion\Systems\LOCALHOST]
"DisableDNSLookup"=dword:00000001
"IPAddr"="127.0.0.1"
"IPXAddr"=dword:00000001
EOF

# The simulator's one system, with the six host servers the check pings by
# default; as-signon expects a sign-on of user DEMO.
cat >"$work/hostsim.ini" <<'EOF'
[system LOCALHOST]
address = 127.0.0.1

[server as-central]
[server as-database]
[server as-file]
[server as-netprt]
[server as-rmtcmd]
[server as-signon]
users = DEMO:DEMOPW
EOF
printf 'DEMOPW\n' >"$work/password"

step "starting the host simulator on 127.0.0.1"
"$hostsim" --config "$work/hostsim.ini" --ready-file "$work/ready" --log "$work/hostsim.log" \
  >/dev/null &
sim_pid=$!
tries=0
while [ ! -f "$work/ready" ]; do
  if ! kill -0 "$sim_pid" 2>/dev/null; then
    wait "$sim_pid"
    sim_pid=
    failed "the host simulator did not start"
  fi
  tries=$((tries + 1))
  [ $tries -le 150 ] || failed "the host simulator was not ready within 15 seconds"
  sleep 0.1
done
sed 's/^/  /' "$work/ready"

step "zelwire check LOCALHOST"
"$client" check LOCALHOST || failed "the connection check answered $?"

step "zelwire check LOCALHOST --ipx"
"$client" check LOCALHOST --ipx || failed "the connection check over IPX answered $?"

step "zelwire connect LOCALHOST as-signon --user DEMO ... (signed on, three datastreams)"
"$client" connect LOCALHOST as-signon --user DEMO --password-file "$work/password" \
  --send "Hello, host" --receive 11 \
  --send-hex "00 01 02 03 FE FF" --receive 6 \
  --send "Bye" --receive 3 >"$work/connect.out"
rc=$?
cat "$work/connect.out"
[ $rc -eq 0 ] || failed "the conversation answered $rc"
grep -q "signed on as DEMO" "$work/connect.out" || failed "the conversation did not sign on"
grep -q "received 11 bytes: Hello, host" "$work/connect.out" || failed "the host did not echo"

step "zelwire trace --last"
"$client" trace --last >"$work/trace.out" || failed "the trace reader answered $?"
cat "$work/trace.out"
for shown in "seed-exchange request" "seed-exchange reply" "start-server request" \
  "start-server reply" "(masked)"; do
  grep -qF "$shown" "$work/trace.out" || failed "the trace shows no $shown"
done
if grep -q DEMOPW "$ZELWIRE_HOME/qvxco.trc" "$work/trace.out"; then
  failed "the password reached the trace"
fi

step "stopping the host simulator"
stop_simulator || failed "the host simulator did not stop cleanly"
echo "  stopped"

printf '\ndemo: every step worked\n'
exit 0
