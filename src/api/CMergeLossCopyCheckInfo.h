// The merge check result handed to hosts: groups of file ids.
#pragma once

#include <cstdint>
#include <vector>

#include "KX_Remuxion.h"
#include "api/CUnknown.h"

namespace kx {

class CMergeLossCopyCheckInfo final : public scombase::CUnknown, public IMerge_LossCopy_Check_Info {
public:
    // A new, empty result with one reference.
    static CMergeLossCopyCheckInfo* Create();
    ~CMergeLossCopyCheckInfo() override;

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    KX_DECLARE_IUNKNOWN

    MergeCheckResult* GetCheckInfo() override { return result_; }
    HRESULT ClearCheckInfo(MergeCheckResult* result) override;

    // Replaces the group table with these groups; returns the group count.
    int64_t Fill(const std::vector<std::vector<int64_t>>& groups);

private:
    CMergeLossCopyCheckInfo() = default;
    MergeCheckResult* result_ = nullptr;
};

}  // namespace kx
