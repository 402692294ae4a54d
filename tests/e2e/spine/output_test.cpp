// What reaches the terminal and the system log: API session records, hostile text and
// the LF CR line-end mode. (Listener text: tests/e2e/faults.)
#include <gtest/gtest.h>
#include <sys/socket.h>

#include "ShellOnDevice.h"

using namespace vela::test;

// Every input line, output line and event of an API session goes to the system log with
// its line's count; hostile text (typed lines, application output, the registration
// reply) is shown and logged literally.
TEST(SpineOutput, ApiSessionsMirrorTheirLinesLiterallyToTheSystemLog) {
    DeviceSession device(keptUp(shellWith({"-t", "api"}),
                                "prefix \"R: \" => exec; send \"R: %n%s%x%s%s\"\n"  // 0: registered
                                "exact \"E: echo two\" => run; datagram \"late two\\n\"\n"
                                "exact \"E: show\" => datagram \"%n%s%x %p\\n\"; reply 0\n"));
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

// "eol" False, and serial API ports whatever the setting: the shell ends its lines and
// background text in CR LF itself and echoes Enter as LF CR. A session ends cleanly while
// events pour in.
TEST(SpineOutput, LfCrLineEndsLeaveTheTerminalNoCrToAdd) {
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
        device->type("events 3000\r");
        ASSERT_TRUE(device->waitFor("event 10 of 3000"));
        device->type("\x04");
        EXPECT_EQ(device->waitExit(), 0);
    }
}
