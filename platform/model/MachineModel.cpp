#include "platform/model/MachineModel.h"

namespace ks {

namespace {
template <typename Char>
Char FoldAscii(Char c) {
    return (c >= Char('a') && c <= Char('z')) ? static_cast<Char>(c - Char('a') + Char('A')) : c;
}

template <typename View>
bool EqualsNoCase(View a, View b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    return true;
}
}  // namespace

bool EqualsNoCaseAscii(std::string_view a, std::string_view b) {
    return EqualsNoCase(a, b);
}
bool EqualsNoCaseAscii(std::u16string_view a, std::u16string_view b) {
    return EqualsNoCase(a, b);
}

const CUsbPort* CUsbHub::FindPort(DWORD port) const {
    for (const CUsbPort& p : m_vPorts)
        if (p.m_dwPort == port)
            return &p;
    return nullptr;
}

const CRegistryProperty* CDevNode::FindProperty(ULONG code) const {
    for (const CRegistryProperty& p : m_vProperties)
        if (p.m_ulCode == code)
            return &p;
    return nullptr;
}

const CCmFault* CDevNode::FindPropertyFault(ULONG code) const {
    for (const CPropertyFault& f : m_faults.m_vProperties)
        if (f.m_ulCode == code)
            return &f.m_fault;
    return nullptr;
}

const CUsbHub* CMachineModel::FindHub(std::u16string_view name) const {
    for (const CUsbHub& hub : m_vHubs)
        if (EqualsNoCaseAscii(std::u16string_view(hub.m_wstrName), name))
            return &hub;
    return nullptr;
}

std::optional<std::size_t> CMachineModel::FindNode(std::string_view instanceId) const {
    for (std::size_t i = 0; i < m_vNodes.size(); ++i)
        if (EqualsNoCaseAscii(std::string_view(m_vNodes[i].m_strInstanceId), instanceId))
            return i;
    return std::nullopt;
}

std::size_t CMachineModel::AddNode(CDevNode node, std::optional<std::size_t> parent) {
    const std::size_t index = m_vNodes.size();
    node.m_optParent = parent;
    node.m_vChildren.clear();
    m_vNodes.push_back(std::move(node));
    if (parent && *parent < index)
        m_vNodes[*parent].m_vChildren.push_back(index);
    return index;
}

}  // namespace ks
