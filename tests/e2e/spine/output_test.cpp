// What reaches the terminal and the system log: background text while the user types,
// datagram framing, API session records, the LF CR line-end mode and hostile text.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include "ShellOnDevice.h"

using namespace vela::test;

// Every input line, output line and event of an API session goes to the system log with
// its line's count; hostile text (typed lines, application output, the registration
// reply) is shown and logged literally.
TEST(SpineOutput, ApiSessionsMirrorTheirLinesLiterallyToTheSystemLog) {
    DeviceOptions options = keptUp(shellWith({"-t", "api"}));
    options.zuzRules =
        "prefix \"R: \" => exec; send \"R: %n%s%x%s%s\"\n"  // read as 0: registered
        "exact \"E: echo two\" => run; datagram \"late two\\n\"\n"
        "exact \"E: show\" => datagram \"%n%s%x %p\\n\"; reply 0\n";
    DeviceSession device(options);
    ASSERT_TRUE(device.waitFor("admin\r\n"));  // the answer to "whoami"
    // Each line's output is awaited before the next: it carries its own line's count. The
    // longest line the editor takes goes out whole.
    const std::string longest(510, 'a');
    const std::pair<std::string, const char *> lines[] = {{"echo one", "\none\r\n"},
                                                          {"echo two", "late two\r\n"},
                                                          {"%n%s%x", "found\r\r\n"},
                                                          {"show", "\n%n%s%x %p\r\n"},
                                                          {longest + "bbb", "found\r\r\n"}};
    for (const auto &[line, output] : lines) {
        device.type(line + "\r");
        ASSERT_TRUE(device.waitFor(output)) << line;
    }
    device.type("\x04");
    EXPECT_EQ(endStatus(device), 0);
    EXPECT_EQ(zuzCount(device, "E: " + longest), 1);
    const std::string name = "API:" + sessionName(device) + ":";
    ASSERT_TRUE(waitForRecord(device, name + "5:End of session"));
    std::vector<std::string> expected;
    for (const std::string &record : std::vector<std::string>{
             "0:Session started", "0:VELA: starting Reader and Monitor threads", "0:OUT:admin",
             "1:IN:echo one", "1:OUT:one", "2:IN:echo two", "2:OUT:two", "2:OUT:late two",
             "3:IN:%n%s%x", "3:OUT:error: command not found", "4:IN:show", "4:OUT:%n%s%x %p",
             "5:IN:" + longest, "5:OUT:error: command not found", "5:End of session"})
        expected.push_back(name + record);
    EXPECT_EQ(velaRecords(device), expected);
}

TEST(SpineOutput, LfCrLineEndsLeaveTheTerminalNoCrToAdd) {
    // "eol" False, and serial API ports whatever the setting: the shell ends its lines
    // and background text in CR LF itself and echoes Enter as LF CR.
    DeviceSession eol(shellWith({"-t", "api"}, {{"eol", "False"}}));
    DeviceSession serial(shellWith({"-t", "rs232"}));
    for (DeviceSession *device : {&eol, &serial}) {
        ASSERT_TRUE(device->waitForZuzLine("E: whoami"));
        ASSERT_TRUE(device->waitFor("admin\r\n"));
        const size_t from = device->output().size();
        device->type("echo x\r");
        ASSERT_TRUE(device->waitFor("\rx\r\n"));
        device->type("nosuch\r");
        ASSERT_TRUE(device->waitFor("found\r\n"));
        device->type("\r");
        ASSERT_TRUE(device->waitFor("-> "));
        EXPECT_EQ(device->output().substr(from),
                  "echo x\n\rx\r\nnosuch\n\rerror: command not found\r\n\n\r-> ");
    }
}

TEST(SpineOutput, AnOverlongXcomLineEndsTheLink) {
    DeviceOptions options = shellWith({"-t", "telnet"});
    // 16384 bytes with the LF is the longest line; it is not a reply and is ignored.
    options.zuzRules =
        "exact \"C: longest\" => reply 0; sendlong 16384\n"
        "exact \"C: overlong\" => reply 0; sendlong 16385\n";
    DeviceSession device(options);
    ASSERT_TRUE(waitForLoop(device));
    EXPECT_EQ(count(exchange(device, "longest"), "error"), 0u);
    device.type("overlong\r");
    ASSERT_TRUE(device.waitForZuzLine("C: overlong"));
    device.type("version\r");
    EXPECT_TRUE(device.waitFor(shown("error: session is closed by peer")));
    EXPECT_EQ(device.waitExit(), 0);
}

// Text on the session's API listener: lines framed across datagrams, held back while the
// user types, shown at once while a reply is awaited; garbage and a flood without a line
// end end nothing but the reader.
TEST(SpineOutput, ListenerTextIsFramedHeldBackWhileTypingAndHarmless) {
    DeviceSession device(shellWith({"-t", "api", "--nobanner"}));
    ASSERT_TRUE(waitForLoop(device));
    const std::string name = "API:" + sessionName(device) + ":";
    auto listener = device.connectDatagram("/tmp/apiasynclisteners/vela" + ttyOf(device).substr(9));
    auto send = [&](const std::string &bytes) {
        EXPECT_EQ(::send(listener.get(), bytes.data(), bytes.size(), 0),
                  static_cast<ssize_t>(bytes.size()));
    };
    const size_t from = device.output().size();
    for (const char *datagram : {"first\nsecond\n", "par", "tial\n", "\n", "", "last\n"})
        send(datagram);
    ASSERT_TRUE(device.waitFor("last\r\n"));
    EXPECT_EQ(device.output().substr(from), "first\r\nsecond\r\npartial\r\nlast\r\n");

    device.type("echo hal");
    ASSERT_TRUE(device.waitFor("echo hal"));
    send("held one\n");
    send("held two\n");
    // The reader handles lines in order: once the second is logged, the first is placed.
    ASSERT_TRUE(waitForRecord(device, name + "0:OUT:held two"));
    EXPECT_EQ(device.output().find("held"), std::string::npos);
    device.type("f\r");
    ASSERT_TRUE(device.waitFor("\nhalf\r\n"));
    EXPECT_NE(device.output().find("echo half\r\nheld one\r\nheld two\r\n"), std::string::npos);
    // While a reply is awaited nobody types: text is shown at once.
    device.setZuzRules("exact \"E: slow\" => datagram \"early\\n\"; delay 3000; reply 0\n");
    device.type("slow\r");
    EXPECT_TRUE(device.waitFor("slow\r\nearly\r\n", 2s));

    send(std::string("\x01\x02\xff\x00nul\x1b[2J\n", 11));
    send(std::string(40000, 'g'));  // more than the reader holds: it gives up
    EXPECT_TRUE(waitForRecord(device,
                              ":CRITICAL: XCOM buffer is full without new line, "
                              "current buffer length: 32768"));
    device.type("nosuch\r");
    EXPECT_TRUE(device.waitFor(shown("error: command not found")));
    device.type("\x04");
    EXPECT_EQ(device.waitExit(), 0);
}

TEST(SpineOutput, ASessionEndsCleanlyWhileEventsPourIn) {
    DeviceSession device(keptUp(shellWith({"-t", "api", "--nobanner"})));
    ASSERT_TRUE(waitForLoop(device));
    device.type("events 3000\r");
    ASSERT_TRUE(device.waitFor("event 10 of 3000"));
    device.type("\x04");
    EXPECT_EQ(endStatus(device), 0);
}
