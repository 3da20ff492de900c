// The block writer behind every local output: what the muxer
// writes and rewrites reaches the file byte for byte (write errors are
// judged through whole tasks on a full disk, BadInputOutputs).
#include <gtest/gtest.h>

#include <fcntl.h>

#include <cerrno>

#include <memory>
#include <string>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
}

#include "output/BlockFileWriter.h"
#include "TaskTestSupport.h"

namespace {

std::unique_ptr<kx::BlockFileWriter> OpenWriter(const std::string& path) {
    return kx::BlockFileWriter::Adopt(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
}

}  // namespace

// Writes of every size, far more than the queue holds, seeks back to patch
// earlier bytes (as MP4 and MKV trailers do), size queries and writes past
// the end after a seek: the file equals a model kept in memory.
TEST(MuxBlockWriter, FileEqualsWhatWasWrittenAndPatched) {
    std::string path = kxtest::TempFolder("block_writer") + "/out.bin";
    auto writer = OpenWriter(path);
    ASSERT_NE(writer, nullptr);
    AVIOContext* io = writer->Context();
    std::string model;
    uint32_t seed = 99;
    auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 8; };
    for (int round = 0; round < 3000; ++round) {
        const size_t size = (round % 97 == 0) ? 700 * 1024 : next() % 9000;
        std::string bytes(size, '\0');
        for (auto& c : bytes) c = static_cast<char>(next());
        avio_write(io, reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(size));
        model += bytes;
        if (round % 250 == 249) {
            // Patch four bytes somewhere before, then carry on at the end.
            const int64_t at = static_cast<int64_t>(next() % (model.size() - 4));
            ASSERT_EQ(avio_seek(io, at, SEEK_SET), at);
            avio_wb32(io, 0xA1B2C3D4u);
            model.replace(static_cast<size_t>(at), 4, "\xA1\xB2\xC3\xD4");
            const auto end = static_cast<int64_t>(model.size());
            ASSERT_EQ(avio_seek(io, end, SEEK_SET), end);
            EXPECT_EQ(avio_size(io), static_cast<int64_t>(model.size()));
        }
    }
    EXPECT_EQ(avio_tell(io), static_cast<int64_t>(model.size()));
    EXPECT_EQ(writer->Close(), 0);
    EXPECT_EQ(writer->Close(), 0);  // a second close does nothing
    EXPECT_EQ(kxtest::ReadAll(path), model);
}

// A disk that fills up fails the close, and the muxer's context sees the
// error on the write that hit it, rather than the output being taken as whole.
TEST(MuxBlockWriter, FullDiskFailsWriteAndClose) {
    auto writer = kx::BlockFileWriter::Adopt(open("/dev/full", O_WRONLY | O_CLOEXEC));
    if (!writer) GTEST_SKIP() << "no /dev/full";
    AVIOContext* io = writer->Context();
    const std::string block(600 * 1024, 'x');  // more than one buffer: a write before the close
    avio_write(io, reinterpret_cast<const unsigned char*>(block.data()), static_cast<int>(block.size()));
    EXPECT_EQ(io->error, AVERROR(ENOSPC));
    EXPECT_EQ(writer->Close(), AVERROR(ENOSPC));
}
