// The lookup structures that sit beside a table's ordered list, so that lookups and alias
// allocation do not scan the list.
//
//   key ──hash──> bucket: the entries with that key, in list order (ascending sequence number)
//                  [ (seq 3, e) (seq 17, e') ... ]   front() = first match in list order
//
// Not thread-safe; each belongs to one TNATInfoList and is guarded like it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kelvo {

class TNATInfo;

// An address key: NAD (0 where the index ignores it), IP text and port.
struct TAddressKey {
  std::int32_t NAD = 0;
  std::string IP;
  std::uint16_t Port = 0;
};

// The same key without owning the text, so lookups do not copy the IP.
struct TAddressKeyView {
  std::int32_t NAD = 0;
  std::string_view IP;
  std::uint16_t Port = 0;
};

struct TAddressKeyHash {
  using is_transparent = void;
  std::size_t operator()(const TAddressKeyView& AKey) const {
    const std::size_t Text = std::hash<std::string_view>{}(AKey.IP);
    const std::uint64_t Numbers =
        (std::uint64_t{static_cast<std::uint32_t>(AKey.NAD)} << 16) | AKey.Port;
    return Text ^ (std::hash<std::uint64_t>{}(Numbers) + 0x9e3779b97f4a7c15ULL + (Text << 6));
  }
  std::size_t operator()(const TAddressKey& AKey) const {
    return (*this)(TAddressKeyView{AKey.NAD, AKey.IP, AKey.Port});
  }
};

struct TAddressKeyEqual {
  using is_transparent = void;
  static TAddressKeyView View(const TAddressKey& AKey) { return {AKey.NAD, AKey.IP, AKey.Port}; }
  static TAddressKeyView View(const TAddressKeyView& AKey) { return AKey; }
  template <class TLeft, class TRight>
  bool operator()(const TLeft& ALeft, const TRight& ARight) const {
    const TAddressKeyView L = View(ALeft);
    const TAddressKeyView R = View(ARight);
    return L.NAD == R.NAD && L.Port == R.Port && L.IP == R.IP;
  }
};

// Entries grouped by key, each group in list order, so the first match is the group's first.
// Most keys have one entry, which the group holds without an allocation of its own.
template <class TKey, class THash = std::hash<TKey>, class TEqual = std::equal_to<TKey>>
class TOrderedIndex {
 public:
  using TSlot = std::pair<std::uint64_t, TNATInfo*>;  // sequence number, entry

  template <class TLookup>
  TNATInfo* First(const TLookup& AKey) const {
    const auto Found = fBuckets.find(AKey);
    return Found == fBuckets.end() ? nullptr : Found->second.First.second;
  }

  // True when AKey had no entry before.
  bool Insert(const TKey& AKey, std::uint64_t ASeq, TNATInfo* AEntry) {
    auto [Where, Created] = fBuckets.try_emplace(AKey);
    TBucket& Bucket = Where->second;
    const TSlot Slot{ASeq, AEntry};
    if (Bucket.First.second == nullptr) {
      Bucket.First = Slot;
    } else if (ASeq < Bucket.First.first) {
      // Only a changed key lands before the first: an entry from further up the list.
      Bucket.More.insert(Bucket.More.begin(), Bucket.First);
      Bucket.First = Slot;
    } else if (Bucket.More.empty() || Bucket.More.back().first < ASeq) {
      Bucket.More.push_back(Slot);  // new entries come last in list order
    } else {
      Bucket.More.insert(std::lower_bound(Bucket.More.begin(), Bucket.More.end(), Slot), Slot);
    }
    return Created;
  }

  // True when AKey has no entry left.
  bool Erase(const TKey& AKey, std::uint64_t ASeq) {
    const auto Found = fBuckets.find(AKey);
    if (Found == fBuckets.end()) {
      return false;
    }
    TBucket& Bucket = Found->second;
    if (Bucket.First.first == ASeq && Bucket.First.second != nullptr) {
      Bucket.PromoteNext();
    } else {
      const auto Where =
          std::lower_bound(Bucket.More.begin(), Bucket.More.end(), TSlot{ASeq, nullptr});
      if (Where != Bucket.More.end() && Where->first == ASeq) {
        Bucket.More.erase(Where);
      }
    }
    if (Bucket.First.second == nullptr) {
      fBuckets.erase(Found);
      return true;
    }
    return false;
  }

  // Takes out every entry of AKey's group that AGone says is leaving. Runs once per group and
  // sweep (APass), so an ageing step that frees thousands of entries of one NAD stays linear.
  // Returns true when the group became empty by this call.
  template <class TPredicate>
  bool Sweep(const TKey& AKey, std::uint64_t APass, TPredicate AGone) {
    const auto Found = fBuckets.find(AKey);
    if (Found == fBuckets.end() || Found->second.Pass == APass) {
      return false;
    }
    TBucket& Bucket = Found->second;
    Bucket.Pass = APass;
    Bucket.More.erase(std::remove_if(Bucket.More.begin(), Bucket.More.end(),
                                     [&](const TSlot& ASlot) { return AGone(ASlot.second); }),
                      Bucket.More.end());
    if (Bucket.First.second != nullptr && AGone(Bucket.First.second)) {
      Bucket.PromoteNext();
    }
    if (Bucket.First.second == nullptr) {
      fBuckets.erase(Found);
      return true;
    }
    return false;
  }

  void Clear() { fBuckets.clear(); }
  std::size_t KeyCount() const { return fBuckets.size(); }

 private:
  struct TBucket {
    TSlot First{0, nullptr};  // null entry only for a moment, while the group is emptied
    std::vector<TSlot> More;  // the rest of the group, in list order
    std::uint64_t Pass = 0;
    void PromoteNext() {
      if (More.empty()) {
        First = TSlot{0, nullptr};
      } else {
        First = More.front();
        More.erase(More.begin());
      }
    }
  };
  std::unordered_map<TKey, TBucket, THash, TEqual> fBuckets;
};

// The taken aliases as maximal runs of consecutive values, so allocation jumps over a run in
// one step instead of probing each value.
class TAliasRuns {
 public:
  void Take(std::uint32_t AValue);  // AValue must be free
  void Free(std::uint32_t AValue);  // AValue must be taken
  // The first value from AFrom upward, wrapping from 4294967295 to 0, that is not taken.
  // Some value is always free, since a table cannot hold 2^32 entries.
  std::uint32_t FirstFreeFrom(std::uint32_t AFrom) const;
  void Clear() { fRuns.clear(); }
  std::size_t RunCount() const { return fRuns.size(); }

 private:
  // First value of a run -> its last value. Runs never touch each other, except across the
  // wrap from 4294967295 to 0, which stays two runs.
  std::map<std::uint32_t, std::uint32_t> fRuns;
  // The run that holds AValue, or end().
  std::map<std::uint32_t, std::uint32_t>::const_iterator RunOf(std::uint32_t AValue) const;
};

}  // namespace kelvo
