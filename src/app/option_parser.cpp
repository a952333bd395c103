#include "app/option_parser.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {
struct TToolkitOption {
    std::string_view Name;
    bool TakesValue;
};

// QGuiApplication's and QApplication's documented options (X11's included).
// Values go on as a separate word, the one form all of them read ("-style=x" becomes
// "-style x"; "-platform=x" would otherwise be silently ignored).
constexpr std::array<TToolkitOption, 17> ToolkitOptions{{
    {"-platform", true},
    {"-platformpluginpath", true},
    {"-platformtheme", true},
    {"-plugin", true},
    {"-qwindowgeometry", true},
    {"-qwindowicon", true},
    {"-qwindowtitle", true},
    {"-session", true},
    {"-display", true},
    {"-geometry", true},
    {"-style", true},
    {"-stylesheet", true},
    {"-reverse", false},
    {"-widgetcount", false},
    {"-nograb", false},
    {"-dograb", false},
    {"-sync", false},
}};

const TToolkitOption* FindToolkitOption(std::string_view name) {
    for (const auto& o : ToolkitOptions)
        if (o.Name == name) return &o;
    return nullptr;
}

bool LooksLikeOption(const char* word) { return word[0] == '-' && word[1] != '\0'; }

TParsedWord Bad(std::string message) {
    TParsedWord w;
    w.Value = std::move(message);
    return w;
}

// The value after "=" or in the next word; the next word must not itself be an option, so
// that "--time-server --no-set-clock" is a mistake and not a host named "--no-set-clock".
bool TakeValue(TParsedWord& w, std::string::size_type eq, const std::string& word, int argc,
               const char* const* argv, int& i, std::string& error) {
    w.HasValue = true;
    if (eq != std::string::npos) {
        w.Value = word.substr(eq + 1);
    } else if (i + 1 >= argc) {
        error = "option " + w.Name + " needs a value";
        return false;
    } else if (LooksLikeOption(argv[i + 1])) {
        error = "option " + w.Name + " needs a value, not the option '" + argv[i + 1] + "'";
        return false;
    } else {
        w.Value = argv[++i];
    }
    if (w.Value.empty()) {
        error = "option " + w.Name + " needs a value";
        return false;
    }
    return true;
}

// A known option: a switch must come without "=value", any other with its value.
TParsedWord WithValueIfTaken(TParsedWord w, bool takesValue, std::string::size_type eq,
                             const std::string& word, int argc, const char* const* argv, int& i) {
    if (!takesValue) {
        if (eq != std::string::npos) return Bad("option " + w.Name + " takes no value");
        return w;
    }
    std::string error;
    if (!TakeValue(w, eq, word, argc, argv, i, error)) return Bad(error);
    return w;
}

TParsedWord ReadToolkitWord(const std::string& word, std::string::size_type eq, int argc,
                            const char* const* argv, int& i,
                            const std::vector<std::pair<std::string, bool>>& own) {
    TParsedWord w;
    w.What = TParsedWord::Toolkit;
    w.Name = word.substr(0, eq);
    const TToolkitOption* o = FindToolkitOption(w.Name);
    if (!o) {
        std::string message = "unknown option '" + word + "'";
        const std::string twoDashes = "-" + w.Name;
        for (const auto& [name, takesValue] : own)
            if (name == twoDashes) message += " (did you mean '" + twoDashes + "'?)";
        return Bad(message);
    }
    return WithValueIfTaken(w, o->TakesValue, eq, word, argc, argv, i);
}
}  // namespace

bool IsToolkitOption(const std::string& word) {
    return FindToolkitOption(word.substr(0, word.find('='))) != nullptr;
}

TParsedWord ReadOptionWord(int argc, const char* const* argv, int& i,
                           const std::vector<std::pair<std::string, bool>>& own) {
    std::string word = argv[i];
    if (word == "-h") word = "--help";
    if (!LooksLikeOption(word.c_str())) return Bad("unexpected argument '" + word + "'");
    const auto eq = word.find('=');
    if (word[1] != '-') return ReadToolkitWord(word, eq, argc, argv, i, own);

    TParsedWord w;
    w.What = TParsedWord::Own;
    w.Name = word.substr(0, eq);
    const auto row =
        std::find_if(own.begin(), own.end(), [&](const auto& o) { return o.first == w.Name; });
    if (row == own.end()) return Bad("unknown option '" + word + "'");
    return WithValueIfTaken(w, row->second, eq, word, argc, argv, i);
}

std::string AlignedHelp(const std::vector<std::pair<std::string, std::string>>& lines) {
    std::size_t width = 0;
    for (const auto& [left, help] : lines) width = std::max(width, left.size());
    std::string out;
    const std::string indent(2 + width + 2, ' ');
    for (const auto& [left, help] : lines) {
        out += "  " + left + std::string(width - left.size() + 2, ' ');
        for (char c : help) {
            out += c;
            if (c == '\n') out += indent;
        }
        out += '\n';
    }
    return out;
}
