#!/usr/bin/env bash
# The demo network: a server SRV1 running Windows NT 4 with its remote-access
# service and Portulon, a second server SRV2 running Windows 2000 with Routing
# and Remote Access and Portulon on SRV1's data, a domain DOM, and a scripted
# set of dial-ins that shows admissions, refusals, a static address, warnings,
# idle disconnections, a multilink call and a forced disconnection at the
# deadline. Portulon is installed on the servers and on an administrator's
# workstation with setup from the installation folder, as a customer would. It takes about four minutes: the service checks its sessions once
# a minute, as it does in production.
#   scripts/demo.sh DEMO_DIR   (PORTULON_BIN_DIR names the built programs,
#                               PORTULON_PACKAGE_DIR the installation folder)
# With PORTULON_DEMO_QUICK=1 it does not wait for supervision to cut sessions
# (a minute or more each): the test of the README's lines only needs the
# network the demo leaves.
set -euo pipefail

demo="${1:?usage: demo.sh DEMO_DIR}"
bin="${PORTULON_BIN_DIR:?PORTULON_BIN_DIR must name build/bin}"
pkg="${PORTULON_PACKAGE_DIR:?PORTULON_PACKAGE_DIR must name the installation folder}"
export PATH="$bin:$PATH"
export PORTULON_BIN_DIR="$bin"
export PORTULON_NETWORK="$demo"
export PORTULON_MACHINE="$demo/SRV1"

quick="${PORTULON_DEMO_QUICK:-}"
# Bold headings on a terminal only; a pipe or a file gets plain text.
if [ -t 1 ]; then
  bold() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
else
  bold() { printf '\n== %s\n' "$*"; }
fi
say() { printf '%s\n' "$*"; }
show() { printf '$ %s\n' "$*"; "$@"; }
# A dial-in that may be refused: the refusal is part of the story. rasctl
# prints each refusal with the reason Portulon recorded for it.
dial() { printf '$ rasctl dial %s\n' "$*"; rasctl dial "$@" || true; }
# A command run on SRV2 instead of SRV1.
on_srv2() { printf '(SRV2) '; PORTULON_MACHINE="$demo/SRV2" "$@"; }
# The demo's machines keep a 24-hour clock in their regional settings, as the
# console and the tools then show every time of day.
clock_24h() {
  local intl='HKU\.DEFAULT\Control Panel\International'
  PORTULON_MACHINE="$demo/$1" reg add "$intl" /v sTimeFormat /t REG_SZ /d HH:mm:ss /f >/dev/null
  PORTULON_MACHINE="$demo/$1" reg add "$intl" /v iTime /t REG_SZ /d 1 /f >/dev/null
}

port_state() { rasctl ports | awk -v p="$1" '$1 == p { print $2 }'; }
wait_for_port_free() {
  local port="$1" limit="$2" waited=0
  if [ -n "$quick" ]; then
    say "  (not waited for: PORTULON_DEMO_QUICK)"
    return 0
  fi
  while [ "$(port_state "$port")" != "listening" ]; do
    if [ "$waited" -ge "$limit" ]; then
      say "  ($port is still in use after ${limit}s)"
      return 1
    fi
    sleep 10
    waited=$((waited + 10))
    printf '  ... %3ds  ' "$waited"
    rasctl ports | awk 'NR > 1 && $2 != "listening" { printf "%s=%s ", $1, $3 } END { print "" }'
  done
}

# A demo left running by an earlier run is stopped before its folder goes.
for machine in SRV1 SRV2; do
  if [ -d "$demo/$machine/registry" ]; then
    PORTULON_MACHINE="$demo/$machine" net stop Portulon >/dev/null 2>&1 || true
    PORTULON_MACHINE="$demo/$machine" net stop RemoteAccess >/dev/null 2>&1 || true
  fi
done
rm -rf "$demo"
mkdir -p "$demo"

bold "A server machine: Windows NT 4.0 with the Remote Access Service and six ports"
show plmachine create "$demo/SRV1" --name SRV1 --os 4.0 --ras ras --domain DOM --ports 6
clock_24h SRV1

bold "The domain DOM and its users"
pldomain create DOM --dc SRV1 >/dev/null
pldomain addgroup DOM "Dial-In Users" >/dev/null
pldomain addgroup DOM Staff >/dev/null
for user in ann bob carol dave erin; do pldomain adduser DOM "$user" --groups "Dial-In Users" >/dev/null; done
pldomain adduser DOM frank --groups "Dial-In Users" >/dev/null
pldomain adduser DOM grace --groups "Dial-In Users;Staff" >/dev/null
show pldomain list DOM

bold "Portulon installed on SRV1 from the installation folder, as a customer installs it"
say "The service runs as DOM\\svc; setup checks the account, then installs the server"
say "component and the console, registers the service and the hook module, and shares"
say "the data folder of this primary server as \\\\SRV1\\PL_NT_DB:"
pldomain adduser DOM svc --fullname "Portulon service" >/dev/null
printf 'secret\n' > "$demo/svc-password"
chmod 600 "$demo/svc-password"
show "$pkg/setup" --unattended --components server,console --ras ras \
  --account 'DOM\svc' --password-file "$demo/svc-password"
install="$demo/SRV1/drive_c/Program Files/Portulon"
key='HKLM\Software\Quillfen Technologies\Portulon\Service'
say ""
say "Two settings an administrator makes after installing: fixed addresses on, and"
say "DOM for callers who give no domain."
show plsettings set StaticIP=yes AssumeDomain=DOM
show reg query "$key"
show sc query Portulon
show net share

bold "Shared settings (portulon.hw) and profiles (portulon.usr), with plsettings and pluser"
show plsettings set Notify1=2m Notify2=1m \
  'Notify1Text=Portulon: your session ends in two minutes. Please save your work.' \
  'Notify2Text=Portulon: "one minute" left - 100% of your allowance is nearly used.' \
  Default.AssignDefault=no
show plsettings port 'SRV1\COM3' Idle=1m
show plsettings port 'SRV1\COM4' 'AllowedGroups=DOM\Staff'
# Usage values are the service's own and no tool writes them: bob's used-up
# hour is put in place by hand, before the service runs.
printf '[DOM\\bob]\nTotalTime=3601\n' > "$install/portulon.usr"
show pluser set 'DOM\bob' --total 1h
show pluser add 'DOM\ann' --no-duplicate yes --static-ip 10.0.0.77
show pluser add 'DOM\carol' --session 2m30s
for user in dave frank grace; do pluser add "DOM\\$user" >/dev/null; done
show pluser list
say "portulon.hw: warnings 120 s and 60 s before a deadline; COM3 cuts after 1 idle minute;"
say "             COM4 admits only members of DOM\\Staff"
say "portulon.usr: ann (one session at a time, fixed address 10.0.0.77), bob (total time used up),"
say "              carol (150 s per session), dave, frank, grace; erin has no profile"

bold "The machine boots: the remote-access service and Portulon start"
say "(boot returns once each service reports running: Portulon only once its pipe answers)"
show plmachine boot

bold "Dial-ins"
say "ann is admitted and gets her fixed address:"
dial COM1 'DOM\ann' --wksta ANNPC
say "ann again, on another port, while only one session is allowed -> refused (4):"
dial COM5 'DOM\ann' --wksta ANNPC
say "erin has no profile -> refused (1):"
dial COM6 'DOM\erin'
say "bob has used up his total time -> refused (3):"
dial COM2 'DOM\bob'
say "frank is not in DOM\\Staff, the only group allowed on COM4 -> refused (5):"
dial COM4 'DOM\frank'
say "carol may stay 150 seconds:"
dial COM2 'DOM\carol' --wksta CAROLPC
say "dave dials in on COM3, which cuts after one idle minute, and sends nothing:"
dial COM3 'DOM\dave' --computer '?dave'
show rasctl ports
show rasctl traffic COM1 --sent 250000 --received 1200000
show rasctl traffic COM2 --sent 40000 --received 90000

bold "A second server: Windows 2000 with Routing and Remote Access, on SRV1's data"
printf '$ plmachine create %s\n' "$demo/SRV2 --name SRV2 --os 5.0 --ras rras --domain DOM --ports 4"
plmachine create "$demo/SRV2" --name SRV2 --os 5.0 --ras rras --domain DOM --ports 4 >/dev/null
clock_24h SRV2
say "Created machine SRV2: Windows 2000, Routing and Remote Access, four ports, in DOM."
say "Portulon's server component goes on SRV2 from the same folder; SRV1 is its primary server:"
PORTULON_MACHINE="$demo/SRV2" show "$pkg/setup" --unattended --components server --primary SRV1 \
  --ras rras --account 'DOM\svc' --password-file "$demo/svc-password"
on_srv2 reg add "$key" /v IdleTimer /t REG_DWORD /d 1 /f >/dev/null
on_srv2 reg add "$key" /v AssumeDomain /t REG_SZ /d DOM /f >/dev/null
say "SRV2 is no master: its sessions go into SRV1's logs; it cuts after one idle minute."
say "The router's port data comes from plcollect, which SRV2's Portulon starts every minute."
on_srv2 plmachine boot | tail -n 2
for _ in $(seq 1 100); do on_srv2 pipecall UPDATE_UPDATE >/dev/null 2>&1 && break; sleep 0.1; done
echo
say "grace dials SRV2 on two links at once (multilink): each link is a session of its own:"
printf '(SRV2) '; PORTULON_MACHINE="$demo/SRV2" dial COM1 'DOM\grace' --links 2 --computer GRACEPC
on_srv2 rasctl ports

bold "Supervision: the service checks every session once a minute"
say "Waiting for dave's idle disconnection..."
wait_for_port_free COM3 150 || true
say "Waiting for carol's warnings and her disconnection at the deadline..."
wait_for_port_free COM2 240 || true
show rasctl ports
say ""
say "The warnings that reached carol's computer:"
show net messages CAROLPC

say "Waiting for grace's idle links on SRV2..."
for _ in $(seq 1 24); do
  [ -z "$quick" ] || break
  [ "$(PORTULON_MACHINE="$demo/SRV2" rasctl ports | awk '$1 == "COM2" { print $2 }')" = listening ] && break
  sleep 5
done
on_srv2 rasctl ports

bold "ann hangs up after her work"
show rasctl traffic COM1 --sent 50000 --received 300000
show rasctl hangup COM1

bold "The day's log"
show plreport log
bold "The usage accounts"
show plreport users
bold "The service's events"
# The heading, then the newest records.
eventlog list Application | { IFS= read -r heading; printf '%s\n' "$heading"; tail -n 13; }

# ---- Reporting: the database export and the daily status mail ----
bold "Reporting: the database export and the daily status mail"
# A private ODBC configuration beside the network, never the host's /etc: the
# SQLite driver and the data source PortulonDemo.
odbc="$demo/odbc"
export_db="$demo/portulon-export.sqlite"
mkdir -p "$odbc"
sqlite_driver="$(dpkg -L libsqliteodbc 2>/dev/null | grep '/libsqlite3odbc\.so$' | head -n 1)"
printf '[SQLite3]\nDescription=SQLite 3\nDriver=%s\n' "$sqlite_driver" > "$odbc/odbcinst.ini"
printf '[PortulonDemo]\nDriver=SQLite3\nDatabase=%s\n' "$export_db" > "$odbc/odbc.ini"
export ODBCSYSINI="$odbc" ODBCINI="$odbc/odbc.ini"
# A mail server on loopback; what it accepts lands in demo-network/mailbox.
mailbox="$demo/mailbox"
"$(dirname "$0")/local_mail_server.py" accept "$mailbox" > "$demo/mail-server.port" &
mail_pid=$!
for _ in $(seq 1 50); do [ -s "$demo/mail-server.port" ] && break; sleep 0.1; done
mail_port="$(head -n 1 "$demo/mail-server.port")"
say "ODBC data source PortulonDemo: $export_db; mail server: 127.0.0.1:$mail_port"
reg add "$key" /v ODBC_DSN /t REG_SZ /d PortulonDemo /f >/dev/null
reg add "$key" /v ExportUsers /t REG_DWORD /d 1 /f >/dev/null
reg add "$key" /v ExportHistory /t REG_DWORD /d 1 /f >/dev/null
reg add "$key" /v ExportHours /t REG_DWORD /d 16777215 /f >/dev/null
show plexport set-mail --server "127.0.0.1:$mail_port" --to admin@dom.example \
  --from portulon@srv1.dom.example --hour 23
show plexport schedule
say ""
say "Portulon restarts to count for the mail; its scheduler finds the export hour due"
say "and exports the profiles and the day's log at once:"
net stop Portulon >/dev/null 2>&1 || true
net start Portulon >/dev/null
for _ in $(seq 1 150); do
  [ -s "$export_db" ] && [ "$(sqlite3 "$export_db" 'SELECT COUNT(*) FROM pl_export_days' 2>/dev/null)" = 1 ] && break
  sleep 0.1
done
show sqlite3 -header -column "$export_db" "SELECT log_day, records, complete FROM pl_export_days"
say ""
say "Three more dial-ins, counted for the mail:"
dial COM1 'DOM\ann' --wksta ANNPC
show rasctl hangup COM1
dial COM5 'DOM\dave'
show rasctl hangup COM5
dial COM6 'DOM\erin'
say ""
say "An administrator exports now: the day's rows are replaced, so the five new records join them:"
show plexport export
show sqlite3 -header -column "$export_db" \
  "SELECT time(event_time, 'unixepoch') AS time, port, kind, account, duration AS secs,
          ip_address AS address, reason, bytes_in, bytes_out FROM pl_sessions ORDER BY event_time, port"
say "Exported again, nothing is added:"
show plexport export
show sqlite3 "$export_db" "SELECT COUNT(*) AS rows_in_pl_sessions FROM pl_sessions"
say ""
say "The daily status mail, sent now rather than at 23:00, and the counters reset:"
show plexport mail
last_mail="$(ls "$mailbox"/*.eml | sort -V | tail -n 1)"
say "--- $last_mail (header) ---"
sed -n '1,/^\r\{0,1\}$/p' "$last_mail" | tr -d '\r'
say "--- its text ---"
cat "${last_mail%.eml}.txt" | tr -d '\r'
kill "$mail_pid" 2>/dev/null || true
wait "$mail_pid" 2>/dev/null || true
say ""
say "The demo's mail server ends with the demo, so the mail is switched off again, and the"
say "export runs only when asked (plexport export, with the ODBC lines of the README):"
show plexport set-mail --off
show plsettings set ExportHours=none
# ---- end of reporting ----

bold "Shutting the machines down"
# Remote access first: while it runs without Portulon, callers go unchecked.
for machine in SRV2 SRV1; do
  PORTULON_MACHINE="$demo/$machine" net stop RemoteAccess >/dev/null 2>&1 || true
  PORTULON_MACHINE="$demo/$machine" net stop Portulon >/dev/null 2>&1 || true
done
say "Portulon and the remote-access services are stopped."

bold "The administration console on a workstation ADMINPC"
plmachine create "$demo/ADMINPC" --name ADMINPC --os 5.0 --ras ras --domain DOM --ports 0 >/dev/null
clock_24h ADMINPC
on_admin() { printf '(ADMINPC) '; PORTULON_MACHINE="$demo/ADMINPC" "$@"; }
on_admin "$pkg/setup" --unattended --components console
# The servers it monitors, as the console's "Add Server" enters them.
for server in SRV1 SRV2; do
  PORTULON_MACHINE="$demo/ADMINPC" reg add "HKLM\\Software\\Quillfen Technologies\\Portulon\\Servers\\$server" /f >/dev/null
done
admin_c="$demo/ADMINPC/drive_c"
show_console() {
  say "Files:"
  (cd "$admin_c" && find 'Program Files' 'WINNT/Profiles/Default User/Start Menu/Programs' -mindepth 1 | sort | sed 's|/|\\|g; s/^/  C:\\/')
  say "Registry:"
  PORTULON_MACHINE="$demo/ADMINPC" reg query 'HKLM\Software\Quillfen Technologies' /s 2>&1 | sed 's/^/  /' || true
  PORTULON_MACHINE="$demo/ADMINPC" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>&1 |
    sed 's/^/  /' || true
}
show_console
say ""
say "The administrator removes the console again, as its uninstall entry says:"
on_admin "$admin_c/WINNT/PL_FLUSH.EXE" C
show_console
say "Nothing of the console is left; only the uninstaller itself stays in C:\\WINNT."
say ""
say "And installs it once more, watching SRV1 and SRV2, for you to open:"
on_admin "$pkg/setup" --unattended --components console >/dev/null
for server in SRV1 SRV2; do
  PORTULON_MACHINE="$demo/ADMINPC" reg add "HKLM\\Software\\Quillfen Technologies\\Portulon\\Servers\\$server" /f >/dev/null
done
PORTULON_MACHINE="$demo/ADMINPC" reg query 'HKLM\Software\Quillfen Technologies\Portulon\Servers' | sed 's/^/  /'

cat <<EOT

The demo network stays in $demo. To look around, or to run it again:
  export PORTULON_NETWORK=$demo PORTULON_MACHINE=$demo/SRV1 PATH=$bin:\$PATH
  export ODBCSYSINI=$demo/odbc ODBCINI=$demo/odbc/odbc.ini   (the demo's database, for plexport)
  plmachine boot                     start the remote-access service and Portulon
  rasctl dial COM1 'DOM\\ann'        dial in (rasctl --help for more)
  plreport log ; plreport users      the day's log and the usage accounts
  eventlog list Application          the service's events (System: the sessions')
  net messages CAROLPC               a computer's or user's messages
  reg query "HKLM\\Software\\Quillfen Technologies\\Portulon\\Service"
  net stop RemoteAccess ; net stop Portulon   remote access first, then Portulon
  PORTULON_MACHINE=$demo/SRV2 ...    the same on the router SRV2 (rasctl dial COM1 'DOM\\grace' --links 2)
  pladmin --machine $demo/ADMINPC    the console on ADMINPC (boot SRV1 and SRV2 first)
EOT
