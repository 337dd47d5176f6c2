// CObject with run-time class records (creation of objects by class), CCmdTarget with
// message maps: the tables that bind a message number to a member handler.
#pragma once

#include "framework/WinTypes.h"

namespace ks {

class CObject;

struct CRuntimeClass {
    const char* m_lpszClassName;
    int m_nObjectSize;
    UINT m_wSchema;  // 0xFFFF: not serialisable
    CObject* (*m_pfnCreateObject)();
    const CRuntimeClass* m_pBaseClass;

    // A new object of the class, or nullptr for a class that cannot be created dynamically.
    CObject* CreateObject() const {
        return m_pfnCreateObject != nullptr ? m_pfnCreateObject() : nullptr;
    }
    bool IsDerivedFrom(const CRuntimeClass* base) const {
        for (const CRuntimeClass* c = this; c != nullptr; c = c->m_pBaseClass)
            if (c == base)
                return true;
        return false;
    }
};

#define RUNTIME_CLASS(class_name) (class_name::GetThisClass())

#define DECLARE_DYNAMIC(class_name)                   \
  public:                                             \
    static const ::ks::CRuntimeClass* GetThisClass(); \
    const ::ks::CRuntimeClass* GetRuntimeClass() const override;

#define DECLARE_DYNCREATE(class_name) \
    DECLARE_DYNAMIC(class_name)       \
    static ::ks::CObject* CreateObject();

#define KS_IMPLEMENT_RUNTIMECLASS(class_name, base_name, schema, create)                          \
    const ::ks::CRuntimeClass* class_name::GetThisClass() {                                       \
        static const ::ks::CRuntimeClass rc = {#class_name, static_cast<int>(sizeof(class_name)), \
                                               schema, create, base_name::GetThisClass()};        \
        return &rc;                                                                               \
    }                                                                                             \
    const ::ks::CRuntimeClass* class_name::GetRuntimeClass() const {                              \
        return GetThisClass();                                                                    \
    }

#define IMPLEMENT_DYNAMIC(class_name, base_name) \
    KS_IMPLEMENT_RUNTIMECLASS(class_name, base_name, 0xFFFF, nullptr)

#define IMPLEMENT_DYNCREATE(class_name, base_name) \
    ::ks::CObject* class_name::CreateObject() {    \
        return new class_name;                     \
    }                                              \
    KS_IMPLEMENT_RUNTIMECLASS(class_name, base_name, 0xFFFF, class_name::CreateObject)

class CObject {
  public:
    virtual ~CObject() = default;
    static const CRuntimeClass* GetThisClass();
    virtual const CRuntimeClass* GetRuntimeClass() const;
    bool IsKindOf(const CRuntimeClass* rc) const { return GetRuntimeClass()->IsDerivedFrom(rc); }

  protected:
    CObject() = default;
    CObject(const CObject&) = default;
    CObject& operator=(const CObject&) = default;
};

// --- Message maps ------------------------------------------------------------------------

class CCmdTarget;
using AFX_PMSG_THREAD = void (CCmdTarget::*)(WPARAM, LPARAM);
using AFX_PMSG_WND = LRESULT (CCmdTarget::*)(WPARAM, LPARAM);
using AFX_PMSG_CMD = void (CCmdTarget::*)();

enum AfxSig : int { AfxSig_end = 0, AfxSig_thread, AfxSig_wnd, AfxSig_cmd };

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;  // message number (AfxSig_thread, AfxSig_wnd) or command id (AfxSig_cmd)
    AfxSig nSig;
    AFX_PMSG_THREAD pfnThread;
    AFX_PMSG_WND pfnWnd;
    AFX_PMSG_CMD pfnCmd;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

class CCmdTarget : public CObject {
  public:
    DECLARE_DYNAMIC(CCmdTarget)
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const { return GetThisMessageMap(); }

    // The first entry of this class's map, or of its bases' maps, for the message/command.
    const AFX_MSGMAP_ENTRY* FindMessageEntry(AfxSig sig, UINT message) const;
    // Runs the handler of a command id; FALSE when no map has one.
    BOOL OnCmdMsg(UINT id);
};

#define DECLARE_MESSAGE_MAP()                               \
  protected:                                                \
    static const ::ks::AFX_MSGMAP* GetThisMessageMap();     \
    const ::ks::AFX_MSGMAP* GetMessageMap() const override; \
    template <class>                                        \
    friend struct ::ks::MessageMapAccess;

template <class T>
struct MessageMapAccess {
    static const AFX_MSGMAP* Get() { return T::GetThisMessageMap(); }
};

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                \
    const ::ks::AFX_MSGMAP* theClass::GetMessageMap() const { \
        return GetThisMessageMap();                           \
    }                                                         \
    const ::ks::AFX_MSGMAP* theClass::GetThisMessageMap() {   \
        using ThisClass = theClass;                           \
        using TheBaseClass = baseClass;                       \
        static_cast<void>(sizeof(ThisClass));                 \
        static const ::ks::AFX_MSGMAP_ENTRY entries[] = {
#define ON_THREAD_MESSAGE(message, memberFxn)                                                 \
    {message, ::ks::AfxSig_thread, static_cast<::ks::AFX_PMSG_THREAD>(&ThisClass::memberFxn), \
     nullptr, nullptr},

#define ON_MESSAGE(message, memberFxn)                                                           \
    {message, ::ks::AfxSig_wnd, nullptr, static_cast<::ks::AFX_PMSG_WND>(&ThisClass::memberFxn), \
     nullptr},

#define ON_COMMAND(id, memberFxn) \
    {id, ::ks::AfxSig_cmd, nullptr, nullptr, static_cast<::ks::AFX_PMSG_CMD>(&memberFxn)},

#define END_MESSAGE_MAP()                                                                   \
    { 0, ::ks::AfxSig_end, nullptr, nullptr, nullptr }                                      \
    }                                                                                       \
    ;                                                                                       \
    static const ::ks::AFX_MSGMAP messageMap = {&::ks::MessageMapAccess<TheBaseClass>::Get, \
                                                &entries[0]};                               \
    return &messageMap;                                                                     \
    }

}  // namespace ks
