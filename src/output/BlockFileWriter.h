// An output file written in 256 KiB blocks, one write system call each, on
// the muxer's own thread. A writer thread was tried: it overlapped the copy
// into the page cache with demuxing, but the extra copy and the hand-off per
// block cost more CPU time (4-10 % of a remux) than it saved in wall time
// (2-8 %). The muxer sees an ordinary seekable AVIOContext.
#pragma once

#include <cstdint>
#include <memory>

struct AVIOContext;

namespace kx {

class BlockFileWriter {
public:
    // Writes to an open file, which the writer now owns; null (the file
    // closed) when the context cannot be made.
    static std::unique_ptr<BlockFileWriter> Adopt(int fd);
    ~BlockFileWriter();
    BlockFileWriter(const BlockFileWriter&) = delete;
    BlockFileWriter& operator=(const BlockFileWriter&) = delete;

    // The context to give the muxer; valid until Close.
    AVIOContext* Context() const { return context_; }

    // Flushes the context, frees it, with `sync` makes the data reach the
    // disk, and closes the file. 0, or the first error (of a write, the sync
    // or the close) as a negative AVERROR. Idempotent.
    int Close(bool sync = false);

private:
    explicit BlockFileWriter(int fd) : fd_(fd) {}
    static int WritePacket(void* opaque, uint8_t* data, int size);
    static int64_t Seek(void* opaque, int64_t offset, int whence);

    int fd_;
    AVIOContext* context_ = nullptr;
    int error_ = 0;  // the first failed write; later ones are not tried
};

}  // namespace kx
