// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A small set of enumeration members, stored as bits: bit n is the member with ordinal n.
// A plain value type; not synchronised.

#include <cstdint>
#include <initializer_list>
#include <type_traits>

namespace cport {

template <typename E, typename Storage = std::uint32_t>
// A set of the members of enumeration E, held as bits of Storage (member n is bit n).
class Set {
    static_assert(std::is_enum_v<E>, "Set holds enumeration members");

public:
    using StorageType = Storage; // the bit word

    constexpr Set() = default;
    // The set of these members.
    constexpr Set(std::initializer_list<E> members)
    {
        for (E e : members) Include(e);
    }
    // The set whose bits are `bits`.
    static constexpr Set FromBits(Storage bits)
    {
        Set s;
        s.m_bits = bits;
        return s;
    }

    constexpr bool Contains(E e) const { return (m_bits & Bit(e)) != 0; }            // true when `e` is in the set
    constexpr void Include(E e) { m_bits = static_cast<Storage>(m_bits | Bit(e)); }  // adds `e`
    constexpr void Exclude(E e) { m_bits = static_cast<Storage>(m_bits & ~Bit(e)); } // removes `e`
    constexpr bool Empty() const { return m_bits == 0; } // true when no member is in the set
    constexpr Storage Bits() const { return m_bits; }    // the set as bits

    // The union of two sets.
    friend constexpr Set operator|(Set a, Set b) { return FromBits(static_cast<Storage>(a.m_bits | b.m_bits)); }
    // The intersection of two sets.
    friend constexpr Set operator&(Set a, Set b) { return FromBits(static_cast<Storage>(a.m_bits & b.m_bits)); }
    friend constexpr bool operator==(Set a, Set b) { return a.m_bits == b.m_bits; } // the same members

private:
    static constexpr Storage Bit(E e) { return static_cast<Storage>(Storage{1} << static_cast<unsigned>(e)); }
    Storage m_bits = 0;
};

} // namespace cport
