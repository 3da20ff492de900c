#include "task/TaskHost.h"

#include "task/FailureReport.h"
#include "output/OutputFailure.h"

namespace kx {

void TaskHost::FailTask(const OutputFailure& failure) { FailTask(FailureReport{failure.Text(), failure.Status()}); }

}  // namespace kx
