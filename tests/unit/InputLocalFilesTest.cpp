// Input names are local file names and nothing else: a name that reads as
// a URL or a protocol, a playlist, a concat script or an image pattern never
// makes the component connect anywhere or open another file. Watched by a
// listening socket on this machine and by inotify on the files named inside.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "TaskTestSupport.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using kxtest::Bstr;

// A TCP listener on 127.0.0.1: whether anything connected to it.
class Listener {
public:
    Listener() {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0 && listen(fd_, 8) == 0 &&
            getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port_ = ntohs(address.sin_port);
    }
    ~Listener() { close(fd_); }
    int port() const { return port_; }
    bool Connected() const {
        const int client = accept(fd_, nullptr, nullptr);  // the kernel completes connections without us
        if (client < 0) return false;
        close(client);
        return true;
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

// Whether a file was opened or read since the watch began.
class OpenWatch {
public:
    explicit OpenWatch(const std::string& path) {
        fd_ = inotify_init1(IN_NONBLOCK);
        inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_ACCESS);
    }
    ~OpenWatch() { close(fd_); }
    bool Touched() const {
        alignas(inotify_event) char events[4096];
        return read(fd_, events, sizeof events) > 0;
    }

private:
    int fd_ = -1;
};

// Runs in a folder of its own (names relative to it, as a user types them).
class InFolder {
public:
    explicit InFolder(const std::string& folder) : previous_(fs::current_path()) { fs::current_path(folder); }
    ~InFolder() { fs::current_path(previous_); }

private:
    fs::path previous_;
};

void Write(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path().empty() ? "." : fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

struct Setting {
    std::string folder;
    std::string media;  // a real file that the names below point at
    int port = 0;
};

struct NameCase {
    const char* label;
    // Makes what the name needs and returns the name to add.
    std::function<std::string(const Setting&)> make;
    uint32_t options;      // KX_SetInputOptions
    bool opens;            // AddFile succeeds
    bool readsMedia;       // ... and may read the real file (through a playlist the host allowed)
    const char* reason;    // part of the refusal's log line
};

std::string Url(const Setting& s, const std::string& path) { return "http://127.0.0.1:" + std::to_string(s.port) + path; }

const NameCase kNames[] = {
    {"url_nothing_local", [](const Setting& s) { return Url(s, "/x.mp4"); }, 0, false, false, "no such file"},
    {"url_that_is_a_local_path",
     [](const Setting& s) {
         const std::string name = Url(s, "/x.mp4");
         fs::create_directories(fs::path("http:") / ("127.0.0.1:" + std::to_string(s.port)));
         fs::copy_file(kxtest::Fixture("h264_aac.mp4"), name);
         return name;
     },
     0, true, false, ""},
    // The protocol would read media/segment.ts; the name is a junk file.
    {"cache_prefix",
     [](const Setting&) {
         Write("cache:media/segment.ts", std::string(4096, 'j'));
         return std::string("cache:media/segment.ts");
     },
     0, false, false, "not a media file"},
    {"subfile_syntax", [](const Setting&) { return std::string("subfile,,start,0,end,9999,,:media/segment.ts"); }, 0,
     false, false, "no such file"},
    {"hls_playlist_named_mp4",
     [](const Setting& s) {
         Write("list.mp4", "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:5,\n" + s.media + "\n#EXTINF:5,\n" +
                               Url(s, "/seg.ts") + "\n#EXT-X-ENDLIST\n");
         return std::string("list.mp4");
     },
     0, false, false, "it is hls"},
    {"concat_script_named_mp4",
     [](const Setting& s) {
         Write("join.mp4", "ffconcat version 1.0\nfile '" + s.media + "'\nfile '" + Url(s, "/b.ts") + "'\n");
         return std::string("join.mp4");
     },
     0, false, false, "it is concat"},
    {"image_pattern",
     [](const Setting& s) {
         Write("img%d.jpg", std::string(512, 'j'));
         fs::copy_file(s.media, "img1.jpg");
         return std::string("img%d.jpg");
     },
     0, false, false, "it is image2"},
    {"allowed_playlist_of_a_local_file",
     [](const Setting& s) {
         Write("local.m3u8", "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\n" + s.media + "\n#EXT-X-ENDLIST\n");
         return std::string("local.m3u8");
     },
     KX_INPUT_ALLOW_LINKED_FILES, true, true, ""},
    {"allowed_playlist_of_a_url",
     [](const Setting& s) {
         Write("remote.m3u8", "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\n" + Url(s, "/seg.ts") +
                                  "\n#EXT-X-ENDLIST\n");
         return std::string("remote.m3u8");
     },
     KX_INPUT_ALLOW_LINKED_FILES, false, false, "not a media file"},
};

class InputNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(InputNames, ReachNothingButTheNamedFile) {
    const NameCase& c = GetParam();
    Setting setting;
    setting.folder = kxtest::TempFolder(std::string("input_names_") + c.label);
    setting.media = setting.folder + "/media/segment.ts";
    fs::create_directories(setting.folder + "/media");
    fs::copy_file(kxtest::Fixture("h264_aac.ts"), setting.media);
    Listener listener;
    ASSERT_NE(listener.port(), 0);
    setting.port = listener.port();

    InFolder here(setting.folder);
    const std::string name = c.make(setting);
    OpenWatch watch(setting.media);
    kxtest::LogCapture log;
    IStreamwright* converter = kxtest::CreateConverter();
    ASSERT_NE(converter, nullptr);
    ASSERT_EQ(KX_SetInputOptions(converter, c.options), KX_S_OK);
    const int64_t id = converter->AddFile(Bstr(name));
    BSTR reason = KX_GetLastErrorText(converter);
    const std::u16string said = reason ? std::u16string(reason) : std::u16string();
    SysFreeString(reason);
    converter->Release();

    EXPECT_EQ(id >= 0, c.opens) << name;
    EXPECT_FALSE(listener.Connected()) << name;
    EXPECT_EQ(watch.Touched(), c.readsMedia) << name;
    if (!c.opens) {
        const std::u16string expected = u"Remuxion Input::cannot open " + kxtest::Wide(name) + u": ";
        EXPECT_EQ(said.rfind(u"cannot open " + kxtest::Wide(name) + u": ", 0), 0u) << kxtest::Narrow(said);
        EXPECT_NE(said.find(kxtest::Wide(c.reason)), std::u16string::npos) << kxtest::Narrow(said);
        bool logged = false;
        for (const auto& line : log.Lines()) logged |= line.rfind(expected, 0) == 0;
        EXPECT_TRUE(logged) << "no log line for " << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Names, InputNames, ::testing::ValuesIn(kNames),
                         [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.label); });

TEST(InputOptions, AreCheckedAndRefusedDuringATask) {
    IStreamwright* converter = kxtest::CreateConverter();
    ASSERT_NE(converter, nullptr);
    EXPECT_EQ(KX_SetInputOptions(nullptr, 0), KX_E_POINTER);
    EXPECT_EQ(KX_SetInputOptions(converter, 0x80), KX_E_INVALIDARG);
    EXPECT_EQ(KX_SetInputOptions(converter, KX_INPUT_ALLOW_LINKED_FILES), KX_S_OK);
    EXPECT_EQ(KX_SetInputOptions(converter, 0), KX_S_OK);
    converter->Release();
}

}  // namespace
