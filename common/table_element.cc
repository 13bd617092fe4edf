#include "common/table_element.h"

namespace hv {

namespace {

// Values that Foundation's intValue/boolValue can read: a string yields its leading integer, nil
// yields 0. Containers, data, dates, NSNull and records have no numeric reading (they would raise
// in Foundation), so a record holding one where a number belongs is refused as a whole.
bool isScalar(const Value& v) { return v.isNil() || v.isNumber() || v.string() != nullptr; }

bool isTextOrNil(const Value& v) { return v.isNil() || v.string() != nullptr; }

bool isDateOrNil(const Value& v) { return v.isNil() || v.date() != nullptr; }

}  // namespace

TableElement::TableElement()
    : mode_("Limit"),
      range_(Value::integer(0, 'i')),
      nrange_(Value::integer(0, 'i')),
      usage_(Value::integer(0, 'i')),
      disk_(Value::integer(0, 'i')) {
    for (Value& d : days_) d = Value::integer(0, 'i');
}

void TableElement::encodeWithCoder(Coder& coder) const {
    coder.encodeObject(user_);
    coder.encodeObject(mode_);
    coder.encodeObject(range_);
    coder.encodeObject(monday());
    coder.encodeObject(tuesday());
    coder.encodeObject(wednesday());
    coder.encodeObject(thursday());
    coder.encodeObject(friday());
    coder.encodeObject(saturday());
    coder.encodeObject(sunday());
    coder.encodeObject(usage_);
    coder.encodeObject(disk_);
    coder.encodeObject(quota_);
    coder.encodeObject(script_);
    coder.encodeObject(nrange_);
    coder.encodeObject(Value::boolean(manset_ != 0));
    coder.encodeObject(date_);
    coder.encodeObject(path_);
}

std::shared_ptr<TableElement> TableElement::initWithCoder(Decoder& decoder) {
    // All 18 positions are consumed before any check, so that a refused record never leaves the
    // decoder part-way through its values.
    Value v[18];
    for (Value& slot : v) slot = decoder.decodeObject();

    // The policy file sits in the child's home and the child can rewrite it. The record keeps
    // the contract the rest of the system reads it by: texts are texts, numbers are readable as
    // numbers, the date is a date (each may be absent).
    for (int i : {0, 1, 13, 17}) {
        if (!isTextOrNil(v[i])) return nullptr;
    }
    for (int i : {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 14, 15}) {
        if (!isScalar(v[i])) return nullptr;
    }
    if (!isDateOrNil(v[16])) return nullptr;

    auto e = std::make_shared<TableElement>();
    e->setUser(std::move(v[0]));
    e->setMmode(std::move(v[1]));
    e->setRanges(v[2].intValue());
    e->setMonday(std::move(v[3]));
    e->setTuesday(std::move(v[4]));
    e->setWednesday(std::move(v[5]));
    e->setThursday(std::move(v[6]));
    e->setFriday(std::move(v[7]));
    e->setSaturday(std::move(v[8]));
    e->setSunday(std::move(v[9]));
    e->setUsage(std::move(v[10]));
    e->setDisk(std::move(v[11]));
    e->setQuota(std::move(v[12]));
    e->setScript(std::move(v[13]));
    e->setNetRanges(v[14].intValue());
    e->setManset(v[15].boolValue() ? 1 : 0);
    e->setDate(std::move(v[16]));
    e->setHomePath(std::move(v[17]));
    return e;
}

void registerTableElement() {
    ClassCoding coding;
    coding.classChain = {"TableElement", "NSObject"};
    coding.version = 0;
    coding.encode = [](const Object& object, Coder& coder) {
        if (auto* e = dynamic_cast<const TableElement*>(&object)) e->encodeWithCoder(coder);
    };
    coding.decode = [](Decoder& decoder) -> std::shared_ptr<Object> {
        return TableElement::initWithCoder(decoder);
    };
    ClassRegistry::add(std::move(coding));
}

std::shared_ptr<TableElement> recordAt(const Array& list, size_t index) {
    if (index >= list.size()) return nullptr;
    const auto* object = list[index].object();
    if (object == nullptr) return nullptr;
    return std::dynamic_pointer_cast<TableElement>(*object);
}

}  // namespace hv
