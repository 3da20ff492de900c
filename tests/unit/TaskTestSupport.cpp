#include "TaskTestSupport.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include <gtest/gtest.h>

namespace kxtest {

namespace {

Notification Received(int32_t code, const TaskCursor* cursor, int32_t value) {
    return {code, cursor ? cursor->fileId : -1, cursor ? cursor->clipIndex : -1, cursor != nullptr, value};
}

}  // namespace

int32_t NotificationLog::Callback(void* context, int32_t code, TaskCursor* cursor, int32_t value) {
    static_cast<NotificationLog*>(context)->Add(Received(code, cursor, value));
    return 0;
}

void NotificationLog::Add(const Notification& notification) {
    std::lock_guard<std::mutex> lock(mutex_);
    items_.push_back(notification);
    count++;
}

std::vector<Notification> NotificationLog::All() {
    std::lock_guard<std::mutex> lock(mutex_);
    return items_;
}

std::vector<int32_t> NotificationLog::Codes() {
    std::vector<int32_t> codes;
    for (const auto& n : All()) {
        const bool progress =
            n.code == KX_NOTIFY_PROGRESS || n.code == KX_NOTIFY_KEYFRAME_PROGRESS || n.code == KX_NOTIFY_CLIP_PROGRESS;
        if (!progress || codes.empty() || codes.back() != KX_NOTIFY_PROGRESS)
            codes.push_back(progress ? KX_NOTIFY_PROGRESS : n.code);
    }
    return codes;
}

void PauseAt::Attach(IStreamwright* converter) {
    converter_ = converter;
    converter->SetCallback(&PauseAt::Callback, this, 0);
}

int32_t PauseAt::Callback(void* context, int32_t code, TaskCursor* cursor, int32_t value) {
    auto* self = static_cast<PauseAt*>(context);
    const Notification notification = Received(code, cursor, value);
    self->log.Add(notification);
    if (self->when_(notification, ++self->seen) && !self->paused) {
        self->converter_->Pause();
        self->paused = true;
    }
    return 0;
}

bool PauseAt::WaitForPause() const {
    for (int i = 0; i < 5000 && !paused; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return paused;
}

PauseAt::Rule AtClip(int64_t index) {
    return [index](const Notification& n, int) {
        return n.code == KX_NOTIFY_CLIP_BEGIN && (!n.hasCursor || n.clipIndex == index);
    };
}

namespace {

// The test process's own folder in the temporary folder: the suites of
// several build folders may run at once on one machine, and outputs are
// never written over another run's files.
const std::filesystem::path& ProcessFolder() {
    static const std::filesystem::path folder =
        std::filesystem::path(testing::TempDir()) / ("kx_" + std::to_string(getpid()));
    return folder;
}

class RemoveProcessFolder : public testing::Environment {
public:
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(ProcessFolder(), ignored);
    }
};

[[maybe_unused]] testing::Environment* const g_removeProcessFolder =
    testing::AddGlobalTestEnvironment(new RemoveProcessFolder);

}  // namespace

std::string TempFolder(const std::string& name) {
    std::filesystem::path dir = ProcessFolder() / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

bool IsPartialName(const std::string& name) {
    return name.size() > 1 && name[0] == '.' && name.find(".partial-") != std::string::npos;
}

std::vector<std::string> PartialFilesIn(const std::string& folder) {
    std::vector<std::string> found;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored))
        if (IsPartialName(entry.path().filename().string())) found.push_back(entry.path().string());
    return found;
}

std::string PartialFileOf(const std::string& output) {
    const std::filesystem::path path(output);
    const std::string prefix = "." + path.filename().string() + ".partial-";
    for (const auto& found : PartialFilesIn(path.parent_path().string()))
        if (std::filesystem::path(found).filename().string().rfind(prefix, 0) == 0) return found;
    return {};
}

std::vector<std::string> OutputNames(IStreamwright* converter, int64_t fileId) {
    std::vector<std::string> names;
    const int64_t count = converter->GetOutputCount(fileId);
    for (int64_t j = 0; j < count; ++j) {
        BSTR name = nullptr;
        converter->GetOutputFileName(fileId, j, &name);
        names.push_back(name ? Narrow(name) : "");
        SysFreeString(name);
    }
    return names;
}

std::string LastErrorText(IStreamwright* converter) {
    BSTR text = KX_GetLastErrorText(converter);
    const std::string narrow = text ? Narrow(text) : "";
    SysFreeString(text);
    return narrow;
}

Task::Task() : converter_(CreateConverter()) {
    if (converter_) converter_->SetCallback(&NotificationLog::Callback, &notifications, 0);
}

Task::~Task() {
    if (converter_) converter_->Release();
}

int64_t Task::Add(const std::string& path, const std::vector<std::pair<int32_t, int32_t>>& streams) {
    Bstr name(path);
    int64_t id = converter_->AddFile(name);
    if (id < 0) return -1;
    for (const auto& [index, kind] : streams)
        if (converter_->OpenStream(id, index, kind) != KX_S_OK) return -1;
    return id;
}

void Task::SetOutput(const std::string& path) {
    Bstr name(path);
    converter_->SetOutputPath(name);
}

HRESULT Task::Launch(int64_t fileId) {
    converter_->GetOutputCount(fileId);
    HRESULT hr = converter_->PrepareTask();
    if (hr != KX_S_OK) return hr;
    converter_->StartDemuxers();
    return converter_->Start();
}

void Task::Wait() { converter_->WaitForCompletion(KX_INFINITE); }

std::string Task::OutputName(int64_t fileId, int64_t index) {
    BSTR name = nullptr;
    if (converter_->GetOutputFileName(fileId, index, &name) != KX_S_OK) return "";
    std::string result = Narrow(name);
    SysFreeString(name);
    return result;
}

bool EndsWithin(std::chrono::milliseconds limit, std::function<void()> work) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> ended = done->get_future();
    std::thread([work = std::move(work), done] {
        work();
        done->set_value();
    }).detach();
    return ended.wait_for(limit) == std::future_status::ready;
}

void CopyHead(const std::string& source, const std::string& target, uint64_t size) {
    WriteBytes(target, ReadAll(source).substr(0, size));
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::absolute(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> FilesUnder(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        if (it->is_regular_file(error) || it->is_symlink(error)) files.push_back(it->path().string());
    std::sort(files.begin(), files.end());
    return files;
}

GuardedConverter::GuardedConverter()
    : converter_(CreateConverter()), notifications_(std::make_shared<NotificationLog>()) {
    if (converter_) converter_->SetCallback(&NotificationLog::Callback, notifications_.get(), 0);
}

GuardedConverter::~GuardedConverter() { Release(); }

bool GuardedConverter::Bounded(const char* what, std::function<void()> work) {
    if (hung_ || !converter_) return false;
    // The step holds the log too, in case it ends after the converter is abandoned.
    auto keep = notifications_;
    if (EndsWithin(kStepTimeLimit, [work = std::move(work), keep] { work(); })) return true;
    hung_ = true;
    ADD_FAILURE() << what << " did not end within " << kStepTimeLimit.count() << " s";
    return false;
}

// Each step keeps what it uses in shared state, so that a step left running
// after its time limit never touches the test's stack.
int64_t GuardedConverter::AddFile(const std::string& path) {
    auto id = std::make_shared<int64_t>(-1);
    auto name = std::make_shared<Bstr>(path);
    IStreamwright* c = converter_;
    if (!Bounded("AddFile", [c, name, id] { *id = c->AddFile(*name); })) return -1;
    return *id;
}

int64_t GuardedConverter::AddFileWithStreams(const std::string& path,
                                             const std::vector<std::pair<int32_t, int32_t>>& streams) {
    int64_t id = AddFile(path);
    if (id < 0) return id;
    for (const auto& [index, kind] : streams) converter_->OpenStream(id, index, kind);
    return id;
}

HRESULT GuardedConverter::KeyFrameIndex(int64_t fileId) {
    auto status = std::make_shared<HRESULT>(KX_E_FAIL);
    IStreamwright* c = converter_;
    Bounded("GetFileKeyFrameIndex", [c, fileId, status] {
        KeyFrameList list{0, nullptr, 0};
        KeyFrameList* out = &list;
        *status = c->GetFileKeyFrameIndex(fileId, &out);
        KX_FreeKeyFrameList(&list);
    });
    return *status;
}

void GuardedConverter::SetOutputPath(const std::string& path) {
    Bstr name(path);
    converter_->SetOutputPath(name);
}

HRESULT GuardedConverter::Prepare(int64_t fileId) {
    auto status = std::make_shared<HRESULT>(KX_E_FAIL);
    IStreamwright* c = converter_;
    Bounded("PrepareTask", [c, fileId, status] {
        c->GetOutputCount(fileId);
        *status = c->PrepareTask();
    });
    return *status;
}

bool GuardedConverter::RunToEnd() {
    if (hung_ || !converter_) return false;
    converter_->StartDemuxers();
    if (converter_->Start() != KX_S_OK) return false;
    const auto limit = std::chrono::duration_cast<std::chrono::milliseconds>(kStepTimeLimit);
    if (converter_->WaitForCompletion(static_cast<uint32_t>(limit.count())) == KX_WAIT_OBJECT_0) return true;
    hung_ = true;
    ADD_FAILURE() << "the task did not end within " << kStepTimeLimit.count() << " s";
    return false;
}

void GuardedConverter::Release() {
    if (!converter_) return;
    IStreamwright* c = converter_;
    if (Bounded("Release", [c] { c->Release(); })) converter_ = nullptr;
    // A hung converter is left as it is: releasing it would wait for its worker.
}

}  // namespace kxtest
