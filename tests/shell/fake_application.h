// The application's end of the XCOM link, played by a test on loopback.
#pragma once

#include <sys/socket.h>

#include <string>

#include "test_support.h"

namespace shell_test {

class FakeApplication {
  public:
    int port() const { return server_.port; }
    // Takes the connection the shell made; false when none came.
    bool accept() {
        peer_ = server_.accept_one();
        return peer_.valid();
    }
    void send(const std::string &bytes) { xcom_test::send_all(peer_.get(), bytes); }
    // The next line the shell sent, without its LF ("" once the shell closed).
    std::string received() {
        std::string line;
        char c;
        while (recv(peer_.get(), &c, 1, 0) == 1 && c != '\n')
            line += c;
        return line;
    }
    // Everything the shell sent that is already here, lines joined by "|".
    std::string pending() {
        std::string lines;
        char c;
        while (recv(peer_.get(), &c, 1, MSG_DONTWAIT) == 1)
            lines += c == '\n' ? '|' : c;
        return lines;
    }
    void close() { peer_.reset(); }

  private:
    xcom_test::Loopback server_;
    vela::UniqueFd peer_;
};

}  // namespace shell_test
