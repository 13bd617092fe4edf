#pragma once

// Builds a Dictionary from decoded entries. A key met again replaces the earlier value in its
// first position, as Foundation's dictionaries do, so a lookup always sees the last value.

#include <string>
#include <unordered_map>

#include "foundation/value.h"

namespace hv {

class DictionaryBuilder {
public:
    void reserve(size_t n) {
        entries_.reserve(n);
        index_.reserve(n);
    }

    void set(Value key, Value value) {
        if (const std::string* s = key.string()) {
            auto [it, inserted] = index_.try_emplace(*s, entries_.size());
            if (!inserted) {
                entries_[it->second].second = std::move(value);
                return;
            }
        }
        entries_.emplace_back(std::move(key), std::move(value));
    }

    Dictionary take() { return std::move(entries_); }

private:
    Dictionary entries_;
    std::unordered_map<std::string, size_t> index_;
};

}  // namespace hv
