// An output file whose write system calls run on a thread of their own.
// Copying into the page cache is a good part of a remux; on its own thread it
// overlaps with reading and muxing instead of adding to them. The muxer sees
// an ordinary seekable AVIOContext: every seek and size query first waits for
// the queued writes, so the file reads back exactly as if written in place.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct AVIOContext;

namespace kx {

class BackgroundFileWriter {
public:
    // Writes to an open file, which the writer now owns; null (the file
    // closed) when the context cannot be made.
    static std::unique_ptr<BackgroundFileWriter> Adopt(int fd);
    ~BackgroundFileWriter();
    BackgroundFileWriter(const BackgroundFileWriter&) = delete;
    BackgroundFileWriter& operator=(const BackgroundFileWriter&) = delete;

    // The context to give the muxer; valid until Close.
    AVIOContext* Context() const { return context_; }

    // Flushes the context, waits for every queued write, frees the context,
    // with `sync` makes the data reach the disk, and closes the file. 0, or
    // the first error (of a write, the sync or the close) as a negative
    // AVERROR. Idempotent.
    int Close(bool sync = false);

private:
    explicit BackgroundFileWriter(int fd);
    static int WritePacket(void* opaque, uint8_t* data, int size);
    static int64_t Seek(void* opaque, int64_t offset, int whence);

    int Queue(const uint8_t* data, int size);
    int Drain();  // waits until nothing is queued or being written; the first error
    void Run();
    int WriteAll(const uint8_t* data, size_t size);  // on the calling thread

    int fd_;
    AVIOContext* context_ = nullptr;
    std::thread thread_;        // started once an output gets more than a header
    uint64_t directBytes_ = 0;  // written before the thread started
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<uint8_t>> queue_;
    std::vector<std::vector<uint8_t>> spare_;  // written chunks, reused for later ones
    bool writing_ = false;
    bool stopping_ = false;
    bool closing_ = false;
    int error_ = 0;
};

}  // namespace kx
