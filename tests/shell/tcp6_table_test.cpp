// Finding the telnet client's address in tables laid out as the kernel prints them, by
// a kernel of either byte order.

#include "tcp6_table.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <stdint.h>

#include <bit>
#include <initializer_list>
#include <optional>
#include <string>

namespace {

const char *const kHeader =
    "  sl  local_address                         remote_address                        st "
    "tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";

// One address as a kernel of that byte order prints it: four 32-bit words in hex.
std::string kernel_words(const char *text, std::endian order) {
    uint32_t words[4];
    EXPECT_EQ(inet_pton(AF_INET6, text, words), 1) << text;
    std::string out;
    for (uint32_t word : words) {
        const uint32_t value =
            order == std::endian::big ? ntohl(word) : __builtin_bswap32(ntohl(word));
        char hex[9];
        snprintf(hex, sizeof hex, "%08X", value);
        out += hex;
    }
    return out;
}

struct Row {
    unsigned local_port;
    const char *remote;
    unsigned state;
};

std::string table_of(std::initializer_list<Row> rows, std::endian order) {
    std::string table = kHeader;
    int slot = 0;
    for (const Row &r : rows) {
        char line[300];
        snprintf(line, sizeof line,
                 "%4d: %s:%04X %s:C350 %02X 00000000:00000000 00:00000000 00000000     0 "
                 "       0 12345 1 0000000000000000 20 4 30 10 -1\n",
                 slot++, kernel_words("::", order).c_str(), r.local_port,
                 kernel_words(r.remote, order).c_str(), r.state);
        table += line;
    }
    return table;
}

// The client found in table; with no order given, through the host-order entry point.
std::string find(const std::string &table, unsigned port,
                 std::optional<std::endian> order = std::nullopt) {
    FILE *file = fmemopen(const_cast<char *>(table.data()), table.size(), "r");
    char ip[56] = "stale";
    order ? find_client_in_tcp6_table(file, port, *order, ip, sizeof ip)
          : find_client_in_tcp6_table(file, port, ip, sizeof ip);
    fclose(file);
    return ip;
}

TEST(Tcp6Table, FirstEstablishedConnectionToThePortInEitherByteOrder) {
    for (std::endian order : {std::endian::little, std::endian::big}) {
        SCOPED_TRACE(order == std::endian::big ? "big-endian" : "little-endian");
        const std::string table = table_of({{23, "::", 0x0A},
                                            {23, "::ffff:10.0.0.1", 0x06},
                                            {22, "::ffff:10.0.0.2", 0x01},
                                            {23, "::ffff:192.168.1.20", 0x01},
                                            {23, "::ffff:10.0.0.4", 0x01},
                                            {24, "2001:db8::7", 0x01},
                                            {25, "::ffff:0.0.0.0", 0x01}},
                                           order);
        EXPECT_EQ(find(table, 23, order), "192.168.1.20");  // mapped IPv4 in dotted form
        EXPECT_EQ(find(table, 24, order), "2001:db8::7");
        EXPECT_EQ(find(table, 25, order), "::ffff:0.0.0.0");  // a zero IPv4 part keeps it
        EXPECT_EQ(find(table, 26, order), "");
    }
    EXPECT_EQ(find("", 23), "");
    // Rows that cannot be read are passed over; /proc's table is in the host's order.
    const std::string valid = table_of({{23, "::ffff:10.0.0.9", 0x01}}, std::endian::native);
    EXPECT_EQ(find(std::string(kHeader) + "garbage line\n   1: short:1 x:2 01\n" +
                       valid.substr(valid.find('\n') + 1),
                   23),
              "10.0.0.9");
}

}  // namespace
