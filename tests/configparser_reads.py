#!/usr/bin/env python3
"""Tells whether the keys and values the iniplace tool lists are those
Python's configparser reads. Arguments: pairs of an INI file and the JSON of
`iniplace list --format json` on it. configparser reads not strict (a
repeated section is one, a repeated key reads as its last value), with = as
the only delimiter, no interpolation, names as written, keys without a
value (entries) left out; a file it cannot read (keys before the first
header, say) is passed over. Exits 0 when all agree, 1 with the
differences."""

import configparser
import json
import sys


def read(path):
    parser = configparser.ConfigParser(strict=False, delimiters=("=",), interpolation=None,
                                       allow_no_value=True, default_section="\0none",
                                       comment_prefixes=("#", ";"), empty_lines_in_values=False)
    parser.optionxform = str
    with open(path, encoding="utf-8-sig", errors="surrogateescape") as text:
        parser.read_file(text)
    return {section: {key: value for key, value in parser[section].items() if value is not None}
            for section in parser.sections()}


def differences(path, listing):
    try:
        expected = read(path)
    except configparser.Error:
        return 0
    with open(listing, encoding="utf-8") as text:
        listed = json.load(text)
    listed.pop("", None)  # the preamble, which configparser does not read
    found = 0
    for section in sorted(set(listed) | set(expected)):
        if listed.get(section) != expected.get(section):
            print(f"{path} [{section}]: iniplace {listed.get(section)!r}, "
                  f"configparser {expected.get(section)!r}")
            found += 1
    return found


def main():
    pairs = zip(sys.argv[1::2], sys.argv[2::2])
    return 1 if sum(differences(path, listing) for path, listing in pairs) else 0


if __name__ == "__main__":
    sys.exit(main())
