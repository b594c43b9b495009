/* Reads a few settings of a device configuration and prints them. */
#include <iniplace.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char **argv) {
    const char *path = argc > 1 ? argv[1] : "device.ini";
    char name[64], serial[64], mode[16] = "static", line[INI_LINE_SIZE];
    long format, port, watchdog;
    unsigned long flags;

    if (ini_getkey(path, "device", "name", name, sizeof name) != INI_OK) {
        fprintf(stderr, "%s: cannot read [device] name\n", path);
        return 1;
    }
    ini_getkey_string(path, "device", "serial", serial, sizeof serial, "unknown");
    ini_getkey_long(path, "*", "format", &format, 0);
    ini_getkey_long(path, "net", "port", &port, 80);
    ini_getkey_long(path, "device", "watchdog_ms", &watchdog, 1000);
    ini_getkey_bin(path, "log", "flags", &flags, 0);

    printf("file format:   %ld\n", format);
    printf("device name:   %s\n", name);
    printf("serial:        %s\n", serial);
    printf("http port:     %ld\n", port);
    printf("watchdog:      %ld ms\n", watchdog);
    printf("log flags:     0x%lx\n", flags);

    FILE *stream = fopen(path, "rb");
    if (stream == NULL)
        return 1;
    /* Read the keys of [net] in one pass: each call with "*" reads the next
     * line of the section; the key lines are those holding '='. The first
     * line of a key is the one a get reads. */
    int have_mode = 0;
    for (int found = parse_section(stream, "net", line, sizeof line, 0); found == INI_SCAN_LINE;
         found = parse_section(stream, "*", line, sizeof line, 0)) {
        char *text = trim_string(line), *equals = strchr(text, '=');
        if (equals == NULL)
            continue; /* not a key line */
        size_t length = strcspn(text, " \t=");
        if (length == 4 && strncmp(text, "mode", 4) == 0 && !have_mode++)
            snprintf(mode, sizeof mode, "%s", trim_string(equals + 1));
    }
    printf("address mode:  %s\n", mode);

    /* Walk the entry list [ntp] in one pass: the scanner finds the section,
     * then each call with "*" reads its next line, up to the next header.
     * (Stepping with INI_ENTRY_NEXT would stop at the first repeated entry.)
     * The walk of [net] stopped past the next header: start from the top. */
    rewind(stream);
    for (int found = parse_section(stream, "ntp", line, sizeof line, 0); found == INI_SCAN_LINE;
         found = parse_section(stream, "*", line, sizeof line, 0)) {
        const char *server = trim_string(line);
        if (server[0] != '\n' && server[0] != '\r') /* a blank line is an entry too */
            printf("time server:   %s\n", server);
    }
    fclose(stream);
    return 0;
}
