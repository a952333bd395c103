#include "toolkit/messagebox.h"

#include <cstdio>

#include "toolkit/seam.h"

namespace {
TSeam<TMessageBoxHandler> Handler;
}  // namespace

TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler handler) {
    return Handler.Swap(std::move(handler));
}

int ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    if (const TMessageBoxHandler h = Handler.Get()) return h(text, caption, flags);
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return IDOK;
}

void ShowMessage(const std::string& text) { ShowMessageBox(text, "Tiktaal", MB_OK); }

void ShowException(const std::string& message) {
    ShowMessageBox(message, "Tiktaal", MB_OK | MB_ICONERROR);
}

TMessageRecorder::TMessageRecorder(int answer) : Answer(answer) {
    FPrevious =
        SetMessageBoxHandler([this](const std::string& t, const std::string& c, unsigned f) {
            Shown.push_back(TEntry{t, c, f});
            return Answer;
        });
}

TMessageRecorder::~TMessageRecorder() { SetMessageBoxHandler(std::move(FPrevious)); }
