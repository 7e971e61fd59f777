/* A Modbus TCP server on libmodbus (Debian's libmodbus-dev), an independent peer for the tests:
 * libmodbus's own request handling (modbus_reply) over a mapping of 1000 coils, discrete
 * inputs, holding and input registers at protocol addresses 0 to 999, for every unit; other
 * addresses answer "illegal data address". Prints its port as the first line of stdout, then
 * takes commands on stdin, one a line, that reach the mapping directly:
 *     set co|di|hr|ir ADDRESS VALUE   answers "ok" or "error"
 *     get co|di|hr|ir ADDRESS         answers the value, or "error"
 *     quit                            ends the program (as does the end of stdin)
 * usage: libmodbus_server [--port N]   (0, the default: a free port) on 127.0.0.1
 */
#include <arpa/inet.h>
#include <errno.h>
#include <modbus.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

enum { kSize = 1000 };

/* The table cell a command names, or NULL. */
static void *Cell(modbus_mapping_t *map, const char *table, long address, int *isBit) {
    if (address < 0 || address >= kSize) return NULL;
    *isBit = 1;
    if (strcmp(table, "co") == 0) return &map->tab_bits[address];
    if (strcmp(table, "di") == 0) return &map->tab_input_bits[address];
    *isBit = 0;
    if (strcmp(table, "hr") == 0) return &map->tab_registers[address];
    if (strcmp(table, "ir") == 0) return &map->tab_input_registers[address];
    return NULL;
}

/* Runs one command line; 0 for "quit". */
static int RunCommand(modbus_mapping_t *map, const char *line) {
    char verb[16] = "", table[16] = "";
    long address = -1, value = 0;
    int n = sscanf(line, "%15s %15s %ld %ld", verb, table, &address, &value);
    if (n >= 1 && strcmp(verb, "quit") == 0) return 0;
    if (n < 1) return 1;
    int isBit = 0;
    void *cell = n >= 3 ? Cell(map, table, address, &isBit) : NULL;
    if (cell && strcmp(verb, "get") == 0 && n == 3) {
        printf("%ld\n", isBit ? (long)*(uint8_t *)cell : (long)*(uint16_t *)cell);
    } else if (cell && strcmp(verb, "set") == 0 && n == 4) {
        if (isBit) *(uint8_t *)cell = value ? 1 : 0;
        else *(uint16_t *)cell = (uint16_t)value;
        printf("ok\n");
    } else {
        printf("error\n");
    }
    fflush(stdout);
    return 1;
}

int main(int argc, char **argv) {
    int port = 0;
    if (argc == 3 && strcmp(argv[1], "--port") == 0) {
        port = atoi(argv[2]);
    } else if (argc != 1) {
        fprintf(stderr, "usage: libmodbus_server [--port N]\n");
        return 2;
    }
    modbus_t *ctx = modbus_new_tcp("127.0.0.1", port);
    modbus_mapping_t *map = modbus_mapping_new(kSize, kSize, kSize, kSize);
    if (!ctx || !map) return 1;
    const int listener = modbus_tcp_listen(ctx, 8);
    if (listener < 0) {
        fprintf(stderr, "libmodbus_server: cannot listen: %s\n", modbus_strerror(errno));
        return 1;
    }
    struct sockaddr_in bound;
    socklen_t size = sizeof bound;
    getsockname(listener, (struct sockaddr *)&bound, &size);
    printf("%u\n", ntohs(bound.sin_port));
    fflush(stdout);

    fd_set open;
    FD_ZERO(&open);
    FD_SET(listener, &open);
    FD_SET(STDIN_FILENO, &open);
    int highest = listener;
    uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
    char line[256];
    size_t used = 0;
    for (;;) {
        fd_set ready = open;
        if (select(highest + 1, &ready, NULL, NULL, NULL) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int fd = 0; fd <= highest; ++fd) {
            if (!FD_ISSET(fd, &ready)) continue;
            if (fd == STDIN_FILENO) {
                ssize_t got = read(fd, line + used, sizeof line - 1 - used);
                if (got <= 0) goto done;
                used += (size_t)got;
                line[used] = '\0';
                char *end;
                while ((end = strchr(line, '\n')) != NULL) {
                    *end = '\0';
                    if (!RunCommand(map, line)) goto done;
                    used -= (size_t)(end + 1 - line);
                    memmove(line, end + 1, used + 1);
                }
                if (used == sizeof line - 1) used = 0; /* an overlong line is dropped */
            } else if (fd == listener) {
                int client = accept(listener, NULL, NULL);
                if (client < 0) continue;
                FD_SET(client, &open);
                if (client > highest) highest = client;
            } else {
                modbus_set_socket(ctx, fd);
                int rc = modbus_receive(ctx, query);
                if (rc > 0) {
                    modbus_reply(ctx, query, rc, map);
                } else if (rc == -1) {
                    close(fd);
                    FD_CLR(fd, &open);
                }
            }
        }
    }
done:
    close(listener);
    modbus_mapping_free(map);
    modbus_free(ctx);
    return 0;
}
