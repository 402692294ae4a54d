// Start-up's pure parts: the options, the session's configuration and the console line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console.h"
#include "numbers.h"
#include "options.h"
#include "session_config.h"
#include "system_log.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

const std::string kUsage =
    "Halvern API/Debug shell usage: vela [options]\r\n"
    "  -h hostname/addr Set host name/address for XCOM (default: localhost)\r\n"
    "  -p port          Set port for XCOM (default: 4121)\r\n"
    "  -t type          Set session type - \"api\", \"telnet\"\r\n";

struct Parsed {
    Options result;
    SessionConfig config;
    std::string printed;
};

Parsed parse(std::vector<std::string> args) {
    args.insert(args.begin(), "vela");
    std::vector<char *> argv;
    for (auto &arg : args)
        argv.push_back(arg.data());
    Parsed parsed{};
    SessionLog log;
    CaptureStdout();
    parsed.result = get_args(static_cast<int>(argv.size()), argv.data(), parsed.config, log);
    parsed.printed = GetCapturedStdout();
    return parsed;
}

}  // namespace

TEST(Options, SessionTypesAndTheirCommandModes) {
    const std::tuple<std::vector<std::string>, SessionType, CommandMode> cases[] = {
        {{}, SessionType::kTelnet, CommandMode::kNormal},
        {{"-t", "telnet"}, SessionType::kTelnet, CommandMode::kNormal},
        {{"-t", "api"}, SessionType::kApi, CommandMode::kCustomerApi},
        {{"-t", "api-serial"}, SessionType::kApiSerial, CommandMode::kCustomerApi},
        {{"-t", "rs232"}, SessionType::kApiSerial, CommandMode::kCustomerApi},
        {{"-t", "telnet24"}, SessionType::kApi, CommandMode::kCustomerApi},
        {{"-t", "api", "-t", "telnet"}, SessionType::kTelnet, CommandMode::kNormal},
        // The viewer runs as telnet but keeps the forwarding of an earlier "-t".
        {{"-t", "api", "--logviewer"}, SessionType::kTelnet, CommandMode::kCustomerApi},
        {{"--logviewer", "-t", "api"}, SessionType::kApi, CommandMode::kCustomerApi},
    };
    for (const auto &[args, type, mode] : cases) {
        const Parsed p = parse(args);
        EXPECT_EQ(p.result, Options::kRun);
        EXPECT_EQ(p.config.type, type) << testing::PrintToString(args);
        EXPECT_EQ(p.config.initial_mode, mode) << testing::PrintToString(args);
        EXPECT_EQ(p.printed, "");
    }
}

TEST(Options, ValuesAndSwitches) {
    const Parsed p = parse(
        {"-h", "zuz.local", "-p", "4122x", "--noecho", "--nobanner", "--wait", "--logviewer"});
    EXPECT_STREQ(p.config.host_name, "zuz.local");
    EXPECT_EQ(p.config.port, 4122);
    EXPECT_TRUE(!p.config.echo && p.config.no_banner && p.config.wait_to_start &&
                p.config.log_viewer);
    const SessionConfig defaults = parse({}).config;
    EXPECT_STREQ(defaults.host_name, "localhost");
    EXPECT_EQ(defaults.port, 4121);
    EXPECT_TRUE(defaults.echo && !defaults.no_banner && !defaults.wait_to_start &&
                !defaults.log_viewer);
    EXPECT_EQ(parse({"-p", "abc"}).config.port, 0);
    EXPECT_EQ(parse({"-h", std::string(127, 'h')}).result, Options::kRun);
    EXPECT_STREQ(parse({"-h", std::string(128, 'h')}).config.host_name, "localhost");
}

// Errors are reported, then the usage once; "--help" acts as soon as it is met.
TEST(Options, ErrorsAndHelp) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"-t", "x"}, "Invalid type \"x\" specified\r\n"},
        {{"-t", "Telnet"}, "Invalid type \"Telnet\" specified\r\n"},
        {{"--foo", "-x"}, "Invalid argument \"--foo\"\r\nInvalid argument \"-x\"\r\n"},
        {{"-t", "api", "-h"}, "Missing value for option \"-h\"\r\n"},
        {{"-p"}, "Missing value for option \"-p\"\r\n"},
        {{"-h", "localhost", "-t"}, "Missing value for option \"-t\"\r\n"},
        {{"-h", std::string(128, 'h')}, "Host name too long (at most 127 characters)\r\n"},
        {{"%n%s%x", "-t", "%n%s%x"},
         "Invalid argument \"%n%s%x\"\r\nInvalid type \"%n%s%x\" specified\r\n"},
    };
    for (const auto &[args, messages] : cases) {
        const Parsed p = parse(args);
        EXPECT_EQ(p.result, Options::kInvalid) << messages;
        EXPECT_EQ(p.printed, messages + "Usage:\r\n" + kUsage);
    }
    EXPECT_EQ(parse({"--help", "--foo"}).printed, kUsage);
    const Parsed help = parse({"--foo", "--help", "-t", "x"});
    EXPECT_EQ(help.result, Options::kHelp);
    EXPECT_EQ(help.printed, "Invalid argument \"--foo\"\r\n" + kUsage);
}

TEST(SessionConfig, NamesFormatsAndTheIdleLimit) {
    EXPECT_STREQ(session_type_name(SessionType::kTelnet), "telnet");
    EXPECT_STREQ(session_type_name(SessionType::kApi), "api");
    EXPECT_STREQ(session_type_name(SessionType::kApiSerial), "api-serial");
    EXPECT_STREQ(forwarding_format(CommandMode::kNormal), "C: %s");
    EXPECT_STREQ(forwarding_format(CommandMode::kCustomerApi), "E: %s");
    EXPECT_STREQ(forwarding_format(CommandMode::kInternal), "D: %s");
    const std::pair<const char *, int> idle[] = {
        {"Off", 0}, {"off", 0}, {"", 0},
        {"15", 15}, {"07", 7},  {"5 minutes", 5},
        {"x5", 0},  {"-3", 0},  {"99999999999", 9999999},
    };
    for (const auto &[setting, minutes] : idle)
        EXPECT_EQ(idle_minutes_from(setting), minutes) << setting;
    SessionConfig config;
    snprintf(config.tty_name, sizeof config.tty_name, "/dev/pts/12");
    EXPECT_STREQ(config.tty_leaf(), "12");
    snprintf(config.tty_name, sizeof config.tty_name, "ttyS0");
    EXPECT_STREQ(config.tty_leaf(), "ttyS0");
}

// The C library's reading of leading digits, saturated or in the low 32 bits, without
// overflow; the options, the idle limit, reply codes and "repeat" show the rest.
TEST(Numbers, LeadingDigitsReadWithoutOverflow) {
    const std::tuple<const char *, int, int> cases[] = {
        {"  -7x", -7, -7},
        {"+3", 3, 3},
        {"abc", 0, 0},
        {"2147483648", 2147483647, -2147483648},
        {"-2147483649", -2147483648, 2147483647},
        {"99999999999999999999", 2147483647, -1},
    };
    for (const auto &[text, saturated, low32] : cases)
        EXPECT_EQ(std::pair(parse_leading_int(text), parse_leading_int_low32(text)),
                  std::pair(saturated, low32))
            << text;
}

TEST(ShellPrintln, OneLineWithCrLfAndNoRoomForLongFormats) {
    SessionLog log;
    const std::string fits(130, 'x'), too_long(131, 'x');  // 133 bytes with CR LF and NUL
    CaptureStdout();
    EXPECT_EQ(shell_println(log, "value %d\n", 7), 9);
    shell_println(log, "%s", "%n%s");
    EXPECT_EQ(shell_println(log, nullptr), -1);
    EXPECT_EQ(shell_println(log, "%s", too_long.c_str()), 133) << "arguments may be long";
    EXPECT_EQ(shell_println(log, too_long.c_str()), -1);
    EXPECT_EQ(shell_println(log, fits.c_str()), 132);
    EXPECT_EQ(GetCapturedStdout(), "value 7\r\n%n%s\r\n" + too_long + "\r\n" + fits + "\r\n");
}
