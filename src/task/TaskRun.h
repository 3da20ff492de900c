// The body of a started task (worker thread): default clips, then the split,
// merge or stream-mix run with the task's notifications.
#pragma once

namespace kx {

class TaskHost;
class TaskSession;

void RunTask(TaskSession& session, TaskHost& host);

}  // namespace kx
