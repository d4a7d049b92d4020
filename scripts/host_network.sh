#!/usr/bin/env bash
# A network of real hosts on one computer: network namespaces SRV1 (the
# master, serving its data folder as the share PL_NT_DB with smbd), SRV2 and
# ADMINPC, joined by a bridge in a namespace of their own, 10.77.0.0/24.
# Nothing is put on the host's own interfaces.
#
#   host_network.sh up DIR             makes the network; its files go under DIR
#   host_network.sh down DIR           removes every namespace, process and file it made
#   host_network.sh exec DIR HOST CMD...   runs CMD on HOST (PORTULON_MACHINE set)
#   host_network.sh link DIR HOST up|down  plugs HOST's cable in or pulls it
#   host_network.sh smbd DIR start|stop    starts or stops the master's smbd
#   host_network.sh ns DIR HOST        prints HOST's namespace name
#
# Each host has its own network folder DIR/hosts/HOST holding only its own
# machine folder DIR/hosts/HOST/HOST, so another host is reached only over the
# network. PORTULON_BIN_DIR names the folder with plmachine, reg and net: the
# machines are provisioned (Windows NT 4, RAS), and the master's share table
# is published by its smbd (LanmanServer\Parameters PublishFile, the include
# file samba/shares.conf; PublishCommand, smbcontrol's reload-config; and
# UnpublishCommand, its close-share), so
# that `net share` on SRV1 adds and deletes what smbd serves, as setup does on
# the master; `up` shares PL_NT_DB, the master's folder
# C:\Program Files\Portulon, that way. Every host's machine folder gets the service
# account's logon in network.cred (readable by its owner only); smbd knows
# the account from its own tdbsam. Names resolve through a hosts file that
# `ip netns exec` puts in place of /etc/hosts for the namespace's processes
# (/etc/netns/NS/hosts). Needs root, iproute2 and samba.
set -euo pipefail

HOSTS=(SRV1 SRV2 ADMINPC)
SUBNET=10.77.0
# The Unix account smbd maps the service account to: the share's files are
# the tests' (root's) own.
ACCOUNT="${PORTULON_SMB_ACCOUNT:-root}"

die() { echo "host_network: $*" >&2; exit 1; }

address_of() {
  case "$1" in
    SRV1) echo "$SUBNET.1" ;;
    SRV2) echo "$SUBNET.2" ;;
    ADMINPC) echo "$SUBNET.3" ;;
    *) die "unknown host '$1'" ;;
  esac
}

# Namespace names are global: a tag from the folder keeps two networks
# (two test runs) apart. Addresses may repeat, each network is closed.
tag_of() { printf '%s' "$1" | cksum | cut -c1-8; }
ns_of() { echo "pl$(tag_of "$1")-$2"; }
hub_of() { ns_of "$1" LAN; }

machine_root() { echo "$1/hosts/$2/$2"; }
share_dir() { echo "$(machine_root "$1" SRV1)/drive_c/Program Files/Portulon"; }

write_smb_conf() {
  local dir="$1" s="$1/samba"
  cat >"$s/smb.conf" <<EOF
[global]
  netbios name = SRV1
  workgroup = PORTULON
  server role = standalone server
  security = user
  passdb backend = tdbsam:$s/private/passdb.tdb
  private dir = $s/private
  lock directory = $s/lock
  state directory = $s/state
  cache directory = $s/cache
  pid directory = $s/run
  ncalrpc dir = $s/run/ncalrpc
  binddns dir = $s/bind-dns
  log file = $s/log.smbd
  max log size = 1000
  interfaces = $(address_of SRV1)/24
  bind interfaces only = yes
  smb ports = 445
  disable netbios = yes
  server min protocol = SMB2_10
  map to guest = never
  restrict anonymous = 2
  load printers = no
  printing = bsd
  printcap name = /dev/null
  disable spoolss = yes
  usershare path =
  # A client whose network dies is let go within about 19 s (not 2 h),
  # and with it the files it held open: by the keepalive when the link was
  # idle, by the user timeout when the server had sent it something since.
  socket options = TCP_NODELAY SO_KEEPALIVE TCP_KEEPIDLE=10 TCP_KEEPINTVL=3 TCP_KEEPCNT=3 TCP_USER_TIMEOUT=19000
  # No client caches what another host may change.
  oplocks = no
  level2 oplocks = no
  smb2 leases = no
  kernel oplocks = no
  # What every share has; the shares themselves are the master's share table,
  # published by net share into the include below.
  valid users = $ACCOUNT
  create mask = 0660
  directory mask = 0770
  include = $s/shares.conf
EOF
}

smbd_pid() {
  local f="$1/samba/run/smbd.group"
  [ -s "$f" ] && cat "$f"
}

# smbd runs in a process group of its own (its pid), so that stopping it
# ends the processes serving clients as well, and nothing else.
start_smbd() {
  local dir="$1" i
  ip netns exec "$(ns_of "$dir" SRV1)" setsid smbd --foreground --no-process-group \
    -s "$dir/samba/smb.conf" </dev/null >>"$dir/samba/log.smbd" 2>&1 &
  echo $! >"$dir/samba/run/smbd.group"
  for i in $(seq 100); do
    kill -0 "$(smbd_pid "$dir")" 2>/dev/null || die "smbd ended at once (see $dir/samba/log.smbd)"
    # Ready once it listens on the share's port.
    if ip netns exec "$(ns_of "$dir" SRV1)" ss -ltn 2>/dev/null | grep -q ":445 "; then
      return 0
    fi
    sleep 0.1
  done
  die "smbd did not start (see $dir/samba/log.smbd)"
}

stop_smbd() {
  local dir="$1" pid i
  pid="$(smbd_pid "$dir" || true)"
  [ -n "$pid" ] || return 0
  kill -TERM -- "-$pid" 2>/dev/null || true
  for i in $(seq 50); do
    kill -0 -- "-$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL -- "-$pid" 2>/dev/null || true
  rm -f "$dir/samba/run/smbd.group"
}

kill_in_ns() {
  local ns="$1" pids
  ip netns list | grep -q "^$ns\b" || return 0
  pids="$(ip netns pids "$ns" 2>/dev/null || true)"
  [ -n "$pids" ] || return 0
  # shellcheck disable=SC2086
  kill -KILL $pids 2>/dev/null || true
}

do_up() {
  local dir="$1" h ns hub addr pw
  command -v smbd >/dev/null || die "smbd is missing (install samba)"
  [ "$(id -u)" -eq 0 ] || die "needs root"
  for tool in plmachine reg net; do
    [ -x "${PORTULON_BIN_DIR:-}/$tool" ] || die "PORTULON_BIN_DIR must name the folder of plmachine, reg and net"
  done
  mkdir -p "$dir"
  dir="$(cd "$dir" && pwd)"
  hub="$(hub_of "$dir")"
  ip netns list | grep -q "^$hub\b" && die "a network is already up in $dir"
  echo "$dir" >"$dir/.host_network"

  ip netns add "$hub"
  ip -n "$hub" link set lo up
  ip -n "$hub" link add br0 type bridge
  ip -n "$hub" link set br0 up
  for h in "${HOSTS[@]}"; do
    ns="$(ns_of "$dir" "$h")"
    addr="$(address_of "$h")"
    ip netns add "$ns"
    ip -n "$ns" link set lo up
    ip -n "$hub" link add "v$h" type veth peer name eth0 netns "$ns"
    ip -n "$hub" link set "v$h" master br0 up
    ip -n "$ns" addr add "$addr/24" dev eth0
    ip -n "$ns" link set eth0 up
    mkdir -p "/etc/netns/$ns"
    {
      echo "127.0.0.1 localhost"
      for other in "${HOSTS[@]}"; do echo "$(address_of "$other") $other $(echo "$other" | tr 'A-Z' 'a-z')"; done
    } >"/etc/netns/$ns/hosts"
    mkdir -p "$dir/hosts/$h"
    "$PORTULON_BIN_DIR/plmachine" create "$(machine_root "$dir" "$h")" --os 4.0 --ras ras >/dev/null
  done

  local s="$dir/samba"
  mkdir -p "$s/private" "$s/lock" "$s/state" "$s/cache" "$s/run" "$s/bind-dns" "$(share_dir "$dir")"
  chmod 700 "$s/private"
  write_smb_conf "$dir"
  : >"$s/shares.conf"
  # The master's share table is what its smbd serves.
  local params='HKLM\System\CurrentControlSet\Services\LanmanServer\Parameters'
  PORTULON_MACHINE="$(machine_root "$dir" SRV1)" "$PORTULON_BIN_DIR/reg" add "$params" \
    /v PublishFile /t REG_SZ /d "Z:$s/shares.conf" /f >/dev/null
  PORTULON_MACHINE="$(machine_root "$dir" SRV1)" "$PORTULON_BIN_DIR/reg" add "$params" \
    /v PublishCommand /t REG_SZ /d "\"Z:$(command -v smbcontrol)\" -s \"$s/smb.conf\" smbd reload-config" \
    /f >/dev/null
  # smbd keeps a deleted share's connections until it is told to close them.
  PORTULON_MACHINE="$(machine_root "$dir" SRV1)" "$PORTULON_BIN_DIR/reg" add "$params" \
    /v UnpublishCommand /t REG_SZ /d "\"Z:$(command -v smbcontrol)\" -s \"$s/smb.conf\" smbd close-share" \
    /f >/dev/null
  pw="$(head -c 18 /dev/urandom | base64 | tr -d '/+=')"
  printf '%s\n%s\n' "$pw" "$pw" | smbpasswd -c "$s/smb.conf" -s -a "$ACCOUNT" >/dev/null
  for h in "${HOSTS[@]}"; do
    (umask 077 && printf 'user=%s\npassword=%s\ndomain=PORTULON\n' "$ACCOUNT" "$pw" \
      >"$(machine_root "$dir" "$h")/network.cred")
  done
  start_smbd "$dir"
  ip netns exec "$(ns_of "$dir" SRV1)" env PORTULON_MACHINE="$(machine_root "$dir" SRV1)" \
    "$PORTULON_BIN_DIR/net" SHARE 'PL_NT_DB=C:\Program Files\Portulon' >/dev/null
}

do_down() {
  local dir="$1" h ns hub
  [ -d "$dir" ] || return 0
  dir="$(cd "$dir" && pwd)"
  [ -f "$dir/.host_network" ] || die "$dir holds no network made by this script"
  hub="$(hub_of "$dir")"
  stop_smbd "$dir" || true
  for h in "${HOSTS[@]}"; do
    ns="$(ns_of "$dir" "$h")"
    kill_in_ns "$ns"
    ip netns del "$ns" 2>/dev/null || true
    rm -rf "/etc/netns/$ns"
  done
  ip netns del "$hub" 2>/dev/null || true
  rmdir /etc/netns 2>/dev/null || true
  rm -rf "$dir/samba" "$dir/hosts" "$dir/.host_network"
  rmdir "$dir" 2>/dev/null || true
}

network_dir() {
  [ -d "$1" ] || die "no network in $1"
  (cd "$1" && pwd)
}

main() {
  [ $# -ge 2 ] || die "usage: host_network.sh up|down|exec|link|smbd|ns DIR ..."
  local cmd="$1" dir="$2"
  shift 2
  case "$cmd" in
    up) do_up "$dir" ;;
    down) do_down "$dir" ;;
    exec)
      [ $# -ge 2 ] || die "usage: exec DIR HOST CMD..."
      dir="$(network_dir "$dir")"
      local h="$1"
      shift
      address_of "$h" >/dev/null
      exec ip netns exec "$(ns_of "$dir" "$h")" env PORTULON_MACHINE="$(machine_root "$dir" "$h")" "$@"
      ;;
    link)
      [ $# -eq 2 ] || die "usage: link DIR HOST up|down"
      dir="$(network_dir "$dir")"
      address_of "$1" >/dev/null
      ip -n "$(hub_of "$dir")" link set "v$1" "$2"
      ;;
    smbd)
      dir="$(network_dir "$dir")"
      case "${1:-}" in
        start) start_smbd "$dir" ;;
        stop) stop_smbd "$dir" ;;
        *) die "usage: smbd DIR start|stop" ;;
      esac
      ;;
    ns)
      dir="$(network_dir "$dir")"
      ns_of "$dir" "$1"
      ;;
    *) die "unknown command '$cmd'" ;;
  esac
}

main "$@"
