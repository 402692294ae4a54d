// Directory import: lines pasted after "importdirectory" stored under /tmp/webdata and
// handed to the application on "importcomplete".
#include <gtest/gtest.h>

#include <iostream>

#include "login_support.h"

using namespace vela::test;
using namespace vela::test::login;

namespace {

const std::string kStarted = "import started\r\n";
const std::string kCannotOpen = "ERROR: could not open file.\r\n";
const std::string kCsv = "/tmp/webdata/directory.csv";
const std::string kXml = "/tmp/webdata/directory.xml";
const std::string kPartial = "/tmp/webdata/directory";
const std::string kCsvDone = "C: _importdirectory " + kCsv;
const std::string kXmlDone = "C: _importdirectory " + kXml;

// A telnet session without login, ready for input.
DeviceOptions plainSession(const char *binary = VELA_BINARY) {
    DeviceOptions options = shellOn("telnet", {}, binary);
    // Pasted lines do not wrap: less to draw.
    options.columns = 1000;
    return options;
}

bool deviceFileExists(DeviceSession &device, const std::string &path) {
    return device.runInDevice({"test", "-e", path}).status == 0;
}

int deviceRun(DeviceSession &device, const std::string &script) {
    return device.runInDevice({"sh", "-c", script}).status;
}

// Waits until zuz has received line count times.
bool receivedTimes(DeviceSession &device, const std::string &line, int count,
                   std::chrono::milliseconds timeout = kDefaultTimeout) {
    return eventually([&] { return receivedCount(device, line) == count; }, timeout);
}

TEST(DirectoryImport, StoresEveryPastedLineAndHandsTheFileOver) {
    DeviceSession device(plainSession());
    ASSERT_TRUE(waitForEditor(device));
    ASSERT_EQ(
        deviceRun(device, "mkdir -p /tmp/webdata && echo old > " + kCsv + " && echo old > " + kXml),
        0);
    device.type("importdirectory\r");
    ASSERT_TRUE(device.waitFor(kStarted));
    EXPECT_FALSE(deviceFileExists(device, kCsv)) << "an earlier import is removed";
    EXPECT_FALSE(deviceFileExists(device, kXml));

    // Blanks around a line go; empty lines and command words are stored.
    device.type("name,number\r  Alice , 100  \r\rexit\rquit\rimportdirectory\rimportcomplete\r");
    ASSERT_TRUE(device.waitForZuzLine(kCsvDone));
    EXPECT_EQ(deviceFile(device, kCsv),
              "name,number\nAlice , 100\n\nexit\nquit\nimportdirectory\n");
    EXPECT_FALSE(deviceFileExists(device, kPartial));
    EXPECT_TRUE(device.waitFor("imported " + kCsv + ": 6 lines, 51 bytes"));

    device.type("version\r");
    EXPECT_TRUE(device.waitForZuzLine("C: version"));
    for (const char *line : {"C: exit", "C: quit", "C: importdirectory", "C: name,number"})
        EXPECT_EQ(receivedCount(device, line), 0) << line;
    device.type("\x04");
    EXPECT_EQ(device.waitExit(), 0);
}

TEST(DirectoryImport, FirstLineDecidesBetweenXmlAndCsv) {
    DeviceSession device(plainSession());
    ASSERT_TRUE(waitForEditor(device));
    device.type("importdirectory\r<?xml version=\"1.0\"?>\r<directory/>\rimportcomplete\r");
    ASSERT_TRUE(device.waitForZuzLine(kXmlDone));
    EXPECT_EQ(deviceFile(device, kXml), "<?xml version=\"1.0\"?>\n<directory/>\n");

    // An empty import is a CSV file, whatever the import before it was.
    device.type("importdirectory\rimportcomplete\r");
    ASSERT_TRUE(receivedTimes(device, kCsvDone, 1));
    EXPECT_EQ(deviceFile(device, kCsv), "");
    EXPECT_FALSE(deviceFileExists(device, kXml));

    device.type("importdirectory\r<?XML version=\"1.0\"?>\rimportcomplete\r");
    ASSERT_TRUE(receivedTimes(device, kCsvDone, 2));
    EXPECT_EQ(deviceFile(device, kCsv), "<?XML version=\"1.0\"?>\n");

    device.type("importdirectory\r   <?xml?>\rimportcomplete\r");
    ASSERT_TRUE(receivedTimes(device, kXmlDone, 2));
    EXPECT_EQ(deviceFile(device, kXml), "<?xml?>\n");
    EXPECT_FALSE(deviceFileExists(device, kCsv));
}

TEST(DirectoryImport, CompletionGoesOutInTheCustomerApiMode) {
    DeviceSession device(plainSession());
    ASSERT_TRUE(waitForEditor(device));
    device.type("apicmds\r");
    ASSERT_TRUE(device.waitFor(shown("Entering sticky customer api commands *ONLY* mode...")));
    device.type("importdirectory\rone\rimportcomplete\r");
    EXPECT_TRUE(device.waitForZuzLine("E: _importdirectory " + kCsv));
    EXPECT_EQ(deviceFile(device, kCsv), "one\n");
}

// count lines of 255 characters (256 bytes stored), each beginning with its number.
std::string pastedLines(int count, std::string &stored) {
    std::string typed;
    for (int i = 0; i < count; ++i) {
        std::string line = std::to_string(i) + ":";
        line.resize(255, static_cast<char>('a' + i % 26));
        typed += line + "\r";
        stored += line + "\n";
    }
    return typed;
}

TEST(DirectoryImport, PasteIsKeptUpToThreeMebibytes) {
    constexpr int kLimit = 3145728;
    constexpr int kFullLines = kLimit / 256;
    DeviceSession device(plainSession());
    ASSERT_TRUE(waitForEditor(device));
    auto start = std::chrono::steady_clock::now();

    // Exactly the limit.
    std::string stored;
    device.type("importdirectory\r" + pastedLines(kFullLines, stored) + "importcomplete\r");
    ASSERT_TRUE(receivedTimes(device, kCsvDone, 1, 30s));
    ASSERT_EQ(stored.size(), static_cast<size_t>(kLimit));
    EXPECT_TRUE(deviceFile(device, kCsv) == stored) << "the whole paste is stored";

    // One byte more: that line and every later one are dropped, even one that fits.
    stored.clear();
    std::string paste = pastedLines(kFullLines - 1, stored);
    device.type("importdirectory\r" + paste + std::string(256, 'o') + "\rtail\rimportcomplete\r");
    ASSERT_TRUE(receivedTimes(device, kCsvDone, 2, 30s));
    EXPECT_TRUE(deviceFile(device, kCsv) == stored) << "stops before the line that overflows";
    std::cout << "two pastes of 3 MiB took " << msSince(start) << " ms\n";
}

TEST(DirectoryImport, SilentImportTimesOutAndKeepsThePartialFile) {
    DeviceSession device(plainSession(VELA_FASTCLOCK_BINARY));
    ASSERT_TRUE(waitForEditor(device));
    device.type("importdirectory\rpartial line\r");
    ASSERT_TRUE(device.waitFor(kStarted));
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(
        device.waitFor(shown("importdirectory timed out"), 3s * CLE_FASTCLOCK_MINUTE_MS / 1000));
    EXPECT_GE(msSince(start), CLE_FASTCLOCK_MINUTE_MS * 9 / 10);
    EXPECT_EQ(deviceFile(device, kPartial), "partial line\n");
    EXPECT_FALSE(deviceFileExists(device, kCsv));

    // The session goes on, no longer importing.
    device.type("version\r");
    EXPECT_TRUE(device.waitForZuzLine("C: version"));
    EXPECT_EQ(receivedWithPrefix(device, "C: _importdirectory"), 0);
    device.type("\x04");
    EXPECT_EQ(device.waitExit(), 0);
}

TEST(DirectoryImport, RefusesPlantedLinksAndForeignDirectories) {
    DeviceSession device(plainSession());
    ASSERT_TRUE(waitForEditor(device));
    const std::string elsewhere = "/tmp/elsewhere";

    // A link in place of the import file.
    ASSERT_EQ(deviceRun(device, "mkdir -p /tmp/webdata && echo untouched > " + elsewhere +
                                    " && ln -s " + elsewhere + " " + kPartial),
              0);
    device.type("importdirectory\r");
    ASSERT_TRUE(device.waitFor(kCannotOpen));
    device.type("version\r");
    EXPECT_TRUE(device.waitForZuzLine("C: version")) << "not importing";
    EXPECT_EQ(deviceFile(device, elsewhere), "untouched\n");

    // A link in place of the directory.
    ASSERT_EQ(deviceRun(device,
                        "rm -r /tmp/webdata && mkdir /tmp/other && echo keep > "
                        "/tmp/other/directory.csv && ln -s /tmp/other /tmp/webdata"),
              0);
    device.type("importdirectory\r");
    ASSERT_TRUE(device.waitFor(kCannotOpen));
    EXPECT_EQ(deviceFile(device, "/tmp/other/directory.csv"), "keep\n");
    EXPECT_FALSE(deviceFileExists(device, "/tmp/other/directory"));

    // A directory of another user.
    ASSERT_EQ(deviceRun(device, "rm /tmp/webdata && mkdir /tmp/webdata && echo keep > " + kCsv), 0);
    if (deviceRun(device, "chown 65534 /tmp/webdata") != 0)
        GTEST_SKIP() << "no second user in this device";
    device.type("importdirectory\r");
    ASSERT_TRUE(device.waitFor(kCannotOpen));
    EXPECT_EQ(deviceFile(device, kCsv), "keep\n");
    EXPECT_FALSE(deviceFileExists(device, kPartial));

    // An import file of another user.
    ASSERT_EQ(deviceRun(device, "chown 0 /tmp/webdata && echo theirs > " + kPartial +
                                    " && chown 65534 " + kPartial),
              0);
    device.type("importdirectory\r");
    ASSERT_TRUE(device.waitFor(kCannotOpen));
    EXPECT_EQ(deviceFile(device, kPartial), "theirs\n");
    EXPECT_EQ(deviceFile(device, kCsv), "keep\n");
}

}  // namespace
