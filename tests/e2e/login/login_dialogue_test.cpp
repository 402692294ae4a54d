// The login dialogue on the terminal: prompts, results, banners, retries, the secure
// profile's dialogue and logout, terminal echo, the encoded request, and the waits for a
// result, over as soon as none can come. (The result's and its waits' logic:
// tests/shell/app_link_test.cpp; a wait that only a hang-up ends: tests/e2e/faults.)
#include <gtest/gtest.h>

#include "ShellOnDevice.h"

using namespace vela::test;

namespace {

const std::string kWelcome = shown("Welcome to Tessaline");
const std::string kPassword = shown("Password:");
const std::string kLogin = shown("Login:");
const std::string kShellBanner = shown("Halvern Command Shell");
const std::string kRetry = shown(" -- password failed, retry --");
const std::string kLoginRule = "prefix \"E: _control login\" => ";

// The login request zuz receives: each byte of the credentials as two hex digits.
std::string loginLine(const std::string &user, const std::string &password,
                      const std::string &tty) {
    return "E: _control login \"" + hexEncoded(user) + "\" \"" + hexEncoded(password) + "\" " + tty;
}

bool echoes(const std::string &tty) {
    return (ptyLocalModes(tty) & ECHO) != 0;
}

}  // namespace

TEST(LoginDialogue, PasswordLoginShowsTheBannerAndKeepsTypedAheadText) {
    DeviceOptions options = shellWith({"-t", "telnet"}, {{"sw", "secret"},
                                                         {"loginbanneradmin", "Hi@admin@again%x%"},
                                                         {"loginbanneruser", "User"},
                                                         {"telnet_client_23", "stale"}});
    // Without line buffering in the terminal, a read may return everything typed so far.
    options.command = {"sh", "-c", "stty -icanon && exec /opt/halvern/bin/vela -t telnet"};
    DeviceSession device(options);
    // The line after the password is the editor's.
    ASSERT_TRUE(converse(device, {{kWelcome, ""}, {kPassword, "secret\rversion\r"}}));
    // The administrator's banner: its first "@" breaks the line, every "%" is blanked.
    ASSERT_TRUE(device.waitFor(kShellBanner));
    EXPECT_NE(device.output().find(kPassword + "\r\nHi\r\nadmin@again x \r\n\r\r\n" + kShellBanner),
              std::string::npos);
    EXPECT_TRUE(device.waitForZuzLine("C: version"));
    EXPECT_EQ(device.output().find("Login:"), std::string::npos);
    EXPECT_EQ(device.state().setting("telnet_client_23_success"), "True");
    EXPECT_EQ(device.state().setting("telnet_client_23"), "") << "no client, no address";
}

// A lockout is reported and the login asks again; the third failure ends the session.
TEST(LoginDialogue, ThirdFailedPasswordEndsTheSessionAndRecordsTheFailure) {
    DeviceOptions options =
        keptUp(shellWith({"-t", "telnet"}, {{"sw", "secret"}, {"adminuserid", "chief"}}));
    options.zuzRules = "prefix \"E: _control login\" times 1 => result \"lockout\"\n";
    DeviceSession device(options);
    // The second password ends in a literal CR (typed after Ctrl-V): only the LF goes.
    ASSERT_TRUE(
        converse(device, {{kPassword, "secret\r"},
                          {shown("Port locked: Maximum failed login attempts exceeded"), ""},
                          {kPassword, "secret\x16\r\r"},
                          {kRetry, ""},
                          {kPassword, "wrong\r"},
                          {kRetry, ""}}));
    EXPECT_EQ(endStatus(device, true, 8s), 255);
    const std::string tty = ttyOf(device);
    for (const char *password : {"secret", "secret\r", "wrong"})
        EXPECT_EQ(zuzCount(device, loginLine("chief", password, tty)), 1) << password;
    EXPECT_EQ(device.state().setting("telnet_client_23_success"), "False");
    EXPECT_EQ(
        zuzFrom(device, kClear23),
        (std::vector<std::string>{
            kClear23, "E: execwithoutecho systemsetting telnet_client_23_success False", "U"}));
    EXPECT_EQ(device.output().find(kShellBanner), std::string::npos);
}

// The terminal echoes the user name, never the password; the longest credentials go in
// full, the rest of a longer line is dropped, not taken as the password. The logout
// waits at most five seconds for its result.
TEST(LoginDialogue, SecureProfileAsksUserAndPasswordWithEchoOnlyForTheUser) {
    const std::string name = "user-0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUV";
    const std::string password = "pass!0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRST.,";
    ASSERT_EQ(name.size(), 63u);
    ASSERT_EQ(password.size(), 63u);
    Settings settings = secureProfile(password);
    settings.emplace_back("adminuserid", name);
    DeviceOptions options = keptUp(shellWith({"-t", "telnet"}, settings));
    options.zuzRules = "prefix \"E: _control logout\" => noresult\n";
    DeviceSession device(options);
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
    device.type(name + "-and-more\r");
    EXPECT_TRUE(device.waitFor(name + "-and-more\r\n")) << "the user name is echoed";
    ASSERT_TRUE(device.waitFor(kPassword));
    EXPECT_FALSE(echoes(tty));
    device.type(password + "\r");
    ASSERT_TRUE(device.waitFor(kShellBanner));
    EXPECT_EQ(zuzCount(device, loginLine(name, password, tty)), 1);

    ASSERT_TRUE(waitForLoop(device));
    const auto start = std::chrono::steady_clock::now();
    device.type("\x04");
    EXPECT_EQ(endStatus(device, true, 8s), 0);
    EXPECT_GE(msSince(start), 4500);
    EXPECT_EQ(zuzFrom(device, "E: _control logout " + tty),
              (std::vector<std::string>{"E: _control logout " + tty, kClear23, "U"}));
    EXPECT_EQ(device.output().find(password), std::string::npos);
    EXPECT_EQ(device.output().find("wrong"), std::string::npos);
    EXPECT_TRUE(echoes(tty)) << "the terminal is left echoing";
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
    EXPECT_TRUE(dod.waitForZuzLine("E: whoami"));
    dod.type("\x04");
    EXPECT_EQ(endStatus(dod), 0);
    EXPECT_EQ(zuzFrom(dod, loginLine("admin", "secret", tty)),
              (std::vector<std::string>{loginLine("admin", "secret", tty), "E: whoami",
                                        "E: _control logout " + tty, "U"}));
}

// Without a retry pause, and without asking again.
TEST(LoginBoundedWait, LoginFailsAtOnceWhenNoResultCanCome) {
    const std::tuple<const char *, std::string, const char *> cases[] = {
        {"the link ends while the login waits", kLoginRule + "reply 0; delay 100; drop\n",
         "secret\r"},
        // The registration is answered "R: 0" right before the link ends: the reply
        // still answers it; the request then cannot be sent, or nothing can answer it.
        {"the link ended before the request", "prefix \"R: \" => run; drop\n", "secret\r"},
        // A datagram without a line end fills the listener reader's buffer and ends it.
        {"the listener reader ended",
         kLoginRule + "noresult; datagram \"" + std::string(40000, 'x') + "\"; run\n", "secret\r"},
        {"end of input at the password", "", "\x04"},
    };
    for (const auto &[name, rules, typed] : cases) {
        SCOPED_TRACE(name);
        DeviceOptions options = keptUp(shellWith({"-t", "telnet"}, {{"sw", "secret"}}));
        options.zuzRules = rules;
        DeviceSession device(options);
        ASSERT_TRUE(device.waitFor(kPassword)) << device.output();
        const bool linkUp = rules.find("drop") == std::string::npos;
        const auto start = std::chrono::steady_clock::now();
        device.type(typed);
        EXPECT_EQ(endStatus(device, linkUp), 255);
        EXPECT_LT(msSince(start), 4000) << "no retry pause";
        EXPECT_FALSE(device.waitFor(kPassword, 0ms)) << "not asked again";
        EXPECT_TRUE(!linkUp || device.state().setting("telnet_client_23_success") == "False");
        EXPECT_TRUE(*typed != '\x04' || zuzCount(device, "E: _control login", true) == 0);
    }
}
