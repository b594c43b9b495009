# The documentation of the iniplace module for ansible-doc. The module
# itself is a program built for the hosts' architecture (files/ in the
# collection), which the action plugin of the same name (plugins/action/)
# copies to each host once and runs there, so the host needs no Python.

DOCUMENTATION = r'''
module: ini
short_description: Set, delete and list settings in INI files in place, without Python on the host
description:
  - Edits an INI file on the host the way the common INI tools read it, changing only the lines a
    task names and keeping the file's own layout, line ends and comments.
  - The edit is made in place, under the file's lock, so other writers that use iniplace take turns;
    a new file appears whole or not at all. Built in its durable variant, every edit is journaled
    and survives a crash or a power loss.
  - The module is a native program (the iniplace tool's module), so the host needs no Python. Its
    action plugin copies it to each host once, into I(iniplace_tool_dir), and each later task
    sends only its arguments.
options:
  path:
    description:
      - The INI file to edit. C(~) at its start and environment variables (C($NAME), C(${NAME}))
        are expanded on the host, as for Ansible's own modules.
    type: path
    required: true
  section:
    description:
      - The section, by its header; all its parts when its header appears more than once.
      - C(null) means the lines before the first header.
    type: str
    required: true
  option:
    description: The key to set or delete. Keys are matched whole, spaces included.
    type: str
  value:
    description:
      - The value of I(option), with I(state=present).
      - A YAML number or boolean is written as Ansible writes it (C(1.05), C(8080), C(True)).
    type: str
  state:
    description:
      - C(present) sets I(option) to I(value), adds the I(entries), or makes the section.
      - C(absent) deletes every line of I(option), removes the I(entries), or deletes the section.
    type: str
    choices: [present, absent]
    default: present
  create:
    description: Make the file when it is missing; with C(false) a missing file fails the task.
    type: bool
    default: true
  entries:
    description: Lines of a section used as a list, added unless present, or removed.
    type: list
    elements: str
  type:
    description: Write I(value) as a number in the library's formats, or in double quotes.
    type: str
    choices: [string, long, ulong, hex, bin]
  ignore_case:
    description: Match section and key names without regard to ASCII case.
    type: bool
    default: false
notes:
  - Supports check mode and diff mode.
  - The module program is kept on each host in the directory the variable I(iniplace_tool_dir)
    names, C(~/.ansible/iniplace) by default. It is made owner-only when missing; a directory
    others may write to is refused, as is a place a directory others may write leads through
    (sticky ones, like C(/tmp), excepted). It must be on a file system where programs may run
    (not mounted noexec). With I(iniplace_tool_dir) empty, each task copies the program into
    Ansible's temporary directory on the host (I(ansible_remote_tmp)), which then must allow
    programs to run.
  - The task's arguments go to the program on its standard input, or, with a I(become) plugin
    that Ansible does not pipe through (pipelining off, or su), in a file in
    I(ansible_remote_tmp).
  - The host needs a POSIX shell with C(ls), C(id), C(mkdir), C(cp), C(mv) and C(sha256sum)
    (BusyBox has them) and nothing else.
  - A key that stands on several lines of its section makes I(state=present) fail, naming the
    lines; I(state=absent) deletes them all.
author:
  - iniplace maintainers
'''

EXAMPLES = r'''
- name: Raise PHP's memory limit
  iniplace.fleet.ini:
    path: /etc/php/8.2/fpm/php.ini
    section: PHP
    option: memory_limit
    value: 256M

- name: A Samba setting whose key holds spaces
  iniplace.fleet.ini:
    path: /etc/samba/smb.conf
    section: global
    option: server string
    value: Gateway %v

- name: NTP servers as a list section
  iniplace.fleet.ini:
    path: /etc/gw/device.ini
    section: ntp
    entries:
      - ntp1.example.net
      - ntp2.example.net

- name: No debug setting left
  iniplace.fleet.ini:
    path: /etc/gw/device.ini
    section: log
    option: debug
    state: absent
'''

RETURN = r'''
changed:
  description: Whether the file changed (in check mode, whether it would).
  type: bool
  returned: always
path:
  description: The file.
  type: str
  returned: success
msg:
  description: changed, would change or unchanged; on failure, why.
  type: str
  returned: always
diff:
  description: The text around the changed lines before and after, the whole file when it is small.
  type: dict
  returned: in diff mode, when the file changed
'''
