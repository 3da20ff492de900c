// A file's media description handed to hosts: the object's own deep copy of
// a FileMediaInfo, valid while the object lives, behind ILossCopyMediaInfo.
#pragma once

#include "KX_Remuxion.h"
#include "api/CUnknown.h"

namespace kx {

class CLossCopyMediaInfo final : public scombase::CUnknown, public ILossCopyMediaInfo {
public:
    CLossCopyMediaInfo() = default;
    ~CLossCopyMediaInfo() override;

    // A new object with one reference for the creator holding a deep copy of
    // source (none for a null source), or null when memory runs out.
    static CLossCopyMediaInfo* Create(const FileMediaInfo* source);

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    KX_DECLARE_IUNKNOWN

    // ILossCopyMediaInfo, slot 3
    FileMediaInfo* GetInfo() override { return info_; }

    // Replaces the held copy with a deep copy of source; false (and no copy
    // held) when memory runs out.
    bool CopyFrom(const FileMediaInfo* source);

    // Deep copy and release of a FileMediaInfo with its programs, stream
    // records and extra data, all on the C heap.
    static FileMediaInfo* DeepCopy(const FileMediaInfo& source);
    static void FreeCopy(FileMediaInfo* info);

private:
    FileMediaInfo* info_ = nullptr;
};

}  // namespace kx
