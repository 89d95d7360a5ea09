// Container templates of the engine, namespace KVTL.
//
// Every list of the engine derives from KV_ListBase<T> and keeps one fixed
// order of virtual operations, so code can work on any list through the base.
// Element comparison is itself virtual: that is how pointer lists compare the
// objects pointed to and how sorted lists keep their order.
//
// Observable rules kept from the original design (tests depend on them):
// - Out-of-range reads return a reference to the list's null element (a
//   default-constructed T, a null pointer for pointer lists).
// - Arrays grow by a fixed step (1024 / sizeof(T), at least 1) instead of
//   doubling, shrink to exactly `size()` as soon as more than one step is free
//   after a removal, and are freed when the list becomes empty. std::vector
//   cannot promise exact capacities, hence the raw new[]/delete[] arrays.
// - A sorted add places an element after the elements equal to it.
// - Pointer lists compare the pointees and never delete them.
//
// Ownership: lists are not copyable; owners copy element by element. Owners
// clear their lists in their own destructors; the list destructors here also
// free storage that was not cleared (never the pointees of pointer lists, and
// never the values of a KV_HMapPtr).
//
// Threads: nothing here locks. Each owner guards its containers with its own
// lock where several threads reach them.
//
// Failures are bool results; nothing throws (allocations use nothrow new).
#pragma once

#include <algorithm>
#include <concepts>
#include <cstdint>
#include <cstring>
#include <functional>
#include <new>
#include <type_traits>
#include <utility>

namespace KVTL {

namespace detail {

template <class T>
concept HasEq = requires(const T& a, const T& b)
{
    static_cast<bool>(a == b);
};

template <class T>
concept HasLess = requires(const T& a, const T& b)
{
    static_cast<bool>(a < b);
};

// Pointee classes of the engine offer `operator==(const X*)` and
// `operator<(const X*)` "for container use" (identity, or the queue order of
// requests), next to a by-reference operator== that can mean something else
// (KV_FileReq's duplicate rule). Pointer lists prefer the pointer forms.
template <class T>
concept HasPtrEq = requires(T& a, T* b)
{
    static_cast<bool>(a == b);
};

template <class T>
concept HasPtrLess = requires(T& a, T* b)
{
    static_cast<bool>(a < b);
};

// Default growth step: about 1 KB worth of elements, never 0.
constexpr uint32_t default_grow(std::size_t elem_size)
{
    return 1024 / elem_size ? static_cast<uint32_t>(1024 / elem_size) : 1u;
}

} // namespace detail

// ---------------------------------------------------------------------------
// KV_ListBase<T>: abstract base of all lists.
//
// Virtual table order: equal, less, clear, add, insert, remove, remove_at,
// find, reserve, set_grow, at, at const, size, destructor.
// ---------------------------------------------------------------------------
template <class T> class KV_ListBase
{
public:
    KV_ListBase() : null_elem_(), count_(0) {}
    KV_ListBase(const KV_ListBase&) = delete;
    KV_ListBase& operator=(const KV_ListBase&) = delete;

    // Whether two elements are equal: T's ==. A T without == is never equal
    // to anything (it can be stored and indexed, not found or removed by value).
    virtual bool equal(const T& a, const T& b) const
    {
        if constexpr (detail::HasEq<T>) {
            return a == b;
        } else {
            return false;
        }
    }

    // Whether a sorts before b: T's <. A T without < has no order.
    virtual bool less(const T& a, const T& b) const
    {
        if constexpr (detail::HasLess<T>) {
            return a < b;
        } else {
            return false;
        }
    }

    // Removes all elements and frees the storage.
    virtual void clear() = 0;
    // Appends (or, on sorted lists, inserts at the sorted place).
    virtual bool add(const T& e) = 0;
    // Inserts at pos (0 .. size()); false when pos is beyond the end.
    virtual bool insert(uint32_t pos, const T& e) = 0;
    // Removes the first element equal to e; false when none is.
    virtual bool remove(const T& e) = 0;
    // Removes the element at pos; false when pos >= size().
    virtual bool remove_at(uint32_t pos) = 0;
    // Finds an element equal to key; copies it to *out and its index to *pos
    // where these are not null.
    virtual bool find(const T& key, T* out = nullptr, uint32_t* pos = nullptr) const = 0;
    // Base: no storage to reserve.
    virtual bool reserve(uint32_t n)
    {
        (void)n;
        return true;
    }
    // Base: no growth step; returns 0.
    virtual uint32_t set_grow(uint32_t n)
    {
        (void)n;
        return 0;
    }
    // Element i, or the null element when i >= size(). The reference stays
    // valid until the list is next changed.
    virtual T& at(uint32_t i) = 0;
    virtual const T& at(uint32_t i) const = 0;
    virtual uint32_t size() const { return count_; }
    virtual ~KV_ListBase() = default;

    bool empty() const { return size() == 0; }
    const T& null_elem() const { return null_elem_; }

protected:
    T null_elem_;
    uint32_t count_;
};

// ---------------------------------------------------------------------------
// KV_ListVal<T>: growable array of values.
// ---------------------------------------------------------------------------
template <class T> class KV_ListVal : public KV_ListBase<T>
{
public:
    KV_ListVal() : grow_(detail::default_grow(sizeof(T))), data_(nullptr), capacity_(0), copy_(1) {}
    ~KV_ListVal() override { free_array(); }

    // Destroys the element array; size and capacity become 0.
    void clear() override
    {
        free_array();
        this->count_ = 0;
    }

    bool add(const T& e) override { return this->insert(this->count_, e); }

    // Grows by grow_step() when full, then shifts pos .. size()-1 up by one.
    bool insert(uint32_t pos, const T& e) override
    {
        if (pos > this->count_) {
            return false;
        }
        if (aliases(e)) {
            // e lives in our array: a resize would free it and the shift would
            // overwrite it.
            T copy(e);
            return KV_ListVal::insert(pos, copy);
        }
        if (this->count_ == capacity_) {
            uint64_t n = static_cast<uint64_t>(capacity_) + grow_;
            if (n > UINT32_MAX || !resize(static_cast<uint32_t>(n))) {
                return false;
            }
        }
        std::move_backward(data_ + pos, data_ + this->count_, data_ + this->count_ + 1);
        data_[pos] = e;
        ++this->count_;
        return true;
    }

    // Linear search with equal(element, e); removes the first match only.
    bool remove(const T& e) override
    {
        for (uint32_t i = 0; i < this->count_; ++i) {
            if (this->equal(data_[i], e)) {
                return this->remove_at(i);
            }
        }
        return false;
    }

    // Shifts the following elements down. The array is freed when the list
    // becomes empty and cut to exactly size() when more than grow_step()
    // places are free. A failed shrink leaves the larger array in place; the
    // removal itself has happened, so the result is still true.
    bool remove_at(uint32_t pos) override
    {
        if (pos >= this->count_) {
            return false;
        }
        --this->count_;
        std::move(data_ + pos + 1, data_ + this->count_ + 1, data_ + pos);
        if (this->count_ == 0) {
            KV_ListVal::clear();
            return true;
        }
        if (static_cast<uint64_t>(this->count_) + grow_ < capacity_) {
            if (resize(this->count_)) {
                return true;
            }
        }
        if constexpr (!std::is_trivially_copyable_v<T>) {
            // Let the vacated place release what it holds (a string's buffer).
            data_[this->count_] = T();
        }
        return true;
    }

    bool find(const T& key, T* out = nullptr, uint32_t* pos = nullptr) const override
    {
        for (uint32_t i = 0; i < this->count_; ++i) {
            if (this->equal(data_[i], key)) {
                if (out) {
                    *out = data_[i];
                }
                if (pos) {
                    *pos = i;
                }
                return true;
            }
        }
        return false;
    }

    // Sets the capacity to max(size(), n): can grow or shrink. 0 frees.
    bool reserve(uint32_t n) override
    {
        uint32_t m = std::max(this->count_, n);
        if (m == 0) {
            KV_ListVal::clear();
            return true;
        }
        if (m == capacity_) {
            return true;
        }
        return resize(m);
    }

    // Growth step in elements; 0 means 1. Returns the new step.
    uint32_t set_grow(uint32_t n) override
    {
        grow_ = n ? n : 1;
        return grow_;
    }

    T& at(uint32_t i) override { return i < this->count_ ? data_[i] : this->null_elem_; }
    const T& at(uint32_t i) const override
    {
        return i < this->count_ ? data_[i] : this->null_elem_;
    }

    uint32_t capacity() const { return capacity_; }
    uint32_t grow_step() const { return grow_; }
    // 1: resize copies elements by assignment; 0: by bytes (pointer lists).
    uint8_t copy_mode() const { return copy_; }
    // The element array (size() valid elements), null without storage.
    T* data() { return data_; }
    const T* data() const { return data_; }

    // Range-for support over the valid elements.
    T* begin() { return data_; }
    T* end() { return data_ + this->count_; }
    const T* begin() const { return data_; }
    const T* end() const { return data_ + this->count_; }

protected:
    // Replaces the array by one of exactly n default-constructed elements and
    // moves the elements over. On allocation failure the list is unchanged.
    bool resize(uint32_t n)
    {
        if (n < this->count_) {
            return false;
        }
        if (n == 0) {
            free_array();
            return true;
        }
        T* fresh = new (std::nothrow) T[n];
        if (!fresh) {
            return false;
        }
        if (this->count_ > 0) {
            if constexpr (std::is_trivially_copyable_v<T>) {
                // Byte copy, which is what copy_ == 0 asks for and what an
                // assignment of such a type amounts to anyway.
                std::memcpy(static_cast<void*>(fresh), static_cast<const void*>(data_),
                            sizeof(T) * this->count_);
            } else {
                // Types that own storage are always assigned element by
                // element, whatever copy_ says: a byte copy would be undefined.
                std::move(data_, data_ + this->count_, fresh);
            }
        }
        delete[] data_;
        data_ = fresh;
        capacity_ = n;
        return true;
    }

    bool aliases(const T& e) const
    {
        const T* p = std::addressof(e);
        return data_ && !std::less<const T*>()(p, data_) &&
               std::less<const T*>()(p, data_ + capacity_);
    }

    void free_array()
    {
        delete[] data_;
        data_ = nullptr;
        capacity_ = 0;
    }

    uint32_t grow_;
    T* data_;
    uint32_t capacity_;
    uint8_t copy_;
};

// ---------------------------------------------------------------------------
// KV_ListValSrt<T>: KV_ListVal<T> kept in ascending order of less().
// add, remove and find use a halving search; insert (pos, e) and the others
// are KV_ListVal's (insert does not check the order).
// ---------------------------------------------------------------------------
template <class T> class KV_ListValSrt : public KV_ListVal<T>
{
public:
    // Inserts after the elements equal to e.
    bool add(const T& e) override
    {
        uint32_t pos = 0;
        search(e, pos, true);
        return this->insert(pos, e);
    }

    bool remove(const T& e) override
    {
        uint32_t pos = 0;
        if (!search(e, pos, false)) {
            return false;
        }
        return this->remove_at(pos);
    }

    // With duplicates the element found is one of the equal ones, not
    // necessarily the first.
    bool find(const T& key, T* out = nullptr, uint32_t* pos = nullptr) const override
    {
        uint32_t p = 0;
        if (!search(key, p, false)) {
            return false;
        }
        if (out) {
            *out = this->data_[p];
        }
        if (pos) {
            *pos = p;
        }
        return true;
    }

    // Halving search over less() and equal().
    // Insertion mode: pos = the place where e goes (after equal elements);
    // result false. Lookup mode: true with pos = index of an equal element.
    bool search(const T& e, uint32_t& pos, bool insert_mode) const
    {
        if (this->count_ == 0) {
            if (insert_mode) {
                pos = 0;
            }
            return false;
        }
        const T* d = this->data_;
        uint32_t lo = 0;
        uint32_t hi = this->count_ - 1;
        while (lo + 1 < hi) {
            uint32_t mid = lo + (hi - lo) / 2;
            if (this->less(e, d[mid])) {
                hi = mid;
            } else {
                lo = mid;
            }
        }
        if (insert_mode) {
            if (this->less(e, d[hi])) {
                pos = this->less(e, d[lo]) ? lo : hi;
            } else {
                pos = hi + 1;
            }
            return false;
        }
        if (this->equal(e, d[lo])) {
            pos = lo;
            return true;
        }
        if (this->equal(e, d[hi])) {
            pos = hi;
            return true;
        }
        return false;
    }
};

// ---------------------------------------------------------------------------
// KV_ListPtrBase<L, T*>: a list of pointers on the array list L
// (KV_ListVal<T*> or KV_ListValSrt<T*>) that compares the pointees.
// clear() frees only the pointer array: owners delete the objects themselves.
// ---------------------------------------------------------------------------
template <class L, class P> class KV_ListPtrBase;

template <class L, class T> class KV_ListPtrBase<L, T*> : public L
{
public:
    KV_ListPtrBase()
    {
        this->null_elem_ = nullptr;
        this->copy_ = 0;
    }

    // Pointee equality: T's operator==(T*) when it has one, else T's
    // operator==(const T&); identity for a T with neither. A null pointer
    // equals only a null pointer.
    bool equal(T* const& a, T* const& b) const override
    {
        if (!a || !b) {
            return a == b;
        }
        if constexpr (detail::HasPtrEq<T>) {
            return *a == b;
        } else if constexpr (detail::HasEq<T>) {
            return *a == *b;
        } else {
            return a == b;
        }
    }

    // Pointee order: T's operator<(T*), else operator<(const T&), else the
    // address order. A null pointer sorts before every other pointer.
    bool less(T* const& a, T* const& b) const override
    {
        if (!a || !b) {
            return !a && b;
        }
        if constexpr (detail::HasPtrLess<T>) {
            return *a < b;
        } else if constexpr (detail::HasLess<T>) {
            return *a < *b;
        } else {
            return std::less<const T*>()(a, b);
        }
    }
};

template <class T> class KV_ListPtr : public KV_ListPtrBase<KV_ListVal<T*>, T*>
{
};

template <class T> class KV_ListPtrSrt : public KV_ListPtrBase<KV_ListValSrt<T*>, T*>
{
};

// ---------------------------------------------------------------------------
// KV_SListVal<T>: singly linked list (the bucket of a hash map).
// Appends to the virtual table: new_node, node_and_prev, node_at, link,
// unlink. reserve and set_grow are the base's (no effect).
// ---------------------------------------------------------------------------
template <class T> class KV_SListVal : public KV_ListBase<T>
{
public:
    struct Node
    {
        Node* next;
        T value;
    };

    KV_SListVal() : head_(nullptr), tail_(nullptr) {}
    ~KV_SListVal() override { free_nodes(); }

    void clear() override { free_nodes(); }

    // Appends at the end.
    bool add(const T& e) override
    {
        Node* node = new_node(e);
        if (!node) {
            return false;
        }
        if (!link(node, tail_)) {
            delete node;
            return false;
        }
        return true;
    }

    // Links after node pos-1, or at the head for pos 0. A position beyond the
    // end fails (as on array lists) instead of linking at the head.
    bool insert(uint32_t pos, const T& e) override
    {
        if (pos > this->count_) {
            return false;
        }
        Node* node = new_node(e);
        if (!node) {
            return false;
        }
        Node* prev = nullptr;
        node_and_prev(pos, &prev);
        if (!link(node, prev)) {
            delete node;
            return false;
        }
        return true;
    }

    bool remove(const T& e) override
    {
        Node* prev = nullptr;
        for (Node* n = head_; n; prev = n, n = n->next) {
            if (this->equal(n->value, e)) {
                return unlink(n, prev);
            }
        }
        return false;
    }

    bool remove_at(uint32_t pos) override
    {
        Node* prev = nullptr;
        Node* node = node_and_prev(pos, &prev);
        if (!node) {
            return false;
        }
        return unlink(node, prev);
    }

    bool find(const T& key, T* out = nullptr, uint32_t* pos = nullptr) const override
    {
        uint32_t i = 0;
        for (const Node* n = head_; n; n = n->next, ++i) {
            if (this->equal(n->value, key)) {
                if (out) {
                    *out = n->value;
                }
                if (pos) {
                    *pos = i;
                }
                return true;
            }
        }
        return false;
    }

    T& at(uint32_t i) override
    {
        Node* n = node_at(i);
        return n ? n->value : this->null_elem_;
    }
    const T& at(uint32_t i) const override
    {
        const Node* n = node_at(i);
        return n ? n->value : this->null_elem_;
    }

    const Node* head() const { return head_; }
    const Node* tail() const { return tail_; }

protected:
    // A node { next null, value e }; null when allocation fails.
    virtual Node* new_node(const T& e) { return new (std::nothrow) Node{nullptr, e}; }

    // pos > 0: *prev = node_at(pos-1), returns its next (null without *prev).
    // pos 0: *prev = null, returns head.
    virtual Node* node_and_prev(uint32_t pos, Node** prev) const
    {
        if (pos > 0) {
            *prev = node_at(pos - 1);
            return *prev ? (*prev)->next : nullptr;
        }
        *prev = nullptr;
        return head_;
    }

    // Follows next from head i times; null when the list is shorter.
    virtual Node* node_at(uint32_t i) const
    {
        Node* n = head_;
        while (n && i > 0) {
            n = n->next;
            --i;
        }
        return n;
    }

    // Links node after `after`, or at the head without it.
    virtual bool link(Node* node, Node* after)
    {
        if (!node) {
            return false;
        }
        if (after) {
            node->next = after->next;
            after->next = node;
        } else {
            node->next = head_;
            head_ = node;
        }
        if (!tail_ || !node->next) {
            tail_ = node;
        }
        ++this->count_;
        return true;
    }

    // Takes node (whose predecessor is prev, null at the head) out and
    // deletes it.
    virtual bool unlink(Node* node, Node* prev)
    {
        if (!node) {
            return false;
        }
        if (prev) {
            prev->next = node->next;
        } else {
            head_ = node->next;
        }
        if (node == tail_) {
            tail_ = prev;
        }
        --this->count_;
        delete node;
        return true;
    }

    void free_nodes()
    {
        Node* n = head_;
        while (n) {
            Node* next = n->next;
            delete n;
            n = next;
        }
        head_ = nullptr;
        tail_ = nullptr;
        this->count_ = 0;
    }

    Node* head_;
    Node* tail_;
};

// ---------------------------------------------------------------------------
// KV_MapValEntry<K, V>: key and value pair of a hash-map bucket. Entries are
// equal and ordered by their keys only.
// ---------------------------------------------------------------------------
template <class K, class V> struct KV_MapValEntry
{
    K key{};
    V value{};

    friend bool operator==(const KV_MapValEntry& a, const KV_MapValEntry& b)
    {
        return a.key == b.key;
    }
    friend bool operator<(const KV_MapValEntry& a, const KV_MapValEntry& b)
    {
        return a.key < b.key;
    }
};

// ---------------------------------------------------------------------------
// KV_HMapVal<K, V>: hash map from a 32-bit unsigned key to a value: a pointer
// list of 512 KV_SListVal buckets; a key's bucket is key % 512.
//
// As a list, the map's size() and at(i) are those of the bucket list (512 and
// bucket i); the number of pairs is entries(). The map operations find, add
// and remove by key are not virtual.
//
// add() does not check for an existing key: a second add of a key stores a
// second entry that find never reaches while the first exists.
//
// clear() (the list's) deletes every bucket, so every later add fails: owners
// call it only when they are being destroyed. remove_all() empties the
// buckets and keeps the map usable.
// ---------------------------------------------------------------------------
template <class K, class V> class KV_HMapVal : public KV_ListPtr<KV_SListVal<KV_MapValEntry<K, V>>>
{
public:
    using Entry = KV_MapValEntry<K, V>;
    using Bucket = KV_SListVal<Entry>;
    static constexpr uint32_t bucket_count = 512;

    KV_HMapVal() : entries_(0)
    {
        Buckets::set_grow(256);
        for (uint32_t i = 0; i < bucket_count; ++i) {
            Bucket* b = new (std::nothrow) Bucket;
            if (b && !Buckets::add(b)) {
                delete b;
            }
        }
    }
    ~KV_HMapVal() override { KV_HMapVal::clear(); }

    // The stored value of key, or V() (a null pointer) when there is none.
    V find(const K& key) const
    {
        V value{};
        find(key, &value);
        return value;
    }

    // Whether key is stored; copies its value to *out when out is not null.
    bool find(const K& key, V* out) const
    {
        const Bucket* b = bucket(key);
        Entry found;
        if (!b || !b->find(Entry{key, V{}}, &found, nullptr)) {
            return false;
        }
        if (out) {
            *out = found.value;
        }
        return true;
    }

    bool contains(const K& key) const { return find(key, nullptr); }

    // Appends { key, value } to the key's bucket.
    bool add(const K& key, const V& value)
    {
        Bucket* b = bucket(key);
        if (!b || !b->add(Entry{key, value})) {
            return false;
        }
        ++entries_;
        return true;
    }

    // Removes the first entry of key.
    bool remove(const K& key)
    {
        Bucket* b = bucket(key);
        uint32_t pos = 0;
        if (!b || !b->find(Entry{key, V{}}, nullptr, &pos) || !b->remove_at(pos)) {
            return false;
        }
        --entries_;
        return true;
    }

    // Clears and deletes every bucket and frees the bucket array.
    void clear() override
    {
        for (uint32_t i = 0; i < this->count_; ++i) {
            Bucket* b = this->data_[i];
            if (b) {
                b->clear();
                delete b;
            }
        }
        Buckets::clear();
        entries_ = 0;
    }

    // Empties every bucket; the buckets stay.
    void remove_all()
    {
        for (uint32_t i = 0; i < this->count_; ++i) {
            if (this->data_[i]) {
                this->data_[i]->clear();
            }
        }
        entries_ = 0;
    }

    // Number of key and value pairs in all buckets.
    uint32_t entries() const { return entries_; }

    // Bucket index of key (0 without buckets); not below size() means the
    // key has no bucket.
    uint32_t bucket_index(const K& key) const
    {
        uint32_t n = this->count_;
        return n ? static_cast<uint32_t>(key) % n : 0;
    }

protected:
    using Buckets = KV_ListPtr<Bucket>;

    Bucket* bucket(const K& key) const
    {
        uint32_t i = bucket_index(key);
        return i < this->count_ ? this->data_[i] : nullptr;
    }

    uint32_t entries_;

    // The bucket-level list operations stay reachable through the list base;
    // on the map itself the key operations above are meant.
    using Buckets::add;
    using Buckets::find;
    using Buckets::remove;
};

// ---------------------------------------------------------------------------
// KV_HMapPtr<K, V>: a KV_HMapVal<K, V*> whose values are objects owned by the
// map's owner. remove(key) deletes the value. Before destroying the map the
// owner deletes every value (delete_all(), or a walk with KV_HMapPtrIterator)
// and then calls clear(); the map's destructor never deletes values.
// ---------------------------------------------------------------------------
template <class K, class V> class KV_HMapPtr : public KV_HMapVal<K, V*>
{
    using Base = KV_HMapVal<K, V*>;

public:
    using typename Base::Bucket;
    using typename Base::Entry;

    // Takes the first entry of key out of its bucket, then deletes its value.
    bool remove(const K& key)
    {
        Bucket* b = this->bucket(key);
        Entry found;
        uint32_t pos = 0;
        if (!b || !b->find(Entry{key, nullptr}, &found, &pos) || !b->remove_at(pos)) {
            return false;
        }
        delete found.value;
        --this->entries_;
        return true;
    }

    // Deletes every value and empties every bucket; the buckets stay.
    void delete_all()
    {
        for (uint32_t i = 0; i < this->count_; ++i) {
            Bucket* b = this->data_[i];
            if (!b) {
                continue;
            }
            for (const typename Bucket::Node* n = b->head(); n; n = n->next) {
                delete n->value.value;
            }
            b->clear();
        }
        this->entries_ = 0;
    }

private:
    using Base::Buckets::remove;
};

// ---------------------------------------------------------------------------
// Iterators. Every iterator is constructed on a list (which may be null) and
// must be positioned with first() before end(), current() or next() are used.
// Virtual table order: first, end, next(int), skip(n), current.
// The argument of next is not used; skip(n) calls next(0) n times.
// An iterator is invalid once its list changes (except through the
// iterator's own index on array lists, which the owner may adjust).
// ---------------------------------------------------------------------------
template <class T> class KV_ListBaseIterator
{
public:
    KV_ListBaseIterator() = default;
    KV_ListBaseIterator(const KV_ListBaseIterator&) = default;
    KV_ListBaseIterator& operator=(const KV_ListBaseIterator&) = default;
    virtual ~KV_ListBaseIterator() = default;

    virtual void first() = 0;
    virtual bool end() const = 0;
    virtual void next(int step = 0) = 0;
    virtual void skip(uint32_t n)
    {
        while (n-- > 0) {
            next(0);
        }
    }
    virtual const T& current() const = 0;
};

// Index walk over any list (intended for array lists: at(i) is O(1) there).
template <class T> class KV_ListValIterator : public KV_ListBaseIterator<T>
{
public:
    explicit KV_ListValIterator(const KV_ListBase<T>* list = nullptr)
        : null_elem_(), list_(list), index_(0)
    {
    }
    explicit KV_ListValIterator(const KV_ListBase<T>& list) : KV_ListValIterator(&list) {}

    void first() override { index_ = 0; }
    bool end() const override { return !list_ || index_ >= list_->size(); }
    void next(int step = 0) override
    {
        (void)step;
        if (list_ && index_ < list_->size()) {
            ++index_;
        }
    }
    // list.at(index) (the list's null element past the end), or the
    // iterator's own null element without a list.
    const T& current() const override { return list_ ? list_->at(index_) : null_elem_; }

    uint32_t index() const { return index_; }

protected:
    T null_elem_;
    const KV_ListBase<T>* list_;
    uint32_t index_;
};

template <class T> class KV_ListValSrtIterator : public KV_ListValIterator<T>
{
public:
    using KV_ListValIterator<T>::KV_ListValIterator;
};

// Iterator It (a KV_ListValIterator over pointers) constructed on list type L.
template <class It, class L> class KV_ListPtrBaseIterator : public It
{
public:
    using It::It;
    explicit KV_ListPtrBaseIterator(const L* list) : It(list) {}
    explicit KV_ListPtrBaseIterator(const L& list) : It(&list) {}
};

template <class T>
class KV_ListPtrIterator : public KV_ListPtrBaseIterator<KV_ListValIterator<T*>, KV_ListPtr<T>>
{
    using Base = KV_ListPtrBaseIterator<KV_ListValIterator<T*>, KV_ListPtr<T>>;

public:
    using Base::Base;
};

template <class T> class KV_SListValIterator : public KV_ListBaseIterator<T>
{
public:
    using Node = typename KV_SListVal<T>::Node;

    explicit KV_SListValIterator(const KV_SListVal<T>* list = nullptr)
        : null_elem_(), list_(list), node_(nullptr)
    {
    }
    explicit KV_SListValIterator(const KV_SListVal<T>& list) : KV_SListValIterator(&list) {}

    void first() override { node_ = list_ ? list_->head() : nullptr; }
    bool end() const override { return !list_ || !node_; }
    void next(int step = 0) override
    {
        (void)step;
        if (node_) {
            node_ = node_->next;
        }
    }
    const T& current() const override { return node_ ? node_->value : null_elem_; }

    // Binds the iterator to another list (null for none); call first() next.
    void set_list(const KV_SListVal<T>* list)
    {
        list_ = list;
        node_ = nullptr;
    }
    const KV_SListVal<T>* list() const { return list_; }

protected:
    T null_elem_;
    const KV_SListVal<T>* list_;
    const Node* node_;
};

// Walks all entries of a map bucket by bucket (bucket order, then insertion
// order), skipping empty buckets. current() is the inherited one and returns
// the current bucket; the current entry is entry(), key(), value().
template <class K, class V>
class KV_HMapValIterator : public KV_ListPtrIterator<KV_SListVal<KV_MapValEntry<K, V>>>
{
    using Base = KV_ListPtrIterator<KV_SListVal<KV_MapValEntry<K, V>>>;

public:
    using Entry = KV_MapValEntry<K, V>;
    using Bucket = KV_SListVal<Entry>;

    explicit KV_HMapValIterator(const KV_HMapVal<K, V>* map = nullptr) : Base(map), bucket_it_() {}
    explicit KV_HMapValIterator(const KV_HMapVal<K, V>& map) : KV_HMapValIterator(&map) {}

    void first() override
    {
        this->index_ = 0;
        bind_bucket();
        settle();
    }

    // True only when the bucket index is past the last bucket and the bucket
    // iterator is at its end.
    bool end() const override { return Base::end() && bucket_it_.end(); }

    void next(int step = 0) override
    {
        (void)step;
        advance();
        settle();
    }

    const Entry& entry() const { return bucket_it_.current(); }
    const K& key() const { return bucket_it_.current().key; }
    const V& value() const { return bucket_it_.current().value; }

protected:
    // Binds bucket_it_ to the bucket at index_ and positions it on its first
    // node; unbinds it when index_ is not a valid bucket.
    void bind_bucket()
    {
        if (this->list_ && this->index_ < this->list_->size()) {
            bucket_it_.set_list(this->list_->at(this->index_));
            bucket_it_.first();
        } else {
            bucket_it_.set_list(nullptr);
        }
    }

    void advance()
    {
        if (bucket_it_.end()) {
            if (this->list_ && this->index_ < this->list_->size()) {
                ++this->index_;
            }
            bind_bucket();
        } else {
            bucket_it_.next(0);
        }
    }

    // Stops at the end or on an entry; empty buckets are skipped.
    void settle()
    {
        while (!end() && bucket_it_.end()) {
            advance();
        }
    }

    KV_SListValIterator<Entry> bucket_it_;
};

template <class K, class V> class KV_HMapPtrIterator : public KV_HMapValIterator<K, V*>
{
    using Base = KV_HMapValIterator<K, V*>;

public:
    explicit KV_HMapPtrIterator(const KV_HMapPtr<K, V>* map = nullptr) : Base(map) {}
    explicit KV_HMapPtrIterator(const KV_HMapPtr<K, V>& map) : Base(&map) {}
};

} // namespace KVTL
