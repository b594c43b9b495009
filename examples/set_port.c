/* Sets the HTTP port of a device configuration and makes sure it lists a
 * time server. usage: set_port FILE PORT */
#include <iniplace.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: set_port FILE PORT\n");
        return 2;
    }
    const char *path = argv[1];
    long port;
    /* 80 when the file, its [net] section or the key is missing */
    if (ini_getkey_long(path, "net", "port", &port, 80) == INI_EINVAL)
        fprintf(stderr, "%s: [net] port is no number, read as 80\n", path);
    printf("port was %ld\n", port);

    /* The port line rewritten in place, or added to [net], or the file made */
    int status = ini_setkey_long(path, "net", "port", strtol(argv[2], NULL, 10));
    /* A time server added to the list [ntp] unless it is there already */
    if (status == INI_OK)
        status = ini_setsection_string(path, "ntp", "time.example.net");
    if (status != INI_OK) {
        fprintf(stderr, "%s: cannot write the settings (%d)\n", path, status);
        return 1;
    }
    return 0;
}
