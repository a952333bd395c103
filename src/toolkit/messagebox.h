// The message-box seam: the window installs a modal dialog, tests install a recorder.
// Without a handler the text goes to standard error and the box answers OK.
#pragma once

#include <functional>
#include <string>
#include <vector>

// Windows message-box flags and answers, kept so that callers read the same everywhere.
constexpr unsigned MB_OK = 0x00;
constexpr unsigned MB_OKCANCEL = 0x01;
constexpr unsigned MB_YESNO = 0x04;
constexpr unsigned MB_ICONERROR = 0x10;
constexpr unsigned MB_ICONQUESTION = 0x20;
constexpr unsigned MB_ICONWARNING = 0x30;
constexpr unsigned MB_ICONINFORMATION = 0x40;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

using TMessageBoxHandler =
    std::function<int(const std::string& text, const std::string& caption, unsigned flags)>;

// Installs the handler and returns the previous one.
TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler handler);
// The application's modal message box; returns the button pressed.
int ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags);
// The simple box of the toolkit: the text with the program's name as caption.
void ShowMessage(const std::string& text);
// The toolkit's default error display for an exception that left an event handler.
void ShowException(const std::string& message);

// Test helper: records every box shown while it lives and answers with `Answer`.
class TMessageRecorder {
public:
    struct TEntry {
        std::string Text, Caption;
        unsigned Flags;
    };
    explicit TMessageRecorder(int answer = IDOK);
    ~TMessageRecorder();
    TMessageRecorder(const TMessageRecorder&) = delete;
    TMessageRecorder& operator=(const TMessageRecorder&) = delete;

    std::vector<TEntry> Shown;
    int Answer;

private:
    TMessageBoxHandler FPrevious;
};
