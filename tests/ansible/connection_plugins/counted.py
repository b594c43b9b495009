# The local connection, counting what it sends to the host: each command
# line, what goes to its standard input, and each file put there, appended
# as "PID BYTES" to the file $INIPLACE_COUNT_LOG. Ansible runs each task on
# each host in a process of its own, so the PID tells the tasks apart.
import os

from ansible.plugins.connection.local import Connection as Local

DOCUMENTATION = '''
    name: counted
    short_description: the local connection, counting the bytes it sends
    description: Runs tasks on the controller as the local connection does.
    author: iniplace maintainers
    extends_documentation_fragment:
        - connection_pipelining
'''


def count(size):
    with open(os.environ['INIPLACE_COUNT_LOG'], 'a') as log:
        log.write(f'{os.getpid()} {size}\n')


class Connection(Local):
    transport = 'counted'

    def exec_command(self, cmd, in_data=None, sudoable=True):
        count(len(cmd.encode()) + len(in_data or b''))
        return super().exec_command(cmd, in_data=in_data, sudoable=sudoable)

    def put_file(self, in_path, out_path):
        count(os.path.getsize(in_path) + len(out_path.encode()))
        return super().put_file(in_path, out_path)
