#!/usr/bin/env bash
# Installs the build into a temporary root and checks what lands there: every program, the units of the
# daemon, the admin service and the daily history fold (about which `systemd-analyze verify` must say nothing, with ExecStart
# pointing at the installed program, and which `systemd-analyze security` must rate 4.0 or better), the
# admin service's activation file, bus policy and polkit action, the logrotate rule (logrotate --debug), the
# autostart entry (desktop-file-validate), the PAM module with its pam-auth-update profile, the manual
# pages (man -l and lexgrog) and the bash completion.
#   packaging_test.sh BUILD_DIR PREFIX BUILD_MENU PAM_MODULE_DIR UNIT_DIR DOC_DIR MAN_DIR
set -euo pipefail
build=$1 prefix=$2 menu=$3 pam_dir=$4 unit_dir_installed=$5 doc_dir=$6 man_dir=$7

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
for program in horaveld horavelset horavelctl horavel-admind; do expect "$prefix/sbin/$program"; done
expect "$unit_dir_installed/horaveld.service"
expect "$unit_dir_installed/horavel-admind.service"
expect "$unit_dir_installed/horavel-history-fold.service"
expect "$unit_dir_installed/horavel-history-fold.timer"
expect "$prefix/share/dbus-1/system.d/org.horavel.Admin1.conf"
expect "$prefix/share/dbus-1/system-services/org.horavel.Admin1.service"
expect "$prefix/share/polkit-1/actions/org.horavel.manage.policy"
expect /etc/logrotate.d/horavel
expect "$pam_dir/pam_horavel.so"
expect /usr/share/pam-configs/horavel
expect "$doc_dir/README.md"
expect "$doc_dir/examples/kid-policy.json"
expect "$doc_dir/POLICY_FORMAT.md"
expect "$prefix/share/bash-completion/completions/horavelctl"
pages=(man8/horaveld.8 man8/horavel-admind.8 man8/horavelset.8 man8/horavelctl.8 man8/pam_horavel.8 man5/horavel-policy.5)
if [ "$menu" = ON ]; then
  expect "$prefix/bin/HoravelMenu"
  expect /etc/xdg/autostart/horavelmenu.desktop
  expect "$prefix/bin/horavel-settings"
  expect "$prefix/share/applications/horavel-settings.desktop"
  expect "$prefix/share/horavel/translations/horavel-settings_de.qm"
  expect "$prefix/share/horavel/translations/HoravelMenu_de.qm"
  pages+=(man1/HoravelMenu.1 man1/horavel-settings.1)
fi
for page in "${pages[@]}"; do expect "$man_dir/$page"; done
[ $status -eq 0 ] || exit 1

unit_dir=$root/units
mkdir "$unit_dir"
sed "s#^ExecStart=.*#ExecStart=$root$prefix/sbin/horaveld#" "$root$unit_dir_installed/horaveld.service" \
  >"$unit_dir/horaveld.service"
grep -qx "ExecStart=$prefix/sbin/horaveld" "$root$unit_dir_installed/horaveld.service" || {
  echo "FAIL: the unit does not start $prefix/sbin/horaveld"; exit 1; }
for setting in Type=forking PIDFile=/var/run/horavel.pid; do
  grep -qx "$setting" "$unit_dir/horaveld.service" || { echo "FAIL: the unit lacks $setting"; exit 1; }
done
sed "s#^ExecStart=.*#ExecStart=$root$prefix/sbin/horavel-admind#" "$root$unit_dir_installed/horavel-admind.service" \
  >"$unit_dir/horavel-admind.service"
grep -qx "ExecStart=$prefix/sbin/horavel-admind" "$root$unit_dir_installed/horavel-admind.service" || {
  echo "FAIL: the admin service's unit does not start $prefix/sbin/horavel-admind"; exit 1; }
sed "s#^ExecStart=$prefix/sbin/horavelctl #ExecStart=$root$prefix/sbin/horavelctl #" \
  "$root$unit_dir_installed/horavel-history-fold.service" >"$unit_dir/horavel-history-fold.service"
grep -qx "ExecStart=$prefix/sbin/horavelctl history --fold" "$root$unit_dir_installed/horavel-history-fold.service" || {
  echo "FAIL: the history fold's unit does not run $prefix/sbin/horavelctl history --fold"; exit 1; }
cp "$root$unit_dir_installed/horavel-history-fold.timer" "$unit_dir/"
grep -qx "WantedBy=timers.target" "$unit_dir/horavel-history-fold.timer" || {
  echo "FAIL: the history fold's timer is not wanted by timers.target"; exit 1; }
# The bus starts the admin service through systemd: the activation file must name the unit, and the
# unit must be of Type=dbus for the name the activation file serves.
for setting in Type=dbus BusName=org.horavel.Admin1; do
  grep -qx "$setting" "$unit_dir/horavel-admind.service" || { echo "FAIL: the admin unit lacks $setting"; exit 1; }
done
for setting in Name=org.horavel.Admin1 SystemdService=horavel-admind.service; do
  grep -qx "$setting" "$root$prefix/share/dbus-1/system-services/org.horavel.Admin1.service" || {
    echo "FAIL: the activation file lacks $setting"; exit 1; }
done
if command -v xmllint >/dev/null; then
  for xml in dbus-1/system.d/org.horavel.Admin1.conf polkit-1/actions/org.horavel.manage.policy; do
    xmllint --noout "$root$prefix/share/$xml" || { echo "FAIL: $xml is not well-formed XML"; exit 1; }
  done
fi
for sandboxing in ProtectHome PrivateIPC PrivateDevices PrivateNetwork; do
  if grep -q "^$sandboxing=" "$unit_dir/horaveld.service"; then
    echo "FAIL: the unit sets $sandboxing, which cuts the daemon off from homes, the channel or interfaces"
    exit 1
  fi
done
# verify also loads the units ours names (dbus.service, network.target...) and reports what it finds
# wrong in the host's: only the lines about our own units count, and so does its status only when
# one of them is at fault.
ours=$(cd "$unit_dir" && ls)
messages=$(systemd-analyze verify "$unit_dir"/* 2>&1) && verified=0 || verified=$?
about_ours=$(grep -F "$ours" <<<"$messages" || true)
if [ -n "$about_ours" ] || { [ $verified -ne 0 ] && [ -z "$messages" ]; }; then
  echo "$messages"; echo "FAIL: systemd-analyze verify has something to say about our units"; exit 1
fi
# The unit's sandbox: systemd's own rating must stay in its "OK" band or better (4.0 and below; the
# daemon's unit rated 9.6 before it was confined).
for unit in horaveld.service horavel-admind.service horavel-history-fold.service; do
  security=$(systemd-analyze security --offline=true --threshold=40 "$unit_dir/$unit" 2>&1) || {
    echo "$security"; echo "FAIL: systemd-analyze security rates $unit above 4.0"; exit 1; }
  grep "Overall exposure level" <<<"$security" || { echo "$security"; echo "FAIL: $unit was not rated"; exit 1; }
done
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
    desktop-file-validate "$root$prefix/share/applications/horavel-settings.desktop" || {
      echo "FAIL: desktop-file-validate rejects the settings application's entry"; exit 1; }
  else
    echo "note: desktop-file-validate is not installed (scripts/install-deps); the entry was not checked"
  fi
fi
# Each page must render without a warning and carry a NAME line that whatis and apropos can index.
if ! command -v man >/dev/null; then
  echo "note: man is not installed (scripts/install-deps); the manual pages were not checked"
  pages=()
fi
for page in "${pages[@]}"; do
  file=$root$man_dir/$page
  name=$(basename "$page"); name=${name%.*}
  warnings=$(MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then echo "$warnings"; echo "FAIL: man reports problems in $page"; exit 1; fi
  if command -v lexgrog >/dev/null; then
    lexgrog "$file" | grep -q "\"$name - " || { lexgrog "$file"; echo "FAIL: $page has no NAME line for $name"; exit 1; }
  fi
done
# The completion must load in bash, name every command and subcommand and complete setting keys.
completion=$root$prefix/share/bash-completion/completions/horavelctl
words=$(bash -c '
  _init_completion() { cur=${COMP_WORDS[COMP_CWORD]}; prev=${COMP_WORDS[COMP_CWORD-1]}; words=("${COMP_WORDS[@]}"); cword=$COMP_CWORD; }
  compopt() { :; }
  source "$1"
  COMP_WORDS=(horavelctl ""); COMP_CWORD=1; _horavelctl; echo "${COMPREPLY[*]}"
  COMP_WORDS=(horavelctl settings set warn); COMP_CWORD=3; _horavelctl; echo "${COMPREPLY[*]}"
  COMP_WORDS=(horavelctl settings set ""); COMP_CWORD=3; _horavelctl; echo "${COMPREPLY[*]}"
  COMP_WORDS=(horavelctl settings ""); COMP_CWORD=2; _horavelctl; echo "${COMPREPLY[*]}"
  COMP_WORDS=(horavelctl policy ""); COMP_CWORD=2; _horavelctl; echo "${COMPREPLY[*]}"
  COMP_WORDS=(horavelctl history --); COMP_CWORD=2; _horavelctl; echo "${COMPREPLY[*]}"' bash "$completion") || {
  echo "$words"; echo "FAIL: the bash completion does not load"; exit 1; }
for word in decode encode settings policy grant logout status history doctor --version warntime= warnmsg= warnonce= \
  grantmsg= netmethod= reset list remove --fold; do
  grep -qw -- "$word" <<<"$words" || { echo "$words"; echo "FAIL: the completion does not offer $word"; exit 1; }
done
echo "PASS: installed tree, unit, log rule, autostart entry, manual pages and completion verified"
