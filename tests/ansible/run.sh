#!/bin/sh
# The collection's module in playbooks, against hosts on a local connection
# that counts the bytes it sends, each host with its own directory of
# files: the first run copies the module program to the host once and
# changes the files as expected/ holds them, byte for byte, with at most
# 10 KB sent for each task after a host's first; the second, with the
# program kept, changes nothing; --check writes nothing, with the program
# copied for each task and, as root, the arguments in a file (become
# through su), and --diff shows the changes; each way a task fails gives its message in
# the module's words and changes nothing; ansible-doc lists and shows the
# module.
# With SYSROOT, the hosts have no Python: they share a root of BusyBox
# (static) and the C library the module program loads (from SYSROOT: / for
# this machine, where a cross build's target libraries are otherwise),
# reached through the chroot connection; the first run and the second are
# made there. Skipped (77) unless root, with busybox-static, where the
# program runs in the root (a cross build's through qemu's binfmt_misc).
# usage: run.sh COLLECTIONS DATA [SYSROOT] (the build's ansible/, tests/real)
set -eu
collections=$1
data=$2
sysroot=${3-}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
program=$collections/ansible_collections/iniplace/fleet/files/iniplace-module
export ANSIBLE_COLLECTIONS_PATH="$collections" ANSIBLE_HOME="$work/home" HOME="$work" \
    ANSIBLE_LOCAL_TEMP="$work/tmp" ANSIBLE_REMOTE_TMP="$work/remote" ANSIBLE_NOCOLOR=1 \
    ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_PYTHON_INTERPRETER=auto_silent \
    ANSIBLE_CONNECTION_PLUGINS="$here/connection_plugins" INIPLACE_COUNT_LOG="$work/count"
hosts="h1 h2 h3"
files="smb.conf php.ini gwd.service windows.ini my.cnf setup.cfg weather.repo"

fail() {
    echo "FAIL: $*"
    cat "$work/out"
    exit 1
}

skip() {
    echo "skipped: $*"
    exit 77
}

# A root holding BusyBox, its commands, and the program's C library alone,
# in which the hosts' directories have the paths they have here.
make_root() {
    [ "$(id -u)" = 0 ] || skip "chroot needs root"
    busybox=$(command -v busybox) || skip "no busybox"
    ! readelf -l "$busybox" | grep -q INTERP || skip "busybox is not static (busybox-static)"
    root=$work/root
    mkdir -p "$root/bin" "$root/sbin" "$root/usr/bin" "$root/usr/sbin" "$root$work"
    cp "$busybox" "$root/bin/busybox"
    chroot "$root" /bin/busybox --install -s
    if [ "$sysroot" = / ]; then
        libraries=$(ldd "$program" | awk '$2 == "=>" { print $3 } $1 ~ /^\// { print $1 }')
    else
        libraries="$(readelf -l "$program" | sed -n 's/.*interpreter: \(.*\)]/\1/p')
            $(readelf -d "$program" | sed -n 's/.*Shared library: \[\(.*\)\]/\/lib\/\1/p')"
    fi
    for library in $libraries; do
        mkdir -p "$root${library%/*}"
        cp -L "${sysroot%/}$library" "$root$library"
    done
    cp "$program" "$root/bin/ini"
    status=0
    chroot "$root" /bin/ini > /dev/null 2>&1 || status=$?
    [ "$status" = 2 ] || skip "the module program does not run in the root ($status)"
    rm "$root/bin/ini"
    ! find "$root" -name "python*" | grep -q . || fail "Python in the root"
}

lay() {
    for host in $hosts; do
        rm -rf "${base:?}/$host"
        mkdir -p "$base/$host"
        for file in $files; do cp "$data/$file" "$base/$host/"; done
    done
}

play() {
    : > "$work/count"
    ansible-playbook -i "$work/inventory" "$@" > "$work/out" 2>&1
}

# Each host's recap shows `$1`.
recap() {
    for host in $hosts; do
        grep -q "^$host .*$1" "$work/out" || fail "$host: no $1"
    done
}

# Each host's files are those `$1` holds.
same() {
    for host in $hosts; do
        for file in $files device.ini app.ini missing.ini; do
            if [ -e "$1/$file" ]; then
                cmp -s "$1/$file" "$base/$host/$file" || fail "$host/$file differs from $1"
            else
                [ ! -e "$base/$host/$file" ] || fail "$host/$file was made"
            fi
        done
    done
}

# The most bytes a task sent in the last run, each host's first task left
# out (the hosts run each task before the next one starts).
most_per_task() {
    awk -v first=3 '!($1 in task) { task[$1] = ++tasks } { sent[$1] += $2 }
        END { for (t in sent) if (task[t] > first && sent[t] > most) most = sent[t]; print most + 0 }' \
        "$work/count"
}

if [ -n "$sysroot" ]; then
    make_root
    base=$root$work
    for host in $hosts; do
        echo "$host ansible_connection=community.general.chroot ansible_host=$root root=$work/$host"
    done > "$work/inventory"
    lay
    play "$here/site.yml" || fail "the first run without Python"
    recap "changed=17 "
    same "$here/expected"
    play "$here/site.yml" || fail "the second run without Python"
    recap "changed=0 "
    same "$here/expected"
    echo "the module on hosts without Python: changed as expected, then idempotent"
    exit 0
fi

base=$work
for host in $hosts; do echo "$host ansible_connection=counted root=$work/$host"; done > "$work/inventory"

ansible-doc -l iniplace.fleet > "$work/out" 2>&1 || fail "ansible-doc -l"
grep -q "^iniplace.fleet.ini  *Set, delete and list settings" "$work/out" || fail "not listed"
! grep -q WARNING "$work/out" || fail "ansible-doc -l warns"
ansible-doc iniplace.fleet.ini > "$work/out" 2>&1 || fail "ansible-doc"
grep -q "Edits an INI file on the host" "$work/out" || fail "no documentation"

lay
play "$here/site.yml" || fail "the first run"
recap "changed=17 "
same "$here/expected"
[ "$(most_per_task)" -le 10240 ] || fail "a task after the first sent $(most_per_task) bytes"
echo "the first run: at most $(most_per_task) bytes sent for a task after a host's first"
kept=$(ls "$work/.ansible/iniplace")
[ "$(ls -ld "$work/.ansible/iniplace" | cut -c1-10)" = drwx------ ] || fail "the directory is not owner-only"
play "$here/site.yml" || fail "the second run"
recap "changed=0 "
same "$here/expected"
[ "$(ls "$work/.ansible/iniplace")" = "$kept" ] || fail "the program was not kept"

lay
# Root becomes itself through su, which takes the arguments in a file; a
# user could not su without a password.
become=
[ "$(id -u)" != 0 ] || become="-e ansible_become=true -e ansible_become_method=su"
# shellcheck disable=SC2086 # the options are words of their own
play --check --diff -e iniplace_tool_dir= $become "$here/site.yml" ||
    fail "the run in check mode, the program copied for each task"
recap "changed=17 "
same "$data"
grep -q '^+memory_limit = 256M' "$work/out" || fail "no diff"
grep -q '^-memory_limit = 128M' "$work/out" || fail "no diff"

if play "$here/bad.yml"; then fail "an unknown argument was taken"; fi
recap "ok=2 .*failed=1 .*ignored=1 "
grep -q "unsupported parameters: optin" "$work/out" || fail "the argument is not named"
same "$data"
echo "the module: changed, kept on the host, idempotent, check and diff modes, failures: as expected"
