#include "Platform/system/DesktopEntry.h"

#include <cctype>

namespace scrivlet {

namespace DesktopEntry {

namespace {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

std::string unescapeValue(std::string_view value) {
    std::string plain;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            plain += value[i];
            continue;
        }
        switch (const char next = value[++i]) {
        case 's':
            plain += ' ';
            break;
        case 'n':
            plain += '\n';
            break;
        case 't':
            plain += '\t';
            break;
        case 'r':
            plain += '\r';
            break;
        case '\\':
            plain += '\\';
            break;
        default:
            plain += '\\';
            plain += next;
            break;
        }
    }
    return plain;
}

bool isFileOrURLCode(std::string_view argument) {
    return argument == "%u" || argument == "%U" || argument == "%f" || argument == "%F";
}

// "%%" becomes "%"; any other field code inside an argument has nothing to stand for here.
std::string withoutFieldCodes(std::string_view argument) {
    std::string plain;
    for (std::size_t i = 0; i < argument.size(); ++i) {
        if (argument[i] != '%') {
            plain += argument[i];
        } else if (i + 1 < argument.size() && argument[++i] == '%') {
            plain += '%';
        }
    }
    return plain;
}

// Splits at unquoted spaces; inside double quotes, a backslash keeps ", `, $ and \ literal.
std::optional<std::vector<std::string>> splitArguments(std::string_view exec) {
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false;
    bool quoted = false;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (quoted) {
            if (c == '\\' && i + 1 < exec.size() &&
                std::string_view("\"`$\\").find(exec[i + 1]) != std::string_view::npos) {
                current += exec[++i];
            } else if (c == '"') {
                quoted = false;
            } else {
                current += c;
            }
        } else if (c == ' ' || c == '\t') {
            if (inArgument) {
                arguments.push_back(std::move(current));
                current.clear();
                inArgument = false;
            }
        } else {
            quoted = c == '"';
            if (!quoted) {
                current += c;
            }
            inArgument = true;
        }
    }
    if (quoted) {
        return std::nullopt;
    }
    if (inArgument) {
        arguments.push_back(std::move(current));
    }
    return arguments;
}

} // namespace

std::optional<std::map<std::string, std::string>> readMainGroup(std::string_view text) {
    std::map<std::string, std::string> keys;
    bool inMainGroup = false;
    bool found = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            inMainGroup = line == "[Desktop Entry]";
            found = found || inMainGroup;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (inMainGroup && equals != std::string_view::npos) {
            const std::string key(trimmed(line.substr(0, equals)));
            keys.try_emplace(key, unescapeValue(trimmed(line.substr(equals + 1))));
        }
    }
    return found ? std::optional(keys) : std::nullopt;
}

std::string escapeValue(std::string_view value) {
    std::string escaped;
    for (std::size_t i = 0; i < value.size(); ++i) {
        switch (const char c = value[i]) {

        case '\\':
            escaped += "\\\\";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\t':
            escaped += "\\t";
            break;
        case '\r':
            escaped += "\\r";
            break;
        case ' ':
            escaped += i == 0 ? "\\s" : " ";
            break;
        default:
            escaped += c;
            break;
        }
    }
    return escaped;
}

std::string quoteExecArgument(std::string_view argument) {
    bool plain = !argument.empty();
    for (const char c : argument) {
        const auto byte = static_cast<unsigned char>(c);
        plain = plain && (std::isalnum(byte) ||
                          std::string_view("/._+-=:,@").find(c) != std::string_view::npos);
    }
    std::string quoted = plain ? "" : "\"";
    for (const char c : argument) {
        if (!plain && std::string_view("\"`$\\").find(c) != std::string_view::npos) {
            quoted += '\\';
        }
        quoted += c == '%' ? std::string("%%") : std::string(1, c);
    }
    return plain ? quoted : quoted + "\"";
}

std::optional<std::vector<std::string>> expandExec(std::string_view exec,
                                                   const std::vector<std::string>& urls) {
    auto arguments = splitArguments(exec);
    if (!arguments) {
        return std::nullopt;
    }
    std::vector<std::string> expanded;
    for (const std::string& argument : *arguments) {
        if (isFileOrURLCode(argument)) {
            expanded.insert(expanded.end(), urls.begin(), urls.end());
        } else if (std::string plain = withoutFieldCodes(argument); !plain.empty()) {
            expanded.push_back(std::move(plain));
        }
    }
    return expanded;
}

} // namespace DesktopEntry

} // namespace scrivlet
