#include "DeviceState.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "BootEnv.h"
#include "DevicePaths.h"
#include "Escape.h"
#include "Rules.h"
#include "Settings.h"

namespace vela::test {

namespace sp = sim::paths;

std::vector<std::vector<std::string>> DeviceState::records(const char *name) const {
    std::vector<std::vector<std::string>> result;
    std::ifstream in(path(name));
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        size_t start = 0;
        for (;;) {
            size_t tab = line.find('\t', start);
            auto field = sim::unescape(std::string_view(line).substr(start, tab - start));
            fields.push_back(field.value_or("<bad escape>"));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        result.push_back(std::move(fields));
    }
    return result;
}

std::vector<std::string> DeviceState::zuzReceived() const {
    std::vector<std::string> lines;
    for (auto &fields : records(sp::kZuzReceivedFile))
        lines.push_back(std::move(fields[0]));
    return lines;
}

std::vector<SyslogRecord> DeviceState::syslogRecords() const {
    std::vector<SyslogRecord> result;
    for (auto &fields : records(sp::kSyslogRecordsFile)) {
        if (fields.size() != 4) continue;
        result.push_back({std::atoi(fields[0].c_str()), fields[1], fields[2], fields[3]});
    }
    return result;
}

std::optional<std::string> DeviceState::setting(const std::string &name) const {
    return sim::Settings(path(sp::kSettingsFile)).get(name);
}

std::map<std::string, std::string> DeviceState::bootEnv() const {
    return sim::loadBootEnv(path(sp::kBootEnvFile));
}

std::vector<std::vector<std::string>> DeviceState::toolInvocations() const {
    return records(sp::kToolLogFile);
}

std::optional<std::string> DeviceState::crashReportState() const {
    std::ifstream in(path(sp::kCrashReportFile));
    std::string state;
    if (!std::getline(in, state)) return std::nullopt;
    return state;
}

void DeviceState::setZuzRules(std::string_view rules) const {
    auto parsed = sim::zuz::parseRules(rules);
    if (!parsed.errors.empty()) {
        std::string message = "bad zuz rules:";
        for (const auto &error : parsed.errors)
            message += "\n  " + error;
        throw std::invalid_argument(message);
    }
    // zuz notices the new file by its identity, so replace it rather than rewrite it.
    std::string temp = path(std::string(sp::kZuzRulesFile) + ".new");
    {
        std::ofstream out(temp, std::ios::trunc);
        out << rules;
        if (!out.flush()) throw std::runtime_error("cannot write " + temp);
    }
    if (std::rename(temp.c_str(), path(sp::kZuzRulesFile).c_str()) != 0)
        throw std::runtime_error("cannot replace the zuz rules");
}

int DeviceState::daemonPid(std::string_view name) const {
    std::ifstream in(path(std::string(name) + ".pid"));
    int pid = 0;
    in >> pid;
    return pid;
}

}  // namespace vela::test
