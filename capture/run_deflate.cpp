// Run-and-literal deflate for filtered PNG rows.
#include "capture/run_deflate.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

namespace {

constexpr int LitLenSymbols = 286;  // 0-255 literals, 256 end of block, 257-285 lengths
constexpr int EndOfBlock = 256;
constexpr int MaxCodeBits = 15;  // deflate's limit
// This coder's limit for literal and length codes: four literals then fit
// the bit writer between drains. Only symbols rarer than about 1 in 4,000
// would be longer, so the cost in size is a few bytes.
constexpr int MaxLitLenBits = 12;
constexpr int MaxCodeLengthBits = 7;  // the code that codes the code lengths
constexpr size_t MaxMatch = 258;
constexpr size_t StoredBlockBytes = 65535;

constexpr uint16_t LengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                     31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t LengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
// The order in which the header lists the code-length code's lengths.
constexpr uint8_t CodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Length code (0-28, symbol 257 + it) of every match length 3-258.
struct LengthCodes {
  std::array<uint8_t, MaxMatch + 1> code{};
  constexpr LengthCodes() {
    for (int c = 0; c < 29; ++c) {
      const int last = c == 28 ? 258 : c == 27 ? 257 : LengthBase[c + 1] - 1;
      for (int len = LengthBase[c]; len <= last; ++len) code[static_cast<size_t>(len)] = static_cast<uint8_t>(c);
    }
  }
};
constexpr LengthCodes Lengths;

// The run finder and the bit writer read and store words as little-endian.
static_assert(std::endian::native == std::endian::little);

uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// A run of one byte value: `start` is its first byte (sent as a literal),
// the `length` - 1 bytes after it go as matches at distance 1.
struct Run {
  size_t start, length;
};

// The runs of at least 9 equal bytes, in order (a shorter run stays
// literals: a match costs a length code and its extra bits, about 6 to 12
// bits here, where a zero costs 1 to 2). Eight neighbour pairs are compared
// at a time (a word against the word one byte on); only 9 equal bytes from
// such a word on start a run, which is then followed back and forth a word
// at a time. A run of 9-15 bytes can straddle two words and be missed; it
// then goes as literals, which costs a few bits.
void FindRuns(const uint8_t* in, size_t n, std::vector<Run>* runs) {
  runs->clear();
  size_t done = 0;  // bytes before this belong to an earlier run
  size_t i = 0;
  while (i + 9 <= n) {
    if ((Load64(in + i) ^ Load64(in + i + 1)) != 0) {
      i += 8;
      continue;
    }
    const uint8_t c = in[i];
    const uint64_t pattern = 0x0101010101010101ull * c;
    // Back a word at a time: the highest byte that differs ends the search.
    size_t start = i;
    while (start >= done + 8) {
      const uint64_t differ = Load64(in + start - 8) ^ pattern;
      if (differ != 0) {
        start -= static_cast<size_t>(std::countl_zero(differ)) / 8;
        break;
      }
      start -= 8;
    }
    if (start < done + 8)
      while (start > done && in[start - 1] == c) --start;
    // On a word at a time: the lowest byte that differs ends the run.
    size_t end = i + 9;
    while (end + 8 <= n) {
      const uint64_t differ = Load64(in + end) ^ pattern;
      if (differ != 0) {
        end += static_cast<size_t>(std::countr_zero(differ)) / 8;
        break;
      }
      end += 8;
    }
    if (end + 8 > n)
      while (end < n && in[end] == c) ++end;
    runs->push_back({start, end - start});
    done = end;
    i = end;
  }
}

// Counts of each byte value, estimated from one 64-byte block in four (all
// bytes of a short input), scaled to the whole. The counts only shape the
// code: every literal gets a code whatever its count, so a byte the sample
// missed costs bits, never correctness. Four tables, so that a byte that
// repeats the one before does not wait for that count's store.
void ByteCounts(const uint8_t* in, size_t n, uint32_t* counts) {
  uint32_t part[4][256] = {};
  uint32_t scale = 1;
  auto count = [&](const uint8_t* p, size_t len) {
    size_t k = 0;
    for (; k + 4 <= len; k += 4) {
      ++part[0][p[k]];
      ++part[1][p[k + 1]];
      ++part[2][p[k + 2]];
      ++part[3][p[k + 3]];
    }
    for (; k < len; ++k) ++part[0][p[k]];
  };
  if (n < 16384) {
    count(in, n);
  } else {
    scale = 4;
    for (size_t b = 0; b + 64 <= n; b += 256) count(in + b, 64);
  }
  for (int c = 0; c < 256; ++c) counts[c] = scale * (part[0][c] + part[1][c] + part[2][c] + part[3][c]);
}

// The match lengths that cover `rest` bytes: 258 each, the last two split
// so that no piece is under 3 bytes; a remainder of 1-2 bytes is left over
// (sent as literals). Calls match(length) for each.
template <class Match>
size_t SplitMatches(size_t rest, Match match) {
  while (rest >= 3) {
    size_t len = std::min(rest, MaxMatch);
    if (rest - len > 0 && rest - len < 3) len = rest - 3;
    match(len);
    rest -= len;
  }
  return rest;
}

// Code lengths of an order-0 Huffman code for `count` symbols, none longer
// than `limit` bits. A symbol that never occurs gets no code. When fewer than
// two symbols occur, two get 1-bit codes so that the code is complete (zlib
// refuses an incomplete code for the code lengths). When the tree is too
// deep, the counts are halved (a count stays at least 1) and it is rebuilt.
void HuffmanLengths(const uint32_t* freq, int count, int limit, uint8_t* lengths) {
  std::fill(lengths, lengths + count, uint8_t{0});
  std::array<int, LitLenSymbols> used;  // the symbols that occur, rarest first
  size_t leaves = 0;
  for (int s = 0; s < count; ++s)
    if (freq[s] > 0) used[leaves++] = s;
  if (leaves < 2) {
    const int first = leaves == 0 ? 0 : used[0];
    lengths[first] = 1;
    lengths[first == 0 ? 1 : 0] = 1;
    return;
  }
  std::sort(used.begin(), used.begin() + static_cast<std::ptrdiff_t>(leaves),
            [&](int a, int b) { return freq[a] < freq[b] || (freq[a] == freq[b] && a < b); });
  // Nodes 0..leaves-1 are the leaves in that order, the rest inner nodes.
  std::array<uint64_t, 2 * LitLenSymbols> weight;
  std::array<uint16_t, 2 * LitLenSymbols> parent;
  std::array<uint8_t, 2 * LitLenSymbols> depth;
  for (size_t k = 0; k < leaves; ++k) weight[k] = freq[used[k]];
  for (;;) {
    // Two queues: the sorted leaves, and the inner nodes in the order made
    // (their weights never decrease).
    size_t nextLeaf = 0, nextInner = leaves, made = leaves;
    auto take = [&]() {
      if (nextLeaf < leaves && (nextInner == made || weight[nextLeaf] <= weight[nextInner])) return nextLeaf++;
      return nextInner++;
    };
    while (made < 2 * leaves - 1) {
      const size_t a = take(), b = take();
      weight[made] = weight[a] + weight[b];
      parent[a] = parent[b] = static_cast<uint16_t>(made);
      ++made;
    }
    const size_t root = made - 1;
    depth[root] = 0;
    int deepest = 0;
    for (size_t k = root; k-- > 0;) {  // parents come after their children
      depth[k] = static_cast<uint8_t>(depth[parent[k]] + 1);
      if (k < leaves) deepest = std::max<int>(deepest, depth[k]);
    }
    if (deepest <= limit) {
      for (size_t k = 0; k < leaves; ++k) lengths[used[k]] = depth[k];
      return;
    }
    // Halving keeps the leaves in order, so they need no sorting again.
    for (size_t k = 0; k < leaves; ++k) weight[k] = (weight[k] + 1) / 2;
  }
}

// Canonical codes for the lengths, bit-reversed: deflate sends a Huffman
// code's first bit first, into a stream packed from each byte's low bit.
void CanonicalCodes(const uint8_t* lengths, int count, uint16_t* codes) {
  int lengthCount[MaxCodeBits + 1] = {};
  for (int s = 0; s < count; ++s) ++lengthCount[lengths[s]];
  lengthCount[0] = 0;
  int next[MaxCodeBits + 2] = {};
  for (int bits = 1, code = 0; bits <= MaxCodeBits; ++bits) {
    code = (code + lengthCount[bits - 1]) << 1;
    next[bits] = code;
  }
  for (int s = 0; s < count; ++s) {
    const int len = lengths[s];
    if (len == 0) {
      codes[s] = 0;
      continue;
    }
    unsigned code = static_cast<unsigned>(next[len]++), reversed = 0;
    for (int b = 0; b < len; ++b, code >>= 1) reversed = (reversed << 1) | (code & 1);
    codes[s] = static_cast<uint16_t>(reversed);
  }
}

// Bits into bytes, low bit first. Drain stores a whole word and moves on by
// the whole bytes in it, so the output needs 8 bytes of room past its end.
// Put at most 56 bits between drains.
struct BitWriter {
  uint8_t* out;
  uint64_t bits = 0;
  int held = 0;  // bits held, under 8 after a drain
  void Put(uint64_t value, int n) {
    bits |= value << held;
    held += n;
  }
  void Drain() {
    std::memcpy(out, &bits, 8);  // little-endian, as x86 and ARM store
    out += held >> 3;
    bits >>= held & ~7;  // Put takes at most 56 bits between drains
    held &= 7;
  }
  void PutDrained(uint64_t value, int n) {
    Put(value, n);
    Drain();
  }
  // `count` literals, each coded by code[byte] (the code in the low 16 bits,
  // its length above), four at a time (at most 48 bits) between drains. The
  // state is held in locals: stores through `out` could alias the members,
  // which would make the compiler keep them in memory.
  void PutLiterals(const uint8_t* from, size_t count, const uint32_t* code) {
    uint64_t b = bits;
    int c = held;
    uint8_t* o = out;
    auto put = [&](uint8_t byte) {
      const uint32_t entry = code[byte];
      b |= static_cast<uint64_t>(entry & 0xFFFF) << c;
      c += static_cast<int>(entry >> 16);
    };
    auto drain = [&] {
      std::memcpy(o, &b, 8);
      o += c >> 3;
      b >>= c & ~7;  // at most 48 + 7 bits are held, so the shift is under 64
      c &= 7;
    };
    size_t k = 0;
    for (; k + 4 <= count; k += 4) {
      put(from[k]);
      put(from[k + 1]);
      put(from[k + 2]);
      put(from[k + 3]);
      drain();
    }
    for (; k < count; ++k) {
      put(from[k]);
      drain();
    }
    bits = b;
    held = c;
    out = o;
  }
};

// The code lengths of both alphabets as the header sends them: each length
// a symbol 0-15, runs as 16 (repeat the last 3-6 times), 17 (3-10 zeros) or
// 18 (11-138 zeros), each with its extra bits.
struct LengthRun {
  uint8_t symbol, extra, extraBits;
};
std::vector<LengthRun> RunLengthCode(const uint8_t* lengths, size_t n) {
  std::vector<LengthRun> out;
  for (size_t i = 0; i < n;) {
    const uint8_t len = lengths[i];
    size_t run = 1;
    while (i + run < n && lengths[i + run] == len) ++run;
    size_t left = run;
    if (len == 0) {
      while (left >= 11) {
        const size_t k = std::min<size_t>(left, 138);
        out.push_back({18, static_cast<uint8_t>(k - 11), 7});
        left -= k;
      }
      if (left >= 3) {
        out.push_back({17, static_cast<uint8_t>(left - 3), 3});
        left = 0;
      }
    } else {
      out.push_back({len, 0, 0});
      --left;
      while (left >= 3) {
        const size_t k = std::min<size_t>(left, 6);
        out.push_back({16, static_cast<uint8_t>(k - 3), 2});
        left -= k;
      }
    }
    for (; left > 0; --left) out.push_back({len, 0, 0});
    i += run;
  }
  return out;
}

size_t StoredSize(size_t n) { return n + 5 * std::max<size_t>(1, (n + StoredBlockBytes - 1) / StoredBlockBytes); }

uint8_t* WriteStored(const uint8_t* in, size_t n, uint8_t* out) {
  do {
    const size_t len = std::min(n, StoredBlockBytes);
    *out++ = n == len ? 1 : 0;  // BFINAL on the last block, type 00
    out[0] = static_cast<uint8_t>(len);
    out[1] = static_cast<uint8_t>(len >> 8);
    out[2] = static_cast<uint8_t>(~len);
    out[3] = static_cast<uint8_t>(~len >> 8);
    if (len > 0) std::memcpy(out + 4, in, len);  // an empty input may come as a null pointer
    out += 4 + len;
    in += len;
    n -= len;
  } while (n > 0);
  return out;
}

}  // namespace

// The coded block before it is checked against stored blocks: a header of
// at most 3 + 14 + 19 * 3 + 288 * 7 bits (a code-length symbol and its
// extra bits are at most 7 + 7, but each stands for at least one length),
// at most 12 bits a byte (a match covers at least 3 bytes with at most 18),
// and 8 bytes that BitWriter::Drain writes over past its end.
size_t RunDeflateBound(size_t n) { return 2 + std::max(StoredSize(n), 300 + n + n / 2 + 8) + 4; }

size_t RunDeflateZlib(const uint8_t* in, size_t n, uint8_t* out, size_t room) {
  if (room < RunDeflateBound(n)) return 0;
  uint32_t litLenFreq[LitLenSymbols] = {};
  thread_local std::vector<Run> runs;  // kept between calls: thousands in a frame
  FindRuns(in, n, &runs);
  // Every byte counted as a literal, then those that matches cover taken off
  // (the counts are estimates; each literal keeps a count of at least 1).
  ByteCounts(in, n, litLenFreq);
  uint64_t covered[256] = {};
  for (const Run& r : runs) {
    const size_t left = SplitMatches(r.length - 1, [&](size_t len) { ++litLenFreq[257 + Lengths.code[len]]; });
    covered[in[r.start]] += r.length - 1 - left;
  }
  for (int c = 0; c < 256; ++c)
    litLenFreq[c] = litLenFreq[c] > covered[c] ? static_cast<uint32_t>(litLenFreq[c] - covered[c]) + 1 : 1;
  litLenFreq[EndOfBlock] = 1;
  uint8_t litLenBits[LitLenSymbols];
  HuffmanLengths(litLenFreq, LitLenSymbols, MaxLitLenBits, litLenBits);
  // Every match is at distance 1, distance code 0; code 1 only completes the code.
  const uint8_t distBits[2] = {1, 1};

  int litLenCount = LitLenSymbols;
  while (litLenCount > 257 && litLenBits[litLenCount - 1] == 0) --litLenCount;
  std::vector<uint8_t> allLengths(litLenBits, litLenBits + litLenCount);
  allLengths.insert(allLengths.end(), distBits, distBits + 2);
  const std::vector<LengthRun> header = RunLengthCode(allLengths.data(), allLengths.size());
  uint32_t codeLengthFreq[19] = {};
  for (const LengthRun& r : header) ++codeLengthFreq[r.symbol];
  uint8_t codeLengthBits[19];
  HuffmanLengths(codeLengthFreq, 19, MaxCodeLengthBits, codeLengthBits);
  int codeLengthCount = 19;
  while (codeLengthCount > 4 && codeLengthBits[CodeLengthOrder[codeLengthCount - 1]] == 0) --codeLengthCount;

  uint8_t* p = out;
  *p++ = 0x78;  // deflate, 32 KB window
  *p++ = 0x01;  // fastest compression; header check bits
  {
    uint16_t litLenCode[LitLenSymbols], codeLengthCode[19];
    CanonicalCodes(litLenBits, LitLenSymbols, litLenCode);
    CanonicalCodes(codeLengthBits, 19, codeLengthCode);
    // The codes of the literals, and of each match length with its extra
    // bits and the 1-bit distance code 0 appended.
    // Each literal's code and, above bit 16, its length: one load per byte.
    uint32_t literal[256];
    for (int c = 0; c < 256; ++c) literal[c] = litLenCode[c] | static_cast<uint32_t>(litLenBits[c]) << 16;
    uint32_t match[MaxMatch + 1] = {};
    uint8_t matchBits[MaxMatch + 1] = {};
    for (size_t len = 3; len <= MaxMatch; ++len) {
      const int code = Lengths.code[len];
      const int bits = litLenBits[257 + code];
      const uint32_t extra = static_cast<uint32_t>(len - LengthBase[code]);
      match[len] = litLenCode[257 + code] | (extra << bits);  // distance code 0 is a 0 bit
      matchBits[len] = static_cast<uint8_t>(bits + LengthExtra[code] + distBits[0]);
    }
    BitWriter w{p};
    w.PutDrained(1 | (2 << 1), 3);  // final block, dynamic Huffman codes
    w.PutDrained(static_cast<uint64_t>(litLenCount - 257), 5);
    w.PutDrained(2 - 1, 5);  // two distance codes
    w.PutDrained(static_cast<uint64_t>(codeLengthCount - 4), 4);
    for (int k = 0; k < codeLengthCount; ++k) w.PutDrained(codeLengthBits[CodeLengthOrder[k]], 3);
    for (const LengthRun& r : header) {
      w.Put(codeLengthCode[r.symbol], codeLengthBits[r.symbol]);
      w.PutDrained(r.extra, r.extraBits);
    }
    auto literals = [&](const uint8_t* from, size_t count) { w.PutLiterals(from, count, literal); };
    size_t at = 0;
    for (const Run& r : runs) {
      literals(in + at, r.start + 1 - at);  // up to and with the run's first byte
      const size_t left = SplitMatches(r.length - 1, [&](size_t len) { w.PutDrained(match[len], matchBits[len]); });
      literals(in + r.start + r.length - left, left);
      at = r.start + r.length;
    }
    literals(in + at, n - at);
    w.Put(litLenCode[EndOfBlock], litLenBits[EndOfBlock]);
    w.held += 7;  // the last partial byte goes out whole
    w.Drain();
    // Noise that no code shortens: stored blocks instead, never larger.
    p = static_cast<size_t>(w.out - p) > StoredSize(n) ? WriteStored(in, n, p) : w.out;
  }
  const uint32_t adler = libdeflate_adler32(1, in, n);
  for (int shift = 24; shift >= 0; shift -= 8) *p++ = static_cast<uint8_t>(adler >> shift);
  return static_cast<size_t>(p - out);
}
