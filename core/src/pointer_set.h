// A set of node pointers for the journal's bookkeeping. A change over a whole document
// puts millions of nodes in such sets; the standard set allocates an entry for each and
// rehashes them as it grows, which took longer than the change itself. This one is a
// single array, open addressing with linear probing, never more than half full.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace treelark::detail {

template <class T> class PointerSet {
public:
    // True when `p` was not in the set yet. Null is never stored.
    bool insert(T* p)
    {
        if (!p)
            return false;
        if ((m_size + 1) * 2 > m_slots.size())
            grow();
        T*& slot = find(m_slots, p);
        if (slot)
            return false;
        slot = p;
        ++m_size;
        return true;
    }
    bool contains(T* p) const
    {
        return p && !m_slots.empty() && find(const_cast<std::vector<T*>&>(m_slots), p) == p;
    }
    std::size_t size() const { return m_size; }
    void clear()
    {
        std::vector<T*>().swap(m_slots);
        m_size = 0;
    }

private:
    static T*& find(std::vector<T*>& table, T* p)
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
        std::vector<T*> bigger(m_slots.empty() ? 64 : m_slots.size() * 2, nullptr);
        for (T* p : m_slots)
            if (p)
                find(bigger, p) = p;
        m_slots.swap(bigger);
    }

    std::vector<T*> m_slots;
    std::size_t m_size = 0;
};

} // namespace treelark::detail
