// Outputs that cannot be written as asked, through IStreamwright: a folder
// that does not exist or refuses writes, names over the limits, a full disk.
// Every case ends in time with a status and a log line, and leaves no output
// behind that the converter deletes (outputs still open when it is reset or
// released).
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "BadInputSupport.h"

using namespace kxtest;

namespace {

bool HasLineStartingWith(const std::vector<std::u16string>& lines, const std::u16string& prefix) {
    for (const auto& line : lines)
        if (line.rfind(prefix, 0) == 0) return true;
    return false;
}

std::string Joined(const std::vector<std::u16string>& lines) {
    std::string text;
    for (const auto& line : lines) text += Narrow(line) + "|";
    return text;
}

// A split of h264_aac.mp4 into `clips` clips of 2 s, or a merge of it with
// itself when `merge`, set up for `outputPath`; returns PrepareTask's status.
HRESULT PrepareOutput(GuardedConverter& converter, const std::string& input, const std::string& outputPath,
                      int clips, bool merge = false) {
    int64_t id = converter.AddFileWithStreams(input, {{0, 1}, {1, 2}});
    EXPECT_GE(id, 0);
    if (merge) {
        EXPECT_GE(converter.AddFileWithStreams(input, {{0, 1}, {1, 2}}), 0);
        converter->SetTaskType(KX_TASK_MERGE, -1);
        IMerge_LossCopy_Check_Info* check = converter->CheckMerge();
        if (check) check->Release();
    }
    for (int j = 0; j < clips; ++j) {
        ClipRange clip{j * 2 * kSecond, 2 * kSecond, 0};
        converter->AddTimeClip(id, &clip);
    }
    converter.SetOutputPath(outputPath);
    return converter.Prepare(id);
}

// The set-up refuses the output with a status and a log line, and no file is
// made under `watched` (not looked at when empty).
void ExpectRefusedOutput(const std::string& outputPath, const std::string& watched, bool merge = false) {
    LogCapture log;
    GuardedConverter converter;
    HRESULT status = PrepareOutput(converter, Fixture("h264_aac.mp4"), outputPath, 2, merge);
    EXPECT_NE(status, KX_S_OK) << outputPath;
    EXPECT_FALSE(converter.hung());
    // Nothing was prepared: starting runs the task over clips without outputs, and ends.
    EXPECT_TRUE(converter.RunToEnd());
    converter.Release();
    auto lines = log.Lines();
    EXPECT_TRUE(HasLineStartingWith(lines, merge ? u"MERGE ADD STREAM FAILED" : u"SPLITER ADD STREAM FAILED") ||
                HasLineStartingWith(lines, u"OpenMuxer Failed"))
        << Joined(lines);
    if (!watched.empty()) EXPECT_TRUE(FilesUnder(watched).empty()) << "a refused output leaves no file";
}

}  // namespace

TEST(BadInputOutputs, FolderThatDoesNotExist) {
    const std::string root = TempFolder("bad_out_missing");
    ExpectRefusedOutput(root + "/not/there", root);
    ExpectRefusedOutput(root + "/not/there/merged.mp4", root, true);
}

TEST(BadInputOutputs, FolderThatRefusesWrites) {
    if (geteuid() != 0) {
        const std::string root = TempFolder("bad_out_readonly");
        const std::string folder = root + "/readonly";
        std::filesystem::create_directories(folder);
        ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
        ExpectRefusedOutput(folder, root);
        ExpectRefusedOutput(folder + "/merged.mp4", root, true);
        chmod(folder.c_str(), 0755);
        return;
    }
    // Root writes through a folder's permissions; /proc takes no new files from anyone.
    std::cout << "running as root: a read-only folder would not refuse writes, using /proc instead\n";
    ExpectRefusedOutput("/proc", "", false);
    ExpectRefusedOutput("/proc/merged.mp4", "", true);
    EXPECT_FALSE(std::filesystem::exists("/proc/merged.mp4"));
}

TEST(BadInputOutputs, NamesOverTheLimits) {
    const std::string root = TempFolder("bad_out_long");
    // A name whose UTF-8 form needs more than 1023 bytes, in a folder that exists.
    std::string deep = root;
    while (deep.size() < 1100) deep += "/" + std::string(200, 'd');
    std::filesystem::create_directories(deep);
    ExpectRefusedOutput(deep, root);
    ExpectRefusedOutput(deep + "/merged.mp4", root, true);

    // Fewer than 1024 characters, but more than 1023 bytes: two bytes per "é".
    std::string accents;
    for (int i = 0; i < 120; ++i) accents += "\xC3\xA9";
    std::string wide = root;
    for (int level = 0; level < 5; ++level) wide += "/" + accents;
    ASSERT_LT(Wide(wide).size(), 1000u);
    ASSERT_GT(wide.size(), 1100u);
    std::filesystem::create_directories(wide);
    ExpectRefusedOutput(wide, root);

    // An output path longer than the converter keeps (2047 characters).
    ExpectRefusedOutput(root + "/" + std::string(3000, 'p'), root);

    // One name part over the file system's 255 bytes: the input's own long
    // name plus "_<id>_000.mp4".
    const std::string longInput = root + "/" + std::string(250, 'n') + ".mp4";
    std::filesystem::copy_file(Fixture("h264_aac.mp4"), longInput);
    const std::string out = root + "/out";
    std::filesystem::create_directories(out);
    LogCapture log;
    GuardedConverter converter;
    EXPECT_NE(PrepareOutput(converter, longInput, out, 1), KX_S_OK);
    converter.Release();
    EXPECT_TRUE(HasLineStartingWith(log.Lines(), u"SPLITER ADD STREAM FAILED")) << Joined(log.Lines());
    EXPECT_TRUE(FilesUnder(out).empty());
}

TEST(BadInputOutputs, OutputsOpenWhenASetUpFailsAreDeletedOnRelease) {
    // The first file's clips are prepared; the second file's name is too long,
    // so PrepareTask fails there. Releasing the converter deletes what it opened.
    const std::string root = TempFolder("bad_out_partial");
    const std::string longInput = root + "/" + std::string(250, 'n') + ".mp4";
    std::filesystem::copy_file(Fixture("h264_aac.mp4"), longInput);
    const std::string out = root + "/out";
    std::filesystem::create_directories(out);
    LogCapture log;
    GuardedConverter converter;
    int64_t good = converter.AddFileWithStreams(Fixture("h264_aac.mp4"), {{0, 1}, {1, 2}});
    int64_t bad = converter.AddFileWithStreams(longInput, {{0, 1}, {1, 2}});
    ASSERT_GE(good, 0);
    ASSERT_GE(bad, 0);
    for (int64_t id : {good, bad}) {
        ClipRange clip{0, 2 * kSecond, 0};
        converter->AddTimeClip(id, &clip);
        converter->AddTimeClip(id, &clip);
    }
    converter.SetOutputPath(out);
    converter->GetOutputCount(good);
    EXPECT_EQ(converter->PrepareTask(), KX_S_FALSE);
    EXPECT_EQ(FilesUnder(out).size(), 2u) << "the first file's two outputs are open";
    converter.Release();
    EXPECT_TRUE(FilesUnder(out).empty()) << "outputs left open are deleted with the converter";
    EXPECT_TRUE(HasLineStartingWith(log.Lines(), u"SPLITER ADD STREAM FAILED"));

    // The same with Reset instead of a release.
    GuardedConverter again;
    good = again.AddFileWithStreams(Fixture("h264_aac.mp4"), {{0, 1}, {1, 2}});
    ClipRange clip{0, 2 * kSecond, 0};
    again->AddTimeClip(good, &clip);
    again->AddTimeClip(good, &clip);
    again.SetOutputPath(out);
    again->GetOutputCount(good);
    EXPECT_EQ(again->PrepareTask(), KX_S_OK);
    EXPECT_EQ(FilesUnder(out).size(), 2u);
    EXPECT_EQ(again->Reset(), KX_S_OK);
    EXPECT_TRUE(FilesUnder(out).empty());
}

namespace {

// Splits h264_aac.mp4 into two 4-second clips named into `folder`, or merges
// it with itself into `mergeOutput`; the task must end, with its closing
// notifications and log lines.
void ExpectTaskEndsOnAFullDisk(const std::string& folder, const std::string& mergeOutput) {
    LogCapture log;
    GuardedConverter converter;
    const bool merge = !mergeOutput.empty();
    HRESULT prepared = PrepareOutput(converter, Fixture("h264_aac.mp4"), merge ? mergeOutput : folder, 2, merge);
    if (prepared == KX_S_OK) {
        EXPECT_TRUE(converter.RunToEnd());
        std::vector<int32_t> codes = converter.notifications().Codes();
        ASSERT_FALSE(codes.empty());
        EXPECT_EQ(codes.back(), KX_NOTIFY_TASK_END);
    } else {
        // A header that does not fit is a set-up failure.
        EXPECT_TRUE(HasLineStartingWith(log.Lines(), u"SPLITER ADD STREAM FAILED") ||
                    HasLineStartingWith(log.Lines(), u"MERGE ADD STREAM FAILED"))
            << Joined(log.Lines());
    }
    converter.Release();
    EXPECT_FALSE(converter.hung());
    EXPECT_FALSE(log.Lines().empty());
}

}  // namespace

TEST(BadInputOutputs, DiskFullThroughDevFull) {
    // Every write to /dev/full fails with "no space left": outputs named as
    // links to it behave like files on a full disk.
    const std::string folder = TempFolder("bad_out_devfull");
    // Split names carry the file id, known only after AddFile: the merge
    // output, whose name the host gives, is the one linked.
    const std::string merged = folder + "/merged.mp4";
    std::filesystem::create_symlink("/dev/full", merged);
    ExpectTaskEndsOnAFullDisk(folder, merged);
}

TEST(BadInputOutputs, DiskFullOnASmallTmpfs) {
    // A private mount namespace, so that the small file system vanishes with
    // the process whatever happens.
    if (unshare(CLONE_NEWNS) != 0) {
        GTEST_SKIP() << "cannot make a mount namespace (" << std::strerror(errno)
                     << "): disk-full case on tmpfs skipped; /dev/full covers it";
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        GTEST_SKIP() << "cannot make mounts private (" << std::strerror(errno) << "): tmpfs case skipped";
    }
    const std::string folder = TempFolder("bad_out_tmpfs");
    if (mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=96k") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs (" << std::strerror(errno) << "): disk-full case skipped";
    }
    ExpectTaskEndsOnAFullDisk(folder, "");
    ExpectTaskEndsOnAFullDisk(folder, folder + "/merged.mkv");
    // Both outputs of the split were closed by the engine: they stay, cut short.
    std::vector<std::string> files = FilesUnder(folder);
    EXPECT_GE(files.size(), 1u);
    umount2(folder.c_str(), MNT_DETACH);
}

TEST(BadInputOutputs, NamedPipeAsOutputIsRefusedWithoutWaitingForAReader) {
    // Opening a pipe for writing waits until something opens it for reading.
    const std::string folder = TempFolder("bad_out_pipe");
    const std::string merged = folder + "/merged.mp4";
    ASSERT_EQ(mkfifo(merged.c_str(), 0600), 0);
    LogCapture log;
    IStreamwright* converter = CreateConverter();
    ASSERT_NE(converter, nullptr);
    Bstr input(Fixture("h264_aac.mp4"));
    int64_t first = converter->AddFile(input);
    ASSERT_GE(first, 0);
    ASSERT_EQ(converter->OpenStream(first, 0, 1), KX_S_OK);
    ASSERT_EQ(converter->OpenStream(first, 1, 2), KX_S_OK);
    converter->SetTaskType(KX_TASK_MERGE, -1);
    converter->CheckMerge()->Release();
    Bstr output(merged);
    converter->SetOutputPath(output);
    converter->GetOutputCount(first);
    auto status = std::make_shared<std::atomic<HRESULT>>(KX_S_OK);
    const bool ended = EndsWithin(std::chrono::seconds(10), [converter, status] { *status = converter->PrepareTask(); });
    if (!ended) {
        // Let the stuck open through (a reader that leaves at once), so that the converter can go.
        int reader = open(merged.c_str(), O_RDONLY | O_NONBLOCK);
        EndsWithin(std::chrono::seconds(10), [] {});
        if (reader >= 0) close(reader);
    }
    ASSERT_TRUE(ended) << "PrepareTask waited for a reader of the pipe";
    EXPECT_NE(status->load(), KX_S_OK);
    EXPECT_TRUE(HasLineStartingWith(log.Lines(), u"MERGE ADD STREAM FAILED")) << Joined(log.Lines());
    converter->Release();
}
