#include "output/BackgroundFileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace kx {

namespace {

constexpr int kBufferBytes = 256 * 1024;  // one write system call
constexpr size_t kMostQueued = 8;         // 2 MB in flight at most
// Written on the caller's thread before the writer thread starts: headers,
// and outputs that get little (short clips need no thread of their own).
constexpr uint64_t kDirectBytes = 1024 * 1024;

}  // namespace

std::unique_ptr<BackgroundFileWriter> BackgroundFileWriter::Adopt(int fd) {
    if (fd < 0) return nullptr;
    std::unique_ptr<BackgroundFileWriter> writer(new BackgroundFileWriter(fd));
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferBytes));
    if (buffer)
        writer->context_ = avio_alloc_context(buffer, kBufferBytes, 1, writer.get(), nullptr,
                                              &BackgroundFileWriter::WritePacket, &BackgroundFileWriter::Seek);
    if (!writer->context_) {
        av_free(buffer);
        return nullptr;  // the destructor closes the file
    }
    writer->context_->seekable = AVIO_SEEKABLE_NORMAL;
    return writer;
}

BackgroundFileWriter::BackgroundFileWriter(int fd) : fd_(fd) {}

BackgroundFileWriter::~BackgroundFileWriter() { Close(); }

int BackgroundFileWriter::Close(bool sync) {
    if (context_) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closing_ = true;  // the last flush is written here, without waking a thread for it
        }
        avio_flush(context_);
    }
    int result = Drain();
    if (thread_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    if (context_) {
        av_freep(&context_->buffer);
        avio_context_free(&context_);
    }
    if (fd_ >= 0) {
        if (sync && result == 0 && ::fsync(fd_) != 0) result = AVERROR(errno);
        if (::close(fd_) != 0 && result == 0) result = AVERROR(errno);
        fd_ = -1;
    }
    return result;
}

int BackgroundFileWriter::WritePacket(void* opaque, uint8_t* data, int size) {
    return static_cast<BackgroundFileWriter*>(opaque)->Queue(data, size);
}

int64_t BackgroundFileWriter::Seek(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<BackgroundFileWriter*>(opaque);
    if (int error = self->Drain()) return error;
    if (whence & AVSEEK_SIZE) {
        struct stat status {};
        if (fstat(self->fd_, &status) != 0) return AVERROR(errno);
        return status.st_size;
    }
    off_t position = ::lseek(self->fd_, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return position < 0 ? AVERROR(errno) : position;
}

int BackgroundFileWriter::Queue(const uint8_t* data, int size) {
    if (size <= 0) return 0;
    std::unique_lock<std::mutex> lock(mutex_);
    if (error_) return error_;
    if (!thread_.joinable() && (closing_ || directBytes_ < kDirectBytes)) {
        lock.unlock();
        directBytes_ += static_cast<uint64_t>(size);
        int error = WriteAll(data, static_cast<size_t>(size));
        lock.lock();
        if (error && !error_) error_ = error;
        return error_ ? error_ : size;
    }
    if (!thread_.joinable()) thread_ = std::thread(&BackgroundFileWriter::Run, this);
    changed_.wait(lock, [this] { return queue_.size() < kMostQueued || error_; });
    if (error_) return error_;
    std::vector<uint8_t> chunk;
    if (!spare_.empty()) {
        chunk = std::move(spare_.back());
        spare_.pop_back();
    }
    chunk.assign(data, data + size);
    queue_.push_back(std::move(chunk));
    changed_.notify_all();
    return size;
}

int BackgroundFileWriter::Drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return queue_.empty() && !writing_; });  // also true before the thread starts
    return error_;
}

void BackgroundFileWriter::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !queue_.empty() || stopping_; });
        if (queue_.empty()) return;  // stopping, nothing left
        std::vector<uint8_t> chunk = std::move(queue_.front());
        queue_.pop_front();
        writing_ = true;
        const bool failed = error_ != 0;  // after an error the rest is dropped, as a failed write drops it
        lock.unlock();
        int error = failed ? 0 : WriteAll(chunk.data(), chunk.size());
        lock.lock();
        writing_ = false;
        if (error && !error_) error_ = error;
        spare_.push_back(std::move(chunk));
        changed_.notify_all();
    }
}

int BackgroundFileWriter::WriteAll(const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t written = ::write(fd_, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return AVERROR(errno);
        }
        if (written == 0) return AVERROR(EIO);
        data += written;
        size -= static_cast<size_t>(written);
    }
    return 0;
}

}  // namespace kx
