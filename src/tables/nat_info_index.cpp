#include "tables/nat_info_index.h"

#include <limits>

namespace kelvo {

namespace {
constexpr std::uint32_t kLastValue = std::numeric_limits<std::uint32_t>::max();
}  // namespace

std::map<std::uint32_t, std::uint32_t>::const_iterator TAliasRuns::RunOf(
    std::uint32_t AValue) const {
  auto after = fRuns.upper_bound(AValue);
  if (after == fRuns.begin()) {
    return fRuns.end();
  }
  const auto run = std::prev(after);
  return run->second >= AValue ? run : fRuns.end();
}

void TAliasRuns::Take(std::uint32_t AValue) {
  // Joins the run ending just below and the run starting just above, if there are any.
  auto next = fRuns.end();
  if (AValue != kLastValue) {
    next = fRuns.find(AValue + 1);
  }
  auto after = fRuns.upper_bound(AValue);
  if (AValue != 0 && after != fRuns.begin()) {
    const auto before = std::prev(after);
    if (before->second == AValue - 1) {
      if (next != fRuns.end()) {
        before->second = next->second;
        fRuns.erase(next);
      } else {
        before->second = AValue;
      }
      return;
    }
  }
  if (next != fRuns.end()) {
    const std::uint32_t last = next->second;
    fRuns.erase(next);
    fRuns.emplace(AValue, last);
  } else {
    fRuns.emplace(AValue, AValue);
  }
}

void TAliasRuns::Free(std::uint32_t AValue) {
  const auto found = RunOf(AValue);
  if (found == fRuns.end()) {
    return;
  }
  const std::uint32_t first = found->first;
  const std::uint32_t last = found->second;
  fRuns.erase(found);
  if (first < AValue) {
    fRuns.emplace(first, AValue - 1);
  }
  if (AValue < last) {
    fRuns.emplace(AValue + 1, last);
  }
}

std::uint32_t TAliasRuns::FirstFreeFrom(std::uint32_t AFrom) const {
  auto run = RunOf(AFrom);
  if (run == fRuns.end()) {
    return AFrom;
  }
  if (run->second != kLastValue) {
    return run->second + 1;  // runs are maximal, so the value after one is free
  }
  // The run reaches 4294967295: carry on from 0, whose run (if any) cannot reach round again.
  run = RunOf(0);
  return run == fRuns.end() ? 0 : run->second + 1;
}

}  // namespace kelvo
