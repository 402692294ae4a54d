// Reads (and changes) what the simulated device keeps in its state directory.
#ifndef VELA_HARNESS_DEVICE_STATE_H
#define VELA_HARNESS_DEVICE_STATE_H

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hex_encoded.h"  // hexEncoded, for the tests that check secrets on the link

namespace vela::test {

struct SyslogRecord {
    int priority = 0;
    std::string identity;
    std::string pid;  // as the sender gave it; empty when it gave none
    std::string message;
};

// Each call reads the files afresh, so it sees what the device wrote until then.
// Every function returns copies owned by the caller and may be called from any thread.
class DeviceState {
  public:
    explicit DeviceState(std::string hostDir) : dir_(std::move(hostDir)) {}

    // Every line zuz received, in order, as the line reader cleaned it.
    std::vector<std::string> zuzReceived() const;
    // Every record syslogd took on /dev/log, in order.
    std::vector<SyslogRecord> syslogRecords() const;
    // A device setting as kbox answers it (stored value or default); nullopt if unknown.
    std::optional<std::string> setting(const std::string &name) const;
    // The boot environment as fw_printenv prints it.
    std::map<std::string, std::string> bootEnv() const;
    // Every run of kbox, fw_setenv, fw_printenv and crashreport: its argv.
    std::vector<std::vector<std::string>> toolInvocations() const;
    // "enabled" or "disabled" once crashreport has been run successfully.
    std::optional<std::string> crashReportState() const;
    // Replaces zuz's rules (syntax in Rules.cpp of zuz); zuz applies them from its next
    // line. Throws std::invalid_argument naming the bad lines; nothing is changed then.
    void setZuzRules(std::string_view rules) const;
    // The in-device pid of "zuz" or "syslogd"; 0 when it was not started.
    int daemonPid(std::string_view name) const;

  private:
    std::string path(std::string_view name) const { return dir_ + "/" + std::string(name); }
    std::vector<std::vector<std::string>> records(const char *name) const;
    std::string dir_;
};

}  // namespace vela::test

#endif
