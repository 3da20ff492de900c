// The converter object behind IStreamwright: it translates the host's calls
// to its task session and runs the session's task on its worker thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "KX_Remuxion.h"
#include "api/CUnknown.h"
#include "api/InputReports.h"
#include "api/ValueOrStatus.h"
#include "input/InputOpen.h"
#include "input/StreamSummary.h"
#include "output/OutputFailure.h"
#include "output/PartialFile.h"
#include "platform/BaseThread.h"
#include "task/FileRecord.h"
#include "task/TaskHost.h"
#include "task/TaskSession.h"

namespace kx {

class CMergeLossCopyCheckInfo;
class ITAnalyze;
struct MediaStreamPair;

class CStreamwright final : public scombase::CUnknown, public IStreamwright, public BaseThread, public TaskHost {
public:
    CStreamwright();
    ~CStreamwright() override;

    static scombase::CUnknown* Create(IUnknown* outer, HRESULT* status);

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    KX_DECLARE_IUNKNOWN

    // IStreamwright, slots 3-37
    int64_t AddFile(BSTR path) override;
    HRESULT RemoveFile(int64_t fileId) override;
    HRESULT Reset() override;
    HRESULT SetOutputPath(BSTR path) override;
    HRESULT AddTimeClip(int64_t fileId, const ClipRange* clip) override;
    HRESULT RemoveClip(int64_t fileId, int64_t clipIndex) override;
    HRESULT GetTimeClip(int64_t fileId, uint64_t clipIndex, ClipRange* out) override;
    HRESULT SetClip(int64_t fileId, int64_t clipIndex, const ClipRange* clip) override;
    HRESULT AddSizeClip(int64_t fileId, const ClipRange* clip) override;
    HRESULT GetSizeClip(int64_t fileId, uint64_t clipIndex, ClipRange* out) override;
    int64_t GetClipCount(int64_t fileId) override;
    HRESULT SetCallback(TaskCallback callback, void* context, int32_t which) override;
    HRESULT Start() override;
    HRESULT Pause() override;
    HRESULT Resume() override;
    HRESULT Stop() override;
    HRESULT SetTaskType(uint32_t taskType, int32_t taskOption) override;
    HRESULT GetTaskType(uint32_t* taskType, int32_t* taskOption) override;
    int64_t GetOutputCount(int64_t fileId) override;
    HRESULT GetOutputFileName(int64_t fileId, int64_t outputIndex, BSTR* name) override;
    uint32_t WaitForCompletion(uint32_t timeoutMs) override;
    IMerge_LossCopy_Check_Info* CheckMerge() override;
    HRESULT GetFileKeyFrameIndex(int64_t fileId, KeyFrameList** list) override;
    ILossCopyMediaInfo* GetFileMediaInfo(int64_t fileId) override;
    HRESULT OpenStream(int64_t fileId, int32_t streamIndex, int32_t kind) override;
    HRESULT GetStream(int64_t fileId, int32_t streamIndex, int32_t kind, IMediaStreamEx** stream) override;
    HRESULT StartDemuxers() override;
    HRESULT PrepareTask() override;
    uint32_t CheckFileSeekable(int64_t fileId) override;
    HRESULT SetOutputExtension(BSTR extension) override;
    HRESULT ReopenFiles() override;
    HRESULT SwapClips(int64_t fileId, int64_t clipA, int64_t clipB) override;
    HRESULT SwapFiles(int64_t fileId, int64_t otherFileId) override;
    HRESULT MoveFiles(const int64_t* fileIds, int64_t count, int64_t position) override;
    HRESULT CancelKeyFrameIndex(int64_t fileId) override;

    // ---- TaskHost: what the task set-up and the engines use ----
    void Notify(int32_t code, TaskCursor* cursor, int32_t value) override;
    // The per-packet pause and stop protocol of the engines; a failed task
    // stops as a stopped one does.
    void WaitWhilePaused() const override;
    bool StopRequested() override;
    using TaskHost::FailTask;
    void FailTask(const FailureReport& report) override;
    bool TaskFailed() const override { return taskFailed_.load(std::memory_order_relaxed); }
    void NotifyTaskEnd(TaskCursor* cursor) override;
    void IndexKeyFrames(int64_t fileId) override { GetFileKeyFrameIndex(fileId, nullptr); }
    void ReopenInputs() override { ReopenFiles(); }
    // The task run forgets the inputs' ends when it starts and collects them
    // before its end is notified.
    void ForgetInputEnds() override;
    void CollectInputEnds() override;

    FileRecord* FindFile(int64_t fileId) { return session_.FindFile(fileId); }
    // Inputs: the policy for files added from now on (KX_SetInputOptions),
    // why the last AddFile failed, and the inputs of the last task that ended
    // early.
    HRESULT SetInputPolicy(InputPolicy policy);
    const InputProblem& LastInputProblem() const { return lastInputProblem_; }
    const std::vector<EarlyInputEnd>& EarlyInputEnds() const { return earlyInputEnds_; }

    // Keeps the reason of a failure outside a task (a file AddFile refused)
    // for KX_GetLastErrorText, without failing a task.
    void NoteFailure(const FailureReport& report);
    // The last failure's text, "" when none.
    std::u16string LastFailureText();
    // Every stream of a file with its tags (KX_GetStreamSummary); null for
    // an unknown file.
    const FileSummary* SummaryOf(int64_t fileId);
    // KX_SetOutputOptions and KX_IsOutputComplete.
    HRESULT SetOutputOptions(uint32_t flags);
    bool IsOutputComplete(int64_t fileId, int64_t outputIndex);
    // KX_GetClipCutReport and KX_GetClipCutReason: null for an unknown file or clip.
    const ClipCutReport* CutReportOf(int64_t fileId, int64_t clipIndex);
    // KX_GetKeyFramesNear: the key frames next to the times, appended to the list.
    HRESULT GetKeyFramesNear(int64_t fileId, const std::vector<int64_t>& times, KeyFrameList* list);
    bool Busy() const { return busy_.load() != 0; }

protected:
    void Run() override;

private:
    HRESULT GetClip(int64_t fileId, uint64_t clipIndex, ClipRange* out);
    // Opens a file's reading side; null (after a log line) when it cannot.
    // Keeps why an input was refused for KX_GetLastErrorText, and logs it.
    void RefuseInput(const std::u16string& path, InputProblem problem);
    DemuxerHolderPtr OpenDemuxerHolder(const std::u16string& path, int decodeMode);
    void ClearFailure();
    // Key-frame progress of GetFileKeyFrameIndex, sent to the host.
    static int32_t ReportKeyFrameProgress(int32_t code, int64_t percent, int64_t reserved, void* converter);

    std::atomic<uint32_t> busy_{0};
    TaskSession session_;
    TaskCallback taskCallback_ = nullptr;
    void* taskContext_ = nullptr;
    // The task type and option as the host set them, unknown ones included.
    uint32_t taskType_ = KX_TASK_SPLIT;
    int32_t taskOption_ = -1;
    TaskCallback keyFrameCallback_ = nullptr;
    void* keyFrameContext_ = nullptr;
    std::atomic<int64_t> keyFrameCookie_{-1};
    CMergeLossCopyCheckInfo* mergeCheckResult_ = nullptr;
    InputPolicy inputPolicy_;
    InputProblem lastInputProblem_;
    std::vector<EarlyInputEnd> earlyInputEnds_;
    std::atomic<bool> taskFailed_{false};
    std::mutex failureMutex_;  // the worker records, any host thread reads
    std::optional<FailureReport> lastFailure_;
};

// The converter behind an interface pointer a host passes to an export;
// null for a null pointer or an object not made by this library.
CStreamwright* ConverterOf(IStreamwright* converter);

}  // namespace kx
