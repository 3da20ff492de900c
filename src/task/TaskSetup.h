// Task set-up on the host's thread: the merge groups, and the outputs a task
// writes (opened, or checked and left due for when their clip starts).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "KX_Remuxion.h"
#include "output/PartialFile.h"
#include "task/FileRecord.h"
#include "task/TaskHost.h"
#include "task/TaskSession.h"

namespace kx {

class TaskSetup {
public:
    TaskSetup(TaskSession& session, TaskHost& host);

    // Puts the files of a merge into groups whose selected streams can share
    // an output, numbering each file's streams for it (the session's merge
    // groups; none for other tasks).
    void GroupForMerge();
    // The outputs of the session's task: KX_S_OK when ready, KX_S_FALSE when
    // the streams could not be set up, KX_E_FAIL when an output could not be
    // opened.
    HRESULT PrepareTask();
    // Opens a split clip's output that is due when the clip starts; false
    // when that failed (the task's failure is kept).
    bool OpenDueClipOutput(FileRecord& file, size_t clipIndex);

private:
    HRESULT PrepareSplit();
    // A split clip's output: opened (file created, header written), or only
    // checked and left due for when the clip starts.
    HRESULT OpenClipOutput(FileRecord& file, size_t clipIndex);
    HRESULT CheckClipOutput(FileRecord& file, size_t clipIndex);
    // Whether an output may be written under the name: within the limits,
    // free unless outputs may replace files, and no input. Keeps the failure
    // when not.
    bool OutputNameUsable(const std::u16string& name);
    bool OutputIsNoInput(const std::u16string& name);
    // An output that could not be opened: the legacy line and the task's
    // failure (the container's refusal, or no name); KX_E_FAIL.
    HRESULT RefuseOutput(const CTMuxer& muxer, const char16_t* name, const std::u16string& source);
    // Adds a selected stream of file to the output (of clip, named
    // outputName) under key; false, after refusedLine and with the failure
    // kept, when the output cannot take it.
    bool AddOutputStream(CTMuxer& muxer, ClipTask& clip, const std::u16string& outputName, const FileRecord& file,
                         const SelectedStream& stream, int64_t key, const char16_t* refusedLine);
    // The last step of setting up an output, shared by every task: refuses an
    // input's name, then writes the header; false, with the failure kept.
    bool WriteOutputHeader(CTMuxer& muxer, const std::u16string& name);
    HRESULT PrepareMerge();
    HRESULT PrepareStreamMix();
    void FailTask(const FailureReport& report) { host_.FailTask(report); }
    void FailTask(const OutputFailure& failure) { host_.FailTask(failure); }
    bool TaskFailed() const { return host_.TaskFailed(); }

    TaskSession& session_;
    TaskHost& host_;
    std::vector<FileRecord>& files_;
    const OutputFileOptions& outputOptions_;
};

}  // namespace kx
