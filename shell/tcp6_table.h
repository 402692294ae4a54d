// Finding a telnet client's address in the kernel's table of IPv6 TCP connections.
#pragma once

#include <stddef.h>
#include <stdio.h>

#include <bit>

// Writes the remote address of the first established connection to local port into
// ip_string (room for 56 bytes): dotted form for an IPv4-mapped address, IPv6 text form
// otherwise; left empty when there is none or the table cannot be read. Main thread.
void get_telnet_client_ip_from_proc(unsigned int port, char *ip_string);

// The same over an open table (as /proc/net/tcp6 prints it: header line, then one
// connection per line, address words in the host's byte order). Pure; for tests.
void find_client_in_tcp6_table(FILE *table, unsigned int port, char *ip_string, size_t room);

// The same over a table whose address words are in word_order: that of the kernel that
// printed it (a program under user-mode emulation reads the host kernel's). Pure.
void find_client_in_tcp6_table(FILE *table, unsigned int port, std::endian word_order,
                               char *ip_string, size_t room);
