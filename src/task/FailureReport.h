// A failure as the host sees it: the reason, in one sentence that names the
// file, and the status of KX_NOTIFY_TASK_FAILED.
#pragma once

#include <cstdint>
#include <string>

namespace kx {

struct FailureReport {
    std::string text;
    int32_t status = 0;
};

}  // namespace kx
