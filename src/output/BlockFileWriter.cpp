#include "output/BlockFileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace kx {

namespace {

constexpr int kBufferBytes = 256 * 1024;  // one write system call

int WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t written = ::write(fd, data, size);
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

}  // namespace

std::unique_ptr<BlockFileWriter> BlockFileWriter::Adopt(int fd) {
    if (fd < 0) return nullptr;
    std::unique_ptr<BlockFileWriter> writer(new BlockFileWriter(fd));
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferBytes));
    if (buffer)
        writer->context_ = avio_alloc_context(buffer, kBufferBytes, 1, writer.get(), nullptr,
                                              &BlockFileWriter::WritePacket, &BlockFileWriter::Seek);
    if (!writer->context_) {
        av_free(buffer);
        return nullptr;  // the destructor closes the file
    }
    writer->context_->seekable = AVIO_SEEKABLE_NORMAL;
    return writer;
}

BlockFileWriter::~BlockFileWriter() { Close(); }

int BlockFileWriter::Close(bool sync) {
    if (context_) {
        avio_flush(context_);
        av_freep(&context_->buffer);
        avio_context_free(&context_);
    }
    int result = error_;
    if (fd_ >= 0) {
        if (sync && result == 0 && ::fsync(fd_) != 0) result = AVERROR(errno);
        if (::close(fd_) != 0 && result == 0) result = AVERROR(errno);
        fd_ = -1;
    }
    return result;
}

int BlockFileWriter::WritePacket(void* opaque, uint8_t* data, int size) {
    auto* self = static_cast<BlockFileWriter*>(opaque);
    if (self->error_) return self->error_;
    if (size <= 0) return 0;
    self->error_ = WriteAll(self->fd_, data, static_cast<size_t>(size));
    return self->error_ ? self->error_ : size;
}

int64_t BlockFileWriter::Seek(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<BlockFileWriter*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat status {};
        if (fstat(self->fd_, &status) != 0) return AVERROR(errno);
        return status.st_size;
    }
    off_t position = ::lseek(self->fd_, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return position < 0 ? AVERROR(errno) : position;
}

}  // namespace kx
