#include "output/PartialFile.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/FileMoves.h"
#include "platform/WideString.h"

namespace kx {

namespace {

constexpr size_t kMaxNameBytes = 255;     // one path component (NAME_MAX)
constexpr const char* kMarker = ".partial-";
constexpr size_t kRandomChars = 6;
constexpr int kCreateAttempts = 100;

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The first `limit` bytes of a UTF-8 text, not cutting a character.
std::string Utf8Prefix(const std::string& text, size_t limit) {
    if (text.size() <= limit) return text;
    size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

std::string RandomChars() {
    static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char bytes[kRandomChars] = {};
    if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        uint64_t seed = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                        static_cast<uint64_t>(getpid()) << 32;
        for (auto& byte : bytes) {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            byte = static_cast<unsigned char>(seed >> 56);
        }
    }
    std::string text;
    for (unsigned char byte : bytes) text += kAlphabet[byte % (sizeof kAlphabet - 1)];
    return text;
}

// ".<base>.partial-" cut so that the whole name fits one path component.
std::string TemporaryStem(const std::string& base) {
    const size_t room = kMaxNameBytes - 1 - std::char_traits<char>::length(kMarker) - kRandomChars;
    return "." + Utf8Prefix(base, room) + kMarker;
}

void SyncFolder(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

WriteStatus PartialFile::CheckName(const std::u16string& finalPath, const OutputFileOptions& options) {
    const std::string finalUtf8 = WideToUtf8(finalPath);
    const std::string base = BaseOf(finalUtf8);
    if (base.empty() || base == "." || base == "..") return SystemFailure(OutputStep::kCheck, finalPath, EISDIR);
    if (base.size() > kMaxNameBytes || finalUtf8.size() >= PATH_MAX)
        return SystemFailure(OutputStep::kCheck, finalPath, ENAMETOOLONG);
    struct stat status {};
    if (::lstat(finalUtf8.c_str(), &status) != 0) return {};
    if (!options.replace) return SystemFailure(OutputStep::kCheck, finalPath, EEXIST);
    if (S_ISDIR(status.st_mode)) return SystemFailure(OutputStep::kCheck, finalPath, EISDIR);
    // A pipe, device or socket under the name is somebody's channel, not an
    // old output: never replaced.
    if (!S_ISREG(status.st_mode) && !S_ISLNK(status.st_mode))
        return SystemFailure(OutputStep::kCheck, finalPath, EEXIST);
    return {};
}

WriteStatus PartialFile::Create(const std::u16string& finalPath, const OutputFileOptions& options,
                                std::unique_ptr<PartialFile>* file, int* fd) {
    *fd = -1;
    const std::string finalUtf8 = WideToUtf8(finalPath);
    const std::string base = BaseOf(finalUtf8);
    if (base.empty() || base == "." || base == "..") return SystemFailure(OutputStep::kCreate, finalPath, EISDIR);
    if (base.size() > kMaxNameBytes) return SystemFailure(OutputStep::kCreate, finalPath, ENAMETOOLONG);
    const std::string folder = FolderOf(finalUtf8);
    const std::string stem = folder + "/" + TemporaryStem(base);
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        std::string temporary = stem + RandomChars();
        int opened = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (opened < 0) {
            if (errno == EEXIST) continue;
            return SystemFailure(OutputStep::kCreate, finalPath, errno);
        }
        *fd = opened;
        file->reset(new PartialFile(finalPath, finalUtf8, std::move(temporary), options));
        return {};
    }
    return SystemFailure(OutputStep::kCreate, finalPath, EEXIST);
}

PartialFile::PartialFile(std::u16string finalPath, std::string finalUtf8, std::string temporaryPath,
                         OutputFileOptions options)
    : finalPath_(std::move(finalPath)),
      finalUtf8_(std::move(finalUtf8)),
      temporaryPath_(std::move(temporaryPath)),
      options_(options) {}

PartialFile::~PartialFile() { Discard(); }

WriteStatus PartialFile::Commit() {
    if (!pending_) return SystemFailure(OutputStep::kRename, finalPath_, ENOENT);
    const int error = options_.replace ? RenameReplacing(temporaryPath_.c_str(), finalUtf8_.c_str())
                                       : RenameNoReplace(temporaryPath_.c_str(), finalUtf8_.c_str());
    if (error != 0) {
        Discard();
        return SystemFailure(OutputStep::kRename, finalPath_, error);
    }
    pending_ = false;
    if (options_.sync) SyncFolder(FolderOf(finalUtf8_));
    return {};
}

void PartialFile::Discard() {
    if (!pending_) return;
    ::unlink(temporaryPath_.c_str());
    pending_ = false;
}

}  // namespace kx
