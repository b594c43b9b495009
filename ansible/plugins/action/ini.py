# The action behind iniplace.fleet.ini. It runs the collection's module
# program on the host, which needs no Python there. The program is copied
# to each host once: into the directory iniplace_tool_dir names
# (~/.ansible/iniplace by default), which it checks nobody else may
# change, under a name that carries the program's checksum, so a later
# task or run finds it there and a new collection puts its own beside it
# (the old one removed). Each task then sends its arguments alone, on the
# program's standard input. With iniplace_tool_dir empty, each task copies
# the program as Ansible copies a binary module.

import hashlib
import json
import os
import re
import secrets
import shlex

from ansible.errors import AnsibleActionFail
from ansible.plugins.action import ActionBase
from ansible.vars.clean import remove_internal_keys

PROGRAM = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir,
                       'files', 'iniplace-module')
DEFAULT_DIRECTORY = '~/.ansible/iniplace'
# The shell's status for a program it did not find, and one it could not run.
NOT_FOUND, NOT_RUNNABLE = 127, 126
UNSAFE, NOT_KEPT = 72, 73

# Looks at the directory and the program in it: the directory is made
# owner-only if missing; it and every directory above it must belong to
# the user or root, and none may be writable by others, except that a
# directory above may be when its sticky bit keeps others from renaming
# what is not theirs (as in /tmp). Prints the directory's real path and
# the program's checksum, if it is there.
PROBE = r'''umask 077
mkdir -p {directory} && cd {directory} && here=$(pwd -P) || exit 70
unsafe() {{ echo "$1"; exit {unsafe}; }}
[ -n "$(command -v sha256sum)" ] || unsafe "the host has no sha256sum"
me=$(id -u)
p=$here
while :; do
    set -- $(ls -ldn "$p")
    case $3 in "$me"|0) ;; *) unsafe "$p belongs to user $3";; esac
    case $1 in ?????w*|????????w*)
        [ "$p" != "$here" ] || unsafe "others may write to $p"
        case $1 in ?????????[tT]*) ;; *) unsafe "others may write to $p";; esac;;
    esac
    [ "$p" = / ] && break
    p=${{p%/*}}; p=${{p:-/}}
done
t=$here/{name}
if [ -e "$t" ] || [ -h "$t" ]; then
    set -- $(ls -ldn "$t")
    case $1 in -????-??-*) ;; *) unsafe "$t is no file that its owner alone may change";; esac
    case $3 in "$me"|0) ;; *) unsafe "$t belongs to user $3";; esac
    set -- $(sha256sum "$t") && echo "sum $1"
fi
echo "dir $here"
'''

# Puts the copy of the program at its name in the directory, once its
# checksum is the collection's, and removes the programs of other
# collections there.
INSTALL = r'''umask 077
t={directory}/{name}; new={directory}/.{name}.{nonce}
cp {source} "$new" && chmod 700 "$new" && set -- $(sha256sum "$new") && [ "$1" = {checksum} ] &&
    mv -f "$new" "$t" || {{ rm -f "$new"; exit {not_kept}; }}
for old in {directory}/iniplace-*; do [ "$old" = "$t" ] || rm -f "$old"; done
'''


def shell_path(path):
    """A path for the shell, a ~ or ~USER at its start left unquoted for
    the shell to expand."""
    home = re.match(r'~[A-Za-z0-9._-]*(?=/|$)', path)
    if home is None:
        return shlex.quote(path)
    rest = path[home.end() + 1:]
    return home.group() + ('/' + shlex.quote(rest) if rest else '')


def checksum(path):
    with open(path, 'rb') as program:
        return hashlib.sha256(program.read()).hexdigest()


class ActionModule(ActionBase):
    _supports_check_mode = True
    _supports_async = False

    # Where this worker process has found the program, by the key of
    # kept(): the items of a loop look once.
    found = {}

    def run(self, tmp=None, task_vars=None):
        task_vars = task_vars or {}
        result = super().run(tmp, task_vars)
        arguments = dict(self._task.args, _ansible_check_mode=bool(self._task.check_mode),
                         _ansible_diff=bool(self._task.diff))
        payload = json.dumps(arguments).encode()
        directory = self._templar.template(task_vars.get('iniplace_tool_dir', DEFAULT_DIRECTORY))
        if not directory:
            result.update(self.reply(self.execute(None, payload)))
            return result
        digest = checksum(PROGRAM)
        name = 'iniplace-' + digest[:16]
        user = (self.get_become_option('become_user') if self._connection.become
                else self._get_remote_user())
        key = '|'.join((str(self._play_context.remote_addr), str(user), directory, name))
        fact = task_vars.get('ansible_facts', {}).get('iniplace_tool') or {}
        program = self.found.get(key) or (fact.get('path') if fact.get('key') == key else None)
        answer = self.execute(program, payload) if program else None
        if answer is None or answer['rc'] in (NOT_FOUND, NOT_RUNNABLE):
            program = self.kept(directory, name, digest)
            answer = self.execute(program, payload)
            if answer['rc'] in (NOT_FOUND, NOT_RUNNABLE):
                raise AnsibleActionFail(
                    f'the module program {program} cannot run ({answer["stderr"].strip()}): '
                    'is its file system mounted noexec? Set iniplace_tool_dir to a directory '
                    'where programs may run')
        self.found[key] = program
        result.update(self.reply(answer))
        result['ansible_facts'] = {'iniplace_tool': {'key': key, 'path': program}}
        return result

    def kept(self, directory, name, digest):
        """The program's path in the directory on the host, copied there if
        it is missing or not the collection's."""
        probe = self._low_level_execute_command(
            PROBE.format(directory=shell_path(directory), name=name, unsafe=UNSAFE).strip())
        lines = dict(line.split(' ', 1) for line in probe['stdout'].splitlines() if ' ' in line)
        if probe['rc'] == UNSAFE:
            raise AnsibleActionFail(f'iniplace_tool_dir {directory}: {probe["stdout"].strip()}; '
                                    'the module program is kept only where nobody else may '
                                    'change it')
        if probe['rc'] != 0 or 'dir' not in lines:
            raise AnsibleActionFail(f'iniplace_tool_dir {directory} cannot be made or entered: '
                                    f'{probe["stderr"].strip()}')
        here = lines['dir']
        if lines.get('sum') == digest:
            return here + '/' + name
        tmpdir = self._make_tmp_path()
        try:
            source = self._connection._shell.join_path(tmpdir, 'ini')
            self._transfer_file(PROGRAM, source)
            self._fixup_perms2([tmpdir, source], execute=False)
            install = self._low_level_execute_command(INSTALL.format(
                directory=shlex.quote(here), name=name, nonce=secrets.token_hex(8),
                source=shlex.quote(source), checksum=digest, not_kept=NOT_KEPT).strip())
        finally:
            self._remove_tmp_path(tmpdir)
        if install['rc'] != 0:
            raise AnsibleActionFail(f'the module program could not be put in {here}: '
                                    f'{install["stderr"].strip() or "its checksum differs"}')
        return here + '/' + name

    def arguments_on_input(self):
        """Whether the connection takes the arguments on standard input: when
        it can, and a become plugin, if any, is one Ansible pipes through."""
        if not self._connection.has_pipelining:
            return False
        return self._connection.become is None or self._is_pipelining_enabled('new')

    def execute(self, program, payload):
        """Runs the program at its path on the host, or a copy made for the
        task when the path is None, with the task's arguments on standard
        input or in a file."""
        on_input = self.arguments_on_input()
        tmpdir = None if program and on_input else self._make_tmp_path()
        try:
            staged = []
            if program is None:
                program = self._connection._shell.join_path(tmpdir, 'ini')
                self._transfer_file(PROGRAM, program)
                staged.append(program)
            argument = '-'
            if not on_input:
                argument = self._connection._shell.join_path(tmpdir, 'args')
                self._transfer_data(argument, payload)
                staged.append(argument)
            if staged:
                self._fixup_perms2([tmpdir] + staged)
            command = (self._compute_environment_string() + ' ' + shlex.quote(program) + ' '
                       + shlex.quote(argument)).strip()
            return self._low_level_execute_command(command, in_data=payload if on_input else None)
        finally:
            if tmpdir:
                self._remove_tmp_path(tmpdir)

    def reply(self, answer):
        data = self._parse_returned_data(answer)
        remove_internal_keys(data)
        return data
