// An ordered list of byte strings with whole-text access and an optional mark per entry.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class TStringList {
public:
    struct TEntry {
        std::string Text;
        long Mark = 0;  // a caller's tag for the entry (the toolkit's object slot)
    };

    size_t Count() const { return FItems.size(); }
    bool Empty() const { return FItems.empty(); }
    const std::string& operator[](size_t i) const { return FItems.at(i).Text; }
    std::string& operator[](size_t i) { return FItems.at(i).Text; }
    long Mark(size_t i) const { return FItems.at(i).Mark; }
    void SetMark(size_t i, long mark) { FItems.at(i).Mark = mark; }

    size_t Add(const std::string& s, long mark = 0);
    void Insert(size_t index, const std::string& s, long mark = 0);
    void Delete(size_t index);
    void Clear() { FItems.clear(); }
    // -1 when absent; the comparison is exact.
    long IndexOf(const std::string& s) const;
    void Sort();  // byte-wise ascending

    // Lines joined with CR LF, each line terminated.
    std::string Text() const;
    // Splits at CR, LF or CR LF; a final line end adds no empty entry.
    void SetText(const std::string& text);

    auto begin() const { return FItems.begin(); }
    auto end() const { return FItems.end(); }

private:
    std::vector<TEntry> FItems;
};
