// The login dialogue on the terminal: prompts, results, banners, retries, the secure
// profile's dialogue, logout and idle limit, terminal echo, the encoded request, who may
// answer it, and the waits for a result, over as soon as none can come. (The result's
// and its waits' logic: tests/shell/app_link_test.cpp; a wait that only a hang-up ends:
// tests/e2e/faults.)
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "ShellOnDevice.h"

using namespace vela::test;

namespace {

constexpr auto npos = std::string::npos;
constexpr std::chrono::milliseconds kMinute{CLE_FASTCLOCK_MINUTE_MS};
const std::string kWelcome = shown("Welcome to Tessaline");
const std::string kPassword = shown("Password:");
const std::string kLogin = shown("Login:");
const std::string kShellBanner = shown("Halvern Command Shell");
const std::string kRetry = shown(" -- password failed, retry --");

bool echoes(const std::string &tty) {
    return (ptyLocalModes(tty) & ECHO) != 0;
}

// Sends datagram on fd from a process of user uid; false when it could not.
bool sendAs(uid_t uid, int fd, const std::string &datagram) {
    const pid_t child = fork();
    if (child == 0)
        _exit(setresgid(uid, uid, uid) == 0 && setresuid(uid, uid, uid) == 0 &&
                      send(fd, datagram.data(), datagram.size(), 0) == ssize_t(datagram.size())
                  ? 0
                  : 1);
    int status = -1;
    return child > 0 && waitpid(child, &status, 0) == child && status == 0;
}

}  // namespace

// While the login waits for its result, a "success" from another user of the device is
// dropped with a record; the application's own answer decides: a lockout, reported, and
// the login asks again. The third failure ends the session.
TEST(LoginDialogue, OnlyTheApplicationAnswersAndTheThirdFailureEndsTheSession) {
    DeviceSession device(
        keptUp(shellWith({"-t", "telnet"}, {{"sw", "secret"}, {"adminuserid", "chief"}}),
               "prefix \"E: _control login\" times 1 => noresult\n"));
    ASSERT_TRUE(converse(device, {{kPassword, "secret\r"}}));
    ASSERT_TRUE(eventually([&] { return zuzCount(device, "E: _control login", true) == 1; }));
    auto listener = device.connectDatagram("/tmp/apiasynclisteners/vela" + ttyOf(device).substr(9));
    ASSERT_TRUE(geteuid() != 0 || sendAs(65534, listener.get(), "success\n"));
    ASSERT_EQ(send(listener.get(), "lockout\n", 8, 0), 8);
    // The second password ends in a literal CR (typed after Ctrl-V): only the LF goes.
    ASSERT_TRUE(
        converse(device, {{shown("Port locked: Maximum failed login attempts exceeded"), ""},
                          {kPassword, "secret\x16\r\r"},
                          {kRetry, ""},
                          {kPassword, "wrong\r"},
                          {kRetry, ""}}));
    EXPECT_EQ(endStatus(device, true, 8s), 255);
    const std::string tty = ttyOf(device);
    for (const char *password : {"secret", "secret\r", "wrong"})
        EXPECT_EQ(zuzCount(device, loginLine("chief", password, tty)), 1) << password;
    EXPECT_EQ(device.setting("telnet_client_23_success"), "False");
    EXPECT_EQ(
        zuzFrom(device, kClear23),
        (Lines{kClear23, "E: execwithoutecho systemsetting telnet_client_23_success False", "U"}));
    EXPECT_EQ(device.output().find(kShellBanner), npos);
    EXPECT_EQ(device.output().find("Login:"), npos);
    EXPECT_TRUE(geteuid() != 0 || waitForRecord(device, "SECURITY: " + sessionName(device) +
                                                            ":dropped a datagram from uid 65534 "));
}

// The terminal echoes the user name, never the password; the longest credentials go in
// full, the rest of a longer line is dropped, not taken as the password. The idle limit
// (a minute: a second in this build) ends the session with a security record that names
// the user literally, whatever it holds; its logout waits at most five seconds.
TEST(LoginDialogue, SecureProfileSessionFromTheLoginToTheIdleLimit) {
    const std::string name =
        "%n%s%x%%\x01\x07\x1b[7m-0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKL";
    const std::string password = "pass!0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRST.,";
    ASSERT_TRUE(name.size() == 63 && password.size() == 63);
    Settings settings = secureProfile(password, "1");
    settings.insert(settings.end(),
                    {{"loginbanneradmin", "Admin"}, {"loginbanneruser", "For@you"}});
    // The application takes this user, who is not its administrator, and never answers
    // the logout.
    DeviceSession device(keptUp(shellWith({"-t", "telnet"}, settings, VELA_FASTCLOCK_BINARY),
                                "prefix \"E: _control login \\\"" + hexEncoded(name) +
                                    "\" => result \"success\"\nprefix \"E: _control logout\" => "
                                    "noresult\n"));
    ASSERT_TRUE(converse(device, {{kWelcome, ""}, {kLogin, ""}}));
    const std::string tty = ttyOf(device), logout = "E: _control logout " + tty;
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
    EXPECT_TRUE(device.waitFor(name.substr(14) + "-and-more\r\n")) << "the user name is echoed";
    ASSERT_TRUE(device.waitFor(kPassword));
    EXPECT_FALSE(echoes(tty));
    device.type(password + "\r");
    EXPECT_TRUE(device.waitFor("\r\nFor\r\nyou\r\n\r\r\n" + kShellBanner)) << "the users' banner";
    EXPECT_EQ(zuzCount(device, loginLine(name, password, tty)), 1);

    ASSERT_TRUE(waitForLoop(device));
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(device.waitForZuzLine(logout, kMinute * 3));
    EXPECT_GE(msSince(start), kMinute.count() * 9 / 10);
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(endStatus(device, true, 8s), 0);
    EXPECT_GE(msSince(start), 4500) << "the logout waits for its result";
    EXPECT_NE(device.output().find(shown("Session timed out")), npos);
    EXPECT_EQ(zuzFrom(device, logout), (Lines{logout, kClear23, "U"}));
    const std::string record =
        "SECURITY: " + sessionName(device) + ":Session timed out ID: " + name;
    ASSERT_TRUE(waitForRecord(device, record));
    EXPECT_EQ(std::ranges::count_if(device.syslogRecords(),
                                    [&](const SyslogRecord &r) {
                                        return r.message == record && r.priority == 69 &&
                                               r.identity == "vela";
                                    }),
              1);
    EXPECT_EQ(ptyLocalModes(tty) & (ICANON | ECHO), tcflag_t(ICANON | ECHO)) << "restored";
    EXPECT_EQ(device.output().find(password), npos);
    EXPECT_EQ(device.output().find("wrong"), npos);
}

// Ctrl-Z at either prompt stops nothing, even under a job-control shell that leads the
// terminal's session (only then can a stop take effect); the login then goes on. Without
// line buffering in the terminal a read may return everything typed so far: the line
// after the password is the editor's. The logout does not wait for an application that
// was killed meanwhile.
TEST(LoginDialogue, LoginUnderJobControlWithTypedAheadTextAndTheAdministratorsBanner) {
    Settings settings = secureProfile("secret");
    settings.insert(settings.end(), {{"loginbanneradmin", "Hi@admin@again%x%"},
                                     {"loginbanneruser", "User"},
                                     {"telnet_client_23", "stale"}});
    DeviceOptions options = shellWith({}, settings);
    options.command = {
        "setsid", "--ctty", "bash", "-mc",
        "stty -icanon; " + std::string(kDeviceVela) + " -t telnet; echo \"[end $?]\""};
    DeviceSession device(options);
    ASSERT_TRUE(converse(device, {{kLogin, "\032admin\r"}, {kPassword, "\032secret\rversion\r"}}))
        << device.output();
    // Its first "@" breaks the banner's line, every "%" is blanked.
    EXPECT_TRUE(device.waitFor("\r\nHi\r\nadmin@again x \r\n\r\r\n" + kShellBanner));
    EXPECT_TRUE(device.waitForZuzLine("C: version"));
    EXPECT_EQ(device.setting("telnet_client_23_success"), "True");
    EXPECT_EQ(device.setting("telnet_client_23"), "") << "no client, no address";
    ASSERT_TRUE(killDaemon(device, "zuz"));
    const auto start = std::chrono::steady_clock::now();
    device.type("\x04");
    EXPECT_TRUE(device.waitFor("[end 0]"));
    EXPECT_LT(msSince(start), 4000) << "the logout would wait five seconds";
}

// In the secure profile a serial session logs in, once the first input line is discarded.
// (Without it, it never asks: tests/e2e/spine.)
TEST(LoginDialogue, SerialApiSessionLogsInInTheSecureProfile) {
    DeviceSession dod(keptUp(shellWith({"-t", "api-serial"}, secureProfile("secret"))));
    const std::string tty = ttyOf(dod), login = loginLine("admin", "secret", tty);
    EXPECT_FALSE(dod.waitFor("Welcome", 200ms)) << "waits for the line to discard";
    dod.type("noise\r");
    ASSERT_TRUE(converse(dod, {{kLogin, "admin\r"}, {kPassword, "secret\r"}}));
    EXPECT_TRUE(dod.waitForZuzLine("E: whoami"));
    dod.type("\x04");
    EXPECT_EQ(endStatus(dod), 0);
    EXPECT_EQ(zuzFrom(dod, login), (Lines{login, "E: whoami", "E: _control logout " + tty, "U"}));
}

// Without a retry pause, and without asking again.
TEST(LoginBoundedWait, LoginFailsAtOnceWhenNoResultCanCome) {
    const std::string login = "prefix \"E: _control login\" => ";
    const std::pair<std::string, const char *> cases[] = {
        {login + "reply 0; delay 100; drop\n", "secret\r"},  // the link ends meanwhile
        // A datagram without a line end fills the listener reader's buffer and ends it.
        {login + "noresult; datagram \"" + std::string(40000, 'x') + "\"; run\n", "secret\r"},
        {"", "\x04"},  // end of input at the password: no request
    };
    for (const auto &[rules, typed] : cases) {
        SCOPED_TRACE(rules.substr(0, 40));
        DeviceSession device(keptUp(shellWith({"-t", "telnet"}, {{"sw", "secret"}}), rules));
        ASSERT_TRUE(device.waitFor(kPassword)) << device.output();
        const bool linkUp = rules.find("drop") == npos;
        const auto start = std::chrono::steady_clock::now();
        device.type(typed);
        EXPECT_EQ(endStatus(device, linkUp), 255);
        EXPECT_LT(msSince(start), 4000) << "no retry pause";
        EXPECT_FALSE(device.waitFor(kPassword, 0ms)) << "not asked again";
        EXPECT_TRUE(!linkUp || device.setting("telnet_client_23_success") == "False");
        EXPECT_EQ(zuzCount(device, "E: _control login", true), rules.empty() ? 0 : 1);
    }
}
