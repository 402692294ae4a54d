// Secrets on the link and in the history: the secret words of the password commands
// leave only in hex, also when "api", "sys" or "kbox" forward them or a sticky mode
// frames them, and no line that holds them is kept for history or repeat.
#include <gtest/gtest.h>

#include "ShellOnDevice.h"

using namespace vela::test;

TEST(SecuritySecrets, PasswordCommandSecretsLeaveOnlyInHexAndStayOutOfTheHistory) {
    ShellSession shell;
    shell.forward("setpassword admin x Secret1 Secret2",
                  "C: setpassword admin x " + hexEncoded("Secret1") + " " + hexEncoded("Secret2"));
    // The secret of "webmonitoring" is its first argument.
    shell.forward("webmonitoring Secret3 on", "C: webmonitoring " + hexEncoded("Secret3") + " on");
    shell.forward("api setpassword admin x Secret4 \"Secret 5\"",
                  "E: setpassword admin x " + hexEncoded("Secret4") + " " + hexEncoded("Secret 5"));
    shell.forward("sys webmonitoring Secret6 on",
                  "D: webmonitoring " + hexEncoded("Secret6") + " on");
    shell.forward("kbox webmonitoring \"Secret 7\" off",
                  "D: webmonitoring " + hexEncoded("Secret 7") + " off");
    shell.run("apicmds", "mode...\r\r\n");
    shell.forward("setpassword admin x Secret8 Secret9",
                  "E: setpassword admin x " + hexEncoded("Secret8") + " " + hexEncoded("Secret9"));
    shell.run("exit", "Exiting customer api *ONLY* mode\r\n");
    // Encoded, a line that no longer fits is refused, not cut.
    const std::string huge(200, 'S');
    EXPECT_EQ(shell.run("api setpassword a b " + huge + " " + huge, "\r\n"),
              "error: command too long once its secrets are encoded; not sent\r\r\n");

    const std::string history = shell.run("history", "history success\r\r\n");
    EXPECT_EQ(history.find("Secret"), std::string::npos) << history;
    EXPECT_EQ(history.find("SSS"), std::string::npos) << history;
    EXPECT_NE(history.find("apicmds"), std::string::npos) << history;
    // Up recalls the newest entry ("history"), not a secret.
    shell.device().type("\x1b[A\x1b[A\x1b[A\x1b[A\x1b[A\x1b[A\x1b[A\x1b[A\x03");
    for (const auto &line : shell.device().zuzReceived())
        EXPECT_EQ(line.find("Secret"), std::string::npos) << line;
    EXPECT_EQ(shell.device().output().find("Secret", shell.device().output().rfind("history")),
              std::string::npos)
        << "recalled onto the screen";
    shell.end();
}
