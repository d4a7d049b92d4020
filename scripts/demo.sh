#!/usr/bin/env bash
# The demo network: provisions a server machine and a domain in a folder of the
# checkout and shows what is inside them with the administrator tools.
#   scripts/demo.sh DEMO_DIR      (PORTULON_BIN_DIR names the built programs)
set -euo pipefail

demo="${1:?usage: demo.sh DEMO_DIR}"
bin="${PORTULON_BIN_DIR:?PORTULON_BIN_DIR must name build/bin}"
export PATH="$bin:$PATH"
export PORTULON_BIN_DIR="$bin"

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
show() { printf '$ %s\n' "$*"; "$@"; }

# A fresh network every run: the demo leaves it in place for exploring
# afterwards, and the next run starts over.
rm -rf "$demo"
mkdir -p "$demo"
export PORTULON_NETWORK="$demo"
export PORTULON_MACHINE="$demo/SRV1"

step "A server machine: Windows NT 4.0 with the Remote Access Service"
show plmachine create "$demo/SRV1" --name SRV1 --os 4.0 --ras ras --domain DOM --ports 4

step "A domain with users and groups"
show pldomain create DOM --dc SRV1
show pldomain addgroup DOM "Dial-In Users"
show pldomain addgroup DOM Staff
show pldomain adduser DOM ann --groups "Dial-In Users;Staff"
show pldomain adduser DOM bob --groups "Dial-In Users"
show pldomain list DOM

step "Service settings in the machine's registry"
key='HKLM\Software\Quillfen Technologies\Portulon\Service'
show reg add "$key" /v IdleTimer /t REG_DWORD /d 10 /f
show reg add "$key" /v MasterShare /t REG_SZ /d '\\SRV1\PL_NT_DB' /f
show reg query "$key"

step "The machine"
show plmachine show

cat <<EOT

The demo network stays in $demo. To look inside it:
  export PORTULON_MACHINE=$demo/SRV1
  $bin/plmachine show
  $bin/reg query "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion"
  $bin/eventlog list System
EOT
