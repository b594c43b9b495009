/* Reads the settings of a device configuration at start-up, every key in
 * one pass over the file, and prints them. */
#include <iniplace.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct settings {
    long format, port, watchdog_ms;
    char name[64], mode[16];
    unsigned long log_flags;
};

/* Called with each key as ini_getkey would read it; 0 walks on. */
static int take(void *user, const char *section, const char *key, const char *value) {
    struct settings *s = user;
    if (strcmp(section, "*") == 0 && strcmp(key, "format") == 0)
        s->format = strtol(value, NULL, 10);
    else if (strcmp(section, "device") == 0 && strcmp(key, "name") == 0)
        snprintf(s->name, sizeof s->name, "%s", value);
    else if (strcmp(section, "device") == 0 && strcmp(key, "watchdog_ms") == 0)
        s->watchdog_ms = strtol(value, NULL, 0);
    else if (strcmp(section, "net") == 0 && strcmp(key, "port") == 0)
        s->port = strtol(value, NULL, 10);
    else if (strcmp(section, "net") == 0 && strcmp(key, "mode") == 0)
        snprintf(s->mode, sizeof s->mode, "%s", value);
    else if (strcmp(section, "log") == 0 && strcmp(key, "flags") == 0)
        s->log_flags = strtoul(value, NULL, 2);
    return 0;
}

int main(int argc, char **argv) {
    const char *path = argc > 1 ? argv[1] : "device.ini";
    /* The defaults, for what the file does not say. */
    struct settings s = {0, 80, 1000, "unnamed", "static", 0};
    if (ini_getkeys(path, NULL, take, &s) != INI_OK) {
        fprintf(stderr, "%s: cannot be read\n", path);
        return 1;
    }
    printf("file format:   %ld\n", s.format);
    printf("device name:   %s\n", s.name);
    printf("http port:     %ld\n", s.port);
    printf("watchdog:      %ld ms\n", s.watchdog_ms);
    printf("log flags:     0x%lx\n", s.log_flags);
    printf("address mode:  %s\n", s.mode);

    /* The entry list [ntp]: each entry in turn, the one after the last
     * (which ini_getsection reads from its own buffer, not `server`). */
    char server[INI_LINE_SIZE], last[INI_LINE_SIZE];
    for (int found = ini_getsection(path, "ntp", NULL, INI_ENTRY_FIRST, server, sizeof server);
         found == INI_OK;
         found = ini_getsection(path, "ntp", last, INI_ENTRY_NEXT, server, sizeof server)) {
        if (server[0] != '\n' && server[0] != '\r') /* a blank line is an entry too */
            printf("time server:   %s\n", server);
        memcpy(last, server, sizeof last);
    }
    return 0;
}
