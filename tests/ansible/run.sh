#!/bin/sh
# The collection's module in playbooks, against hosts on the local
# connection, each with its own directory of files: the first run changes
# them as expected/ holds them, byte for byte; the second changes nothing;
# --check writes nothing; --diff shows the changes; an unknown argument
# fails the task, naming it; ansible-doc shows the module's documentation.
# usage: run.sh COLLECTIONS DATA (the build's ansible/ and tests/real)
set -eu
collections=$1
data=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ANSIBLE_COLLECTIONS_PATH="$collections" ANSIBLE_HOME="$work/home" \
    ANSIBLE_LOCAL_TEMP="$work/tmp" ANSIBLE_REMOTE_TMP="$work/remote" ANSIBLE_NOCOLOR=1 \
    ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_PYTHON_INTERPRETER=auto_silent
hosts="h1 h2 h3"
files="smb.conf php.ini gwd.service"

fail() {
    echo "FAIL: $*"
    cat "$work/out"
    exit 1
}

lay() {
    for host in $hosts; do
        mkdir -p "$work/$host"
        rm -f "$work/$host/device.ini"
        for file in $files; do cp "$data/$file" "$work/$host/"; done
    done
}

play() {
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
        for file in $files device.ini; do
            if [ -e "$1/$file" ]; then
                cmp -s "$1/$file" "$work/$host/$file" || fail "$host/$file differs from $1"
            else
                [ ! -e "$work/$host/$file" ] || fail "$host/$file was made"
            fi
        done
    done
}

for host in $hosts; do echo "$host ansible_connection=local root=$work/$host"; done > "$work/inventory"

ansible-doc iniplace.fleet.ini > "$work/out" 2>&1 || fail "ansible-doc"
grep -q "Edits an INI file on the host" "$work/out" || fail "no documentation"

lay
play "$here/site.yml" || fail "the first run"
recap "changed=6 "
same "$here/expected"
play "$here/site.yml" || fail "the second run"
recap "changed=0 "
same "$here/expected"

lay
play --check "$here/site.yml" || fail "the run in check mode"
recap "changed=6 "
same "$data"

play --check --diff "$here/site.yml" || fail "the run in diff mode"
grep -q '^+memory_limit = 256M' "$work/out" || fail "no diff"
grep -q '^-memory_limit = 128M' "$work/out" || fail "no diff"

if play "$here/bad.yml"; then fail "an unknown argument was taken"; fi
recap "failed=1 "
grep -q "unsupported parameters: optin" "$work/out" || fail "the argument is not named"
same "$data"
echo "the module: changed, idempotent, check and diff modes, refusal: all as expected"
