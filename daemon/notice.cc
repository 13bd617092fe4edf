#include "daemon/monitor.h"

namespace hv {

void Monitor::showCautionNotice() {
    system.showNotice(Notice{static_cast<double>(timeout), NoticeLevel::Caution, kNoticeHeader,
                             message.value_or("")});
}

void Monitor::showStopNotice() {
    system.showNotice(Notice{1.0, NoticeLevel::Stop, kNoticeHeader, message.value_or("")});
}

}  // namespace hv
