#!/usr/bin/env bash
# Installs the Debian package and uses the installed files as a user would:
# pairwell-cli's help, a check and a synchronisation of a small project with
# the configuration and the log in the user's folders (and with --config),
# the bash completion, the manual pages in the POSIX locale, the systemd user
# unit checked offline, lintian's verdict on the package, the window's first
# start, and (with --system) that dpkg -r leaves nothing behind.
# Usage: tests/package/install_test.sh [--system] pairwell_<version>_amd64.deb
#   By default the package is unpacked into a scratch root (dpkg -x). With
#   --system (root only, as in CI) it is installed with dpkg -i and removed
#   again at the end.
set -euo pipefail
system=no
if [ "${1:-}" = --system ]; then
    system=yes
    shift
fi
deb=$(realpath "${1:?usage: install_test.sh [--system] PACKAGE.deb}")
scratch=$(mktemp -d)
installed=no
cleanup() {
    set +e
    if [ -n "${window:-}" ]; then
        kill "$window" 2>/dev/null
        wait "$window" 2>/dev/null
    fi
    if [ "$installed" = yes ]; then
        dpkg -r pairwell >/dev/null
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

if [ "$system" = yes ]; then
    [ "$(id -u)" -eq 0 ] || fail "--system needs root"
    if dpkg-query -W -f='${Status}' pairwell 2>/dev/null | grep -q 'install ok installed'; then
        fail "pairwell is installed on this machine already; this test would remove it"
    fi
    dpkg -i "$deb" >/dev/null
    installed=yes
    usr=/usr
else
    dpkg -x "$deb" "$scratch/root"
    usr=$scratch/root/usr
fi
cli=$usr/bin/pairwell-cli
for file in bin/pairwell bin/pairwell-cli share/pairwell/log/index.htm share/pairwell/log/log.xsl \
    share/pairwell/log/list.xml "share/pairwell/Pairwell使用说明.html" share/applications/pairwell.desktop \
    share/icons/hicolor/scalable/apps/pairwell.svg share/man/man1/pairwell-cli.1.gz share/man/man1/pairwell.1.gz \
    share/bash-completion/completions/pairwell-cli share/systemd/user/pairwell.service \
    share/doc/pairwell/copyright share/doc/pairwell/changelog.gz; do
    [ -s "$usr/$file" ] || fail "the package does not install $usr/$file"
done
grep -qx 'ExecStart=/usr/bin/pairwell-cli daemon' "$usr/share/systemd/user/pairwell.service" ||
    fail "the service does not start /usr/bin/pairwell-cli"

help=$("$cli" --help) && [[ $help == "Usage: pairwell-cli"* ]] || fail "pairwell-cli --help"

# Every error and warning of lintian fails. None needs excusing now; one that
# must stay gets its reason in the package's override file
# (/usr/share/lintian/overrides/pairwell), which lintian reads by itself.
lintian --fail-on error,warning --tag-display-limit 0 "$deb" >"$scratch/lintian.out" 2>&1 ||
    fail "lintian: $(cat "$scratch/lintian.out")"

# The manual pages read whole in a new account's POSIX locale: groff warns of
# every character it cannot show there.
for page in pairwell pairwell-cli; do
    problems=$(LANG=C LC_ALL=C MANWIDTH=80 man -l "$usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
    [ -z "$problems" ] || fail "man $page in the POSIX locale: $problems"
done

# The user unit as systemd reads it, and no more exposed than it is now.
unit=$scratch/pairwell.service
sed "s|^ExecStart=/usr/bin/|ExecStart=$usr/bin/|" "$usr/share/systemd/user/pairwell.service" >"$unit"
systemd-analyze verify --man=no "$unit" >"$scratch/verify.out" 2>&1 && [ ! -s "$scratch/verify.out" ] ||
    fail "systemd-analyze verify: $(cat "$scratch/verify.out")" # an unknown key is only a message
systemd-analyze security --offline=true --threshold=35 "$unit" >"$scratch/security.out" 2>&1 ||
    fail "the unit is more exposed than 3.5: $(tail -1 "$scratch/security.out")"

# The user's folders, and a small project in the default configuration.
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/config XDG_DATA_HOME=$scratch/data
export XDG_RUNTIME_DIR=$scratch/runtime
mkdir -p "$HOME" "$XDG_CONFIG_HOME/pairwell" "$XDG_RUNTIME_DIR" "$scratch/source/sub"
chmod 700 "$XDG_RUNTIME_DIR"
echo one >"$scratch/source/a.txt"
echo two >"$scratch/source/sub/b.txt"
printf '[project_demo]\nsource=%s\ntarget=%s\n' "$scratch/source" "$scratch/target" \
    >"$XDG_CONFIG_HOME/pairwell/pairwell.ini"

[ "$("$cli" projects)" = demo ] || fail "projects does not read \$XDG_CONFIG_HOME/pairwell/pairwell.ini"
plan=$("$cli" check demo)
[ "$plan" = "$(printf 'new\ta.txt\nnew\tsub/b.txt')" ] || fail "check demo printed: $plan"
"$cli" sync demo >/dev/null || fail "sync demo"
[ "$(cat "$scratch/target/sub/b.txt")" = two ] || fail "sync demo did not copy"
log=$XDG_DATA_HOME/pairwell/log
for file in index.htm log.xsl list.xml "$(date +%Y.%m.%d).xml"; do
    [ -s "$log/$file" ] || fail "the run log lacks $log/$file"
done
[ ! -e "$usr/bin/pairwell.ini" ] && [ ! -e "$usr/bin/log" ] || fail "files were written beside the program"

# --config names another configuration, logged beside it.
mkdir -p "$scratch/other"
printf '[project_elsewhere]\nsource=%s\ntarget=%s\n' "$scratch/source" "$scratch/target2" >"$scratch/other/my.ini"
"$cli" --config "$scratch/other/my.ini" sync elsewhere >/dev/null || fail "sync with --config"
[ -s "$scratch/other/log/index.htm" ] && [ -s "$scratch/other/log/$(date +%Y.%m.%d).xml" ] ||
    fail "the run with --config was not logged beside its file"

# The completion offers the commands, and names from the configuration on the line.
complete_line() { # words of the line; the last is the one being completed
    PATH=$usr/bin:$PATH bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
        _pairwell_cli; printf "%s\n" "${COMPREPLY[@]}"' - \
        "$usr/share/bash-completion/completions/pairwell-cli" "$@"
}
[ "$(complete_line pairwell-cli ru)" = run-job ] || fail "completion of a command"
[ "$(complete_line pairwell-cli sync d)" = demo ] || fail "completion of a project"
[ "$(complete_line pairwell-cli --config "$scratch/other/my.ini" check '')" = elsewhere ] ||
    fail "completion of a project from --config"

# The window's first start makes the user's folders and puts the viewer there.
rm -rf "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
QT_QPA_PLATFORM=offscreen "$usr/bin/pairwell" >"$scratch/window.out" 2>&1 &
window=$!
for _ in $(seq 100); do
    [ -s "$XDG_DATA_HOME/pairwell/log/list.xml" ] && break
    kill -0 "$window" 2>/dev/null || break
    sleep 0.2
done
[ -d "$XDG_CONFIG_HOME/pairwell" ] && [ -s "$XDG_DATA_HOME/pairwell/log/index.htm" ] &&
    [ -s "$XDG_DATA_HOME/pairwell/log/list.xml" ] ||
    fail "the window's first start did not prepare the user's folders: $(cat "$scratch/window.out")"
sleep 3
kill -0 "$window" 2>/dev/null || fail "the window ended: $(cat "$scratch/window.out")"
kill "$window"
wait "$window" 2>/dev/null || true
window=""

# dpkg -r takes away every file of the package, and every folder no other
# package shares; nothing (no conffile) is kept for a purge.
if [ "$system" = yes ]; then
    dpkg -L pairwell >"$scratch/files"
    dpkg -r pairwell >/dev/null
    installed=no
    while IFS= read -r path; do
        if [ "$path" != /. ] && { [ -e "$path" ] || [ -L "$path" ]; }; then
            [ -d "$path" ] && dpkg-query -S "$path" >/dev/null 2>&1 || fail "dpkg -r left $path behind"
        fi
    done <"$scratch/files"
    status=$(dpkg-query -W -f='${db:Status-Status}' pairwell 2>/dev/null || true)
    [ -z "$status" ] || [ "$status" = not-installed ] || fail "dpkg -r left the package $status"
fi
echo "package install test passed ($deb, $([ "$system" = yes ] && echo dpkg -i || echo dpkg -x))"
