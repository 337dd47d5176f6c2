// CList: the framework's typed doubly linked list, walked with POSITION values; and
// CStringList, a list of CString. Not synchronised: one thread uses a list at a time.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <utility>

#include "framework/CString.h"

namespace ks {

struct __POSITION {};
using POSITION = __POSITION*;

template <class TYPE, class ARG_TYPE = const TYPE&>
class CList {
  public:
    // The block size is how many nodes the framework allocates at once; nodes are
    // allocated one by one here, which keeps the same behaviour.
    explicit CList(int nBlockSize = 10) : m_nBlockSize(nBlockSize) {}
    CList(const CList&) = delete;
    CList& operator=(const CList&) = delete;
    virtual ~CList() { RemoveAll(); }

    int GetCount() const { return m_nCount; }
    int GetSize() const { return m_nCount; }
    bool IsEmpty() const { return m_nCount == 0; }
    int GetBlockSize() const { return m_nBlockSize; }

    TYPE& GetHead() { return Checked(m_pHead)->data; }
    const TYPE& GetHead() const { return Checked(m_pHead)->data; }
    TYPE& GetTail() { return Checked(m_pTail)->data; }
    const TYPE& GetTail() const { return Checked(m_pTail)->data; }

    POSITION AddHead(ARG_TYPE value) {
        Node* n = new Node{TYPE(value), nullptr, m_pHead};
        if (m_pHead != nullptr)
            m_pHead->prev = n;
        else
            m_pTail = n;
        m_pHead = n;
        ++m_nCount;
        return ToPos(n);
    }
    POSITION AddTail(ARG_TYPE value) {
        Node* n = new Node{TYPE(value), m_pTail, nullptr};
        if (m_pTail != nullptr)
            m_pTail->next = n;
        else
            m_pHead = n;
        m_pTail = n;
        ++m_nCount;
        return ToPos(n);
    }
    TYPE RemoveHead() {
        Node* n = Checked(m_pHead);
        TYPE v = std::move(n->data);
        Unlink(n);
        return v;
    }
    TYPE RemoveTail() {
        Node* n = Checked(m_pTail);
        TYPE v = std::move(n->data);
        Unlink(n);
        return v;
    }
    void RemoveAll() {
        Node* n = m_pHead;
        while (n != nullptr) {
            Node* next = n->next;
            delete n;
            n = next;
        }
        m_pHead = m_pTail = nullptr;
        m_nCount = 0;
    }

    POSITION GetHeadPosition() const { return ToPos(m_pHead); }
    POSITION GetTailPosition() const { return ToPos(m_pTail); }
    TYPE& GetNext(POSITION& pos) {
        Node* n = Checked(FromPos(pos));
        pos = ToPos(n->next);
        return n->data;
    }
    const TYPE& GetNext(POSITION& pos) const {
        Node* n = Checked(FromPos(pos));
        pos = ToPos(n->next);
        return n->data;
    }
    TYPE& GetPrev(POSITION& pos) {
        Node* n = Checked(FromPos(pos));
        pos = ToPos(n->prev);
        return n->data;
    }
    TYPE& GetAt(POSITION pos) { return Checked(FromPos(pos))->data; }
    const TYPE& GetAt(POSITION pos) const { return Checked(FromPos(pos))->data; }
    void SetAt(POSITION pos, ARG_TYPE value) { Checked(FromPos(pos))->data = value; }
    void RemoveAt(POSITION pos) { Unlink(Checked(FromPos(pos))); }

    POSITION InsertBefore(POSITION pos, ARG_TYPE value) {
        Node* at = FromPos(pos);
        if (at == nullptr)
            return AddHead(value);
        Node* n = new Node{TYPE(value), at->prev, at};
        if (at->prev != nullptr)
            at->prev->next = n;
        else
            m_pHead = n;
        at->prev = n;
        ++m_nCount;
        return ToPos(n);
    }
    POSITION InsertAfter(POSITION pos, ARG_TYPE value) {
        Node* at = FromPos(pos);
        if (at == nullptr)
            return AddTail(value);
        Node* n = new Node{TYPE(value), at, at->next};
        if (at->next != nullptr)
            at->next->prev = n;
        else
            m_pTail = n;
        at->next = n;
        ++m_nCount;
        return ToPos(n);
    }

    // The first element equal to value, after startAfter when it is given.
    POSITION Find(ARG_TYPE value, POSITION startAfter = nullptr) const {
        Node* n = startAfter == nullptr ? m_pHead : FromPos(startAfter)->next;
        for (; n != nullptr; n = n->next)
            if (n->data == value)
                return ToPos(n);
        return nullptr;
    }
    // The element at a zero-based index, reached by walking from the head; null past the end.
    POSITION FindIndex(int index) const {
        if (index < 0 || index >= m_nCount)
            return nullptr;
        Node* n = m_pHead;
        while (index-- > 0)
            n = n->next;
        return ToPos(n);
    }

  private:
    struct Node {
        TYPE data;
        Node* prev;
        Node* next;
    };
    static POSITION ToPos(Node* n) { return reinterpret_cast<POSITION>(n); }
    static Node* FromPos(POSITION p) { return reinterpret_cast<Node*>(p); }
    static Node* Checked(Node* n) {
        if (n == nullptr)
            throw std::out_of_range("CList: no element at this position");
        return n;
    }
    void Unlink(Node* n) {
        if (n->prev != nullptr)
            n->prev->next = n->next;
        else
            m_pHead = n->next;
        if (n->next != nullptr)
            n->next->prev = n->prev;
        else
            m_pTail = n->prev;
        delete n;
        --m_nCount;
    }

    Node* m_pHead = nullptr;
    Node* m_pTail = nullptr;
    int m_nCount = 0;
    int m_nBlockSize;
};

class CStringList : public CList<CString, const CString&> {
  public:
    explicit CStringList(int nBlockSize = 10) : CList(nBlockSize) {}
};

}  // namespace ks
