// Secrets on the link and in the history: the secret words of the password commands
// leave only in hex, also when "kbox" forwards them or a sticky mode frames them, and no
// line that holds them is kept for history or repeat. (Every shape and every forwarding
// command: tests/shell/secret_words_test.cpp and commands_test.cpp.)
#include <gtest/gtest.h>

#include "ShellOnDevice.h"

using namespace vela::test;

TEST(SecuritySecrets, PasswordCommandSecretsLeaveOnlyInHexAndStayOutOfTheHistory) {
    ShellSession shell;
    shell.forward("setpassword admin x Secret1 Secret2",
                  "C: setpassword admin x " + hexEncoded("Secret1") + " " + hexEncoded("Secret2"));
    shell.forward("kbox webmonitoring \"Secret 3\" off",
                  "D: webmonitoring " + hexEncoded("Secret 3") + " off");
    shell.run("apicmds", "mode...\r\r\n");
    shell.forward("setpassword admin x Secret4 Secret5",
                  "E: setpassword admin x " + hexEncoded("Secret4") + " " + hexEncoded("Secret5"));
    shell.run("exit", "Exiting customer api *ONLY* mode\r\n");

    const std::string history = shell.run("history", "history success\r\r\n");
    EXPECT_EQ(history.find("Secret"), std::string::npos) << history;
    EXPECT_NE(history.find("apicmds"), std::string::npos) << history;
    // Up recalls the newest entry ("history"), not a secret.
    shell.device().type("\x1b[A\x1b[A\x1b[A\x1b[A\x1b[A\x1b[A\x03");
    for (const auto &line : shell.device().zuzReceived())
        EXPECT_EQ(line.find("Secret"), std::string::npos) << line;
    EXPECT_EQ(shell.device().output().find("Secret", shell.device().output().rfind("history")),
              std::string::npos)
        << "recalled onto the screen";
    shell.end();
}
