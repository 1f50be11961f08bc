// A set of node pointers for the journal's bookkeeping. A change over a whole document
// puts millions of nodes in such sets; the standard set allocates an entry for each and
// rehashes them as it grows, which took longer than the change itself. This one is an
// array, open addressing with linear probing, never more than half full. It grows into a
// table twice the size a few entries per insertion rather than all at once: moving four
// million entries in one go held a window for a tenth of a second.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <utility>

namespace treelark::detail {

// An array of pointers from calloc: the pages of a table of tens of megabytes come zeroed
// from the system as they are first used, instead of all being written when it is made.
template <class T> class PointerTable {
public:
    PointerTable() = default;
    explicit PointerTable(std::size_t n) : m_slots(static_cast<T**>(std::calloc(n, sizeof(T*)))), m_size(n)
    {
        if (!m_slots)
            throw std::bad_alloc();
    }
    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    T*& operator[](std::size_t i) { return m_slots.get()[i]; }
    T** begin() const { return m_slots.get(); }
    T** end() const { return m_slots.get() + m_size; }
    void swap(PointerTable& o) noexcept
    {
        std::swap(m_slots, o.m_slots);
        std::swap(m_size, o.m_size);
    }

private:
    struct Free {
        void operator()(T** p) const { std::free(p); }
    };
    std::unique_ptr<T*, Free> m_slots;
    std::size_t m_size = 0;
};

template <class T> class PointerSet {
public:
    // True when `p` was not in the set yet. Null is never stored.
    bool insert(T* p)
    {
        if (!p)
            return false;
        moveSome();
        if (contains(p))
            return false;
        if ((m_used + 1) * 2 > m_table.size())
            grow();
        slot(m_table, p) = p;
        ++m_size;
        ++m_used;
        return true;
    }
    // True when `p` was in the set. Its place stays taken (for the probes that pass it)
    // until the next growth.
    bool erase(T* p)
    {
        if (!p)
            return false;
        for (PointerTable<T>* table : {&m_table, &m_old}) {
            if (table->empty())
                continue;
            T*& s = slot(*table, p);
            if (s == p) {
                s = gone();
                --m_size;
                return true;
            }
        }
        return false;
    }
    template <class F> void forEach(F&& f) const
    {
        for (const PointerTable<T>* table : {&m_table, &m_old})
            for (T* p : *table)
                if (p && p != gone())
                    f(p);
    }
    bool contains(T* p) const
    {
        if (!p)
            return false;
        auto& self = const_cast<PointerSet&>(*this);
        return (!m_table.empty() && slot(self.m_table, p) == p) || (!m_old.empty() && slot(self.m_old, p) == p);
    }
    std::size_t size() const { return m_size; }
    void clear()
    {
        PointerTable<T>().swap(m_table);
        PointerTable<T>().swap(m_old);
        m_size = 0;
        m_used = 0;
        m_moved = 0;
    }

private:
    // An entry moved to the new table, or erased: still taken, for the probes that pass it.
    static T* gone() { return reinterpret_cast<T*>(std::uintptr_t(1)); }

    static T*& slot(PointerTable<T>& table, T* p)
    {
        const std::size_t mask = table.size() - 1;
        // Nodes are allocated 8 or 16 bytes apart: mix the bits before taking the low ones.
        std::size_t i = std::size_t((std::uintptr_t(p) >> 3) * 0x9E3779B97F4A7C15ull) & mask;
        while (table[i] && table[i] != p)
            i = (i + 1) & mask;
        return table[i];
    }
    void grow()
    {
        while (!m_old.empty())
            moveSome(); // (a table is always emptied long before the next one fills)
        m_old.swap(m_table);
        // erased entries are not moved: what is in use now is what is in the set
        PointerTable<T>(m_old.empty() ? 64 : (m_size * 4 > m_old.size() ? m_old.size() * 2 : m_old.size())).swap(m_table);
        m_used = m_size;
        m_moved = 0;
        if (m_old.empty())
            return;
        moveSome();
    }
    void moveSome()
    {
        if (m_old.empty())
            return;
        for (int n = 0; n < 16 && m_moved < m_old.size(); ++m_moved) {
            T*& p = m_old[m_moved];
            if (!p || p == gone())
                continue;
            slot(m_table, p) = p;
            p = gone();
            ++n;
        }
        if (m_moved == m_old.size())
            PointerTable<T>().swap(m_old);
    }

    PointerTable<T> m_table;
    PointerTable<T> m_old; // the table being emptied into m_table
    std::size_t m_moved = 0;
    std::size_t m_size = 0; // in the set
    std::size_t m_used = 0; // places taken in m_table, erased ones included
};

} // namespace treelark::detail
