// What --help and the manual page say beyond the commands and options.
#include "help.h"

namespace tool {

const char *const description =
    "Reads and edits an INI file in place. Values go to standard output, one\n"
    "per line; errors go to standard error, one line naming the file.";

const Topic topics[] = {
    {"Format",
     "A header is a line whose first byte after spaces and tabs is [: [net],\n"
     "blanks after it allowed, names the section net; [ net ] and [net] x name\n"
     "none. The lines before the first header are the preamble. In a section,\n"
     "a line that holds = is a key line: its key is what stands before the\n"
     "first space, tab or =, its value what follows the first =, trimmed of\n"
     "spaces and tabs, quotes kept. A line whose first byte after blanks is ;\n"
     "or # is a comment: list, keys and entries leave it out and apply does\n"
     "not copy it; get, set and del never match it unless the KEY starts with\n"
     "that byte. Every other line that is not blank is an entry, key lines\n"
     "included. Lines end with a line feed; a carriage return before it is\n"
     "ignored. Only the first header of a name counts: lines under a later\n"
     "header of that name are never read. Of a key repeated in a section, get,\n"
     "set and del use the first line (with --all, get and del every one). set\n"
     "writes the line KEY=VALUE over the old one, whose spacing goes (port = 80\n"
     "becomes port=80), unless the key has that value already. The library\n"
     "reads a line longer than 998 bytes in pieces of 998; the tool reads it\n"
     "whole: get and list print its whole value and entries its whole text, and\n"
     "no later piece is taken for a header, a key or an entry. The tool writes\n"
     "no line longer than 998 bytes, and refuses (status 2) an edit that would\n"
     "begin or end inside a longer line, where the library sees a later piece\n"
     "as a line of its own; apply refuses a fragment with a line for a section\n"
     "that holds such a line or that a later piece names.",
     false, false},
    {"Sections and keys",
     "SECTION names a section by its header. The section * stands for the\n"
     "preamble: get, set, del with a KEY, keys, list, entries, add and remove\n"
     "work on it as on a section, and apply puts the lines before the\n"
     "fragment's first header there. del without KEY refuses * (status 2,\n"
     "nothing deleted), and so do first, has, next and prev. A KEY is a name:\n"
     "get, set and del refuse an empty key, *, a key holding = or starting\n"
     "with [, a space or a tab; keys and list leave out lines with such keys\n"
     "(=1, *=2), which get can never read."},
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
    {"Output", "list prints SECTION.KEY=VALUE lines (the preamble is *). --format json\n"
               "prints one object of sections, each an object of keys with string\n"
               "values, the preamble under \"\" when it holds keys (a section [] is left\n"
               "out, with a warning). Each key is listed once, with the value get reads.\n"
               "keys, sections and entries print one item per line, or a JSON array of\n"
               "strings. JSON strings carry valid UTF-8 as it is, \" and \\ escaped, and\n"
               "control bytes as \\u0000 to \\u001F; each byte that is not part of valid\n"
               "UTF-8 is written as a lone low surrogate \\uDC80 to \\uDCFF (byte 0x80 to\n"
               "0xFF), which no valid text gives, so that different names stay different\n"
               "and the bytes can be had back (Python's json module with surrogateescape\n"
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
               "script starts."},
    {"Edits", "An edit that changes nothing writes nothing: set when get reads the\n"
              "value already, however the line is spaced (port = 80 stays as it is),\n"
              "add when the entry is there, del and remove when there is nothing to\n"
              "delete; the file keeps its bytes and its modification time. iniplace\n"
              "processes on one file take turns: each holds an advisory lock (flock)\n"
              "on it, shared for reads, exclusive for edits. A file that cannot be\n"
              "locked is an error, never edited unlocked. A write that fails (a full\n"
              "disk, a file-size limit) is status 3, the edit did not take effect; a\n"
              "file the edit was to create is not left behind. In the durable build\n"
              "every edit is journaled, all of apply's edits under one journal, and a\n"
              "created file appears whole or not at all."},
    {"Exit status", "0 done or found; 1 not found (with --check: nothing would change);\n"
                    "2 usage error or rejected input, nothing written (a fragment over\n"
                    "1048576 bytes included); 3 the file could not be opened, locked, read or\n"
                    "written, or standard input could not be read or standard output written\n"
                    "(a closed one included). Writing into a closed pipe ends the tool by\n"
                    "SIGPIPE, as it does other filters; where SIGPIPE is ignored, that is\n"
                    "status 3."},
    {"Examples",
     "A value with a default, as a number:\n"
     "    port=$(iniplace get --type long --default 80 gw.ini net port)\n"
     "Set a value only when it differs, and restart a service then:\n"
     "    if iniplace set --check gw.ini net port 8080; then\n"
     "        iniplace set gw.ini net port 8080 && service gw restart\n"
     "    fi\n"
     "A section as shell variables, named after a prefix that none of the\n"
     "script's own variables starts with:\n"
     "    eval \"$(iniplace list --format sh --prefix net_ gw.ini net)\"\n"
     "    echo \"$net_address\"\n"
     "The file as JSON, read with jq:\n"
     "    iniplace list --format json gw.ini | jq -r '.net.port'\n"
     "Several settings at once, from a here-document:\n"
     "    iniplace apply gw.ini <<'END'\n"
     "    [net]\n"
     "    port = 8080\n"
     "    [ntp]\n"
     "    ntp2.example.net\n"
     "    END\n"
     "Every value of a repeated key, then every copy of it deleted:\n"
     "    iniplace get --all gw.ini hosts allow\n"
     "    iniplace del --all gw.ini hosts allow",
     true, true},
};

const unsigned topic_count = sizeof topics / sizeof topics[0];

} // namespace tool
