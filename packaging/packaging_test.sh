#!/usr/bin/env bash
# Installs the build into a temporary root and checks what lands there: every program, the unit (which
# `systemd-analyze verify` must accept without a single message, with ExecStart pointing at the
# installed daemon, and `systemd-analyze security` must rate 4.0 or better), the logrotate rule
# (logrotate --debug), the autostart entry (desktop-file-validate) and the PAM module with its
# pam-auth-update profile.
#   packaging_test.sh BUILD_DIR PREFIX BUILD_MENU PAM_MODULE_DIR
set -euo pipefail
build=$1 prefix=$2 menu=$3 pam_dir=$4

if ! command -v systemd-analyze >/dev/null; then
  echo "SKIP: systemd-analyze is not installed"
  exit 77
fi
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

DESTDIR=$root cmake --install "$build" --prefix "$prefix" >"$root.log" 2>&1 || {
  cat "$root.log"; rm -f "$root.log"; echo "FAIL: cmake --install"; exit 1; }
rm -f "$root.log"

status=0
expect() {
  if [ ! -e "$root$1" ]; then echo "FAIL: $1 was not installed"; status=1; fi
}
for program in horaveld horavelset horavelctl; do expect "$prefix/sbin/$program"; done
expect "$prefix/lib/systemd/system/horaveld.service"
expect /etc/logrotate.d/horavel
expect "$pam_dir/pam_horavel.so"
expect /usr/share/pam-configs/horavel
expect "$prefix/share/doc/Horavel/README.md"
expect "$prefix/share/doc/Horavel/examples/kid-policy.json"
if [ "$menu" = ON ]; then
  expect "$prefix/bin/HoravelMenu"
  expect /etc/xdg/autostart/horavelmenu.desktop
fi
[ $status -eq 0 ] || exit 1

unit_dir=$root/units
mkdir "$unit_dir"
sed "s#^ExecStart=.*#ExecStart=$root$prefix/sbin/horaveld#" "$root$prefix/lib/systemd/system/horaveld.service" \
  >"$unit_dir/horaveld.service"
grep -qx "ExecStart=$prefix/sbin/horaveld" "$root$prefix/lib/systemd/system/horaveld.service" || {
  echo "FAIL: the unit does not start $prefix/sbin/horaveld"; exit 1; }
for setting in Type=forking PIDFile=/var/run/horavel.pid; do
  grep -qx "$setting" "$unit_dir/horaveld.service" || { echo "FAIL: the unit lacks $setting"; exit 1; }
done
for sandboxing in ProtectHome PrivateIPC PrivateDevices PrivateNetwork; do
  if grep -q "^$sandboxing=" "$unit_dir/horaveld.service"; then
    echo "FAIL: the unit sets $sandboxing, which cuts the daemon off from homes, the channel or interfaces"
    exit 1
  fi
done
messages=$(systemd-analyze verify "$unit_dir/horaveld.service" 2>&1) || {
  echo "$messages"; echo "FAIL: systemd-analyze verify failed"; exit 1; }
if [ -n "$messages" ]; then
  echo "$messages"; echo "FAIL: systemd-analyze verify has something to say about the unit"; exit 1
fi
# The unit's sandbox: systemd's own rating must stay in its "OK" band or better (4.0 and below; the
# daemon's unit rated 9.6 before it was confined).
security=$(systemd-analyze security --offline=true --threshold=40 "$unit_dir/horaveld.service" 2>&1) || {
  echo "$security"; echo "FAIL: systemd-analyze security rates the unit above 4.0"; exit 1; }
grep "Overall exposure level" <<<"$security" || { echo "$security"; echo "FAIL: the unit was not rated"; exit 1; }
# The logrotate rule and the autostart entry, with their own checkers when they are installed.
if command -v logrotate >/dev/null; then
  messages=$(logrotate --debug --state "$root/logrotate.state" "$root/etc/logrotate.d/horavel" 2>&1) || {
    echo "$messages"; echo "FAIL: logrotate rejects the rule"; exit 1; }
  if grep -qi error <<<"$messages"; then echo "$messages"; echo "FAIL: logrotate complains about the rule"; exit 1; fi
  grep -q "rotating pattern: /var/log/hvl.log" <<<"$messages" || {
    echo "$messages"; echo "FAIL: the rule does not rotate /var/log/hvl.log"; exit 1; }
else
  echo "note: logrotate is not installed (scripts/install-deps); the rule was not checked"
fi
if [ "$menu" = ON ]; then
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$root/etc/xdg/autostart/horavelmenu.desktop" || {
      echo "FAIL: desktop-file-validate rejects the autostart entry"; exit 1; }
  else
    echo "note: desktop-file-validate is not installed (scripts/install-deps); the entry was not checked"
  fi
fi
echo "PASS: installed tree, unit, log rule and autostart entry verified"
