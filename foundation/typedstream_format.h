#pragma once

// Byte-level facts of the typedstream shared by its reader and writer.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/value.h"

namespace hv::typedstream {

// The head byte tags; every other byte value is a literal small integer.
inline constexpr uint8_t kInt16 = 0x81;
inline constexpr uint8_t kInt32 = 0x82;
inline constexpr uint8_t kReal = 0x83;
inline constexpr uint8_t kNew = 0x84;
inline constexpr uint8_t kNil = 0x85;
inline constexpr uint8_t kEndOfObject = 0x86;
inline constexpr uint8_t kInt64 = 0x87;
// Signed head values from -128 (0x80) to -111 (0x91) are tags, never literals.
inline constexpr int kSmallestLiteral = -110;

// A table index i is written as the integer i + kReferenceBase.
inline constexpr int64_t kReferenceBase = -110;

inline constexpr std::string_view kLittleEndianSignature = "streamtyped";
inline constexpr std::string_view kBigEndianSignature = "typedstream";
inline constexpr int kStreamerVersion = 4;
inline constexpr int kSystemVersion = 1000;

// An NSTimeZone met on its own rather than inside a calendar date. A calendar date keeps just
// the zone's name; this object lets a lone zone round-trip. No name: the local zone.
class TimeZoneObject : public Object {
  public:
    explicit TimeZoneObject(std::optional<std::string> name) : name_(std::move(name)) {}
    std::string_view className() const override { return "NSTimeZone"; }
    const std::optional<std::string>& name() const { return name_; }

  private:
    std::optional<std::string> name_;
};

}  // namespace hv::typedstream
