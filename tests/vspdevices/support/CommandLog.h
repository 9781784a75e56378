// The port commands an adapter received, in order, with the time each arrived: for
// tests that check what a program's calls sent and how far apart.
#pragma once

#include "Rfc2217.h"

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

class CommandLog {
public:
    struct Entry {
        std::string text;  // "SET-CONTROL 8 (DTR on)"
        std::chrono::steady_clock::time_point when;
    };
    void add(const vsp::rfc2217::Message& m)
    {
        std::lock_guard lock(mutex_);
        entries_.push_back({vsp::rfc2217::describe(m), std::chrono::steady_clock::now()});
    }
    void clear()
    {
        std::lock_guard lock(mutex_);
        entries_.clear();
    }
    std::vector<Entry> entries() const
    {
        std::lock_guard lock(mutex_);
        return entries_;
    }
    std::vector<std::string> texts() const
    {
        std::vector<std::string> t;
        for (const Entry& e : entries())
            t.push_back(e.text);
        return t;
    }
    // The commands from the n-th occurrence (counting from 0) of `first` on.
    std::vector<std::string> from(const std::string& first) const
    {
        const auto all = texts();
        for (std::size_t i = 0; i < all.size(); ++i)
            if (all[i] == first)
                return {all.begin() + static_cast<std::ptrdiff_t>(i), all.end()};
        return {};
    }

private:
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};
