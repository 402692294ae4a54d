#include "Settings.h"

#include <stdexcept>

namespace sim {

const KeyValues &Settings::defaults() {
    // A fresh device: no password, no secure profile, no banners.
    static const KeyValues kDefaults = {
        {"adminuserid", "admin"},
        {"enablesecureprofile", "Off"},
        {"eol", "True"},
        {"idletimeoutapi", "Off"},
        {"loginbanneradmin", ""},
        {"loginbanneruser", ""},
        {"securitybanner", ""},
        {"sw", ""},
        {"systemname", "halvern-sim"},
        {"telnet_client_23", ""},
        {"telnet_client_23_success", ""},
        {"telnet_client_24", ""},
        {"telnet_client_24_success", ""},
    };
    return kDefaults;
}

std::optional<std::string> Settings::get(const std::string &name) const {
    KeyValues stored = file_.load();
    if (auto it = stored.find(name); it != stored.end()) return it->second;
    if (auto it = defaults().find(name); it != defaults().end()) return it->second;
    return std::nullopt;
}

void Settings::set(const std::string &name, const std::string &value) const {
    if (!KeyValueFile::validName(name)) throw std::invalid_argument("bad setting name");
    file_.update([&](KeyValues &values) { values[name] = value; });
}

KeyValues Settings::all() const {
    KeyValues values = defaults();
    for (auto &[name, value] : file_.load())
        values[name] = value;
    return values;
}

}  // namespace sim
