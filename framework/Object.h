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
// Each entry binds a message (or a command id, or a notification code from a control id) to
// a handler thunk: a plain function, made by the ON_... macro inside the class's own map, that
// cracks wParam and lParam into the handler's arguments, calls it on the object and stores
// what it answers. The thunk answers FALSE when it declines the message.

class CCmdTarget;
using AFX_PMSG = BOOL (*)(CCmdTarget* target, WPARAM wParam, LPARAM lParam, LRESULT* result);

enum AfxSig : int { AfxSig_end = 0, AfxSig_thread, AfxSig_wnd, AfxSig_cmd, AfxSig_notify };

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;  // message number, or command id (AfxSig_cmd)
    UINT nCode;     // notification code (AfxSig_notify)
    UINT nID;       // control id (AfxSig_notify)
    AfxSig nSig;
    AFX_PMSG pfn;
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

    // The first entry of this class's map, or of its bases' maps, for the message/command
    // (and, for notifications, the code and control id).
    const AFX_MSGMAP_ENTRY* FindMessageEntry(AfxSig sig, UINT message, UINT code = 0,
                                             UINT id = 0) const;
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
// The entry's thunk: `body` runs with `self` (this class), `w`, `l` and `r` (the result).
#define KS_MSG_THUNK(body)                                                                  \
    [](::ks::CCmdTarget* target, ::ks::WPARAM w, ::ks::LPARAM l, ::ks::LRESULT* r) -> int { \
        ThisClass* self = static_cast<ThisClass*>(target);                                  \
        static_cast<void>(self);                                                            \
        static_cast<void>(w);                                                               \
        static_cast<void>(l);                                                               \
        static_cast<void>(r);                                                               \
        body;                                                                               \
        return 1;                                                                           \
    }

// void memberFxn(WPARAM, LPARAM): a thread message.
#define ON_THREAD_MESSAGE(message, memberFxn) \
    {message, 0, 0, ::ks::AfxSig_thread, KS_MSG_THUNK(self->memberFxn(w, l))},
// LRESULT memberFxn(WPARAM, LPARAM): any window message, the program's own among them.
#define ON_MESSAGE(message, memberFxn) \
    {message, 0, 0, ::ks::AfxSig_wnd, KS_MSG_THUNK(*r = self->memberFxn(w, l))},
// void memberFxn(): a command (WM_COMMAND from a menu, an accelerator or a button).
#define ON_COMMAND(id, memberFxn) \
    {static_cast<::ks::UINT>(id), 0, 0, ::ks::AfxSig_cmd, KS_MSG_THUNK((self->*(&memberFxn))())},
// void memberFxn(NMHDR*, LRESULT*): WM_NOTIFY with a notification code from a control id.
#define ON_NOTIFY(code, id, memberFxn)                                            \
    {::ks::WM_NOTIFY, static_cast<::ks::UINT>(code), static_cast<::ks::UINT>(id), \
     ::ks::AfxSig_notify, KS_MSG_THUNK(self->memberFxn(reinterpret_cast<::ks::NMHDR*>(l), r))},
// The system's window messages, cracked as the framework does.
#define ON_WM_SYSCOMMAND()                                                                        \
    {                                                                                             \
        ::ks::WM_SYSCOMMAND, 0, 0, ::ks::AfxSig_wnd,                                              \
            KS_MSG_THUNK(self->OnSysCommand(static_cast<::ks::UINT>(w & 0xFFFFFFFFu), l); *r = 0) \
    }                                                                                             \
    ,
#define ON_WM_PAINT()                                                                 \
    { ::ks::WM_PAINT, 0, 0, ::ks::AfxSig_wnd, KS_MSG_THUNK(self->OnPaint(); *r = 0) } \
    ,
#define ON_WM_QUERYDRAGICON()                        \
    {::ks::WM_QUERYDRAGICON, 0, 0, ::ks::AfxSig_wnd, \
     KS_MSG_THUNK(*r = reinterpret_cast<::ks::LRESULT>(self->OnQueryDragIcon()))},
#define ON_WM_DESTROY()                                                                   \
    { ::ks::WM_DESTROY, 0, 0, ::ks::AfxSig_wnd, KS_MSG_THUNK(self->OnDestroy(); *r = 0) } \
    ,
#define ON_WM_DEVICECHANGE()                                                          \
    {::ks::WM_DEVICECHANGE, 0, 0, ::ks::AfxSig_wnd,                                   \
     KS_MSG_THUNK(*r = self->OnDeviceChange(static_cast<::ks::UINT>(w & 0xFFFFFFFFu), \
                                            static_cast<::ks::DWORD_PTR>(l)))},

#define END_MESSAGE_MAP()                                                                   \
    { 0, 0, 0, ::ks::AfxSig_end, nullptr }                                                  \
    }                                                                                       \
    ;                                                                                       \
    static const ::ks::AFX_MSGMAP messageMap = {&::ks::MessageMapAccess<TheBaseClass>::Get, \
                                                &entries[0]};                               \
    return &messageMap;                                                                     \
    }

}  // namespace ks
