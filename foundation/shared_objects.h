#pragma once

// The objects of a reference table as a decoder meets them. Each is decoded at most once and its
// value shared by every later reference, so input whose references fan out exponentially costs no
// more than its size. Each keeps its height (the containers from it down to its deepest leaf,
// itself included), so that a shared object met again deeper down is still held to the depth limit.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/value.h"

namespace hv {

class SharedObjects {
public:
    enum class Lookup : uint8_t { Unread, Cycle, TooDeep, Shared };

    void resize(size_t count) { slots_.resize(count); }

    // What object index is to a reference met inside `depth` containers: not decoded yet, still
    // being decoded (a reference cycle), decoded but too deep here, or decoded and shared (value
    // and height are then set to it).
    Lookup lookup(size_t index, int depth, int maxDepth, Value& value, int& height) const {
        const Slot& slot = slots_[index];
        if (slot.state == State::Reading) return Lookup::Cycle;
        if (slot.state == State::Unread) return Lookup::Unread;
        if (depth + slot.height > maxDepth) return Lookup::TooDeep;
        height = slot.height;
        value = slot.value;
        return Lookup::Shared;
    }
    void startDecoding(size_t index) { slots_[index].state = State::Reading; }
    void finishDecoding(size_t index, const Value& value, int height) {
        Slot& slot = slots_[index];
        slot.state = State::Done;
        slot.height = height;
        slot.value = value;
    }

private:
    enum class State : uint8_t { Unread, Reading, Done };
    struct Slot {
        State state = State::Unread;
        int height = 0;
        Value value;
    };
    std::vector<Slot> slots_;
};

}  // namespace hv
