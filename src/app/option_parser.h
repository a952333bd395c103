// A strict command-line parser driven by a table of options. The toolkit's own documented
// options pass through untouched; every other word is an error, so that a mistyped option
// never silently leaves a default (such as setting the clock) in force.
#pragma once

#include <functional>
#include <string>
#include <vector>

template <typename TOptions>
struct TOptionRow {
    const char* Name;       // "--time-server"
    const char* ValueName;  // "HOST[:PORT]", or nullptr for a switch
    const char* Help;       // one line; "\n" continues it on the next line of --help
    // Stores the value (empty for a switch); returns false with a message when the value is
    // not acceptable.
    std::function<bool(TOptions&, const std::string& value, std::string& error)> Apply;
};

struct TParsedWord {
    enum Kind { Own, Toolkit, Bad } What = Bad;
    std::string Name;   // the option as written, without "=value"
    std::string Value;  // its value, when it takes one
    bool HasValue = false;
};

// Lines "  left  help" with the help texts in one column.
// Lines "  left  help" with the help texts in one column.
std::string AlignedHelp(const std::vector<std::pair<std::string, std::string>>& lines);

// Reads one option starting at argv[i] (advancing i past a separate value). Own options are
// those whose names are listed (value-taking ones flagged); the toolkit's options are passed
// as Toolkit. Bad carries the message in Value.
TParsedWord ReadOptionWord(int argc, const char* const* argv, int& i,
                           const std::vector<std::pair<std::string, bool>>& own);

// The toolkit's words, as its documentation lists them, with argv[0] first.
bool IsToolkitOption(const std::string& word);

// Applies argv[1..] to options. The toolkit's options go to toolkitArgs (after argv[0]); the
// program's own are also listed in ownWords, one word each ("--name" or "--name=value").
template <typename TOptions>
bool ParseOptionTable(int argc, const char* const* argv,
                      const std::vector<TOptionRow<TOptions>>& table, TOptions& options,
                      std::vector<std::string>& toolkitArgs, std::vector<std::string>& ownWords,
                      std::string& error) {
    std::vector<std::pair<std::string, bool>> own;
    for (const auto& row : table) own.emplace_back(row.Name, row.ValueName != nullptr);
    toolkitArgs.assign(1, argc > 0 ? argv[0] : "");
    ownWords.clear();
    for (int i = 1; i < argc; ++i) {
        const TParsedWord word = ReadOptionWord(argc, argv, i, own);
        if (word.What == TParsedWord::Bad) {
            error = word.Value;
            return false;
        }
        if (word.What == TParsedWord::Toolkit) {
            toolkitArgs.push_back(word.Name);
            if (word.HasValue) toolkitArgs.push_back(word.Value);
            continue;
        }
        for (const auto& row : table) {
            if (word.Name != row.Name) continue;
            if (!row.Apply(options, word.Value, error)) {
                if (error.empty()) error = "bad value '" + word.Value + "' for " + word.Name;
                return false;
            }
            break;
        }
        ownWords.push_back(word.HasValue ? word.Name + "=" + word.Value : word.Name);
    }
    return true;
}

// The option lines of --help, aligned, from the table.
template <typename TOptions>
std::string OptionTableHelp(const std::vector<TOptionRow<TOptions>>& table) {
    std::vector<std::pair<std::string, std::string>> lines;
    for (const auto& row : table) {
        std::string left = row.Name;
        if (row.ValueName) left += std::string(" ") + row.ValueName;
        lines.emplace_back(left, row.Help);
    }
    return AlignedHelp(lines);
}
