// Finding the telnet client's address in tables laid out as the kernel prints them.

#include "tcp6_table.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <string>

namespace {

const char *const kHeader =
    "  sl  local_address                         remote_address                        st "
    "tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";

// One address as the kernel prints it: four 32-bit words, each in host byte order.
std::string kernel_words(const char *text) {
    in6_addr address;
    EXPECT_EQ(inet_pton(AF_INET6, text, &address), 1) << text;
    uint32_t words[4];
    memcpy(words, &address, sizeof words);
    char out[33];
    snprintf(out, sizeof out, "%08X%08X%08X%08X", words[0], words[1], words[2], words[3]);
    return out;
}

std::string row(int slot, unsigned local_port, const char *remote, unsigned state) {
    char line[300];
    snprintf(line, sizeof line,
             "%4d: %s:%04X %s:C350 %02X 00000000:00000000 00:00000000 00000000     0        0 "
             "12345 1 0000000000000000 20 4 30 10 -1\n",
             slot, kernel_words("::").c_str(), local_port, kernel_words(remote).c_str(), state);
    return line;
}

std::string find(const std::string &table, unsigned port) {
    FILE *file = fmemopen(const_cast<char *>(table.data()), table.size(), "r");
    char ip[56] = "stale";
    find_client_in_tcp6_table(file, port, ip, sizeof ip);
    fclose(file);
    return ip;
}

TEST(Tcp6Table, FirstEstablishedConnectionToThePort) {
    const std::string table =
        std::string(kHeader) + row(0, 23, "::", 0x0A) + row(1, 23, "::ffff:10.0.0.1", 0x06) +
        row(2, 22, "::ffff:10.0.0.2", 0x01) + row(3, 23, "::ffff:192.168.1.20", 0x01) +
        row(4, 23, "::ffff:10.0.0.4", 0x01) + row(5, 24, "2001:db8::7", 0x01) +
        row(6, 25, "::ffff:0.0.0.0", 0x01);
    EXPECT_EQ(find(table, 23), "192.168.1.20");  // mapped IPv4 in dotted form
    EXPECT_EQ(find(table, 24), "2001:db8::7");
    EXPECT_EQ(find(table, 25), "::ffff:0.0.0.0");  // a zero IPv4 part keeps the IPv6 form
    EXPECT_EQ(find(table, 26), "");
    EXPECT_EQ(find("", 23), "");
    EXPECT_EQ(find(std::string(kHeader) + "garbage line\n   1: short:1 x:2 01\n", 23), "");
}

}  // namespace
