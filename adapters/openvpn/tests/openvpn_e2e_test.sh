#!/usr/bin/env bash
# Portulon in front of a real OpenVPN server. The server runs in a network
# namespace of its own, each client in another; clients reach the server's
# 127.0.0.1 through socat and a Unix socket, so every address the test uses
# is loopback or a tunnel address inside its own namespaces. plsvc runs as the
# machine's service, plovpn as its remote-access service between the two.
#   openvpn_e2e_test.sh BIN_DIR [ARTIFACTS_DIR CONSOLE_SHOT]
# With the last two, the console's picture of the server and its users is
# saved in ARTIFACTS_DIR as pladmin_openvpn.png.
# Exit status: 0 passed, 1 failed, 77 skipped (no root, tun or namespaces).
set -euo pipefail

bin="$(cd "${1:?usage: openvpn_e2e_test.sh BIN_DIR [ARTIFACTS_DIR CONSOLE_SHOT]}" && pwd)"
artifacts="${2:-}"
console_shot="${3:-}"

skip() { echo "SKIPPED: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "needs root (network namespaces, tun devices)"
[ -c /dev/net/tun ] || skip "no /dev/net/tun"
for tool in ip openvpn socat openssl; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (./portulon.sh test installs it)"
done

work="$(mktemp -d /tmp/plovpn-e2e.XXXXXX)"
tag="plv$$"
namespaces=()
pids=()
failures=0

export PORTULON_NETWORK="$work/net" PORTULON_MACHINE="$work/net/SRV1" PORTULON_BIN_DIR="$bin"
export PATH="$bin:$PATH"
# OpenVPN's logs and the machine's messages in one time zone, to compare their times.
export TZ=UTC
# Supervision passes every two seconds instead of every minute.
export PORTULON_ACTION_INTERVAL_MS=2000

cleanup() {
  set +e
  if [ -d "$PORTULON_MACHINE/registry" ]; then
    timeout 20 net stop Portulon >/dev/null 2>&1
    timeout 20 net stop RemoteAccess >/dev/null 2>&1
  fi
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pidfile in "$work"/*.pid; do
    [ -f "$pidfile" ] && kill "$(cat "$pidfile")" 2>/dev/null
  done
  sleep 0.5
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null; done
  for pidfile in "$work"/*.pid; do
    [ -f "$pidfile" ] && kill -9 "$(cat "$pidfile")" 2>/dev/null
  done
  local ns
  for ns in "${namespaces[@]}"; do ip netns del "$ns" 2>/dev/null; done
  if [ "$failures" -ne 0 ] || [ -n "${KEEP_WORK:-}" ]; then
    echo "--- adapter trace (tail)"; tail -n 60 "$PORTULON_MACHINE/drive_c/qcl_trace_plovpn.txt" 2>/dev/null
    echo "--- server log (tail)"; tail -n 30 "$work/server.log" 2>/dev/null
  fi
  if [ -n "${KEEP_WORK:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM

ok() { echo "ok   - $*"; }
bad() { echo "FAIL - $*"; failures=$((failures + 1)); }
check() { local what="$1"; shift; if "$@"; then ok "$what"; else bad "$what"; fi; }

# wait_for SECONDS COMMAND...: polls every 0.2 s, at most SECONDS long.
wait_for() {
  local limit="$1" i
  shift
  for ((i = 0; i < limit * 5; i++)); do
    "$@" && return 0
    sleep 0.2
  done
  return 1
}

new_namespace() {
  local ns="$tag$1"
  ip netns add "$ns" || skip "network namespaces cannot be created here"
  namespaces+=("$ns")
  ip -n "$ns" link set lo up
}

# ---- Certificates: a CA, the server, and one per user ----
pki="$work/pki"
mkdir -p "$pki"
ec=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
openssl req -x509 "${ec[@]}" -keyout "$pki/ca.key" -out "$pki/ca.crt" -subj "/CN=Portulon test CA" \
  -days 2 2>/dev/null
# As the README makes them: the extended key usage tells the server's from a client's.
certificate() {
  local file="$1" cn="$2" usage=clientAuth
  [ "$file" = server ] && usage=serverAuth
  openssl req "${ec[@]}" -keyout "$pki/$file.key" -out "$pki/$file.csr" -subj "/CN=$cn" 2>/dev/null
  printf 'keyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' "$usage" > "$pki/$file.ext"
  openssl x509 -req -in "$pki/$file.csr" -CA "$pki/ca.crt" -CAkey "$pki/ca.key" -CAcreateserial \
    -out "$pki/$file.crt" -days 2 -extfile "$pki/$file.ext" 2>/dev/null
}
certificate server server
for user in ann bob carol dave erin frank; do certificate "$user" "$user"; done
certificate grace "grace hopper"
certificate odd 'back\\slash'
certificate crowd crowd

# ---- The Portulon machine: Windows 2000 with the adapter as its remote access ----
plmachine create "$PORTULON_MACHINE" --name SRV1 --os 5.0 --ras rras --domain DOM --ports 0 >/dev/null
pldomain create DOM --dc SRV1 >/dev/null
for user in ann bob carol dave erin frank "grace hopper" crowd; do pldomain adduser DOM "$user" >/dev/null; done
install="$PORTULON_MACHINE/drive_c/Program Files/Portulon"
data="$PORTULON_MACHINE/drive_c/PLData"
mkdir -p "$install" "$data/LogData"
ln -s "$bin/plsvc" "$install/plsvc.exe"
ln -s "$bin/plovpn" "$install/plovpn.exe"
net share 'PL_NT_DB=C:\PLData' >/dev/null
key='HKLM\Software\Quillfen Technologies\Portulon\Service'
reg add "$key" /v MasterShare /t REG_SZ /d '\\SRV1\PL_NT_DB' /f >/dev/null
reg add "$key" /v Master /t REG_DWORD /d 1 /f >/dev/null
reg add "$key" /v IdleTimer /t REG_DWORD /d 1 /f >/dev/null
reg add "$key" /v IdleBytesLimit /t REG_DWORD /d 300 /f >/dev/null
reg add "$key" /v StaticIP /t REG_DWORD /d 1 /f >/dev/null
reg add "$key" /v AssumeDomain /t REG_SZ /d DOM /f >/dev/null
# What the package writes for the console: the version, the event texts.
reg add "$key" /v Version /t REG_SZ /d 'Version 2.1' /f >/dev/null
ln -s "$bin/pl_msg.dll" "$install/pl_msg.dll"
reg add 'HKLM\System\CurrentControlSet\Services\EventLog\Application\Portulon' /v EventMessageFile /t REG_SZ /d 'C:\Program Files\Portulon\pl_msg.dll' /f >/dev/null
reg add 'HKLM\System\CurrentControlSet\Services\EventLog\Application\Portulon' /v TypesSupported /t REG_DWORD /d 7 /f >/dev/null
sc create Portulon 'binPath=' 'C:\Program Files\Portulon\plsvc.exe' 'start=' auto 'DisplayName=' Portulon >/dev/null
plovpn install --image 'C:\Program Files\Portulon\plovpn.exe' --management "$work/management.sock" --domain DOM >/dev/null
reg add 'HKLM\Software\Quillfen Technologies\Portulon\OpenVPN' /v LogMaxSizeKB /t REG_DWORD /d 2000 /f >/dev/null
reg add 'HKLM\Software\Quillfen Technologies\Portulon\OpenVPN' /v ManagementRelay /t REG_SZ /d "$work/relay.sock" /f >/dev/null

# 10.8.0.77 as Portulon writes addresses: first octet high, signed decimal.
cat > "$data/portulon.hw" <<'HW'
[General]
Notify1=14
Notify2=8
Notify1Text=Portulon: your session ends soon.
Notify2Text=Portulon: your session ends now.
HW
cat > "$data/portulon.usr" <<'USR'
[DOM\ann]
MaxSessionTime=0
NoDuplicate=1
StaticIP=168296525
[DOM\bob]
MaxSessionTime=0
[DOM\carol]
MaxSessionTime=20
[DOM\dave]
MaxSessionTime=0
[DOM\grace hopper]
MaxSessionTime=0
[DOM\crowd]
MaxSessionTime=0
USR

# ---- The OpenVPN server in its namespace ----
new_namespace s
cat > "$work/on-disconnect.sh" <<EOF
#!/bin/sh
echo "\$common_name|\$bytes_received|\$bytes_sent|\$time_duration" >> "$work/disconnects"
EOF
chmod +x "$work/on-disconnect.sh"
cat > "$work/server.conf" <<EOF
server 10.8.0.0 255.255.255.0
topology subnet
proto tcp-server
local 127.0.0.1
port 1194
dev tun
disable-dco
ca $pki/ca.crt
cert $pki/server.crt
key $pki/server.key
dh none
keepalive 10 60
duplicate-cn
auth-user-pass-optional
management $work/management.sock unix
management-client-auth
management-hold
remote-cert-tls client
script-security 2
client-disconnect $work/on-disconnect.sh
writepid $work/server.pid
log-append $work/server.log
verb 3
EOF
start_server() {
  ip netns exec "${tag}s" openvpn --config "$work/server.conf" --daemon
  wait_for 10 test -S "$work/management.sock"
}
start_server || { bad "OpenVPN server starts"; exit 1; }
ip netns exec "${tag}s" socat UNIX-LISTEN:"$work/bridge.sock",fork TCP:127.0.0.1:1194 2>>"$work/socat.log" &
pids+=($!)

# ---- Clients: each in a namespace of its own ----
# client NAME CERT [extra openvpn options...]: starts a client in namespace NAME.
client() {
  local name="$1" cert="$2"
  shift 2
  [ -e "/run/netns/$tag$name" ] || {
    new_namespace "$name"
    ip netns exec "$tag$name" socat TCP-LISTEN:1194,bind=127.0.0.1,reuseaddr,fork UNIX-CONNECT:"$work/bridge.sock" 2>>"$work/socat.log" &
    pids+=($!)
    sleep 0.3
  }
  rm -f "$work/$name.log"
  ip netns exec "$tag$name" openvpn --client --dev tun --proto tcp-client --remote 127.0.0.1 1194 \
    --nobind --ca "$pki/ca.crt" --cert "$pki/$cert.crt" --key "$pki/$cert.key" --disable-dco \
    --remote-cert-tls server --auth-retry none --connect-retry 1 --connect-retry-max 3 --verb 3 \
    --writepid "$work/$name.pid" --log "$work/$name.log" --daemon "$@"
}
tunnel_address() { ip -n "$tag$1" -4 -o addr show dev tun0 2>/dev/null | awk '{ print $4 }'; }
has_address() { [ -n "$(tunnel_address "$1")" ]; }
client_running() { [ -f "$work/$1.pid" ] && kill -0 "$(cat "$work/$1.pid")" 2>/dev/null; }
client_gone() { [ -f "$work/$1.pid" ] && ! client_running "$1"; }
auth_failed() { grep -q 'AUTH_FAILED' "$work/$1.log" 2>/dev/null; }
# Traffic through the tunnel, bounded: at most two minutes of a datagram every 0.2 s.
busy() {
  ip netns exec "$tag$1" bash -c 'for i in $(seq 1 600); do echo x > /dev/udp/10.8.0.1/9; sleep 0.2; done' \
    2>/dev/null &
  pids+=($!)
}
log_file() { echo "$data/LogData/$(LC_ALL=C date +%Y-%b-%d).log"; }
records() { awk -v s="[SRV1\\\\$1]" '$0 == s { on = 1; next } /^\[/ { on = 0 } on' "$(log_file)" 2>/dev/null; }
# The port of the account's latest connection record.
port_of() {
  awk -v want="C_DOM\\\\$1" '/^\[/ { section = substr($0, 7, length($0) - 7); next }
    { value = substr($0, index($0, "=") + 1) } value == want { port = section } END { print port }' \
    "$(log_file)" 2>/dev/null
}
connections() { grep -c "=C_DOM\\\\$1\$" "$(log_file)" 2>/dev/null || true; }
at_least_connections() { [ "$(connections "$2")" -ge "$1" ]; }
got_message() { net messages "$1" | grep -q "$2"; }
event_logged() { eventlog list Application | grep -q "$1"; }
has_record() { records "$1" | grep -q -- "$2"; }
log_has() { grep -q -- "$1" "$(log_file)" 2>/dev/null; }

# ---- Boot: the adapter and Portulon start as the machine's services ----
plmachine boot >/dev/null || { bad "the machine boots its services"; exit 1; }
ok "plmachine boot started RemoteAccess (plovpn) and Portulon"
wait_for 10 grep -q "Connected to OpenVPN" "$PORTULON_MACHINE/drive_c/qcl_trace_plovpn.txt" ||
  bad "the adapter connects to OpenVPN's management interface"

# 1. ann is admitted and gets her fixed address.
client ann ann
wait_for 20 has_address ann || true
check "ann is admitted with her static address 10.8.0.77" [ "$(tunnel_address ann)" = "10.8.0.77/24" ]
busy ann
check "ann's connection is recorded on VPN1" has_record VPN1 'C_DOM\\ann'

# 2. A second client of ann's is refused (NoDuplicate), the reason told to the client.
client ann2 ann
wait_for 20 auth_failed ann2 || true
check "a second client of ann is refused" log_has 'N_DOM\\ann?4'
check "the refused client is told why" grep -q "4: User already connected" "$work/ann2.log"

# 2b. plsvc killed and started again while ann is on: it asks the adapter
#     which sessions stand and still refuses her a second client.
plsvc_pid="$(awk -F= '$1 == "Pid" { print $2 }' "$PORTULON_MACHINE/services/portulon/status")"
kill -9 "$plsvc_pid"
wait_for 10 eval "! kill -0 $plsvc_pid 2>/dev/null" || true
net start Portulon >/dev/null || bad "Portulon starts again"
client ann3 ann
wait_for 20 auth_failed ann3 || true
check "after plsvc was killed and restarted, ann's second client is still refused" \
  grep -q "4: User already connected" "$work/ann3.log"

# 3. erin has no profile.
client erin erin
wait_for 20 auth_failed erin || true
check "erin (no profile) is refused with code 1" log_has 'N_DOM\\erin?1'
check "erin's client reads 'User not defined'" grep -q "1: User not defined" "$work/erin.log"

# 4. carol may stay 20 s: two warnings, then the cut; HALT keeps her out.
client carol carol
wait_for 20 has_address carol || true
busy carol
carol_port="$(port_of carol)"
check "carol is admitted (port ${carol_port:-none})" [ -n "$carol_port" ]
# 5. dave sends nothing: cut by the idle check from the server's byte counts.
client dave dave
wait_for 20 has_address dave || true
dave_port="$(port_of dave)"
check "dave is admitted (port ${dave_port:-none})" [ -n "$dave_port" ]
wait_for 30 client_gone dave || true
check "dave's idle client is cut (reason 9) from OpenVPN's counts" has_record "$dave_port" '^.*=H[0-9]*_DOM\\dave?[-0-9]*?9:'
wait_for 40 client_gone carol || true
check "carol got the first warning" got_message carol 'ends soon'
check "carol got the second warning" got_message carol 'ends now'
check "carol is cut at her deadline (reason 2)" has_record "$carol_port" '^.*=H[0-9]*_DOM\\carol?[-0-9]*?2:'
check "carol's client is told why" grep -q "Portulon: session time limit reached" "$work/carol.log"
# Each warning precedes the cut by at least its interval (Notify1 14 s, Notify2 8 s).
message_time() {
  net messages carol | awk -v want="$1" '/^Message from/ { when = $(NF - 1) " " $NF; next }
    index($0, want) { print when }' | tail -n 1
}
cut_time="$(grep -m 1 'Halt command was pushed' "$work/carol.log" | awk '{ print $1 " " $2 }')"
for warning in "ends soon:14" "ends now:8"; do
  text="${warning%%:*}" interval="${warning##*:}"
  sent="$(message_time "$text")"
  ahead=$(( $(date -d "$cut_time" +%s 2>/dev/null || echo 0) - $(date -d "$sent" +%s 2>/dev/null || echo 0) ))
  check "the warning '$text' came $ahead s before the cut (at least $interval)" \
    eval '[ -n "$sent" ] && [ -n "$cut_time" ] && [ "$ahead" -ge "$interval" ]'
done
sleep 3
check "carol does not come back" [ "$(connections carol)" -eq 1 ]

# 6. ann hangs up: the record carries OpenVPN's bytes and duration.
kill "$(cat "$work/ann.pid")"
wait_for 20 has_record VPN1 'H[0-9]*_DOM\\ann' || true
wait_for 10 grep -q '^ann|' "$work/disconnects" || true
IFS='|' read -r _ in out seconds < <(grep '^ann|' "$work/disconnects" | tail -n 1)
hangup="$(records VPN1 | grep 'H[0-9]*_DOM\\ann' | tail -n 1 | sed 's/^[^=]*=//')"
expected="H${seconds}_DOM\\ann?168296525?0::*:${in}:${out}"
check "ann's hang-up record is $expected (got $hangup)" [ "$hangup" = "$expected" ]

# 7. A name with blanks, as OpenVPN passes it on.
client grace grace
wait_for 20 has_address grace || true
check "'grace hopper' is admitted as DOM\\grace hopper" log_has 'C_DOM\\grace hopper'

# 8. OpenVPN restarts under bob: his session ends in the log, his reconnection is a new one.
client bob bob --connect-retry-max 30
wait_for 20 has_address bob || true
busy bob
bob_port="$(port_of bob)"
# Killed outright: OpenVPN cannot tell of the clients it drops.
kill -9 "$(cat "$work/server.pid")"
server_pid="$(cat "$work/server.pid")"
wait_for 10 eval "! kill -0 $server_pid 2>/dev/null" || true
rm -f "$work/management.sock"
start_server || bad "OpenVPN starts again"
wait_for 20 has_record "$bob_port" 'H[0-9]*_DOM\\bob' || true
check "bob's session that OpenVPN's restart ended is hung up" has_record "$bob_port" 'H[0-9]*_DOM\\bob'
check "grace's too" log_has 'H[0-9]*_DOM\\grace hopper'
# bob's client dials again by itself (connect-retry); his new session is admitted once.
wait_for 30 at_least_connections 2 bob || true
sleep 2
check "bob's reconnection is admitted exactly once" [ "$(connections bob)" -eq 2 ]

# 9. A common name with a backslash reaches Portulon as it is (and has no profile).
client odd odd
wait_for 20 auth_failed odd || true
check "the name 'back\\slash' is checked as DOM\\back\\slash and refused (1)" log_has 'N_DOM\\back\\slash?1'

# 10. 64 clients at once (tunnels without addresses, all in one namespace), idle checks off.
reg add "$key" /v IdleTimer /t REG_DWORD /d 0 /f >/dev/null
pipecall UPDATE_UPDATE >/dev/null
new_namespace crowd
ip netns exec "${tag}crowd" socat TCP-LISTEN:1194,bind=127.0.0.1,reuseaddr,fork UNIX-CONNECT:"$work/bridge.sock" 2>>"$work/socat.log" &
pids+=($!)
sleep 0.3
launchers=()
for i in $(seq 1 64); do
  ip netns exec "${tag}crowd" openvpn --client --dev tun --proto tcp-client --remote 127.0.0.1 1194 \
    --nobind --ca "$pki/ca.crt" --cert "$pki/crowd.crt" --key "$pki/crowd.key" --disable-dco \
    --remote-cert-tls server --auth-retry none --connect-retry 1 --connect-retry-max 30 --verb 3 --ifconfig-noexec --route-noexec \
    --writepid "$work/crowd$i.pid" --log "$work/crowd$i.log" --daemon &
  launchers+=($!)
done
wait "${launchers[@]}"
crowd_ports() {
  awk '/^\[/ { section = $0; next } /=C_DOM\\crowd$/ { print section }' "$(log_file)" | sort -u | wc -l
}
hangups() { grep -c "=H[0-9]*_DOM\\\\$1?" "$(log_file)" 2>/dev/null || true; }
wait_for 90 at_least_connections 64 crowd || true
check "64 clients at once: 64 admissions ($(connections crowd))" [ "$(connections crowd)" -eq 64 ]
check "... on 64 different ports ($(crowd_ports))" [ "$(crowd_ports)" -eq 64 ]
crowd_up() { grep -l 'Initialization Sequence Completed' "$work"/crowd*.log 2>/dev/null | wc -l; }
crowd_all_up() { [ "$(crowd_up)" -eq 64 ]; }
wait_for 60 crowd_all_up || true
check "... and all 64 complete their connection ($(crowd_up))" crowd_all_up
for i in $(seq 1 64); do kill "$(cat "$work/crowd$i.pid")" 2>/dev/null || true; done
crowd_done() { [ "$(hangups crowd)" -ge 64 ]; }
wait_for 60 crowd_done || true
check "... and 64 hang-ups ($(hangups crowd))" [ "$(hangups crowd)" -eq 64 ]

# 11. The administrator's view: who is on, OpenVPN's own status through the
#     adapter's relay, a restart of the adapter under live clients, a disconnect.
relay() {  # relay COMMAND...: OpenVPN's management commands through the adapter
  { for c in "$@"; do echo "$c"; done; echo quit; } | timeout 10 socat - UNIX-CONNECT:"$work/relay.sock"
}
# The clients as OpenVPN lists them: name, tunnel address, bytes received, bytes sent.
openvpn_clients() {
  relay "status 3" | tr -d '\r' | awk -F'\t' '$1 == "CLIENT_LIST" { print $2 "|" $4 "|" $6 "|" $7 }' | sort
}
# The who-is-on listing: port, account, address, client, bytes in, bytes out.
who_is_on() {
  plreport who --format csv | tail -n +2 | awk -F, '{ print $1 "|" $2 "|" $3 "|" $4 "|" $6 "|" $7 }' | sort
}
client ann ann
client dave dave
client grace grace
for c in ann dave grace; do wait_for 20 has_address "$c" || true; done
busy ann
sleep 1
before="$(openvpn_clients)"
who="$(who_is_on)"
after="$(openvpn_clients)"
check "OpenVPN's status works through the adapter's relay ($(echo "$before" | grep -c . ) clients)" \
  [ "$(echo "$before" | grep -c .)" -ge 3 ]
check "the relay refuses the adapter's own commands" \
  eval 'relay "client-kill 1" | grep -q "ERROR: not passed on"'
names_of() { cut -d'|' -f1,2; }
who_names="$(echo "$who" | awk -F'|' '{ n = $2; sub(/^DOM\\/, "", n); print n "|" $3 }' | sort)"
check "who is on lists exactly OpenVPN's clients with their addresses" \
  [ "$who_names" = "$(echo "$before" | names_of)" ]
check "... and names each by its certificate" \
  [ "$(echo "$who" | cut -d'|' -f4 | sort)" = "$(echo "$before" | cut -d'|' -f1)" ]
within=1
while IFS='|' read -r port account address cn in out; do
  # By tunnel address: two clients may hold the same certificate.
  lo="$(echo "$before" | awk -F'|' -v a="$address" '$2 == a')"
  hi="$(echo "$after" | awk -F'|' -v a="$address" '$2 == a')"
  IFS='|' read -r _ _ lo_in lo_out <<< "$lo"
  IFS='|' read -r _ _ hi_in hi_out <<< "$hi"
  if ! [ "${lo_in:-x}" -le "$in" ] 2>/dev/null || ! [ "$in" -le "${hi_in:-0}" ] ||
     ! [ "$lo_out" -le "$out" ] || ! [ "$out" -le "$hi_out" ]; then
    echo "     $cn ($address): $in/$out not within $lo_in..$hi_in / $lo_out..$hi_out"; within=0
  fi
done <<< "$who"
check "... and its bytes lie within OpenVPN's own counters" [ "$within" -eq 1 ]
check "plmachine show names the adapter and its ports" \
  eval 'plmachine show | grep -q "Remote access:   OpenVPN adapter, 100 ports"'
check "the refusal's event reads in words, with its reason" \
  eval 'eventlog list Application | grep "Connection refused" | grep -q "1: User not defined"'

# The console watching this server, its users connected.
if [ -n "$artifacts" ] && [ -x "$console_shot" ]; then
  reg add 'HKLM\Software\Quillfen Technologies\Portulon\Servers\SRV1' /f >/dev/null
  check "the console's picture of SRV1 and its users is saved" \
    "$console_shot" "$artifacts/pladmin_openvpn.png" SRV1
fi

ann_port="$(who_is_on | awk -F'|' '$2 == "DOM\\ann" { print $1 }')"
plreport disconnect "$ann_port" >/dev/null || bad "plreport disconnect $ann_port"
wait_for 20 client_gone ann || true
check "the administrator's disconnect reaches ann's client with its reason" \
  grep -q "Portulon: disconnected by the administrator" "$work/ann.log"
wait_for 20 has_record "$ann_port" 'H[0-9]*_DOM\\ann?[-0-9]*?10:' || true
check "... and her hang-up record says the administrator cut it (reason 10)" \
  has_record "$ann_port" 'H[0-9]*_DOM\\ann?[-0-9]*?10:'
check "plreport log reads it in words" eval 'plreport log --user ann | grep -q "Disconnected by the administrator"'

# The restart after ann left: a gap below other ports, which an adapter that
# handed out ports afresh would fill.
# The adapter's own assignments, as it gives them to a restarted plsvc.
adapter_ports() {
  local i reply
  for ((i = 0; i < 300; i++)); do
    reply="$(pipecall --pipe plportops "SESSION $i")" || return 1
    [ "$reply" = 259 ] && return 0
    echo "$reply" | awk '{ port = $2; $1 = $2 = $3 = ""; sub(/^ +/, ""); print port "|" $0 }'
  done
}
ports_before="$(adapter_ports | sort)"
check "the adapter's ports are those of Portulon's sessions" \
  eval '[ "$ports_before" = "$(who_is_on | cut -d"|" -f1,2)" ]'
connected_before="$(grep -c '=C_' "$(log_file)")"
hangups_before="$(grep -c '=H[0-9]*_' "$(log_file)")"
trace="$PORTULON_MACHINE/drive_c/qcl_trace_plovpn.txt"
connects="$(grep -c 'Connected to OpenVPN' "$trace")"
net stop RemoteAccess >/dev/null || bad "the adapter stops"
net start RemoteAccess >/dev/null || bad "the adapter starts again"
reconnected() { [ "$(grep -c 'Connected to OpenVPN' "$trace")" -gt "$connects" ]; }
wait_for 20 reconnected || true
sleep 7  # past the adapter's grace for clients it finds without a port
ports_after="$(adapter_ports | sort)"
check "the adapter restarted under live clients keeps every port assignment ($(echo $ports_after))" \
  eval '[ -n "$ports_before" ] && [ "$ports_before" = "$ports_after" ]'
check "... with no new connection and no hang-up" \
  eval '[ "$(grep -c "=C_" "$(log_file)")" -eq "$connected_before" ] && [ "$(grep -c "=H[0-9]*_" "$(log_file)")" -eq "$hangups_before" ]'


# With NameFrom=username, a username nobody verified names nobody: erin's
# certificate sending the username ann is refused, never decided as ann.
reg add 'HKLM\Software\Quillfen Technologies\Portulon\OpenVPN' /v NameFrom /t REG_SZ /d username /f >/dev/null
connects="$(grep -c 'Connected to OpenVPN' "$trace")"
net stop RemoteAccess >/dev/null && net start RemoteAccess >/dev/null || bad "the adapter restarts"
wait_for 20 reconnected || true
ann_lines="$(grep -c '_DOM\\ann' "$(log_file)")"
printf 'ann\nsecret\n' > "$work/ann.pass"
chmod 600 "$work/ann.pass"
client erin2 erin --auth-user-pass "$work/ann.pass"
wait_for 20 auth_failed erin2 || true
check "erin's certificate claiming the username ann is refused, told why" \
  grep -q "Portulon: user name not verified" "$work/erin2.log"
check "... and never put to Portulon as ann" eval '[ "$(grep -c "_DOM\\\\ann" "$(log_file)")" -eq "$ann_lines" ]'
reg delete 'HKLM\Software\Quillfen Technologies\Portulon\OpenVPN' /v NameFrom /f >/dev/null

# 12. Portulon stopped: clients are admitted, and an event says so.
net stop Portulon >/dev/null
client frank frank
wait_for 20 has_address frank || true
check "with Portulon stopped, frank (no profile) is admitted" has_address frank
check "the event log says the check failed" event_logged 'Transaction failed on AcceptConnection'

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
