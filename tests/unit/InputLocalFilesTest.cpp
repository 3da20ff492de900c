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

#include <algorithm>
#include <filesystem>
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

// In the texts below MEDIA stands for a real media file, URL for an address
// of the listener and JUNK for 4 KB of what is no media.
std::string Expand(std::string text, const std::string& media, const std::string& url) {
    for (const auto& [from, to] :
         {std::pair<std::string, std::string>{"MEDIA", media}, {"URL", url}, {"JUNK", std::string(4096, 'j')}})
        for (size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, from.size(), to);
    return text;
}

struct NameCase {
    const char* label;
    const char* name;    // the name to add
    const char* text;    // written to a file of that name, unless null
    const char* copy;    // where a copy of the real media goes, unless null
    uint32_t options;    // KX_SetInputOptions
    bool opens;          // AddFile succeeds
    bool readsMedia;     // ... and may read the real file (through a playlist the host allowed)
    const char* reason;  // part of the refusal's log line
};

const NameCase kNames[] = {
    {"url_nothing_local", "URL/x.mp4", nullptr, nullptr, 0, false, false, "no such file"},
    {"url_that_is_a_local_path", "URL/x.mp4", nullptr, "URL/x.mp4", 0, true, false, ""},
    // The protocols would read media/segment.ts; the first name is a junk file.
    {"cache_prefix", "cache:media/segment.ts", "JUNK", nullptr, 0, false, false, "not a media file"},
    {"subfile_syntax", "subfile,,start,0,end,9999,,:media/segment.ts", nullptr, nullptr, 0, false, false,
     "no such file"},
    {"hls_playlist_named_mp4", "list.mp4",
     "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:5,\nMEDIA\n#EXTINF:5,\nURL/seg.ts\n#EXT-X-ENDLIST\n", nullptr, 0,
     false, false, "it is hls"},
    {"concat_script_named_mp4", "join.mp4", "ffconcat version 1.0\nfile 'MEDIA'\nfile 'URL/b.ts'\n", nullptr, 0, false,
     false, "it is concat"},
    {"image_pattern", "img%d.jpg", "JUNK", "img1.jpg", 0, false, false, "it is image2"},
    {"allowed_playlist_of_a_local_file", "local.m3u8",
     "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\nMEDIA\n#EXT-X-ENDLIST\n", nullptr, KX_INPUT_ALLOW_LINKED_FILES,
     true, true, ""},
    {"allowed_playlist_of_a_url", "remote.m3u8",
     "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\nURL/seg.ts\n#EXT-X-ENDLIST\n", nullptr,
     KX_INPUT_ALLOW_LINKED_FILES, false, false, "not a media file"},
};

class InputNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(InputNames, ReachNothingButTheNamedFile) {
    const NameCase& c = GetParam();
    const std::string folder = kxtest::TempFolder(std::string("input_names_") + c.label);
    const std::string media = folder + "/media/segment.ts";
    kxtest::WriteBytes(media, kxtest::ReadAll(kxtest::Fixture("h264_aac.ts")));
    Listener listener;
    ASSERT_NE(listener.port(), 0);
    const std::string url = "http://127.0.0.1:" + std::to_string(listener.port());

    InFolder here(folder);
    const std::string name = Expand(c.name, media, url);
    if (c.text) kxtest::WriteBytes(name, Expand(c.text, media, url));
    if (c.copy) kxtest::WriteBytes(Expand(c.copy, media, url), kxtest::ReadAll(media));
    OpenWatch watch(media);
    kxtest::LogCapture log;
    IStreamwright* converter = kxtest::CreateConverter();
    ASSERT_EQ(KX_SetInputOptions(converter, c.options), KX_S_OK);
    const int64_t id = converter->AddFile(Bstr(name));
    const std::string said = kxtest::LastErrorText(converter);
    converter->Release();

    EXPECT_EQ(id >= 0, c.opens) << name;
    EXPECT_FALSE(listener.Connected()) << name;
    EXPECT_EQ(watch.Touched(), c.readsMedia) << name;
    if (c.opens) return;
    const std::string refusal = "cannot open " + name + ": ";
    EXPECT_TRUE(said.starts_with(refusal) && said.find(c.reason) != std::string::npos) << said;
    const auto lines = log.Lines();
    EXPECT_TRUE(std::ranges::any_of(
        lines, [&](const auto& line) { return line.starts_with(u"Remuxion Input::" + kxtest::Wide(refusal)); }))
        << "no log line for " << name;
}

INSTANTIATE_TEST_SUITE_P(Names, InputNames, ::testing::ValuesIn(kNames),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(InputOptions, UnknownOptionsAndNoConverterAreRefused) {
    IStreamwright* converter = kxtest::CreateConverter();
    EXPECT_EQ(KX_SetInputOptions(nullptr, 0), KX_E_POINTER);
    EXPECT_EQ(KX_SetInputOptions(converter, 0x80), KX_E_INVALIDARG);
    converter->Release();
}

}  // namespace
