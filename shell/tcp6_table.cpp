#include "tcp6_table.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

namespace {

constexpr unsigned kEstablished = 1;
constexpr size_t kAddressRoom = 56;

struct Connection {
    unsigned local_port;
    uint32_t remote_words[4];  // as the kernel prints them: each in its byte order
    unsigned state;
};

bool parse_hex(const char *text, size_t len, unsigned long *value) {
    if (len == 0 || len > 8) return false;
    char digits[9];
    memcpy(digits, text, len);
    digits[len] = '\0';
    char *end;
    *value = strtoul(digits, &end, 16);
    return *end == '\0';
}

// "ADDRESS:PORT" with 32 hex digits of address; only the port is wanted.
bool parse_local(const char *field, unsigned *port) {
    const char *colon = strchr(field, ':');
    unsigned long value;
    if (colon == nullptr || colon - field != 32 || !parse_hex(colon + 1, strlen(colon + 1), &value))
        return false;
    *port = static_cast<unsigned>(value);
    return true;
}

bool parse_remote(const char *field, uint32_t words[4]) {
    if (strlen(field) < 33 || field[32] != ':') return false;
    for (int i = 0; i < 4; ++i) {
        unsigned long value;
        if (!parse_hex(field + 8 * i, 8, &value)) return false;
        words[i] = static_cast<uint32_t>(value);
    }
    return true;
}

// One table line: "N: LOCAL REMOTE STATE ..."; false for anything else.
bool parse_connection(char *line, Connection *out) {
    char *save = nullptr;
    char *slot = strtok_r(line, " \t\n", &save);
    char *local = strtok_r(nullptr, " \t\n", &save);
    char *remote = strtok_r(nullptr, " \t\n", &save);
    char *state = strtok_r(nullptr, " \t\n", &save);
    unsigned long state_value;
    if (!slot || !local || !remote || !state || !parse_hex(state, strlen(state), &state_value))
        return false;
    out->state = static_cast<unsigned>(state_value);
    return parse_local(local, &out->local_port) && parse_remote(remote, out->remote_words);
}

void format_address(const uint32_t words[4], std::endian word_order, char *ip_string, size_t room) {
    in6_addr address;
    // Each word holds four bytes of the address, the first at its low end if little-endian.
    for (size_t i = 0; i < sizeof address; ++i) {
        size_t shift = 8 * (word_order == std::endian::little ? i % 4 : 3 - i % 4);
        address.s6_addr[i] = static_cast<uint8_t>(words[i / 4] >> shift);
    }
    const uint8_t *bytes = address.s6_addr;
    bool mapped = words[0] == 0 && words[1] == 0 && bytes[8] == 0 && bytes[9] == 0 &&
                  bytes[10] == 0xff && bytes[11] == 0xff && words[3] != 0;
    if (mapped)
        inet_ntop(AF_INET, bytes + 12, ip_string, static_cast<socklen_t>(room));
    else
        inet_ntop(AF_INET6, &address, ip_string, static_cast<socklen_t>(room));
}

}  // namespace

void find_client_in_tcp6_table(FILE *table, unsigned int port, char *ip_string, size_t room) {
    find_client_in_tcp6_table(table, port, std::endian::native, ip_string, room);
}

void find_client_in_tcp6_table(FILE *table, unsigned int port, std::endian word_order,
                               char *ip_string, size_t room) {
    ip_string[0] = '\0';
    char line[512];
    if (fgets(line, sizeof line, table) == nullptr) return;  // the header
    while (fgets(line, sizeof line, table) != nullptr) {
        Connection connection;
        if (!parse_connection(line, &connection)) continue;
        if (connection.state == kEstablished && connection.local_port == port) {
            format_address(connection.remote_words, word_order, ip_string, room);
            return;
        }
    }
}

void get_telnet_client_ip_from_proc(unsigned int port, char *ip_string) {
    ip_string[0] = '\0';
    FILE *table = fopen("/proc/net/tcp6", "re");
    if (table == nullptr) return;
    find_client_in_tcp6_table(table, port, ip_string, kAddressRoom);
    fclose(table);
}
