// TSet: a set over an enumeration of at most 64 members, stored as bits
// (member n has the bit value 1 << n), as the system's option sets are.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <type_traits>

namespace delvan {

template <class E>
class TSet {
  static_assert(std::is_enum_v<E>);

 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> members) {
    for (E m : members) Include(m);
  }
  static constexpr TSet FromBits(std::uint64_t bits) {
    TSet s;
    s.FBits = bits;
    return s;
  }

  constexpr std::uint64_t Bits() const { return FBits; }
  constexpr bool Contains(E m) const { return (FBits & Bit(m)) != 0; }
  constexpr bool IsEmpty() const { return FBits == 0; }
  constexpr TSet& Include(E m) {
    FBits |= Bit(m);
    return *this;
  }
  constexpr TSet& Exclude(E m) {
    FBits &= ~Bit(m);
    return *this;
  }
  constexpr TSet& Set(E m, bool on) { return on ? Include(m) : Exclude(m); }

  friend constexpr TSet operator|(TSet a, TSet b) { return FromBits(a.FBits | b.FBits); }
  friend constexpr TSet operator&(TSet a, TSet b) { return FromBits(a.FBits & b.FBits); }
  friend constexpr TSet operator-(TSet a, TSet b) { return FromBits(a.FBits & ~b.FBits); }
  friend constexpr bool operator==(TSet, TSet) = default;

 private:
  static constexpr std::uint64_t Bit(E m) {
    return std::uint64_t{1} << static_cast<unsigned>(static_cast<std::underlying_type_t<E>>(m));
  }
  std::uint64_t FBits = 0;
};

}  // namespace delvan
