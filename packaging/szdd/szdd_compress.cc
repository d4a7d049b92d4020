#include "packaging/szdd/szdd_compress.h"

#include <array>
#include <cstdint>
#include <vector>

namespace szdd {

namespace {

constexpr size_t kWindow = 4096;
constexpr size_t kStart = 4096 - 16;  // where the decompressor writes first
constexpr size_t kMinMatch = 3;
constexpr size_t kMaxMatch = 18;
constexpr size_t kHashBits = 14;
constexpr int kMaxChain = 48;  // enough for a good ratio, cheap on large programs

size_t Hash3(const unsigned char* p) {
  const uint32_t v = (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
  return (v * 2654435761u) >> (32 - kHashBits);
}

// Group of one flag byte and up to eight items, written out when full.
class GroupWriter {
 public:
  explicit GroupWriter(std::string* out) : out_(out) {}
  void Literal(unsigned char c) {
    flags_ |= static_cast<unsigned char>(1u << count_);
    items_[used_++] = c;
    Next();
  }
  void Reference(size_t windowPos, size_t length) {
    items_[used_++] = static_cast<unsigned char>(windowPos & 0xFF);
    items_[used_++] = static_cast<unsigned char>(((windowPos >> 4) & 0xF0) | (length - kMinMatch));
    Next();
  }
  void Flush() {
    if (count_ == 0) return;
    out_->push_back(static_cast<char>(flags_));
    out_->append(reinterpret_cast<const char*>(items_.data()), used_);
    flags_ = 0;
    count_ = used_ = 0;
  }

 private:
  void Next() {
    if (++count_ == 8) Flush();
  }
  std::string* out_;
  unsigned char flags_ = 0;
  int count_ = 0;
  size_t used_ = 0;
  std::array<unsigned char, 16> items_{};
};

}  // namespace

std::string Compress(std::string_view text, char missingChar) {
  const auto* data = reinterpret_cast<const unsigned char*>(text.data());
  const size_t size = text.size();
  std::string out = std::string("SZDD\x88\xF0\x27\x33", 8) + 'A' + missingChar;
  const uint32_t length = static_cast<uint32_t>(size);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((length >> (8 * i)) & 0xFF));

  // head[h]: last input offset with that hash, prev[offset % window]: the one before.
  std::vector<int64_t> head(size_t{1} << kHashBits, -1);
  std::vector<int64_t> prev(kWindow, -1);
  auto insert = [&](size_t at) {
    if (at + kMinMatch > size) return;
    const size_t h = Hash3(data + at);
    prev[at % kWindow] = head[h];
    head[h] = static_cast<int64_t>(at);
  };

  GroupWriter writer(&out);
  size_t cur = 0;
  while (cur < size) {
    size_t bestLength = 0, bestFrom = 0;
    if (cur + kMinMatch <= size) {
      const size_t limit = std::min(kMaxMatch, size - cur);
      int64_t candidate = head[Hash3(data + cur)];
      // A reference may reach back a whole window: the slot it reads is
      // overwritten only after it was read.
      for (int chain = 0; candidate >= 0 && chain < kMaxChain; ++chain) {
        const auto from = static_cast<size_t>(candidate);
        if (from + kWindow - 1 < cur) break;
        size_t n = 0;
        while (n < limit && data[from + n] == data[cur + n]) ++n;
        if (n > bestLength) {
          bestLength = n;
          bestFrom = from;
          if (n == limit) break;
        }
        const int64_t next = prev[from % kWindow];
        if (next >= candidate) break;  // the slot was reused by a newer offset
        candidate = next;
      }
    }
    if (bestLength >= kMinMatch) {
      writer.Reference((kStart + bestFrom) % kWindow, bestLength);
      for (size_t i = 0; i < bestLength; ++i) insert(cur + i);
      cur += bestLength;
    } else {
      writer.Literal(data[cur]);
      insert(cur);
      ++cur;
    }
  }
  writer.Flush();
  return out;
}

std::string CompressedName(std::string_view name) {
  std::string out(name);
  const size_t dot = out.rfind('.');
  if (dot == std::string::npos) return out + "._";
  if (dot + 1 == out.size()) return out + "_";
  if (out.size() - dot - 1 < 3) return out + "_";
  out.back() = '_';
  return out;
}

}  // namespace szdd
