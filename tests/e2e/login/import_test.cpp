// Directory import: lines pasted after "importdirectory" stored under /tmp/webdata and
// handed to the application on "importcomplete", unless the import times out.
#include <gtest/gtest.h>

#include "ShellOnDevice.h"

using namespace vela::test;

namespace {

const std::string kCannotOpen = "ERROR: could not open file.\r\n";
const std::string kCsv = "/tmp/webdata/directory.csv";
const std::string kXml = "/tmp/webdata/directory.xml";
const std::string kPartial = "/tmp/webdata/directory";
const std::string kCsvDone = "C: _importdirectory " + kCsv;

int run(DeviceSession &device, const std::string &script) {
    return device.runInDevice({"sh", "-c", script}).status;
}

}  // namespace

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

// Without an idle limit only the import times out (a minute: a second in this build),
// keeping its partial file; the session goes on, no longer importing.
TEST(DirectoryImport, TimesOutKeepingThePartialFile) {
    constexpr std::chrono::milliseconds kMinute{CLE_FASTCLOCK_MINUTE_MS};
    ShellSession shell(shellWith({"-t", "telnet"}, {}, VELA_FASTCLOCK_BINARY));
    shell.type("importdirectory\rfirst\r");
    ASSERT_TRUE(shell.waitFor("import started\r\n"));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(shell.waitFor(shown("importdirectory timed out"), kMinute * 3));
    EXPECT_GE(msSince(start), kMinute.count() * 9 / 10);
    // The message comes before the file is closed.
    EXPECT_TRUE(eventually([&] { return deviceFile(shell, kPartial) == "first\n"; }));
    EXPECT_FALSE(deviceFile(shell, kCsv));
    EXPECT_FALSE(shell.waitFor("timed out", kMinute * 3 / 2));
    shell.forward("version", "C: version");
    EXPECT_EQ(shell.newZuzLines(), Lines{"C: version"});
}
