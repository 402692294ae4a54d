// The login dialogue on the terminal: prompts, results, banners, retries, the secure
// profile's dialogue and logout, terminal echo and the encoded request.
#include <gtest/gtest.h>

#include "login_support.h"

using namespace vela::test;
using namespace vela::test::login;

namespace {

const std::string kWelcome = shown("Welcome to Tessaline");
const std::string kPassword = shown("Password:");
const std::string kLogin = shown("Login:");
const std::string kShellBanner = shown("Halvern Command Shell");
const std::string kRetry = shown(" -- password failed, retry --");
const std::string kClear23 = "E: execwithoutecho systemsetting telnet_client_23 ";

TEST(LoginDialogue, NoPasswordMeansNoPromptAndTheSuccessIsRecorded) {
    DeviceSession telnet(shellOn("telnet"));
    ASSERT_TRUE(telnet.waitFor(kShellBanner));
    EXPECT_TRUE(
        eventually([&] { return telnet.state().setting("telnet_client_23_success") == "True"; }));
    EXPECT_EQ(telnet.output().find("Welcome"), std::string::npos);
    EXPECT_EQ(telnet.output().find("Password:"), std::string::npos);
    EXPECT_EQ(receivedWithPrefix(telnet, "E: _control login"), 0);
    telnet.type("\x04");
    EXPECT_EQ(telnet.waitExit(), 0);

    DeviceSession api(shellOn("api"));
    ASSERT_TRUE(api.waitForZuzLine("E: whoami"));
    EXPECT_TRUE(
        api.waitForZuzLine("E: execwithoutecho systemsetting telnet_client_24_success True"));
    EXPECT_EQ(api.output().find("Password:"), std::string::npos);
    EXPECT_EQ(receivedWithPrefix(api, "E: _control login"), 0);
}

TEST(LoginDialogue, PasswordLoginSendsTheAdministratorAndKeepsTypedAheadText) {
    DeviceOptions options = shellOn("telnet", {{"sw", "secret"}, {"adminuserid", "chief"}});
    // Without line buffering in the terminal, a read may return everything typed so far.
    options.command = {"sh", "-c", "stty -icanon && exec /opt/halvern/bin/vela -t telnet"};
    DeviceSession device(options);
    ASSERT_TRUE(device.waitFor(kWelcome));
    ASSERT_TRUE(device.waitFor(kPassword));
    // The line after the password is typed ahead; the editor must still get it.
    device.type("secret\rversion\r");
    // No login banner configured: its empty lines only.
    EXPECT_TRUE(device.waitFor("\r\n\r\n\r\r\n" + kShellBanner));
    std::string tty = sessionTty(device);
    EXPECT_EQ(receivedCount(device, loginLine("chief", "secret", tty)), 1);
    EXPECT_TRUE(device.waitForZuzLine("C: version"));
    EXPECT_EQ(device.output().find("Login:"), std::string::npos);
    EXPECT_EQ(device.state().setting("telnet_client_23_success"), "True");
    device.type("\x04");
    EXPECT_EQ(device.waitExit(), 0);
}

TEST(LoginDialogue, LoginBannersBreakAtTheFirstAtSignAndBlankThePercentSigns) {
    Settings banners = {{"loginbanneradmin", "Hello@admin@again%x%"},
                        {"loginbanneruser", "User@banner"}};
    Settings admin = banners;
    admin.emplace_back("sw", "secret");
    DeviceSession device(shellOn("telnet", admin));
    ASSERT_TRUE(device.waitFor(kPassword));
    device.type("secret\r");
    ASSERT_TRUE(device.waitFor(kShellBanner));
    EXPECT_NE(
        device.output().find(kPassword + "\r\nHello\r\nadmin@again x \r\n\r\r\n" + kShellBanner),
        std::string::npos)
        << escaped(device.output());

    // Any other user name gets the user banner (the application accepts it here).
    Settings user = banners;
    for (auto &setting : dodSettings(""))
        user.push_back(setting);
    DeviceOptions options = shellOn("telnet", user);
    options.zuzRules = "prefix \"E: _control login\" => result \"success\"\n";
    DeviceSession other(options);
    ASSERT_TRUE(other.waitFor(kLogin));
    other.type("guest\r");
    ASSERT_TRUE(other.waitFor(kPassword));
    other.type("any\r");
    ASSERT_TRUE(other.waitFor(kShellBanner));
    EXPECT_NE(other.output().find(kPassword + "\r\nUser\r\nbanner\r\n\r\r\n" + kShellBanner),
              std::string::npos)
        << escaped(other.output());
}

TEST(LoginDialogue, ThreeWrongPasswordsEndTheSessionAndRecordTheFailure) {
    DeviceSession device(keepZuzUntilUnregistered(shellOn("telnet", {{"sw", "secret"}})));
    std::string tty;
    // The second password ends in a literal CR (typed after Ctrl-V): only the LF goes.
    const char *typed[] = {"wrong\r", "secret\x16\r\r", "wrong\r"};
    for (int attempt = 0; attempt < 3; ++attempt) {
        ASSERT_TRUE(device.waitFor(kPassword, 8s)) << "attempt " << attempt;
        if (attempt == 0) tty = sessionTty(device);
        device.type(typed[attempt]);
        ASSERT_TRUE(device.waitFor(kRetry)) << "attempt " << attempt;
    }
    EXPECT_EQ(device.waitExit(8s), 255);
    EXPECT_EQ(receivedCount(device, loginLine("admin", "wrong", tty)), 2);
    EXPECT_EQ(receivedCount(device, loginLine("admin", "secret\r", tty)), 1);
    EXPECT_EQ(device.state().setting("telnet_client_23_success"), "False");
    EXPECT_EQ(
        receivedFrom(device, kClear23),
        (std::vector<std::string>{
            kClear23, "E: execwithoutecho systemsetting telnet_client_23_success False", "U"}));
    EXPECT_EQ(device.output().find(kShellBanner), std::string::npos);
}

TEST(LoginDialogue, LockoutIsReportedAndTheLoginAsksAgain) {
    DeviceOptions options = shellOn("telnet", {{"sw", "secret"}});
    options.zuzRules = "prefix \"E: _control login\" times 1 => result \"lockout\"\n";
    DeviceSession device(options);
    ASSERT_TRUE(device.waitFor(kPassword));
    device.type("secret\r");
    ASSERT_TRUE(device.waitFor(shown("Port locked: Maximum failed login attempts exceeded")));
    ASSERT_TRUE(device.waitFor(kPassword, 8s));
    device.type("secret\r");
    EXPECT_TRUE(device.waitFor(kShellBanner));
    EXPECT_EQ(receivedWithPrefix(device, "E: _control login"), 2);
}

TEST(LoginDialogue, EndOfInputAtThePasswordFailsAtOnce) {
    DeviceSession device(keepZuzUntilUnregistered(shellOn("telnet", {{"sw", "secret"}})));
    ASSERT_TRUE(device.waitFor(kPassword));
    auto start = std::chrono::steady_clock::now();
    device.type("\x04");
    EXPECT_EQ(device.waitExit(), 255);
    EXPECT_LT(msSince(start), 2000) << "no pause before giving up";
    EXPECT_EQ(receivedWithPrefix(device, "E: _control login"), 0);
    EXPECT_EQ(device.state().setting("telnet_client_23_success"), "False");
    EXPECT_EQ(device.zuzReceived().back(), "U");
}

TEST(LoginDialogue, SecureProfileAsksUserAndPasswordWithEchoOnlyForTheUser) {
    DeviceSession device(keepZuzUntilUnregistered(shellOn("telnet", dodSettings("secret"))));
    ASSERT_TRUE(device.waitFor(kWelcome));
    ASSERT_TRUE(device.waitFor(kLogin));
    std::string tty = sessionTty(device);
    ASSERT_FALSE(tty.empty());
    EXPECT_TRUE(eventually([&] { return ptyEchoes(tty); })) << "echo on at \"Login:\"";

    // End of input at "Login:" keeps the (empty) user name and goes on to the password.
    device.type("\x04");
    ASSERT_TRUE(device.waitFor(kPassword));
    EXPECT_FALSE(ptyEchoes(tty)) << "echo off at \"Password:\"";
    device.type("wrong\r");
    ASSERT_TRUE(device.waitFor(shown("Login failed. Please try again.")));
    EXPECT_EQ(receivedCount(device, loginLine("", "wrong", tty)), 1);

    ASSERT_TRUE(device.waitFor(kLogin, 8s));
    EXPECT_TRUE(eventually([&] { return ptyEchoes(tty); }));
    device.type("admin\r");
    EXPECT_TRUE(device.waitFor("admin\r\n")) << "the user name is echoed";
    ASSERT_TRUE(device.waitFor(kPassword));
    EXPECT_FALSE(ptyEchoes(tty));
    device.type("secret\r");
    ASSERT_TRUE(device.waitFor(kShellBanner));
    EXPECT_EQ(receivedCount(device, loginLine("admin", "secret", tty)), 1);

    ASSERT_TRUE(waitForEditor(device));
    device.type("\x04");
    EXPECT_EQ(device.waitExit(), 0);
    EXPECT_EQ(receivedFrom(device, "E: _control logout " + tty),
              (std::vector<std::string>{"E: _control logout " + tty, kClear23, "U"}));
    std::string screen = device.output();
    EXPECT_EQ(screen.find("secret"), std::string::npos);
    EXPECT_EQ(screen.find("wrong"), std::string::npos);
    EXPECT_TRUE(ptyEchoes(tty)) << "the terminal is left echoing";
}

TEST(LoginDialogue, LongestCredentialsAreEncodedInFull) {
    const std::string name = "user-0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUV";
    const std::string password = "pass!0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRST.,";
    ASSERT_EQ(name.size(), 63u);
    ASSERT_EQ(password.size(), 63u);
    Settings settings = dodSettings(password);
    settings.emplace_back("adminuserid", name);
    DeviceSession device(shellOn("telnet", settings));
    ASSERT_TRUE(device.waitFor(kLogin));
    device.type(name + "\r");
    ASSERT_TRUE(device.waitFor(kPassword));
    device.type(password + "\r");
    std::string tty = sessionTty(device);
    EXPECT_TRUE(device.waitForZuzLine("E: _control login \"" + hexOf(name) + "\" \"" +
                                      hexOf(password) + "\" " + tty));
    EXPECT_TRUE(device.waitFor(kShellBanner)) << escaped(device.output());

    // The rest of a longer line is dropped, not taken as the password.
    DeviceOptions options = shellOn("telnet", dodSettings(""));
    options.zuzRules = "prefix \"E: _control login\" => result \"success\"\n";
    DeviceSession longer(options);
    ASSERT_TRUE(longer.waitFor(kLogin));
    longer.type(name + "-and-more\r");
    ASSERT_TRUE(longer.waitFor(kPassword));
    longer.type("pw\r");
    EXPECT_TRUE(longer.waitForZuzLine(loginLine(name, "pw", sessionTty(longer))));
}

TEST(LoginDialogue, SecurityBannerIsShownOnEverySessionType) {
    for (const char *type : {"telnet", "api", "api-serial"}) {
        DeviceSession device(shellOn(type, {{"securitybanner", "Authorized%use%only!"}}));
        EXPECT_TRUE(device.waitFor("\r\nAuthorized use only!\r\n\r\n\r\r\n")) << type;
    }
}

TEST(LoginDialogue, SerialApiSessionLogsInOnlyInTheSecureProfile) {
    DeviceOptions options = shellOn("api-serial", {{"sw", "secret"}});
    DeviceSession plain(options);
    ASSERT_TRUE(plain.waitForZuzLine("E: whoami"));
    plain.type("version\r");
    EXPECT_TRUE(plain.waitForZuzLine("E: version"));
    plain.type("\x04");
    EXPECT_EQ(plain.waitExit(), 0);
    EXPECT_EQ(plain.output().find("Password:"), std::string::npos);
    EXPECT_EQ(plain.output().find("Halvern Command Shell"), std::string::npos);
    EXPECT_EQ(receivedWithPrefix(plain, "E: _control"), 0);
    EXPECT_EQ(receivedWithPrefix(plain, "E: execwithoutecho"), 0);

    // In the secure profile the first input line is discarded before the dialogue.
    DeviceSession dod(keepZuzUntilUnregistered(shellOn("api-serial", dodSettings("secret"))));
    std::string tty = sessionTty(dod);
    EXPECT_FALSE(dod.waitFor("Welcome", 200ms)) << "waits for the line to discard";
    dod.type("noise\r");
    ASSERT_TRUE(dod.waitFor(kLogin));
    dod.type("admin\r");
    ASSERT_TRUE(dod.waitFor(kPassword));
    dod.type("secret\r");
    EXPECT_TRUE(dod.waitForZuzLine(loginLine("admin", "secret", tty)));
    EXPECT_TRUE(dod.waitForZuzLine("E: whoami"));
    dod.type("\x04");
    EXPECT_EQ(dod.waitExit(), 0);
    EXPECT_EQ(dod.zuzReceived().back(), "U");
    EXPECT_EQ(receivedCount(dod, "E: _control logout " + tty), 1);
    EXPECT_EQ(receivedWithPrefix(dod, "E: _control login"), 1);
}

}  // namespace
