#include "BadInputSupport.h"

#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include <gtest/gtest.h>

namespace kxtest {

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
    std::ifstream in(source, std::ios::binary);
    std::string bytes(size, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(size));
    bytes.resize(static_cast<size_t>(in.gcount()));
    WriteBytes(target, bytes);
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> FilesUnder(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        if (it->is_regular_file(error) || it->is_symlink(error)) files.push_back(it->path().string());
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

HRESULT GuardedConverter::KeyFrameIndex(int64_t fileId, int64_t* count) {
    struct Scan {
        HRESULT status = KX_E_FAIL;
        KeyFrameList list{0, nullptr, 0};
    };
    auto scan = std::make_shared<Scan>();
    IStreamwright* c = converter_;
    if (!Bounded("GetFileKeyFrameIndex", [c, fileId, scan] {
            KeyFrameList* out = &scan->list;
            scan->status = c->GetFileKeyFrameIndex(fileId, &out);
        }))
        return KX_E_FAIL;
    if (count) *count = scan->list.count;
    KX_FreeKeyFrameList(&scan->list);
    return scan->status;
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
