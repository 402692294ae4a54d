// What reaches the terminal and the system log: background text while the user types,
// datagram framing, API session records, the LF CR line-end mode and hostile text.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <string>
#include <vector>

#include "DeviceSession.h"
#include "spine_helpers.h"

using namespace vela::test;
using namespace vela::test::spine;

namespace {

const char *const kApiReady = "telnet_client_24_success";

// A datagram socket connected to the session's API listener.
sim::UniqueFd listenerOf(DeviceSession &device, const std::string &pts) {
    sim::UniqueFd socket = device.connectDatagram("/tmp/apiasynclisteners/vela" + pts);
    EXPECT_TRUE(socket);
    return socket;
}

void sendDatagram(const sim::UniqueFd &socket, const std::string &bytes) {
    EXPECT_EQ(::send(socket.get(), bytes.data(), bytes.size(), 0),
              static_cast<ssize_t>(bytes.size()));
}

}  // namespace

TEST(SpineOutput, BackgroundTextWaitsUntilTheTypedLineIsEnded) {
    DeviceSession device(shellWith({"-t", "api", "--nobanner"}));
    std::string pts = waitUntilReady(device, kApiReady);
    auto listener = listenerOf(device, pts);

    device.type("echo hal");
    ASSERT_TRUE(device.waitFor("echo hal"));
    sendDatagram(listener, "held one\n");
    sendDatagram(listener, "held two\n");
    // The reader handles lines in order: once the second is logged, the first is placed.
    ASSERT_TRUE(waitForVelaRecord(device, "API:telnet" + pts + ":0:OUT:held two"));
    EXPECT_EQ(device.output().find("held"), std::string::npos);

    device.type("f\r");
    ASSERT_TRUE(device.waitFor("\nhalf\r\n"));
    std::string screen = device.output();
    EXPECT_NE(screen.find("echo half\r\nheld one\r\nheld two\r\n"), std::string::npos) << screen;

    // While a reply is awaited nobody types: text is shown at once.
    device.setZuzRules("exact \"E: slow\" => datagram \"early\\n\"; delay 3000; reply 0\n");
    device.type("slow\r");
    EXPECT_TRUE(device.waitFor("slow\r\nearly\r\n", 2s));
}

TEST(SpineOutput, DatagramsArePrintedLineByLine) {
    DeviceSession device(shellWith({"-t", "api", "--nobanner"}));
    std::string pts = waitUntilReady(device, kApiReady);
    auto listener = listenerOf(device, pts);
    size_t from = device.output().size();
    for (const char *datagram : {"first\nsecond\n", "par", "tial\n", "\n", "last\n"})
        sendDatagram(listener, datagram);
    ASSERT_TRUE(device.waitFor("last\r\n"));
    EXPECT_EQ(device.output().substr(from), "first\r\nsecond\r\npartial\r\nlast\r\n");
}

TEST(SpineOutput, ApiSessionsMirrorTheirLinesToTheSystemLog) {
    DeviceOptions options = shellKeptUp({"-t", "api"});
    options.zuzRules = "exact \"E: echo two\" => run; datagram \"late two\\n\"\n";
    DeviceSession device(options);
    std::string pts = waitUntilReady(device, kApiReady);
    ASSERT_TRUE(device.waitFor("admin\r\n"));  // the answer to "whoami"
    // Each line's output is awaited before the next line is entered: it carries the
    // count of its own line.
    const std::pair<const char *, const char *> lines[] = {
        {"echo one", "\none\r\n"},   {"echo two", "late two\r\n"}, {"nosuch", "found\r\r\n"},
        {"echo four", "\nfour\r\n"}, {"echo five", "\nfive\r\n"},
    };
    for (const auto &[line, output] : lines) {
        device.type(std::string(line) + "\r");
        ASSERT_TRUE(device.waitFor(output)) << line;
    }
    device.type("\x04");
    EXPECT_EQ(shellStatus(device), 0);

    const std::string name = "API:telnet" + pts + ":";
    ASSERT_TRUE(waitForVelaRecord(device, name + "5:End of session"));
    const std::vector<std::string> expected = {
        name + "0:Session started", name + "0:VELA: starting Reader and Monitor threads",
        name + "0:OUT:admin",       name + "1:IN:echo one",
        name + "1:OUT:one",         name + "2:IN:echo two",
        name + "2:OUT:two",         name + "2:OUT:late two",
        name + "3:IN:nosuch",       name + "3:OUT:error: command not found",
        name + "4:IN:echo four",    name + "4:OUT:four",
        name + "5:IN:echo five",    name + "5:OUT:five",
        name + "5:End of session",
    };
    EXPECT_EQ(velaRecords(device), expected);
}

TEST(SpineOutput, TelnetSessionsWriteNoApiRecords) {
    DeviceSession device(shellKeptUp({"-t", "telnet"}));
    waitUntilReady(device, "telnet_client_23_success");
    exchange(device, "nosuch");
    device.type("\x04");
    EXPECT_EQ(shellStatus(device), 0);
    // zuz's record of the end comes after anything the shell wrote.
    EXPECT_TRUE(eventually([&] {
        auto records = device.syslogRecords();
        return !records.empty() &&
               records.back().message.find("session ended") != std::string::npos;
    }));
    EXPECT_TRUE(velaRecords(device).empty());
}

TEST(SpineOutput, LfCrLineEndsLeaveTheTerminalNoCrToAdd) {
    // "eol" False, and serial API ports whatever the setting: the shell ends its lines
    // and background text in CR LF itself and echoes Enter as LF CR.
    DeviceOptions eolOptions = shellWith({"-t", "api"});
    eolOptions.settings = {{"eol", "False"}};
    DeviceSession eol(eolOptions);
    DeviceSession serial(shellWith({"-t", "rs232"}));
    for (DeviceSession *device : {&eol, &serial}) {
        ASSERT_TRUE(device->waitForZuzLine("E: whoami"));
        ASSERT_TRUE(device->waitFor("admin\r\n"));
        size_t from = device->output().size();
        device->type("echo x\r");
        ASSERT_TRUE(device->waitFor("\rx\r\n"));
        device->type("nosuch\r");
        ASSERT_TRUE(device->waitFor("found\r\n"));
        device->type("\r");
        ASSERT_TRUE(device->waitFor("-> "));
        EXPECT_EQ(device->output().substr(from),
                  "echo x\n\rx\r\n"
                  "nosuch\n\rerror: command not found\r\n"
                  "\n\r-> ");
    }
}

TEST(SpineOutput, HostileTextIsShownAndLoggedLiterally) {
    DeviceOptions options = shellKeptUp({"-t", "api", "--nobanner"});
    options.settings = {{"securitybanner", "%n%s%x"}};
    options.zuzRules = "exact \"E: show\" => datagram \"%n%s%x %p\\n\"; reply 0\n";
    DeviceSession device(options);
    std::string pts = waitUntilReady(device, kApiReady);
    EXPECT_TRUE(device.waitFor("\r\n n s x\r\n"));  // the banner

    EXPECT_EQ(count(exchange(device, "%n%s%x"), "error: command not found"), 1u);
    EXPECT_TRUE(device.waitForZuzLine("E: %n%s%x"));
    device.type("show\r");
    EXPECT_TRUE(device.waitFor("\n%n%s%x %p\r\n"));
    // The longest line the editor takes goes out whole.
    device.type(std::string(600, 'a') + "\r");
    EXPECT_TRUE(device.waitForZuzLine("E: " + std::string(510, 'a')));
    EXPECT_TRUE(waitForVelaRecord(device, "API:telnet" + pts + ":1:IN:%n%s%x"));
    EXPECT_TRUE(waitForVelaRecord(device, "API:telnet" + pts + ":3:OUT:%n%s%x %p"));
    device.type("\x04");
    EXPECT_EQ(shellStatus(device), 0);
}

TEST(SpineOutput, AHostileRegistrationReplyReadsAsZero) {
    DeviceOptions options = shellWith({"-t", "telnet"});
    options.zuzRules = "prefix \"R: \" => exec; send \"R: %n%s%x%s%s\"\n";
    DeviceSession device(options);
    waitUntilReady(device, "telnet_client_23_success");
    EXPECT_NE(exchange(device, "version").find("libxcom 0.0.1"), std::string::npos);
}

TEST(SpineOutput, AnOverlongXcomLineEndsTheLink) {
    DeviceOptions options = shellWith({"-t", "telnet"});
    // 16384 bytes with the LF is the longest line; it is not a reply and is ignored.
    options.zuzRules =
        "exact \"C: longest\" => reply 0; sendlong 16384\n"
        "exact \"C: overlong\" => reply 0; sendlong 16385\n";
    DeviceSession device(options);
    waitUntilReady(device, "telnet_client_23_success");
    EXPECT_EQ(count(exchange(device, "longest"), "error"), 0u);
    device.type("overlong\r");
    ASSERT_TRUE(device.waitForZuzLine("C: overlong"));
    device.type("version\r");
    EXPECT_TRUE(device.waitFor("error: session is closed by peer\r\r\n"));
    EXPECT_EQ(device.waitExit(), 0);
}

TEST(SpineOutput, GarbageOnTheListenerSocketCrashesNothing) {
    DeviceSession device(shellWith({"-t", "api", "--nobanner"}));
    std::string pts = waitUntilReady(device, kApiReady);
    auto listener = listenerOf(device, pts);
    sendDatagram(listener, std::string("\x01\x02\xff\x00nul\x1b[2J\n", 11));
    sendDatagram(listener, "");
    sendDatagram(listener, "still here\n");
    ASSERT_TRUE(device.waitFor("still here\r\n"));

    // More than the reader holds without a line end: it gives up, the session goes on.
    sendDatagram(listener, std::string(40000, 'g'));
    ASSERT_TRUE(waitForVelaRecord(
        device, "API:telnet" + pts +
                    ":0:CRITICAL: XCOM buffer is full without new line, current buffer length: "
                    "32768"));
    device.type("nosuch\r");
    EXPECT_TRUE(device.waitFor("error: command not found\r\r\n"));
    device.type("\x04");
    EXPECT_EQ(device.waitExit(), 0);
}

TEST(SpineOutput, ASessionEndsCleanlyWhileEventsPourIn) {
    DeviceSession device(shellKeptUp({"-t", "api", "--nobanner"}));
    waitUntilReady(device, kApiReady);
    device.type("events 3000\r");
    ASSERT_TRUE(device.waitFor("event 10 of 3000"));
    device.type("\x04");
    EXPECT_EQ(shellStatus(device), 0);
}
