// Outputs that cannot be written as asked, through IStreamwright: a folder
// that does not exist or refuses writes, names over the limits or taken, a
// link or an input at an output's name, a full disk. Every case ends in time
// with a status and its reason, and no output's name ever holds a partial
// file; temporary files go with the converter.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "CliSupport.h"
#include "SmallDisk.h"
#include "TaskTestSupport.h"

using namespace kxtest;

namespace {

// The log lines, each after a newline: "\nWORDS" finds a line that starts with them.
std::string LogText(const std::vector<std::u16string>& lines) {
    std::string text;
    for (const auto& line : lines) text += "\n" + Narrow(line);
    return text;
}

enum class Job { kSplit, kMerge, kMix };

const char* NameOf(Job job) { return job == Job::kSplit ? "split" : job == Job::kMerge ? "merge" : "mix"; }

// A split of h264_aac.mp4 into two 2-second clips named into `folder`, a
// merge of it with itself, or a mix of video_only.mp4 with audio_only.m4a, into
// `folder`/<job><extension>. The output names go to *outputs, and to
// `beforePrepare` before PrepareTask; returns PrepareTask's status.
HRESULT PrepareJob(GuardedConverter& converter, Job job, const std::string& folder, const std::string& extension,
                   uint32_t flags, std::vector<std::string>* outputs,
                   const std::function<void(const std::vector<std::string>&)>& beforePrepare = {}) {
    const std::string input = Fixture("h264_aac.mp4"), output = folder + "/" + NameOf(job) + extension;
    int64_t id = -1;
    if (job == Job::kMix) {
        id = converter.AddFileWithStreams(Fixture("video_only.mp4"), {{0, KX_STREAM_VIDEO}});
        EXPECT_GE(converter.AddFileWithStreams(Fixture("audio_only.m4a"), {{0, KX_STREAM_AUDIO}}), 0);
        converter->SetTaskType(KX_TASK_STREAM_MIX, -1);
    } else if (job == Job::kMerge) {
        id = converter.AddFileWithStreams(input, {{0, KX_STREAM_VIDEO}, {1, KX_STREAM_AUDIO}});
        EXPECT_GE(converter.AddFileWithStreams(input, {{0, KX_STREAM_VIDEO}, {1, KX_STREAM_AUDIO}}), 0);
        converter->SetTaskType(KX_TASK_MERGE, -1);
        if (IMerge_LossCopy_Check_Info* check = converter->CheckMerge()) check->Release();
    } else {
        id = converter.AddFileWithStreams(input, {{0, KX_STREAM_VIDEO}, {1, KX_STREAM_AUDIO}});
        for (int j = 0; j < 2; ++j) {
            ClipRange clip{j * 2 * kSecond, 2 * kSecond, 0};
            converter->AddTimeClip(id, &clip);
        }
        Bstr extensionText(extension);
        converter->SetOutputExtension(extensionText);
    }
    EXPECT_GE(id, 0);
    EXPECT_EQ(KX_SetOutputOptions(converter.get(), flags), KX_S_OK);
    converter.SetOutputPath(job == Job::kSplit ? folder : output);
    *outputs = OutputNames(converter.get(), id);
    if (beforePrepare) beforePrepare(*outputs);
    return converter.Prepare(id);
}

// The set-up refuses the output in time with a status and a log line, and no
// file is made under `watched`.
void ExpectRefusedOutput(Job job, const std::string& folder, const std::string& watched) {
    LogCapture log;
    GuardedConverter converter;
    std::vector<std::string> outputs;
    EXPECT_NE(PrepareJob(converter, job, folder, ".mp4", 0, &outputs), KX_S_OK);
    EXPECT_FALSE(converter.hung());
    // Nothing was prepared: starting runs the task over clips without outputs, and ends.
    EXPECT_TRUE(converter.RunToEnd());
    converter.Release();
    const std::string lines = LogText(log.Lines());
    EXPECT_TRUE(lines.find(job == Job::kMerge ? "\nMERGE ADD STREAM FAILED" : "\nSPLITER ADD STREAM FAILED") !=
                    std::string::npos ||
                lines.find("\nOpenMuxer Failed") != std::string::npos)
        << lines;
    EXPECT_TRUE(FilesUnder(watched).empty()) << "a refused output leaves no file";
}

}  // namespace

TEST(BadInputOutputs, UnwritableOutputsAreRefusedInTime) {
    const std::string root = TempFolder("bad_out");
    // A name whose UTF-8 form needs more than 1023 bytes, in a folder that exists.
    std::string deep = root;
    while (deep.size() < 1100) deep += "/" + std::string(200, 'd');
    // Fewer than 1024 characters, but more than 1023 bytes: two bytes per "é".
    std::string accents, wide = root;
    for (int i = 0; i < 120; ++i) accents += "\xC3\xA9";
    for (int level = 0; level < 5; ++level) wide += "/" + accents;
    ASSERT_LT(Wide(wide).size(), 1000u);
    ASSERT_GT(wide.size(), 1100u);
    // Root writes through a folder's permissions; /proc takes no new files from anyone.
    const std::string readonly = geteuid() == 0 ? "/proc" : root + "/readonly";
    // Opening a pipe for writing waits until something opens it for reading.
    const std::string piped = root + "/piped";
    for (const std::string& folder : {deep, wide, root + "/readonly", piped})
        std::filesystem::create_directories(folder);
    ASSERT_EQ(chmod((root + "/readonly").c_str(), 0555), 0);
    ASSERT_EQ(mkfifo((piped + "/merge.mp4").c_str(), 0600), 0);
    const std::pair<Job, std::string> cases[] = {
        {Job::kSplit, root + "/not/there"}, {Job::kMerge, root + "/not/there"},
        {Job::kSplit, readonly},            {Job::kMerge, readonly},
        {Job::kSplit, deep},                {Job::kMerge, deep},
        {Job::kSplit, wide},                {Job::kMerge, piped},
        {Job::kSplit, root + "/" + std::string(3000, 'p')},  // longer than the converter keeps (2047)
    };
    for (const auto& [job, folder] : cases) {
        SCOPED_TRACE(std::string(NameOf(job)) + " into " + folder.substr(0, 100));
        ExpectRefusedOutput(job, folder, root);
    }
    chmod((root + "/readonly").c_str(), 0755);
}

TEST(BadInputOutputs, OutputsOfAFailedSetUpLeaveNothing) {
    // The first file's clips are prepared; the second file's name is too long
    // for its clips' names (its own long name plus "_<id>_000.mp4"), so
    // PrepareTask fails there. Nothing ever holds an output's name, and
    // releasing the converter removes the temporary file it made.
    const std::string root = TempFolder("bad_out_partial");
    const std::string longInput = root + "/" + std::string(250, 'n') + ".mp4";
    std::filesystem::copy_file(Fixture("h264_aac.mp4"), longInput);
    const std::string out = root + "/out";
    std::filesystem::create_directories(out);
    LogCapture log;
    GuardedConverter converter;
    int64_t first = -1;
    for (const std::string& input : {Fixture("h264_aac.mp4"), longInput}) {
        const int64_t id = converter.AddFileWithStreams(input, {{0, KX_STREAM_VIDEO}, {1, KX_STREAM_AUDIO}});
        ASSERT_GE(id, 0);
        ClipRange clip{0, 2 * kSecond, 0};
        converter->AddTimeClip(id, &clip);
        converter->AddTimeClip(id, &clip);
        if (first < 0) first = id;
    }
    converter.SetOutputPath(out);
    converter->GetOutputCount(first);
    EXPECT_EQ(converter->PrepareTask(), KX_S_FALSE);
    EXPECT_EQ(PartialFilesIn(out), FilesUnder(out)) << "the first file's first clip is open, and nothing else";
    EXPECT_EQ(PartialFilesIn(out).size(), 1u);
    EXPECT_NE(LastErrorText(converter.get()).find("File name too long"), std::string::npos);
    converter.Release();
    EXPECT_TRUE(FilesUnder(out).empty()) << "outputs left open are removed with the converter";
    EXPECT_NE(LogText(log.Lines()).find("\nSPLITER ADD STREAM FAILED"), std::string::npos);
}

TEST(BadInputOutputs, ALinkAtAnOutputNameIsNeverWrittenThrough) {
    // Without replacing, the link is an existing file: refused. Replacing,
    // the finished output takes the link's place. The file the link points
    // to stays as it was either way; through the interface and the program.
    struct Case {
        Job job;
        size_t linkedOutput;
        bool replace;
        bool program;
    };
    for (const Case& c : {Case{Job::kMerge, 0, false, false}, Case{Job::kMerge, 0, true, false},
                          Case{Job::kSplit, 1, false, false}, Case{Job::kSplit, 1, true, false},
                          Case{Job::kSplit, 1, false, true}, Case{Job::kSplit, 1, true, true}}) {
        SCOPED_TRACE(std::string(NameOf(c.job)) + (c.replace ? ", replacing" : "") + (c.program ? ", program" : ""));
        const std::string folder = TempFolder("bad_out_link");
        const std::string victim = TempFolder("bad_out_link_target") + "/victim.mp4";
        WriteBytes(victim, "precious");
        std::string linked;
        LogCapture log;
        GuardedConverter converter;
        if (c.program) {
            linked = folder + "/h264_aac_0_001.mp4";
            std::filesystem::create_symlink(victim, linked);
            const kxclitest::Outcome run = kxclitest::Remuxion("split " + Quote(Fixture("h264_aac.mp4")) + " -o " +
                                                               folder + " --at 3,6 -q" + (c.replace ? " -y" : ""));
            if (c.replace) {
                EXPECT_EQ(run.status, 0) << run.err;
            } else {
                kxclitest::ExpectOneMessage(run, 1, "the output " + linked + " already exists");
                EXPECT_EQ(FilesUnder(folder), std::vector<std::string>{linked}) << "no clip was written";
            }
        } else {
            // The names are known once the inputs are added: the link is made then.
            std::vector<std::string> outputs;
            const HRESULT prepared =
                PrepareJob(converter, c.job, folder, ".mp4", c.replace ? KX_OUTPUT_REPLACE : 0, &outputs,
                           [&](const std::vector<std::string>& names) {
                               linked = names[c.linkedOutput];
                               std::filesystem::create_symlink(victim, linked);
                           });
            if (!c.replace) {
                EXPECT_NE(prepared, KX_S_OK);
                EXPECT_EQ(LastErrorText(converter.get()), "cannot write " + linked + ": it already exists");
            } else {
                ASSERT_EQ(prepared, KX_S_OK);
                EXPECT_TRUE(converter.RunToEnd());
            }
        }
        EXPECT_EQ(std::filesystem::is_symlink(linked), !c.replace);
        if (c.replace) {
            EXPECT_EQ(DecodeErrors(linked), "");
        }
        converter.Release();
        EXPECT_EQ(ReadAll(victim), "precious");
        EXPECT_TRUE(PartialFilesIn(folder).empty());
    }
}

TEST(BadInputOutputs, AnOutputThatIsAnInputIsRefusedEvenWhenReplacing) {
    // A hard or symbolic link named like a clip, or a merge or mix named like
    // its input: the same file, refused before anything is written, through
    // the interface and through the program.
    const std::string folder = TempFolder("bad_out_is_input");
    const std::string input = folder + "/in.mp4";
    std::filesystem::copy_file(Fixture("h264_aac.mp4"), input);
    const std::string original = ReadAll(input);
    for (const bool merge : {false, true}) {
        SCOPED_TRACE(merge ? "merge" : "split");
        GuardedConverter converter;
        const int64_t id = converter.AddFileWithStreams(input, {{0, KX_STREAM_VIDEO}, {1, KX_STREAM_AUDIO}});
        ASSERT_GE(id, 0);
        ClipRange clip{0, 2 * kSecond, 0};
        converter->AddTimeClip(id, &clip);
        std::string output = input;
        if (merge) {
            converter->SetTaskType(KX_TASK_MERGE, -1);
            converter->CheckMerge()->Release();
        } else {
            output = folder + "/in_" + std::to_string(id) + "_000.mp4";
            std::filesystem::create_hard_link(input, output);
        }
        ASSERT_EQ(KX_SetOutputOptions(converter.get(), KX_OUTPUT_REPLACE), KX_S_OK);
        converter.SetOutputPath(merge ? output : folder);
        EXPECT_NE(converter.Prepare(id), KX_S_OK);
        EXPECT_EQ(LastErrorText(converter.get()), "cannot write " + output + ": it is the input " + input);
        converter.Release();
        EXPECT_EQ(ReadAll(input), original);
        EXPECT_TRUE(PartialFilesIn(folder).empty());
        if (!merge) std::filesystem::remove(output);
    }

    for (const char* links : {"hard", "soft"}) std::filesystem::create_directories(folder + "/" + links);
    std::filesystem::create_hard_link(input, folder + "/hard/in_0_000.mp4");
    std::filesystem::create_symlink(input, folder + "/soft/in_0_001.mp4");
    const std::string other = Quote(Fixture("h264_aac.mp4"));
    const std::pair<std::string, std::string> cases[] = {
        {"split " + input + " -o " + folder + "/hard --at 3", folder + "/hard/in_0_000.mp4"},
        {"split " + input + " -o " + folder + "/soft --at 3", folder + "/soft/in_0_001.mp4"},
        {"merge " + other + " " + input + " -o " + input, input},
        {"mix " + input + " " + Quote(Fixture("audio_only.m4a")) + " -o " + input, input},
    };
    for (const auto& [arguments, output] : cases) {
        SCOPED_TRACE(arguments);
        kxclitest::ExpectOneMessage(kxclitest::Remuxion(arguments + " -q -y"), 1,
                                    "the output " + output + " would overwrite the input");
        EXPECT_EQ(ReadAll(input), original);
    }
}

TEST(BadInputOutputs, DiskFullFailsTheTaskAndLeavesNoOutput) {
    // Every task into every container on a disk too small for its first
    // output, through the interface and through the program: the task fails
    // with the system's reason, nothing holds an output's name, and a file
    // the merge was to replace stays as it was.
    const std::string input = Quote(Fixture("h264_aac.mp4"));
    for (const std::string extension : {".mp4", ".mkv", ".ts"}) {
        for (Job job : {Job::kSplit, Job::kMerge, Job::kMix}) {
            for (const bool program : {false, true}) {
                SCOPED_TRACE(std::string(NameOf(job)) + " into " + extension + (program ? " by the program" : ""));
                SmallDisk disk("bad_out_full", 96 * 1024);
                const std::string folder = disk.Folder();
                const std::string previous = folder + "/merge" + extension;
                if (job == Job::kMerge) WriteBytes(previous, "previous");
                if (program) {
                    std::string arguments = "mix " + Quote(Fixture("video_only.mp4")) + " " +
                                            Quote(Fixture("audio_only.m4a")) + " -o " + folder + "/mix" + extension;
                    std::string output = folder + "/mix" + extension;
                    if (job == Job::kSplit) {
                        output = folder + "/h264_aac_0_000" + extension;
                        arguments = "split " + input + " -o " + folder + " --at 5 --ext " + extension;
                    } else if (job == Job::kMerge) {
                        output = previous;
                        arguments = "merge " + input + " " + input + " -o " + output + " --overwrite";
                    }
                    kxclitest::ExpectOneMessage(kxclitest::Remuxion(arguments + " -q"), 1,
                                                "cannot write " + output + ": " + disk.Reason());
                } else {
                    GuardedConverter converter;
                    std::vector<std::string> outputs;
                    ASSERT_EQ(PrepareJob(converter, job, folder, extension, KX_OUTPUT_REPLACE, &outputs), KX_S_OK)
                        << LastErrorText(converter.get());
                    ASSERT_TRUE(converter.RunToEnd());
                    const std::vector<Notification> all = converter.notifications().All();
                    ASSERT_GE(all.size(), 2u);
                    EXPECT_EQ(all.back().code, KX_NOTIFY_TASK_END);
                    EXPECT_EQ(all[all.size() - 2].code, KX_NOTIFY_TASK_FAILED) << "on " << disk.Kind();
                    EXPECT_EQ(all[all.size() - 2].value, KX_E_FROM_ERRNO(disk.Error()));
                    EXPECT_EQ(LastErrorText(converter.get()), "cannot write " + outputs[0] + ": " + disk.Reason());
                    EXPECT_EQ(KX_IsOutputComplete(converter.get(), all.front().fileId, 0), 0);
                    converter.Release();
                }
                std::vector<std::string> left = FilesUnder(folder);  // hidden temporary files too
                if (job == Job::kMerge) {
                    EXPECT_EQ(ReadAll(previous), "previous");
                    EXPECT_EQ(left, std::vector<std::string>{previous});
                } else {
                    EXPECT_TRUE(left.empty()) << left.front();
                }
            }
        }
    }
}

TEST(BadInputOutputs, OneClipFileOpenAtATimeWhateverTheClipCount) {
    // 200 clips with room for fewer than 40 open files: each clip's file is
    // made when the clip starts and closed when it ends.
    const std::string folder = TempFolder("bad_out_many_clips");
    GuardedConverter converter;
    const int64_t id =
        converter.AddFileWithStreams(Fixture("h264_aac.mp4"), {{0, KX_STREAM_VIDEO}, {1, KX_STREAM_AUDIO}});
    ASSERT_GE(id, 0);
    constexpr int kClips = 200;
    for (int j = 0; j < kClips; ++j) {
        ClipRange clip{j * kSecond / 20, kSecond / 20, 0};
        converter->AddTimeClip(id, &clip);
    }
    converter->SetTaskType(KX_TASK_SPLIT, 0);
    converter.SetOutputPath(folder);
    size_t open = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) open += entry.exists() ? 1 : 0;
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    rlimit few = saved;
    few.rlim_cur = open + 40;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &few), 0);
    const HRESULT prepared = converter.Prepare(id);
    const bool ran = prepared == KX_S_OK && converter.RunToEnd();
    setrlimit(RLIMIT_NOFILE, &saved);
    ASSERT_EQ(prepared, KX_S_OK) << LastErrorText(converter.get());
    ASSERT_TRUE(ran);
    EXPECT_EQ(converter.notifications().Codes().back(), KX_NOTIFY_TASK_END);
    int complete = 0;
    for (int j = 0; j < kClips; ++j) complete += KX_IsOutputComplete(converter.get(), id, j);
    EXPECT_EQ(complete, kClips);
    converter.Release();
    EXPECT_EQ(FilesUnder(folder).size(), static_cast<size_t>(kClips));
}
