#include "common/range_records.h"

#include <algorithm>

#include "common/table_element.h"

namespace hv {
namespace {

uint32_t minuteAt(const Array& list, int64_t index, int day) {
    if (index < 0 || static_cast<uint64_t>(index) >= list.size()) return 0;
    auto record = recordAt(list, static_cast<size_t>(index));
    return record ? static_cast<uint32_t>(record->day(day).intValue()) : 0;
}

}  // namespace

RangeList::RangeList(const Array& list, int64_t first, int32_t count, int day)
    : list_(list), first_(first), size_(0), day_(day) {
    if (count <= 0) return;
    const int64_t listed = static_cast<int64_t>(list.size());
    const int64_t held = first >= listed ? 0 : (listed - first + 1) / 2;
    size_ = std::min<int64_t>(count, held + 1);
}

DayRange RangeList::operator[](int64_t i) const {
    const int64_t start = first_ + 2 * i;
    return {minuteAt(list_, start, day_), minuteAt(list_, start + 1, day_)};
}

}  // namespace hv
