// Secrets on the link: the secret words of the password commands leave only in hex, also
// when "kbox" forwards them or a sticky mode frames them. (Every shape and every
// forwarding command: tests/shell/secret_words_test.cpp and commands_test.cpp; that no
// line holding them is kept for history or repeat: tests/e2e/commands.)
#include <gtest/gtest.h>

#include "ShellOnDevice.h"

using namespace vela::test;

TEST(SecuritySecrets, PasswordCommandSecretsLeaveOnlyInHex) {
    ShellSession shell;
    shell.forward("setpassword admin x Secret1 Secret2",
                  "C: setpassword admin x " + hexEncoded("Secret1") + " " + hexEncoded("Secret2"));
    shell.forward("kbox webmonitoring \"Secret 3\" off",
                  "D: webmonitoring " + hexEncoded("Secret 3") + " off");
    shell.run("apicmds", "mode...\r\r\n");
    shell.forward("setpassword admin x Secret4 Secret5",
                  "E: setpassword admin x " + hexEncoded("Secret4") + " " + hexEncoded("Secret5"));
    for (const auto &line : shell.device().zuzReceived())
        EXPECT_EQ(line.find("Secret"), std::string::npos) << line;
    shell.end();
}
