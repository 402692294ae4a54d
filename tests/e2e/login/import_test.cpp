// Directory import: lines pasted after "importdirectory" stored under /tmp/webdata and
// handed to the application on "importcomplete". Its time limit: time_limit_test.cpp.
#include <gtest/gtest.h>

#include <iostream>

#include "ShellOnDevice.h"

using namespace vela::test;

namespace {

const std::string kCannotOpen = "ERROR: could not open file.\r\n";
const std::string kCsv = "/tmp/webdata/directory.csv";
const std::string kXml = "/tmp/webdata/directory.xml";
const std::string kPartial = "/tmp/webdata/directory";
const std::string kCsvDone = "C: _importdirectory " + kCsv;

// A telnet session reading input, on a wide terminal: pasted lines do not wrap.
struct ImportSession : DeviceSession {
    ImportSession()
        : DeviceSession([] {
              DeviceOptions options = shellWith({"-t", "telnet"});
              options.columns = 1000;
              return options;
          }()) {
        EXPECT_TRUE(waitForLoop(*this));
    }
    int run(const std::string &script) { return runInDevice({"sh", "-c", script}).status; }
    // Waits until zuz has received line count times.
    bool received(const std::string &line, int count, std::chrono::milliseconds timeout = 5s) {
        return eventually([&] { return zuzCount(*this, line) == count; }, timeout);
    }
};

}  // namespace

// The first line decides between XML and CSV; the completion goes out under the
// current prefix.
TEST(DirectoryImport, StoresEveryPastedLineAndHandsTheFileOver) {
    ImportSession device;
    ASSERT_EQ(device.run("mkdir -p /tmp/webdata && echo old > " + kCsv + " && echo old > " + kXml),
              0);
    device.type("importdirectory\r");
    ASSERT_TRUE(device.waitFor("import started\r\n"));
    EXPECT_FALSE(deviceFile(device, kCsv)) << "an earlier import is removed";
    EXPECT_FALSE(deviceFile(device, kXml));
    // Blanks around a line go; empty lines and command words are stored.
    device.type("name,number\r  Alice , 100  \r\rexit\rquit\rimportdirectory\rimportcomplete\r");
    ASSERT_TRUE(device.waitForZuzLine(kCsvDone));
    EXPECT_EQ(deviceFile(device, kCsv),
              "name,number\nAlice , 100\n\nexit\nquit\nimportdirectory\n");
    EXPECT_FALSE(deviceFile(device, kPartial));
    EXPECT_TRUE(device.waitFor("imported " + kCsv + ": 6 lines, 51 bytes"));
    device.type("version\r");
    EXPECT_TRUE(device.waitForZuzLine("C: version"));
    for (const char *line : {"C: exit", "C: quit", "C: importdirectory", "C: name,number"})
        EXPECT_EQ(zuzCount(device, line), 0) << line;

    device.type("importdirectory\r<?xml version=\"1.0\"?>\r<directory/>\rimportcomplete\r");
    ASSERT_TRUE(device.waitForZuzLine("C: _importdirectory " + kXml));
    EXPECT_EQ(deviceFile(device, kXml), "<?xml version=\"1.0\"?>\n<directory/>\n");
    EXPECT_FALSE(deviceFile(device, kCsv));
    device.type("importdirectory\rimportcomplete\r");  // empty: a CSV file
    ASSERT_TRUE(device.received(kCsvDone, 2));
    EXPECT_EQ(deviceFile(device, kCsv), "");
    EXPECT_FALSE(deviceFile(device, kXml));
    device.type("importdirectory\r<?XML version=\"1.0\"?>\rimportcomplete\r");
    ASSERT_TRUE(device.received(kCsvDone, 3));
    EXPECT_EQ(deviceFile(device, kCsv), "<?XML version=\"1.0\"?>\n");
    device.type("apicmds\rimportdirectory\r   <?xml?>\rimportcomplete\r");
    ASSERT_TRUE(device.waitForZuzLine("E: _importdirectory " + kXml));
    EXPECT_EQ(deviceFile(device, kXml), "<?xml?>\n");
}

TEST(DirectoryImport, PasteIsKeptUpToThreeMebibytes) {
    constexpr int kLines = 3145728 / 256;  // the limit in lines of 256 bytes stored
    ImportSession device;
    const auto start = std::chrono::steady_clock::now();
    // count lines of 255 characters, each beginning with its number.
    auto paste = [](int count, std::string &stored) {
        std::string typed;
        for (int i = 0; i < count; ++i) {
            std::string line = std::to_string(i) + ":";
            line.resize(255, static_cast<char>('a' + i % 26));
            typed += line + "\r";
            stored += line + "\n";
        }
        return typed;
    };
    std::string stored;
    device.type("importdirectory\r" + paste(kLines, stored) + "importcomplete\r");
    ASSERT_TRUE(device.received(kCsvDone, 1, 30s));
    EXPECT_TRUE(deviceFile(device, kCsv) == stored) << "exactly the limit is stored";

    // One byte more: that line and every later one are dropped, even one that fits.
    stored.clear();
    const std::string typed = paste(kLines - 1, stored);
    device.type("importdirectory\r" + typed + std::string(256, 'o') + "\rtail\rimportcomplete\r");
    ASSERT_TRUE(device.received(kCsvDone, 2, 30s));
    EXPECT_TRUE(deviceFile(device, kCsv) == stored) << "stops before the line that overflows";
    std::cout << "two pastes of 3 MiB took " << msSince(start) << " ms\n";
}

TEST(DirectoryImport, RefusesPlantedLinksAndForeignDirectories) {
    ImportSession device;
    const std::string elsewhere = "/tmp/elsewhere";
    // A link in place of the import file.
    ASSERT_EQ(device.run("mkdir -p /tmp/webdata && echo untouched > " + elsewhere + " && ln -s " +
                         elsewhere + " " + kPartial),
              0);
    device.type("importdirectory\r");
    ASSERT_TRUE(device.waitFor(kCannotOpen));
    device.type("version\r");
    EXPECT_TRUE(device.waitForZuzLine("C: version")) << "not importing";
    EXPECT_EQ(deviceFile(device, elsewhere), "untouched\n");

    // A link in place of the directory.
    ASSERT_EQ(device.run("rm -r /tmp/webdata && mkdir /tmp/other && echo keep > "
                         "/tmp/other/directory.csv && ln -s /tmp/other /tmp/webdata"),
              0);
    device.type("importdirectory\r");
    ASSERT_TRUE(device.waitFor(kCannotOpen));
    EXPECT_EQ(deviceFile(device, "/tmp/other/directory.csv"), "keep\n");
    EXPECT_FALSE(deviceFile(device, "/tmp/other/directory"));

    // A directory of another user.
    ASSERT_EQ(device.run("rm /tmp/webdata && mkdir /tmp/webdata && echo keep > " + kCsv), 0);
    if (device.run("chown 65534 /tmp/webdata") != 0) GTEST_SKIP() << "no second user here";
    device.type("importdirectory\r");
    ASSERT_TRUE(device.waitFor(kCannotOpen));
    EXPECT_EQ(deviceFile(device, kCsv), "keep\n");
    EXPECT_FALSE(deviceFile(device, kPartial));

    // An import file of another user.
    ASSERT_EQ(device.run("chown 0 /tmp/webdata && echo theirs > " + kPartial + " && chown 65534 " +
                         kPartial),
              0);
    device.type("importdirectory\r");
    ASSERT_TRUE(device.waitFor(kCannotOpen));
    EXPECT_EQ(deviceFile(device, kPartial), "theirs\n");
    EXPECT_EQ(deviceFile(device, kCsv), "keep\n");
}
