// The command loop.

#include "command_loop.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "cle.h"
#include "commands.h"
#include "console.h"
#include "import.h"
#include "secret_words.h"
#include "session.h"
#include "session_end.h"

namespace {

const char *const default_prompt = "-> ";
const char *const kLineEnd = "\r\n";
constexpr int kEditorRoom = 511;  // a line holds at most 510 characters
constexpr size_t kLineRoom = 512;

enum class Pass {
    kNext,    // read the next line
    kLeave,   // the session ends: log out, clear the setting, clean up
    kEndNow,  // clean up and end at once ("exit" with words)
    kReboot,  // the device reboots: clean up and end
};

bool is_one_of(const char *line, const char *a, const char *b, const char *c) {
    return strcmp(line, a) == 0 || strcmp(line, b) == 0 || strcmp(line, c) == 0;
}

class CommandLoop {
  public:
    CommandLoop(Session &session, LoopState &loop) : session_(session), loop_(loop) {}
    int run();

  private:
    Pass one_pass();
    Pass handle_line(bool &sent);
    Pass forward_line(bool &sent);
    Pass reboot_cmd_processing();
    Pass quit();
    void print_default_prompt();
    const SessionLog &log() const { return session_.log; }

    Session &session_;
    LoopState &loop_;
    DirectoryImport import_;
    char line_[kLineRoom] = "";
};

int CommandLoop::run() {
    const SessionConfig &config = session_.config;
    if (!config.is(SessionType::kTelnet) && !config.no_banner) session_.link.send_api("whoami");
    cle_set_import_state(0);

    Pass pass;
    while ((pass = one_pass()) == Pass::kNext) {
    }
    if (pass == Pass::kEndNow) {
        cleanup(session_);
        return 0;
    }
    if (pass == Pass::kReboot) {
        sleep(1);
        cleanup(session_);
        sleep(1);
        mysyslog(log(), "End of session");
        return 0;
    }
    if (config.secure_profile) log_out(session_);
    done(session_);
    if (cle_did_session_timeout()) {
        shell_println(log(), "Session timed out");
        print_security_log(log(), loop_.user, "Session timed out");
        import_.abort();
    }
    mysyslog(log(), "End of session");
    return 0;
}

Pass CommandLoop::one_pass() {
    session_.link.take_ready_token();
    int result = cle_get_command_line(nullptr, line_, kEditorRoom);
    if (result == -1) session_.link.give_ready_token();
    if (cle_did_import_timeout()) {
        shell_println(log(), "importdirectory timed out");
        import_.abort();
        cle_set_import_state(0);
        return Pass::kNext;
    }
    if (result == -1) return Pass::kLeave;
    bool sent = false;
    Pass next = handle_line(sent);
    if (next != Pass::kNext) return next;
    if (!sent) session_.link.give_ready_token();
    session_.output.flush_unless_typing();
    return Pass::kNext;
}

Pass CommandLoop::handle_line(bool &sent) {
    clean_line(line_);
    if (import_.in_progress()) {
        import_.take_line(session_, loop_.mode, line_);
        cle_set_import_state(import_.in_progress());
        return Pass::kNext;
    }
    if (line_[0] == '\0') {
        print_default_prompt();
        return Pass::kNext;
    }
    session_.log.count_line();
    mysyslog(log(), "IN:%s\n", line_);
    if (!carries_secrets(line_)) cle_history_add(line_);
    preprocess_legacy_bang_input_cmd(line_);
    if (loop_.reboot_asked || is_one_of(line_, "quit", "exit", "reboot"))
        return reboot_cmd_processing();
    CommandContext context{session_, loop_};
    if (process_command(context, line_)) return loop_.end_now ? Pass::kEndNow : Pass::kNext;
    return forward_line(sent);
}

// Sends a line that no local command took; sent tells whether it went out as a command.
Pass CommandLoop::forward_line(bool &sent) {
    if (DirectoryImport::is_import_command(line_)) {
        cle_set_import_state(import_.start(session_, line_));
        return Pass::kNext;
    }
    if (preProcessPasswordCommands(line_) != 0) {
        shell_println(log(), "%s", kSecretsTooLong);
        return Pass::kNext;
    }
    sent = true;
    if (session_.link.send_command(line_, loop_.mode) == kLinkEnded) {
        mysyslog(log(), "ERROR:Unable to send command to zuz. Quitting. Current command: %s\n",
                 line_);
        return Pass::kLeave;
    }
    return Pass::kNext;
}

void CommandLoop::print_default_prompt() {
    OutputGuard guard(session_.output);
    guard.flush();
    if (!loop_.echo) fputs(kLineEnd, stdout);
    fputs(default_prompt, stdout);
    fflush(stdout);
}

// "quit" or "exit": leaves the customer API mode of a telnet session, else the loop.
Pass CommandLoop::quit() {
    sleep(1);
    if (session_.config.is(SessionType::kTelnet) && loop_.mode == CommandMode::kCustomerApi) {
        {
            OutputGuard guard(session_.output);
            guard.printf("Exiting customer api *ONLY* mode\n");
        }
        loop_.mode = CommandMode::kNormal;
        return Pass::kNext;
    }
    return Pass::kLeave;
}

// The reboot question and its answer; quit and exit.
Pass CommandLoop::reboot_cmd_processing() {
    if (!loop_.reboot_asked) {
        if (strcmp(line_, "reboot") == 0) {
            loop_.reboot_asked = true;
            fputs("reboot, are you sure? <y,n> ", stdout);
            fflush(stdout);
            return Pass::kNext;
        }
        return quit();
    }
    loop_.reboot_asked = false;
    if (strcmp(line_, "y") == 0) {
        session_.link.send_api("reboot now");
        return Pass::kReboot;
    }
    if (strcmp(line_, "n") == 0) return Pass::kNext;
    if (strlen(line_) == 1) return quit();
    shell_println(log(), "info: reboot command aborted");
    fflush(stdout);
    return Pass::kNext;
}

}  // namespace

int run_command_loop(Session &session, LoopState &loop) {
    CommandLoop command_loop(session, loop);
    return command_loop.run();
}

void clean_line(char *line) {
    auto removable = [](char c) {
        unsigned char u = static_cast<unsigned char>(c);
        return u >= 1 && u <= 32;
    };
    size_t start = 0;
    while (line[start] != '\0' && removable(line[start]))
        ++start;
    size_t len = strlen(line + start);
    memmove(line, line + start, len + 1);
    while (len > 0 && removable(line[len - 1]))
        line[--len] = '\0';
}

void preprocess_legacy_bang_input_cmd(char *line) {
    size_t len = strlen(line);
    if (len > 1 && line[0] == '!') {
        memmove(line + 2, line + 1, len);  // the tail and its NUL
        line[1] = ' ';
    }
}
