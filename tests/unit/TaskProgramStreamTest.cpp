// Splits of program streams through the library, and splits of the program
// streams it wrote: every picture of the input in exactly one clip, each
// clip a run of the input's pictures, and nothing that fails to decode.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ProgramStreamMedia.h"
#include "TaskTestSupport.h"

using namespace kxtest;

namespace {

// The pictures as the decoder gives them, in its own times: ffmpeg's default
// output would move the times that program streams leave to its guesses,
// dropping or repeating pictures, and complain about them.
std::string DecodeCommand(const std::string& path) {
    return "ffmpeg -nostdin -v error -copyts -i " + Quote(path) +
           " -map 0:v:0 -map 0:a:0? -fps_mode passthrough -enc_time_base:v -1 -f framemd5 -";
}

std::vector<std::string> Pictures(const std::string& path) {
    std::vector<std::string> hashes;
    for (const std::string& line : Lines(RunCommand(DecodeCommand(path) + " 2>/dev/null")))
        if (line.rfind("0,", 0) == 0) hashes.push_back(line.substr(line.find_last_of(',') + 1));
    return hashes;
}

std::string DecoderErrors(const std::string& path) { return RunCommand(DecodeCommand(path) + " 2>&1 >/dev/null"); }

std::vector<std::string> Split(const std::string& source, const std::vector<ClipRange>& ranges,
                               const std::string& folder) {
    Task task;
    const int64_t id = task.Add(source);
    if (id < 0 || task->GetFileKeyFrameIndex(id, nullptr) != KX_S_OK) return {};
    for (ClipRange range : ranges)
        if (task->AddTimeClip(id, &range) != KX_S_OK) return {};
    task.SetOutput(TempFolder(folder));
    if (task.Launch(id) != KX_S_OK) return {};
    task.Wait();
    std::vector<std::string> clips;
    for (size_t i = 0; i < ranges.size(); ++i) clips.push_back(task.OutputName(id, static_cast<int64_t>(i)));
    return clips;
}

// The clips' pictures, one clip after the other, are the source's: each clip
// a run, the next starting where the one before ended.
void ExpectPicturesInOrder(const std::string& source, const std::vector<std::string>& clips) {
    const std::vector<std::string> whole = Pictures(source);
    ASSERT_GT(whole.size(), 50u) << source;
    size_t next = 0;
    for (const std::string& clip : clips) {
        EXPECT_EQ(DecoderErrors(clip), "") << clip;
        const std::vector<std::string> part = Pictures(clip);
        ASSERT_FALSE(part.empty()) << clip;
        auto at = std::search(whole.begin(), whole.end(), part.begin(), part.end());
        ASSERT_NE(at, whole.end()) << clip << ": its pictures are no run of the source's";
        EXPECT_EQ(static_cast<size_t>(at - whole.begin()), next) << clip;
        next = static_cast<size_t>(at - whole.begin()) + part.size();
    }
    EXPECT_EQ(next, whole.size()) << source << ": pictures after the last clip";
}

}  // namespace

TEST(TaskProgramStream, ClipsOfOurOwnClipsKeepEveryPicture) {
    for (const pstest::PsCase& c : {pstest::kCases[0], pstest::kCases[1]}) {  // with and without B-frames
        const std::string source = pstest::Made(c).second, name = c.name;
        const std::vector<std::string> first =
            Split(source, {{0, 3 * kSecond, 0}, {3 * kSecond, 20 * kSecond, 0}}, std::string("ps_") + name);
        ASSERT_EQ(first.size(), 2u) << name;
        ExpectPicturesInOrder(source, first);
        // The second clip, a program stream as our writer times it, split again.
        const std::vector<std::string> second =
            Split(first[1], {{0, 2 * kSecond, 0}, {2 * kSecond, 20 * kSecond, 0}}, std::string("ps_again_") + name);
        ASSERT_EQ(second.size(), 2u) << name;
        ExpectPicturesInOrder(first[1], second);
    }
}
