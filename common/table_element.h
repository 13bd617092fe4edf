#pragma once

// TableElement: one record of an account's policy list (a limit, time-range, network-range or
// application record). The daemon and horavelset share it. Records have no value equality: the
// daemon finds a record by identity, so lists hold them by shared pointer.
//
// A record archives its 18 values positionally with encodeObject()/decodeObject(), in the order
// user, mode, range, d_mon .. d_sun, usage, disk, quota, script, nrange, manset, date, path.

#include <cstdint>
#include <memory>
#include <string_view>

#include "foundation/coder.h"
#include "foundation/value.h"

namespace hv {

class TableElement : public Object {
  public:
    // A new record: mode "Limit", every number but quota an integer 0 (type 'i', as
    // numberWithInt: makes it), manset false; quota, the strings and the date absent.
    TableElement();

    std::string_view className() const override { return "TableElement"; }

    void encodeWithCoder(Coder& coder) const;
    // Takes every value from the archive (an absent mode stays absent); range and nrange are
    // rebuilt as integer numbers, manset as a boolean. Every value may be absent. nullptr when a
    // value has a kind the record cannot hold: user, mode, script and path must be strings, date
    // a date, and the numbers scalars (integer, real, boolean or string: all read by intValue).
    // So a decoded record never holds a collection, data, NSNull or another object.
    static std::shared_ptr<TableElement> initWithCoder(Decoder& decoder);

    const Value& user() const { return user_; }
    void setUser(Value v) { user_ = std::move(v); }
    const Value& path() const { return path_; }
    void setHomePath(Value v) { path_ = std::move(v); }
    const Value& mmode() const { return mode_; }
    void setMmode(Value v) { mode_ = std::move(v); }
    int32_t ranges() const { return range_.intValue(); }
    void setRanges(int32_t n) { range_ = Value::integer(n, 'i'); }
    int32_t netranges() const { return nrange_.intValue(); }
    void setNetRanges(int32_t n) { nrange_ = Value::integer(n, 'i'); }
    const Value& monday() const { return days_[1]; }
    void setMonday(Value v) { days_[1] = std::move(v); }
    const Value& tuesday() const { return days_[2]; }
    void setTuesday(Value v) { days_[2] = std::move(v); }
    const Value& wednesday() const { return days_[3]; }
    void setWednesday(Value v) { days_[3] = std::move(v); }
    const Value& thursday() const { return days_[4]; }
    void setThursday(Value v) { days_[4] = std::move(v); }
    const Value& friday() const { return days_[5]; }
    void setFriday(Value v) { days_[5] = std::move(v); }
    const Value& saturday() const { return days_[6]; }
    void setSaturday(Value v) { days_[6] = std::move(v); }
    const Value& sunday() const { return days_[0]; }
    void setSunday(Value v) { days_[0] = std::move(v); }
    // The weekday value for dayOfWeek 0 (Sunday) .. 6 (Saturday).
    const Value& day(int dayOfWeek) const { return days_[static_cast<size_t>(dayOfWeek) % 7]; }
    const Value& usage() const { return usage_; }
    void setUsage(Value v) { usage_ = std::move(v); }
    const Value& disk() const { return disk_; }
    void setDisk(Value v) { disk_ = std::move(v); }
    const Value& quota() const { return quota_; }
    void setQuota(Value v) { quota_ = std::move(v); }
    const Value& script() const { return script_; }
    void setScript(Value v) { script_ = std::move(v); }
    uint8_t manset() const { return manset_; }
    void setManset(uint8_t b) { manset_ = b; }
    const Value& date() const { return date_; }
    void setDate(Value v) { date_ = std::move(v); }

  private:
    Value user_, path_, mode_, range_, nrange_;
    Value days_[7];  // indexed by dayOfWeek: 0 = Sunday
    Value usage_, disk_, quota_, script_, date_;
    uint8_t manset_ = 0;
};

// Registers TableElement's coding with the ClassRegistry; call once at start-up.
void registerTableElement();

// A policy list's record at index, or nullptr when the element is absent or not a TableElement.
std::shared_ptr<TableElement> recordAt(const Array& list, size_t index);

}  // namespace hv
