#pragma once

// Positional coding of objects of registered classes. A class encodes its values one after the
// other with encodeObject() and decodes them in the same order with decodeObject(); the same
// two calls serve the keyed archive (keys "$0", "$1", ...) and the typedstream.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/value.h"

namespace hv {

class Coder {
public:
    virtual ~Coder() = default;
    virtual void encodeObject(const Value& value) = 0;
};

class Decoder {
public:
    virtual ~Decoder() = default;
    // The next value; nil when the archive holds nil there or has no more values. A malformed
    // archive makes the whole decode fail; the class need not check.
    virtual Value decodeObject() = 0;
};

struct ClassCoding {
    // The class and its superclasses, most derived first: {"TableElement", "NSObject"}.
    std::vector<std::string> classChain;
    int version = 0;
    std::function<void(const Object&, Coder&)> encode;
    std::function<std::shared_ptr<Object>(Decoder&)> decode;
};

// Process-wide table of registered classes, filled at start-up by each class's register
// function (for instance registerTableElement()). Decoders reject any other custom class.
class ClassRegistry {
public:
    static void add(ClassCoding coding);
    static const ClassCoding* find(std::string_view className);
};

}  // namespace hv
