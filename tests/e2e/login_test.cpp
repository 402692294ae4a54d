// The way in and what is pasted: only the application answers a login, and the third
// failure ends the session; a directory import stores every pasted line and refuses
// planted links, foreign files and failing disks. (The result's and its waits' logic:
// tests/shell/app_link_test.cpp; a wait that only a hang-up ends: faults_test.cpp; the
// import's storage: tests/shell/commands_test.cpp and the fuzz target import_line.)
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "ShellOnDevice.h"

using namespace vela::test;

namespace {

constexpr auto npos = std::string::npos;
const std::string kPassword = shown("Password:");
const std::string kShellBanner = shown("Halvern Command Shell");
const std::string kRetry = shown(" -- password failed, retry --");
const std::string kCannotOpen = "ERROR: could not open file.\r\n";
const std::string kCsv = "/tmp/webdata/directory.csv";
const std::string kXml = "/tmp/webdata/directory.xml";
const std::string kPartial = "/tmp/webdata/directory";
const std::string kCsvDone = "C: _importdirectory " + kCsv;

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

int run(DeviceSession &device, const std::string &script) {
    return device.runInDevice({"sh", "-c", script}).status;
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

// The idle limit (a minute: a second in this build) ends a secure profile session with
// a security record that names the user literally, whatever it holds; its logout waits at
// most five seconds for an application that does not answer it.
TEST(LoginDialogue, SecureProfileSessionFromTheLoginToTheIdleLimit) {
    constexpr std::chrono::milliseconds kMinute{CLE_FASTCLOCK_MINUTE_MS};
    const std::string name = "%n%s%x%%\x01\x07\x1b[7m-user";
    DeviceSession device(
        keptUp(shellWith({"-t", "telnet"}, secureProfile("pass", "1"), VELA_FASTCLOCK_BINARY),
               "prefix \"E: _control login \\\"" + hexEncoded(name) +
                   "\" => result \"success\"\nprefix \"E: _control logout\" => noresult\n"));
    ASSERT_TRUE(converse(device, {{"Login:", name + "\r"}, {"Password:", "pass\r"}}));
    ASSERT_TRUE(waitForLoop(device));
    const std::string tty = ttyOf(device), logout = "E: _control logout " + tty;
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
}

// The first line decides between XML and CSV; blanks around a line go, empty lines and
// command words are stored. Up to 3 MiB (each line counted with its LF) are kept; one
// byte more drops that line and every later one, even one that fits. The completion
// goes out under the current prefix, and nothing pasted is a command.
TEST(DirectoryImport, StoresEveryPastedLineRefusingLinksForeignFilesAndFailingDisks) {
    ShellSession shell;
    ASSERT_EQ(run(shell, "mkdir -p /tmp/webdata && echo old > " + kCsv + " && echo old > " + kXml),
              0);
    // Each import: what is pasted, the line zuz gets, what the file holds.
    std::vector<std::tuple<std::string, std::string, std::string>> imports = {
        {"name,number\r  Alice , 100  \r\rexit\rquit\rimportdirectory\r", kCsvDone,
         "name,number\nAlice , 100\n\nexit\nquit\nimportdirectory\n"},
        {"<?xml version=\"1.0\"?>\r<directory/>\r", "C: _importdirectory " + kXml,
         "<?xml version=\"1.0\"?>\n<directory/>\n"},
        {"", kCsvDone, ""},
        {"<?XML?>\r", kCsvDone, "<?XML?>\n"},
    };
    std::string typed, stored;  // lines of 255 characters, each beginning with its number
    for (int i = 0; i < 3145728 / 256; ++i) {
        std::string line = std::to_string(i) + ":";
        line.resize(255, static_cast<char>('a' + i % 26));
        typed += line + "\r";
        stored += line + "\n";
    }
    imports.emplace_back(typed, kCsvDone, stored);
    const size_t last = stored.size() - 256;
    imports.emplace_back(typed.substr(0, last) + std::string(256, 'o') + "\rtail\r", kCsvDone,
                         stored.substr(0, last));
    imports.emplace_back("   <?xml?>\r", "E: _importdirectory " + kXml, "<?xml?>\n");
    for (const auto &[paste, handedOver, content] : imports) {
        SCOPED_TRACE(handedOver + " of " + content.substr(0, 20));
        if (handedOver[0] == 'E') shell.run("apicmds", "mode...\r\r\n");
        shell.run("importdirectory", "import started\r\n");
        EXPECT_FALSE(deviceFile(shell, kCsv) || deviceFile(shell, kXml)) << "old ones removed";
        shell.type(paste + "importcomplete\r");
        Lines sent;
        ASSERT_TRUE(eventually([&] { return !(sent = shell.newZuzLines()).empty(); }, 30s));
        EXPECT_EQ(sent, Lines{handedOver});
        EXPECT_TRUE(deviceFile(shell, handedOver.substr(handedOver.find('/'))) == content);
        EXPECT_FALSE(deviceFile(shell, kPartial));
    }
    shell.forward("version", "E: version");
    EXPECT_EQ(shell.newZuzLines(), Lines{"E: version"}) << "not importing";

    // /tmp is everybody's: the import never follows a planted link nor writes into a file
    // or directory of another user, and a disk that fails it leaves the application
    // unaware. The next line is a command again.
    std::string paste;  // 50 KiB
    for (int i = 0; i < 100; ++i)
        paste += std::to_string(i) + "," + std::string(500, 'x') + "\r";
    auto files = [&] {  // in /tmp, with their times and contents
        const char *list =
            "ls -lnR --full-time webdata/ other/ elsewhere; cat webdata/* other/* elsewhere";
        return shell.runInDevice({"sh", "-c", std::string("cd /tmp && ") + list}).out;
    };
    // Each setup runs in /tmp; only on the full disk does the import start (and fail).
    for (const std::string setup :
         {"rm -r webdata && mkdir webdata && echo untouched > elsewhere && ln -s /tmp/elsewhere "
          "webdata/directory",
          "rm -r webdata && mkdir other && echo keep > other/directory.csv && ln -s /tmp/other "
          "webdata",
          "rm webdata && mkdir webdata && mount -t tmpfs -o ro none webdata",
          "umount webdata && mount -t tmpfs -o size=16k none webdata",
          "umount webdata && echo keep > webdata/directory.csv && chown 65534 webdata",
          "chown 0 webdata && echo theirs > webdata/directory && chown 65534 webdata/directory"}) {
        SCOPED_TRACE(setup);
        const int status = run(shell, "cd /tmp && " + setup);
        if (status != 0 && setup.find("chown") != std::string::npos)
            GTEST_SKIP() << "no second user here";
        ASSERT_EQ(status, 0);
        const bool full = setup.find("16k") != std::string::npos;
        const std::string before = files();
        shell.type("importdirectory\r" + (full ? paste + "importcomplete\r" : ""));
        EXPECT_TRUE(shell.waitFor(full ? "ERROR: could not write file.\r\n" : kCannotOpen));
        shell.forward("version", "E: version");  // still in the customer api mode
        EXPECT_EQ(shell.newZuzLines(), Lines{"E: version"});
        EXPECT_TRUE(full || files() == before) << "nothing touched";
    }
}
