#include "framework/Object.h"

namespace ks {

const CRuntimeClass* CObject::GetThisClass() {
    static const CRuntimeClass rc = {"CObject", static_cast<int>(sizeof(CObject)), 0xFFFF, nullptr,
                                     nullptr};
    return &rc;
}
const CRuntimeClass* CObject::GetRuntimeClass() const {
    return GetThisClass();
}

IMPLEMENT_DYNAMIC(CCmdTarget, CObject)

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, AfxSig_end, nullptr}};
    static const AFX_MSGMAP map = {nullptr, &entries[0]};
    return &map;
}

const AFX_MSGMAP_ENTRY* CCmdTarget::FindMessageEntry(AfxSig sig, UINT message, UINT code,
                                                     UINT id) const {
    for (const AFX_MSGMAP* map = GetMessageMap(); map != nullptr;
         map = map->pfnGetBaseMap != nullptr ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->nSig != AfxSig_end; ++e)
            if (e->nSig == sig && e->nMessage == message && e->nCode == code && e->nID == id)
                return e;
    }
    return nullptr;
}

BOOL CCmdTarget::OnCmdMsg(UINT id) {
    const AFX_MSGMAP_ENTRY* e = FindMessageEntry(AfxSig_cmd, id);
    if (e == nullptr)
        return FALSE;
    LRESULT ignored = 0;
    return e->pfn(this, 0, 0, &ignored);
}

}  // namespace ks
