#!/bin/sh
# A short session with the iniplace tool on a copy of device.ini.
# usage: demo.sh TOOL SAMPLE
set -e
tool=$1
cp "$2" device.ini

run() {
    echo "\$ iniplace $*"
    "$tool" "$@"
}

mtime() {
    stat -c %y device.ini
}

echo "---- device.ini before ----"
cat device.ini
echo "---------------------------"
run get device.ini net port
run get device.ini device serial --type string
run get device.ini device watchdog_ms --type long
run set device.ini net port 8081
run set device.ini net gateway 192.168.40.1
run add device.ini ntp ntp2.example.net
run entries device.ini ntp
run sections device.ini
run list device.ini
run list --format sh device.ini net

echo "\$ iniplace list --format json device.ini | python3 -m json.tool"
"$tool" list --format json device.ini | python3 -m json.tool

echo "# An edit that changes nothing leaves the file and its time alone:"
touch -d '2024-01-01 12:00' device.ini
echo "modified: $(mtime)"
run set --verbose device.ini net port 8081
run set --check device.ini net port 8081 || echo "(status $?: nothing to change)"
echo "modified: $(mtime)"
case $(mtime) in 2024-01-01\ 12:00:00.000000000*) ;; *) echo "the file was touched"; exit 1 ;; esac

echo "\$ printf '[net]\\\\nport = 8082\\\\n[ntp]\\\\nntp3.example.net\\\\n' | iniplace apply --verbose device.ini"
printf '[net]\nport = 8082\n[ntp]\nntp3.example.net\n' | "$tool" apply --verbose device.ini
run del device.ini log
echo "---- device.ini after -----"
cat device.ini
