// What --help and the manual page say beyond the commands and options.
#include "help.h"

namespace tool {

const char *const description =
    "Reads and edits INI files in place, the way the common tools read them,\n"
    "changing only the lines an edit names and keeping the file's own style.\n"
    "Values go to standard output, one per line; errors go to standard error,\n"
    "one line naming the file and, where a line is at fault, its number.";

const Topic topics[] = {
    {"Reading the file",
     "The tool reads files as the common INI tools do; where programs that use\n"
     "the library read them otherwise, the right column says so.\n"
     "\n"
     "  what              the tool                       the library's C functions\n"
     "  comment           ; or # first after blanks      an ordinary line\n"
     "  header            [NAME], blanks and a ; or #    [NAME] alone on its line\n"
     "                    comment allowed after it\n"
     "  key name          the text before the first =,   the text up to the first\n"
     "                    blanks around it removed,      blank or =\n"
     "                    matched whole\n"
     "  value             the text after the first =, blanks removed (both)\n"
     "  byte-order mark   read past and kept             part of the first line\n"
     "  repeated section  one section, read in file      the first copy only\n"
     "                    order\n"
     "  repeated key      get: the last; set and del     the first\n"
     "                    refuse it unless --all\n"
     "  name case         as written; --ignore-case      as written\n"
     "                    for ASCII case\n"
     "  long line         read and edited whole          read in pieces of 998\n"
     "                                                   bytes\n"
     "\n"
     "A line that starts with [ but is no header ends the section before it and\n"
     "names none. A line that is neither blank, a comment, a header nor a key\n"
     "line is an entry; entries lists key lines too. Lines end with a line feed,\n"
     "or a carriage return and a line feed. The tool reads a file whole, up to\n"
     "64 MiB, in UTF-8 or another encoding whose line ends are single bytes; a\n"
     "file that starts with a UTF-16 byte-order mark is refused (status 2).",
     false, true},
    {"Editing", "An edit changes only the bytes it names. A changed value keeps its\n"
                "line's indentation, the spacing around = and the line end. A new key\n"
                "line copies the layout of the section's last key line (else the file's)\n"
                "and the file's line end, and goes right after the section's last line\n"
                "that is neither blank nor a comment; a new section goes at the end of the\n"
                "file, after a blank line when the file's sections are so separated. del\n"
                "of a section removes its header, its lines and the blank lines after\n"
                "them, and leaves the comment lines right above the next header, which\n"
                "introduce it. The tool writes no line longer than 998 bytes, which\n"
                "programs that use the library would read in pieces, and refuses such an\n"
                "edit (status 2). An edit that changes nothing writes nothing: the file\n"
                "keeps its bytes and its modification time. The tool and programs that\n"
                "use the library take turns on a file: each call holds the library's\n"
                "lock on it, shared to read and exclusive to edit (an edit takes flock\n"
                "too, so scripts under flock(1) take turns with it), and waits for it at\n"
                "most 5 seconds; then it gives up (status 3, busy), the file as it was.\n"
                "A missing file is written beside its name, synced and moved into place:\n"
                "it appears whole or not at all, and nothing is left when that fails. In\n"
                "the durable build every edit is journaled."},
    {"Sections and keys",
     "SECTION names a section by its header. * stands for the preamble, the\n"
     "lines before the first header: get, set, del with a KEY, keys, list,\n"
     "entries, add and remove work on it as on a section, and apply puts the\n"
     "fragment's lines before its first header there; del without KEY, first,\n"
     "has, next and prev refuse it (status 2). A KEY is a name: the tool\n"
     "refuses an empty key, *, a key holding = or a line break, starting with\n"
     "[, ; or #, or starting or ending with a blank, none of which would read\n"
     "back. A value or entry with a line break, or a value holding a zero\n"
     "byte where it is to be printed as text, is refused too."},
    {"Numbers", "The file's values are read as numbers the library's way: long and ulong\n"
                "take decimal digits (never octal: 010 is 10), else hexadecimal digits\n"
                "with or without 0x (ff and 0xff are 255, 1e3 is 483); bin takes binary\n"
                "digits without a prefix (101 is 5). A number given to the tool (the\n"
                "VALUE of set, --default) is read by the same rule for its type (hex by\n"
                "that of ulong), with two refusals (status 2): a minus sign for ulong,\n"
                "hex and bin, which the file rule would wrap around, and a leading 0b,\n"
                "which the file rule reads as hexadecimal digits (0b101 is 45313): give\n"
                "binary digits with --type bin. An argument that starts with - and a\n"
                "digit is a value, not an option: set --type long f.ini net n -5. set\n"
                "writes long and ulong in decimal, hex as 0x and upper-case digits, bin as\n"
                "32 binary digits (a value of more than 32 bits is refused)."},
    {"Output", "list prints SECTION.KEY=VALUE lines (the preamble is *), each key once\n"
               "with the value get reads; --format json prints one object of sections,\n"
               "each an object of keys with string values, the preamble under \"\" when\n"
               "it holds keys (a section [] is left out, with a warning). keys, sections\n"
               "and entries print one item per line, or a JSON array of strings. JSON\n"
               "strings carry valid UTF-8 as it is, \" and \\ escaped, and control bytes\n"
               "as \\u0000 to \\u001F; each byte that is not part of valid UTF-8 is\n"
               "written as a lone low surrogate \\uDC80 to \\uDCFF (byte 0x80 to 0xFF),\n"
               "which no valid text gives, so that different names stay different and\n"
               "the bytes can be had back (Python's json module with surrogateescape\n"
               "does; jq shows such an escape as U+FFFD).\n"
               "--format sh prints KEY='VALUE' lines for the shell's eval, for one\n"
               "SECTION, each name after the --prefix. eval of them sets shell variables\n"
               "and does nothing else: values are quoted whole, so no byte of the file\n"
               "runs as a command, and a key that is not a shell name is left out. Names\n"
               "that the environment or the shell give a meaning are left out too, with\n"
               "a warning: names without lower-case letters (PATH, IFS, LD_PRELOAD), the\n"
               "proxy settings programs read in lower case (http_proxy, https_proxy,\n"
               "ftp_proxy, all_proxy, no_proxy, every NAME_proxy), npm_config_ names,\n"
               "and the names shells tie to their state (path, fpath, cdpath, manpath,\n"
               "mailpath, module_path, argv, fignore, prompt, psvar, watch, histchars,\n"
               "auto_resume). eval cannot be trusted to keep the script's own variables:\n"
               "a key named like one of them sets it; give a --prefix that none of them\n"
               "starts with. Under set -a every name set is exported to the programs the\n"
               "script starts.\n"
               "--diff prints the lines an edit changes as a unified diff (with --check\n"
               "nothing is written), once the edit is made and the file's lock let go: a\n"
               "reader of the output that takes its time holds up no other call, and a\n"
               "diff that cannot be written leaves the edit made (status 3)."},
    {"Exit status", "0 done or found; 1 not found (with --check: nothing would change); 2\n"
                    "usage error or refused input, nothing written; 3 the file could not be\n"
                    "opened, locked (busy for 5 seconds), read or written, or standard input\n"
                    "could not be read or standard output written (a closed one included).\n"
                    "Deleting what is not there, from a missing file too, succeeds. Writing\n"
                    "into a closed pipe ends the tool by SIGPIPE, as it does other filters;\n"
                    "where SIGPIPE is ignored, that is status 3."},
    {"Examples",
     "A value with a default, as a number:\n"
     "    port=$(iniplace get --type long --default 80 gw.ini net port)\n"
     "'set --check' says whether a value differs: set it and restart a service then:\n"
     "    if iniplace set --check gw.ini net port 8080; then\n"
     "        iniplace set gw.ini net port 8080 && service gw restart\n"
     "    fi\n"
     "Review an edit before it is made:\n"
     "    iniplace set --check --diff /etc/php/8.2/cli/php.ini PHP memory_limit 256M\n"
     "A Samba share's setting, a key with spaces:\n"
     "    iniplace set /etc/samba/smb.conf global 'server string' 'Samba %v'\n"
     "A section as shell variables, named after a prefix that none of the\n"
     "script's own variables starts with:\n"
     "    eval \"$(iniplace list --format sh --prefix net_ gw.ini net)\"\n"
     "    echo \"$net_address\"\n"
     "The file as JSON, read with jq:\n"
     "    iniplace list --format json gw.ini | jq -r '.net.port'\n"
     "Several settings at once, from a here-document:\n"
     "    iniplace apply /etc/mysql/my.cnf <<'END'\n"
     "    [mysqld]\n"
     "    max_connections = 200\n"
     "    [client]\n"
     "    END\n"
     "Every value of a repeated key, then every copy of it deleted:\n"
     "    iniplace get --all gw.ini hosts allow\n"
     "    iniplace del --all gw.ini hosts allow",
     true, true},
    {"Files",
     "FILE-journal, beside FILE (named after FILE's resolved name): a missing\n"
     "file is written there before it is moved into place, and the durable\n"
     "build keeps the undo journal of an edit there, made readable by its\n"
     "owner alone. What a crash leaves there is put back or removed by the next\n"
     "call on FILE; anything else there (not mode 0600, another user's, made\n"
     "for another name) makes every call fail until it is removed.",
     true},
    {"See also",
     "The library's manual, docs/library.md, and the manual of the durable\n"
     "build, docs/durable.md, of the iniplace sources; fcntl(2), flock(1).",
     true},
    {"Bugs",
     "The tool reads a file whole, and refuses one over 64 MiB. A line longer\n"
     "than 998 bytes is read whole, but no edit may write one. Programs that\n"
     "write the file without its lock (an editor saving a copy over it) are\n"
     "not held off. In a directory where others can make files, they can make\n"
     "calls on a file fail, or make the file theirs before the call: see the\n"
     "library's manual.",
     true},
};

const unsigned topic_count = sizeof topics / sizeof topics[0];

} // namespace tool
