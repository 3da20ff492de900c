// The converter object behind IStreamwright.
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
#include "api/HostKinds.h"
#include "platform/BaseThread.h"
#include "task/FileRecord.h"
#include "api/InputReports.h"
#include "input/InputOpen.h"
#include "output/OutputFailure.h"
#include "output/PartialFile.h"

namespace kx {

class CMergeLossCopyCheckInfo;
class ITAnalyze;
struct MediaStreamPair;

class CStreamwright final : public scombase::CUnknown, public IStreamwright, public BaseThread {
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

    // ---- for the task set-up and the engines ----
    // Sends a task notification to the host's callback, if one is set.
    void Notify(int32_t code, TaskCursor* cursor, int32_t value);
    FileRecord* FindFile(int64_t fileId);
    std::vector<FileRecord>& Files() { return files_; }
    uint32_t TaskType() const { return taskType_; }
    CutPlacement Placement() const { return CutPlacementFromHost(taskOption_); }
    // The per-packet pause and stop protocol of the engines.
    void WaitWhilePaused() const;
    bool StopRequested();
    // Inputs: the policy for files added from now on (KX_SetInputOptions),
    // why the last AddFile failed, and the inputs of the last task that ended
    // early. The task run forgets the ends when it starts and collects them
    // before its end is notified.
    HRESULT SetInputPolicy(InputPolicy policy);
    const InputProblem& LastInputProblem() const { return lastInputProblem_; }
    const std::vector<EarlyInputEnd>& EarlyInputEnds() const { return earlyInputEnds_; }
    void ForgetInputEnds();
    void CollectInputEnds();
    // Output position of a merge or stream mix, carried from clip to clip.
    int64_t runningEndTime = 0;
    int64_t runningByteCount = 0;

    // ---- failures of the task: its outputs, and inputs that ended early ----
    // Keeps the task's first failure (later ones add nothing) and makes
    // StopRequested true, so that the engines end the task at their next
    // stop test. Any thread.
    void FailTask(const OutputFailure& failure);
    void FailTask(const FailureReport& report);
    // Keeps the reason of a failure outside a task (a file AddFile refused)
    // for KX_GetLastErrorText, without failing a task.
    void NoteFailure(const FailureReport& report);
    bool TaskFailed() const { return taskFailed_.load(std::memory_order_relaxed); }
    // The last failure's text, "" when none.
    std::u16string LastFailureText();
    // KX_NOTIFY_TASK_FAILED with the failure's status when the task failed,
    // then KX_NOTIFY_TASK_END.
    void NotifyTaskEnd(TaskCursor* cursor);
    // KX_SetOutputOptions and KX_IsOutputComplete.
    HRESULT SetOutputOptions(uint32_t flags);
    bool IsOutputComplete(int64_t fileId, int64_t outputIndex);
    // Opens a split clip's output that is due when the clip starts; false
    // when that failed (the task's failure is kept).
    bool OpenDueClipOutput(FileRecord& file, size_t clipIndex);

protected:
    void Run() override;

private:
    HRESULT GetClip(int64_t fileId, uint64_t clipIndex, ClipRange* out);
    // The task of the current task type (the engines); runs on the worker.
    void RunTask();
    // Opens a file's reading side; null (after a log line) when it cannot.
    DemuxerHolderPtr OpenDemuxerHolder(const std::u16string& path, int decodeMode);
    // Task set-up of each task type.
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
    // The last step of setting up an output, shared by every task: refuses an
    // input's name, then writes the header; false, with the failure kept.
    bool WriteOutputHeader(CTMuxer& muxer, const std::u16string& name);
    void ClearFailure();
    HRESULT PrepareMerge();
    HRESULT PrepareStreamMix();
    // Key-frame progress of GetFileKeyFrameIndex, sent to the host.
    static int32_t ReportKeyFrameProgress(int32_t code, int64_t percent, int64_t reserved, void* converter);

    std::atomic<uint32_t> busy_{0};
    std::unique_ptr<char16_t[]> outputPath_;
    std::unique_ptr<char16_t[]> outputExtension_;
    std::vector<FileRecord> files_;
    TaskCallback taskCallback_ = nullptr;
    void* taskContext_ = nullptr;
    uint32_t taskType_ = KX_TASK_SPLIT;
    int32_t taskOption_ = -1;
    int64_t outputCount_ = 0;
    std::vector<std::vector<int64_t>> mergeGroups_;
    TaskCallback keyFrameCallback_ = nullptr;
    void* keyFrameContext_ = nullptr;
    std::atomic<int64_t> keyFrameCookie_{-1};
    CMergeLossCopyCheckInfo* mergeCheckResult_ = nullptr;
    InputPolicy inputPolicy_;
    InputProblem lastInputProblem_;
    std::vector<EarlyInputEnd> earlyInputEnds_;
    // Hosts that never set output options keep the replacing outputs they
    // always had (now complete or absent); the program asks for refusal.
    OutputFileOptions outputOptions_{.replace = true};
    std::atomic<bool> taskFailed_{false};
    std::mutex failureMutex_;  // the worker records, any host thread reads
    std::optional<FailureReport> lastFailure_;
};

}  // namespace kx
