#include "cli/setting_assignment.h"

#include <algorithm>
#include <cctype>

namespace tornelvox::cli {

namespace {

std::string Trimmed(const std::string &text) {
    const auto space = [](unsigned char c) { return std::isspace(c) != 0; };
    auto begin = std::find_if_not(text.begin(), text.end(), space);
    auto end = std::find_if_not(text.rbegin(), text.rend(), space).base();
    return begin < end ? std::string(begin, end) : std::string();
}

std::string Folded(const std::string &text) {
    std::string folded = Trimmed(text);
    for (char &c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return folded;
}

// A name's comparable form: folded, with '-' and '_' as spaces.
std::string NameKey(const std::string &name) {
    std::string key = Folded(name);
    std::replace(key.begin(), key.end(), '-', ' ');
    std::replace(key.begin(), key.end(), '_', ' ');
    return key;
}

int LevelCount(const SettingDescription &setting) {
    return setting.kind == SettingKind::Flag ? 2 : static_cast<int>(setting.labels.size());
}

}  // namespace

const SettingDescription *FindSettingByName(const std::string &name) {
    const std::string key = NameKey(name);
    for (const SettingDescription &setting : AllSettings()) {
        if (NameKey(setting.name) == key) return &setting;
    }
    return nullptr;
}

bool ParseSettingValue(const SettingDescription &setting, const std::string &text, int &value) {
    const std::string key = Folded(text);
    if (key.empty()) return false;
    const int levels = LevelCount(setting);
    for (int i = 0; i < levels && i < static_cast<int>(setting.labels.size()); ++i) {
        if (Folded(setting.labels[static_cast<std::size_t>(i)]) == key) {
            value = i;
            return true;
        }
    }
    for (int i = 0; i < levels && i < static_cast<int>(setting.items.size()); ++i) {
        if (Folded(setting.items[static_cast<std::size_t>(i)]) == key) {
            value = i;
            return true;
        }
    }
    if (key.size() <= 2 &&
        std::all_of(key.begin(), key.end(), [](unsigned char c) { return std::isdigit(c) != 0; })) {
        const int index = std::stoi(key);
        if (index < levels) {
            value = index;
            return true;
        }
    }
    return false;
}

std::string AcceptedValues(const SettingDescription &setting) {
    const int levels = LevelCount(setting);
    std::string text;
    for (int i = 0; i < levels && i < static_cast<int>(setting.labels.size()); ++i) {
        if (!text.empty()) text += ", ";
        text += setting.labels[static_cast<std::size_t>(i)];
    }
    for (int i = 0; i < levels && i < static_cast<int>(setting.items.size()); ++i) {
        const std::string item = Trimmed(setting.items[static_cast<std::size_t>(i)]);
        if (item == std::to_string(i)) continue;  // the index, said once at the end
        const bool labelled =
            std::any_of(setting.labels.begin(), setting.labels.end(),
                        [&](const char *label) { return Folded(label) == Folded(item); });
        if (!labelled) text += ", " + item;
    }
    text += setting.kind == SettingKind::Flag ? " (or 0, 1)"
                                              : " (or 0 to " + std::to_string(levels - 1) + ")";
    return text;
}

std::string SettingNames() {
    std::string text;
    for (const SettingDescription &setting : AllSettings()) {
        if (!text.empty()) text += ", ";
        text += setting.name;
    }
    return text;
}

bool ParseAssignments(const std::vector<std::string> &texts, std::vector<SettingAssignment> &out,
                      std::string &error) {
    out.clear();
    for (const std::string &text : texts) {
        const std::size_t equals = text.find('=');
        if (equals == std::string::npos) {
            error = "\"" + text + "\" is not NAME=VALUE (for example \"Caller ID=TRUE\").\n";
            return false;
        }
        const std::string name = text.substr(0, equals);
        const std::string value_text = text.substr(equals + 1);
        const SettingDescription *setting = FindSettingByName(name);
        if (setting == nullptr) {
            error = "No setting is called \"" + Trimmed(name) +
                    "\". The settings are: " + SettingNames() + ".\n";
            return false;
        }
        for (const SettingAssignment &earlier : out) {
            if (earlier.setting == setting) {
                error = std::string(setting->name) + " is given more than once.\n";
                return false;
            }
        }
        SettingAssignment assignment{setting, 0};
        if (!ParseSettingValue(*setting, value_text, assignment.value)) {
            error = std::string(setting->name) + " cannot be \"" + Trimmed(value_text) +
                    "\". Its values are: " + AcceptedValues(*setting) + ".\n";
            return false;
        }
        out.push_back(assignment);
    }
    return true;
}

}  // namespace tornelvox::cli
