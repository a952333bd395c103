#include "toolkit/stringlist.h"

#include <algorithm>
#include <stdexcept>

size_t TStringList::Add(const std::string& s, long mark) {
    FItems.push_back(TEntry{s, mark});
    return FItems.size() - 1;
}

void TStringList::Insert(size_t index, const std::string& s, long mark) {
    if (index > FItems.size()) throw std::out_of_range("List index out of bounds");
    FItems.insert(FItems.begin() + static_cast<std::ptrdiff_t>(index), TEntry{s, mark});
}

void TStringList::Delete(size_t index) {
    if (index >= FItems.size()) throw std::out_of_range("List index out of bounds");
    FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(index));
}

long TStringList::IndexOf(const std::string& s) const {
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i].Text == s) return static_cast<long>(i);
    return -1;
}

void TStringList::Sort() {
    std::stable_sort(FItems.begin(), FItems.end(),
                     [](const TEntry& a, const TEntry& b) { return a.Text < b.Text; });
}

std::string TStringList::Text() const {
    std::string out;
    for (const auto& e : FItems) {
        out += e.Text;
        out += "\r\n";
    }
    return out;
}

void TStringList::SetText(const std::string& text) {
    FItems.clear();
    size_t start = 0;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            FItems.push_back(TEntry{text.substr(start, i - start), 0});
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            start = ++i;
        } else {
            ++i;
        }
    }
    if (start < text.size()) FItems.push_back(TEntry{text.substr(start), 0});
}
