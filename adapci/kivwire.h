// Byte-level access to the request blocks that cross the client library.
//
// Every block is a plain byte array laid out for a big-endian adapter. All
// fields are read and written here, at explicit offsets, so no code depends
// on the host's byte order, its pointer width or structure packing. An access
// that would fall outside the block aborts: it can only come from a wrong
// offset in our own code, and writing past a block is never acceptable.
#ifndef KIV_ADAPCI_KIVWIRE_H
#define KIV_ADAPCI_KIVWIRE_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <array>
#include <span>

namespace kiv::wire {

using Bytes = std::span<std::uint8_t>;
using ConstBytes = std::span<const std::uint8_t>;

constexpr void checkRange(std::size_t size, std::size_t offset, std::size_t width) {
  if (offset > size || width > size - offset) std::abort();
}

constexpr std::uint8_t get8(ConstBytes b, std::size_t off) {
  checkRange(b.size(), off, 1);
  return b[off];
}
constexpr void put8(Bytes b, std::size_t off, std::uint8_t v) {
  checkRange(b.size(), off, 1);
  b[off] = v;
}
constexpr std::uint16_t get16be(ConstBytes b, std::size_t off) {
  checkRange(b.size(), off, 2);
  return static_cast<std::uint16_t>((b[off] << 8) | b[off + 1]);
}
constexpr void put16be(Bytes b, std::size_t off, std::uint16_t v) {
  checkRange(b.size(), off, 2);
  b[off] = static_cast<std::uint8_t>(v >> 8);
  b[off + 1] = static_cast<std::uint8_t>(v);
}
constexpr std::uint32_t get32be(ConstBytes b, std::size_t off) {
  checkRange(b.size(), off, 4);
  return (std::uint32_t{b[off]} << 24) | (std::uint32_t{b[off + 1]} << 16) |
         (std::uint32_t{b[off + 2]} << 8) | std::uint32_t{b[off + 3]};
}
constexpr void put32be(Bytes b, std::size_t off, std::uint32_t v) {
  checkRange(b.size(), off, 4);
  b[off] = static_cast<std::uint8_t>(v >> 24);
  b[off + 1] = static_cast<std::uint8_t>(v >> 16);
  b[off + 2] = static_cast<std::uint8_t>(v >> 8);
  b[off + 3] = static_cast<std::uint8_t>(v);
}
constexpr std::uint64_t get64be(ConstBytes b, std::size_t off) {
  return (std::uint64_t{get32be(b, off)} << 32) | get32be(b, off + 4);
}
constexpr void put64be(Bytes b, std::size_t off, std::uint64_t v) {
  put32be(b, off, static_cast<std::uint32_t>(v >> 32));
  put32be(b, off + 4, static_cast<std::uint32_t>(v));
}
// The one little-endian word of the system: the service-mode word of the
// loop-map answer.
constexpr std::uint32_t get32le(ConstBytes b, std::size_t off) {
  checkRange(b.size(), off, 4);
  return std::uint32_t{b[off]} | (std::uint32_t{b[off + 1]} << 8) |
         (std::uint32_t{b[off + 2]} << 16) | (std::uint32_t{b[off + 3]} << 24);
}
constexpr void put32le(Bytes b, std::size_t off, std::uint32_t v) {
  checkRange(b.size(), off, 4);
  b[off] = static_cast<std::uint8_t>(v);
  b[off + 1] = static_cast<std::uint8_t>(v >> 8);
  b[off + 2] = static_cast<std::uint8_t>(v >> 16);
  b[off + 3] = static_cast<std::uint8_t>(v >> 24);
}

// Both block kinds share the 184-byte header size, the data area that follows
// it, and the 24-byte area descriptor.
constexpr std::size_t kHeaderSize = 184;
constexpr std::size_t kDataOffset = 184;


// A named stretch of a block: where it starts and how many bytes it holds.
struct Field {
  std::size_t offset;
  std::size_t width;
};

// The offset of the first nonzero byte in [from, to) that lies in none of
// the given fields, or `to` when there is none: a layout check of the bytes
// that a block leaves at zero.
constexpr std::size_t firstStrayByte(ConstBytes b, std::size_t from, std::size_t to,
                                     std::span<const Field> valued) {
  for (std::size_t i = from; i < to && i < b.size(); ++i) {
    bool named = false;
    for (const Field& f : valued) named = named || (i >= f.offset && i - f.offset < f.width);
    if (!named && b[i] != 0) return i;
  }
  return to;
}

// The 24-byte descriptor of one data area; four stand in a row in every
// block. Offsets count from the data area.
namespace AreaDescriptor {
constexpr std::size_t kSize = 24;
constexpr std::size_t kKind = 0;
constexpr std::size_t kOffset = 16;
constexpr std::size_t kLength = 20;
constexpr std::size_t kCount = 4;
constexpr std::uint8_t kAreaPresent = 8;
constexpr std::uint8_t kNoArea = 1;
// Every other byte of a descriptor is zero.
constexpr std::array<Field, 3> kValuedFields{{{kKind, 1}, {kOffset, 4}, {kLength, 4}}};
}  // namespace AreaDescriptor

struct Area {
  std::uint8_t kind;
  std::uint32_t offset;
  std::uint32_t length;
  friend constexpr bool operator==(const Area&, const Area&) = default;
};

constexpr void putArea(Bytes block, std::size_t at, Area a) {
  checkRange(block.size(), at, AreaDescriptor::kSize);
  put8(block, at + AreaDescriptor::kKind, a.kind);
  put32be(block, at + AreaDescriptor::kOffset, a.offset);
  put32be(block, at + AreaDescriptor::kLength, a.length);
}
constexpr Area getArea(ConstBytes block, std::size_t at) {
  checkRange(block.size(), at, AreaDescriptor::kSize);
  return Area{get8(block, at + AreaDescriptor::kKind),
              get32be(block, at + AreaDescriptor::kOffset),
              get32be(block, at + AreaDescriptor::kLength)};
}
using Areas = std::array<Area, AreaDescriptor::kCount>;

// The four descriptors of a block, in a row from offset at.
constexpr void putAreas(Bytes block, std::size_t at, const Areas& areas) {
  for (std::size_t i = 0; i < areas.size(); ++i) putArea(block, at + i * AreaDescriptor::kSize, areas[i]);
}
constexpr Areas getAreas(ConstBytes block, std::size_t at) {
  Areas areas{};
  for (std::size_t i = 0; i < areas.size(); ++i) areas[i] = getArea(block, at + i * AreaDescriptor::kSize);
  return areas;
}

constexpr Area presentArea(std::uint32_t offset, std::uint32_t length) {
  return Area{AreaDescriptor::kAreaPresent, offset, length};
}
constexpr Area noArea() { return Area{AreaDescriptor::kNoArea, 0, 0}; }

}  // namespace kiv::wire

#endif
