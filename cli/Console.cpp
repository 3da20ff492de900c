#include "Console.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kxcli {

namespace {

FILE* g_out = nullptr;
FILE* g_err = nullptr;
bool g_errTerminal = false;
int g_outError = 0;

}  // namespace

void Fail(const std::string& message) { throw CliError(message, kExitFailure); }
void UsageError(const std::string& message) { throw CliError(message, kExitUsage); }

void SetUpConsole() {
    fflush(stdout);
    fflush(stderr);
    int outFd = dup(STDOUT_FILENO);
    int errFd = dup(STDERR_FILENO);
    g_out = outFd >= 0 ? fdopen(outFd, "w") : nullptr;
    g_err = errFd >= 0 ? fdopen(errFd, "w") : nullptr;
    if (!g_out || !g_err) {
        // Without spare descriptors the program shares the streams.
        g_out = stdout;
        g_err = stderr;
        g_errTerminal = isatty(STDERR_FILENO);
        return;
    }
    setvbuf(g_err, nullptr, _IONBF, 0);
    g_errTerminal = isatty(errFd);
    fcntl(outFd, F_SETFD, FD_CLOEXEC);
    fcntl(errFd, F_SETFD, FD_CLOEXEC);

    int nothing = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (nothing >= 0) {
        dup2(nothing, STDOUT_FILENO);
        dup2(nothing, STDERR_FILENO);
        close(nothing);
    }
}

FILE* Out() { return g_out ? g_out : stdout; }

void FlushOut() {
    if (fflush(Out()) != 0 && g_outError == 0) g_outError = errno;
}

int OutError() {
    FlushOut();
    // A write that failed before any flush left only the stream's flag.
    if (g_outError == 0 && ferror(Out())) g_outError = EIO;
    return g_outError;
}
FILE* Err() { return g_err ? g_err : stderr; }
bool ErrIsTerminal() { return g_errTerminal; }


}  // namespace kxcli
