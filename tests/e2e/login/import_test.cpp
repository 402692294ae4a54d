// Directory import: lines pasted after "importdirectory" stored under /tmp/webdata and
// handed to the application on "importcomplete". Its time limit: time_limit_test.cpp.
#include <gtest/gtest.h>

#include "ShellOnDevice.h"

using namespace vela::test;

namespace {

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
TEST(DirectoryImport, StoresEveryPastedLineAndHandsTheFileOver) {
    ShellSession shell;
    DeviceSession &device = shell.device();
    ASSERT_EQ(run(device, "mkdir -p /tmp/webdata && echo old > " + kCsv + " && echo old > " + kXml),
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
        EXPECT_FALSE(deviceFile(device, kCsv)) << "an earlier import is removed";
        EXPECT_FALSE(deviceFile(device, kXml));
        device.type(paste + "importcomplete\r");
        std::vector<std::string> sent;
        ASSERT_TRUE(eventually(
            [&] {
                for (const auto &line : shell.newZuzLines())
                    sent.push_back(line);
                return !sent.empty();
            },
            30s));
        EXPECT_EQ(sent, std::vector<std::string>{handedOver});
        EXPECT_TRUE(deviceFile(device, handedOver.substr(handedOver.find('/'))) == content);
        EXPECT_FALSE(deviceFile(device, kPartial));
    }
    shell.forward("version", "E: version");
    EXPECT_EQ(shell.newZuzLines(), std::vector<std::string>{"E: version"}) << "not importing";
}

// /tmp is everybody's: the import never follows a planted link nor writes into a file
// or directory of another user, and a disk that fails it leaves the application
// unaware. The next line is a command again.
TEST(DirectoryImport, RefusesLinksForeignFilesAndFailingDisks) {
    ShellSession shell;
    DeviceSession &device = shell.device();
    std::string paste;  // 50 KiB
    for (int i = 0; i < 100; ++i)
        paste += std::to_string(i) + "," + std::string(500, 'x') + "\r";
    const std::tuple<std::string, std::string, const char *> cases[] = {
        {"mkdir /tmp/webdata && echo untouched > /tmp/elsewhere && ln -s /tmp/elsewhere " +
             kPartial,
         "", "open"},
        {"rm -r /tmp/webdata && mkdir /tmp/other && echo keep > /tmp/other/directory.csv && "
         "ln -s /tmp/other /tmp/webdata",
         "", "open"},
        {"rm /tmp/webdata && mkdir /tmp/webdata && mount -t tmpfs -o ro none /tmp/webdata", "",
         "open"},
        {"umount /tmp/webdata && mount -t tmpfs -o size=16k none /tmp/webdata",
         paste + "importcomplete\r", "write"},
        {"umount /tmp/webdata && echo keep > " + kCsv + " && chown 65534 /tmp/webdata", "", "open"},
        {"chown 0 /tmp/webdata && echo theirs > " + kPartial + " && chown 65534 " + kPartial, "",
         "open"},
    };
    auto files = [&] {
        return device
            .runInDevice({"sh", "-c",
                          "ls -lnR --full-time /tmp/webdata/ /tmp/other/ /tmp/elsewhere; "
                          "cat /tmp/webdata/* /tmp/other/* /tmp/elsewhere"})
            .out;
    };
    for (const auto &[setup, typed, failure] : cases) {
        SCOPED_TRACE(setup);
        const int status = run(device, setup);
        if (status != 0 && setup.find("chown") != std::string::npos)
            GTEST_SKIP() << "no second user here";
        ASSERT_EQ(status, 0);
        const std::string before = files();
        device.type("importdirectory\r" + typed);
        EXPECT_TRUE(device.waitFor("ERROR: could not " + std::string(failure) + " file.\r\n"));
        shell.forward("version", "C: version");
        EXPECT_EQ(shell.newZuzLines(), std::vector<std::string>{"C: version"});
        EXPECT_TRUE(!typed.empty() || files() == before) << "nothing touched";
    }
}
