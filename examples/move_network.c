/* Moves a device to another network: its address, netmask and gateway
 * change together, as one edit, or not at all. A reader never sees the new
 * address with the old gateway, and in the durable build neither does the
 * device after a power loss. usage: move_network FILE ADDRESS NETMASK
 * GATEWAY */
#include <iniplace.h>
#include <stdio.h>

int main(int argc, char **argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: move_network FILE ADDRESS NETMASK GATEWAY\n");
        return 2;
    }
    const struct ini_setting network[] = {
        {"net", "mode", "static"},
        {"net", "address", argv[2]},
        {"net", "netmask", argv[3]},
        {"net", "gateway", argv[4]},
        {"net", "dhcp_client_id", NULL}, /* deleted: the address is static now */
    };
    const int status = ini_setkeys(argv[1], network, sizeof network / sizeof network[0]);
    if (status != INI_OK) {
        fprintf(stderr, "%s: the network was not changed (%d)\n", argv[1], status);
        return 1;
    }
    return 0;
}
