#include "platform/posix/time_source.h"

#include <atomic>

namespace {

std::atomic<const TimeSource*> gTimeSource{nullptr};

}  // namespace

void setTimeSource(const TimeSource* source) {
    gTimeSource.store(source);
}

const TimeSource* currentTimeSource() {
    return gTimeSource.load();
}
