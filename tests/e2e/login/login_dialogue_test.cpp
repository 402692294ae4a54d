// The login dialogue on the terminal: prompts, results, banners, retries, the secure
// profile's dialogue and logout, terminal echo and the encoded request.
#include <gtest/gtest.h>

#include "ShellOnDevice.h"

using namespace vela::test;

namespace {

const std::string kWelcome = shown("Welcome to Tessaline");
const std::string kPassword = shown("Password:");
const std::string kLogin = shown("Login:");
const std::string kShellBanner = shown("Halvern Command Shell");
const std::string kRetry = shown(" -- password failed, retry --");

// The login request zuz receives: each byte of the credentials as two hex digits.
std::string loginLine(const std::string &user, const std::string &password,
                      const std::string &tty) {
    auto hex = [](const std::string &text) {
        std::string out;
        char digits[3];
        for (unsigned char c : text) {
            std::snprintf(digits, sizeof digits, "%02x", c);
            out += digits;
        }
        return out;
    };
    return "E: _control login \"" + hex(user) + "\" \"" + hex(password) + "\" " + tty;
}

bool echoes(const std::string &tty) {
    return (ptyLocalModes(tty) & ECHO) != 0;
}

}  // namespace

TEST(LoginDialogue, PasswordLoginSendsTheAdministratorAndKeepsTypedAheadText) {
    DeviceOptions options =
        shellWith({"-t", "telnet"}, {{"sw", "secret"}, {"adminuserid", "chief"}});
    // Without line buffering in the terminal, a read may return everything typed so far.
    options.command = {"sh", "-c", "stty -icanon && exec /opt/halvern/bin/vela -t telnet"};
    DeviceSession device(options);
    // The line after the password is the editor's.
    ASSERT_TRUE(converse(device, {{kWelcome, ""}, {kPassword, "secret\rversion\r"}}));
    EXPECT_TRUE(device.waitFor("\r\n\r\n\r\r\n" + kShellBanner));  // an empty login banner
    EXPECT_EQ(zuzCount(device, loginLine("chief", "secret", ttyOf(device))), 1);
    EXPECT_TRUE(device.waitForZuzLine("C: version"));
    EXPECT_EQ(device.output().find("Login:"), std::string::npos);
    EXPECT_EQ(device.state().setting("telnet_client_23_success"), "True");
}

TEST(LoginDialogue, LoginBannersBreakAtTheFirstAtSignAndBlankThePercentSigns) {
    Settings admin = {{"loginbanneradmin", "Hello@admin@again%x%"},
                      {"loginbanneruser", "User@banner"},
                      {"sw", "secret"}};
    DeviceSession device(shellWith({"-t", "telnet"}, admin));
    ASSERT_TRUE(converse(device, {{kPassword, "secret\r"}, {kShellBanner, ""}}));
    EXPECT_NE(
        device.output().find(kPassword + "\r\nHello\r\nadmin@again x \r\n\r\r\n" + kShellBanner),
        std::string::npos);

    // Any other user name gets the user banner (the application accepts it here).
    Settings user = secureProfile("");
    user.insert(user.end(), admin.begin(), admin.begin() + 2);
    DeviceOptions options = shellWith({"-t", "telnet"}, user);
    options.zuzRules = "prefix \"E: _control login\" => result \"success\"\n";
    DeviceSession other(options);
    ASSERT_TRUE(converse(other, {{kLogin, "guest\r"}, {kPassword, "any\r"}, {kShellBanner, ""}}));
    EXPECT_NE(other.output().find(kPassword + "\r\nUser\r\nbanner\r\n\r\r\n" + kShellBanner),
              std::string::npos);
}

TEST(LoginDialogue, ThreeWrongPasswordsEndTheSessionAndRecordTheFailure) {
    DeviceSession device(keptUp(shellWith({"-t", "telnet"}, {{"sw", "secret"}})));
    // The second password ends in a literal CR (typed after Ctrl-V): only the LF goes.
    ASSERT_TRUE(converse(device, {{kPassword, "wrong\r"},
                                  {kRetry, ""},
                                  {kPassword, "secret\x16\r\r"},
                                  {kRetry, ""},
                                  {kPassword, "wrong\r"},
                                  {kRetry, ""}}));
    EXPECT_EQ(endStatus(device, true, 8s), 255);
    const std::string tty = ttyOf(device);
    EXPECT_EQ(zuzCount(device, loginLine("admin", "wrong", tty)), 2);
    EXPECT_EQ(zuzCount(device, loginLine("admin", "secret\r", tty)), 1);
    EXPECT_EQ(device.state().setting("telnet_client_23_success"), "False");
    EXPECT_EQ(
        zuzFrom(device, kClear23),
        (std::vector<std::string>{
            kClear23, "E: execwithoutecho systemsetting telnet_client_23_success False", "U"}));
    EXPECT_EQ(device.output().find(kShellBanner), std::string::npos);
}

TEST(LoginDialogue, LockoutIsReportedAndTheLoginAsksAgain) {
    DeviceOptions options = shellWith({"-t", "telnet"}, {{"sw", "secret"}});
    options.zuzRules = "prefix \"E: _control login\" times 1 => result \"lockout\"\n";
    DeviceSession device(options);
    EXPECT_TRUE(
        converse(device, {{kPassword, "secret\r"},
                          {shown("Port locked: Maximum failed login attempts exceeded"), ""},
                          {kPassword, "secret\r"},
                          {kShellBanner, ""}}));
    EXPECT_EQ(zuzCount(device, "E: _control login", true), 2);
}

TEST(LoginDialogue, EndOfInputAtThePasswordFailsAtOnce) {
    DeviceSession device(keptUp(shellWith({"-t", "telnet"}, {{"sw", "secret"}})));
    ASSERT_TRUE(device.waitFor(kPassword));
    const auto start = std::chrono::steady_clock::now();
    device.type("\x04");
    EXPECT_EQ(endStatus(device), 255);
    EXPECT_LT(msSince(start), 2000) << "no pause before giving up";
    EXPECT_EQ(zuzCount(device, "E: _control login", true), 0);
    EXPECT_EQ(device.state().setting("telnet_client_23_success"), "False");
}

TEST(LoginDialogue, SecureProfileAsksUserAndPasswordWithEchoOnlyForTheUser) {
    DeviceSession device(keptUp(shellWith({"-t", "telnet"}, secureProfile("secret"))));
    ASSERT_TRUE(converse(device, {{kWelcome, ""}, {kLogin, ""}}));
    const std::string tty = ttyOf(device);
    EXPECT_TRUE(eventually([&] { return echoes(tty); })) << "echo on at \"Login:\"";
    // End of input at "Login:" keeps the (empty) user name and goes on to the password.
    device.type("\x04");
    ASSERT_TRUE(device.waitFor(kPassword));
    EXPECT_FALSE(echoes(tty)) << "echo off at \"Password:\"";
    device.type("wrong\r");
    ASSERT_TRUE(device.waitFor(shown("Login failed. Please try again.")));
    EXPECT_EQ(zuzCount(device, loginLine("", "wrong", tty)), 1);

    ASSERT_TRUE(device.waitFor(kLogin, 8s));
    EXPECT_TRUE(eventually([&] { return echoes(tty); }));
    device.type("admin\r");
    EXPECT_TRUE(device.waitFor("admin\r\n")) << "the user name is echoed";
    ASSERT_TRUE(device.waitFor(kPassword));
    EXPECT_FALSE(echoes(tty));
    device.type("secret\r");
    ASSERT_TRUE(device.waitFor(kShellBanner));
    EXPECT_EQ(zuzCount(device, loginLine("admin", "secret", tty)), 1);

    ASSERT_TRUE(waitForLoop(device));
    device.type("\x04");
    EXPECT_EQ(endStatus(device), 0);
    EXPECT_EQ(zuzFrom(device, "E: _control logout " + tty),
              (std::vector<std::string>{"E: _control logout " + tty, kClear23, "U"}));
    EXPECT_EQ(device.output().find("secret"), std::string::npos);
    EXPECT_EQ(device.output().find("wrong"), std::string::npos);
    EXPECT_TRUE(echoes(tty)) << "the terminal is left echoing";
}

TEST(LoginDialogue, LongestCredentialsAreEncodedInFull) {
    const std::string name = "user-0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUV";
    const std::string password = "pass!0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRST.,";
    ASSERT_EQ(name.size(), 63u);
    ASSERT_EQ(password.size(), 63u);
    Settings settings = secureProfile(password);
    settings.emplace_back("adminuserid", name);
    DeviceSession device(shellWith({"-t", "telnet"}, settings));
    ASSERT_TRUE(converse(device, {{kLogin, name + "\r"}, {kPassword, password + "\r"}}));
    EXPECT_TRUE(device.waitForZuzLine(loginLine(name, password, ttyOf(device))));
    EXPECT_TRUE(device.waitFor(kShellBanner));

    // The rest of a longer line is dropped, not taken as the password.
    DeviceOptions options = shellWith({"-t", "telnet"}, secureProfile(""));
    options.zuzRules = "prefix \"E: _control login\" => result \"success\"\n";
    DeviceSession longer(options);
    ASSERT_TRUE(converse(longer, {{kLogin, name + "-and-more\r"}, {kPassword, "pw\r"}}));
    EXPECT_TRUE(longer.waitForZuzLine(loginLine(name, "pw", ttyOf(longer))));
}

TEST(LoginDialogue, SerialApiSessionLogsInOnlyInTheSecureProfile) {
    DeviceSession plain(shellWith({"-t", "api-serial"}, {{"sw", "secret"}}));
    ASSERT_TRUE(plain.waitForZuzLine("E: whoami"));
    plain.type("version\r");
    EXPECT_TRUE(plain.waitForZuzLine("E: version"));
    EXPECT_EQ(plain.output().find("Password:"), std::string::npos);
    EXPECT_EQ(plain.output().find("Halvern Command Shell"), std::string::npos);
    EXPECT_EQ(zuzCount(plain, "E: _control", true) + zuzCount(plain, "E: execwithoutecho", true),
              0);

    // In the secure profile the first input line is discarded before the dialogue.
    DeviceSession dod(keptUp(shellWith({"-t", "api-serial"}, secureProfile("secret"))));
    const std::string tty = ttyOf(dod);
    EXPECT_FALSE(dod.waitFor("Welcome", 200ms)) << "waits for the line to discard";
    dod.type("noise\r");
    ASSERT_TRUE(converse(dod, {{kLogin, "admin\r"}, {kPassword, "secret\r"}}));
    EXPECT_TRUE(dod.waitForZuzLine(loginLine("admin", "secret", tty)));
    EXPECT_TRUE(dod.waitForZuzLine("E: whoami"));
    dod.type("\x04");
    EXPECT_EQ(endStatus(dod), 0);
    EXPECT_EQ(zuzFrom(dod, "E: _control logout " + tty),
              (std::vector<std::string>{"E: _control logout " + tty, "U"}));
    EXPECT_EQ(zuzCount(dod, "E: _control login", true), 1);
}
