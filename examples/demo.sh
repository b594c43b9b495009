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
run del device.ini log
echo "---- device.ini after -----"
cat device.ini
