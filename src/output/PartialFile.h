// An output written under a temporary name in its final folder, and given
// its final name only once it is complete. Whatever stops the process, the
// final name holds nothing or a whole file; what a crash leaves behind is a
// hidden ".<name>.partial-XXXXXX" that no later run reads.
#pragma once

#include <memory>
#include <string>

#include "output/OutputFailure.h"

namespace kx {

struct OutputFileOptions {
    bool replace = false;  // the finished file may take the place of a file of its name
    bool sync = false;     // the file and its folder reach the disk before the task goes on
};

class PartialFile {
public:
    // Whether a file can be written under `finalPath` at all: a name that
    // fits the system's limits and, unless `replace`, that nothing holds
    // yet (not even a link). Checked before the work, so that a task does
    // not fail only at its end.
    static WriteStatus CheckName(const std::u16string& finalPath, const OutputFileOptions& options);

    // Creates the temporary file beside `finalPath` (never through a link,
    // never an existing file). *fd receives its descriptor, which the
    // caller owns and must close before Commit.
    static WriteStatus Create(const std::u16string& finalPath, const OutputFileOptions& options,
                              std::unique_ptr<PartialFile>* file, int* fd);

    // Removes the temporary file unless it was committed.
    ~PartialFile();
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    // Renames the (closed) temporary file to the final name. Without
    // `replace`, a name that some other writer took meanwhile is not
    // replaced: the commit fails with EEXIST and the temporary file goes.
    WriteStatus Commit();
    // Removes the temporary file.
    void Discard();

    const std::string& TemporaryPath() const { return temporaryPath_; }

private:
    PartialFile(std::u16string finalPath, std::string finalUtf8, std::string temporaryPath, OutputFileOptions options);

    std::u16string finalPath_;
    std::string finalUtf8_;
    std::string temporaryPath_;
    OutputFileOptions options_;
    bool pending_ = true;  // the temporary file still exists
};

}  // namespace kx
