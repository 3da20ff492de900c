#include "api/CMergeLossCopyCheckInfo.h"

#include <cstdlib>
#include <new>

namespace kx {

CMergeLossCopyCheckInfo* CMergeLossCopyCheckInfo::Create() {
    auto* object = new (std::nothrow) CMergeLossCopyCheckInfo();
    if (object) object->NonDelegatingAddRef();
    return object;
}

CMergeLossCopyCheckInfo::~CMergeLossCopyCheckInfo() {
    ClearCheckInfo(result_);
    std::free(result_);
}

HRESULT CMergeLossCopyCheckInfo::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return KX_E_POINTER;
    if (scombase::IsEqualGuid(riid, IID_IMerge_LossCopy_Check_Info))
        return GetInterface(static_cast<IMerge_LossCopy_Check_Info*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CMergeLossCopyCheckInfo::ClearCheckInfo(MergeCheckResult* result) {
    if (!result || result->groupCount < 1) return KX_S_OK;
    for (int64_t i = 0; i < result->groupCount; ++i) {
        if (result->groups[i].count > 0) std::free(result->groups[i].fileIds);
        result->groups[i].fileIds = nullptr;
    }
    std::free(result->groups);
    result->groups = nullptr;
    result->groupCount = 0;
    return KX_S_OK;
}

int64_t CMergeLossCopyCheckInfo::Fill(const std::vector<std::vector<int64_t>>& groups) {
    ClearCheckInfo(result_);
    if (!result_) {
        result_ = static_cast<MergeCheckResult*>(std::calloc(1, sizeof(MergeCheckResult)));
        if (!result_) return 0;
    }
    if (groups.empty()) return 0;
    result_->groups = static_cast<MergeGroupEntry*>(std::calloc(groups.size(), sizeof(MergeGroupEntry)));
    if (!result_->groups) return 0;
    result_->groupCount = static_cast<int64_t>(groups.size());
    for (size_t i = 0; i < groups.size(); ++i) {
        MergeGroupEntry& entry = result_->groups[i];
        entry.count = static_cast<int64_t>(groups[i].size());
        if (entry.count > 0) {
            entry.fileIds = static_cast<int64_t*>(std::malloc(groups[i].size() * sizeof(int64_t)));
            if (!entry.fileIds) {
                entry.count = 0;
                continue;
            }
            for (size_t k = 0; k < groups[i].size(); ++k) entry.fileIds[k] = groups[i][k];
        }
    }
    return result_->groupCount;
}

}  // namespace kx
