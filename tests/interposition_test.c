/* This program exports an ini_getkey of its own, as another INI library
 * loaded into the same process may. The typed getters of iniplace must
 * still call iniplace's own ini_getkey. */
#include <iniplace.h>
#include <stdio.h>

int ini_getkey(const char *path, const char *section, const char *key, char *dst, int len) {
    (void)path, (void)section, (void)key, (void)dst, (void)len;
    return 99;
}

int main(int argc, char **argv) {
    long port = 0;
    int status = ini_getkey_long(argc > 1 ? argv[1] : "device.ini", "net", "port", &port, -1);
    if (status != INI_OK || port != 8080) {
        fprintf(stderr, "ini_getkey_long gave status %d, value %ld\n", status, port);
        return 1;
    }
    return 0;
}
