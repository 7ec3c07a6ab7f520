// The order names are listed in, and the sorter that keeps a long listing's
// names in runs.
#include <algorithm>
#include <utility>

#include "platform/directory/Names.h"

namespace ovdir {

namespace {

KeyedName KeyName(std::string name)
{
    std::string key = FoldCase(name);
    return {std::move(key), std::move(name)};
}

// Of sorted names sharing a key, keeps the first.
template <typename Names>
void DropRepeatedKeys(Names& keyed)
{
    std::size_t kept = 0;
    for (std::size_t i = 0; i < keyed.size(); ++i) {
        if (kept > 0 && keyed[i].first == keyed[kept - 1].first) continue;
        if (kept != i) keyed[kept] = std::move(keyed[i]);
        ++kept;
    }
    keyed.resize(kept);
}

bool KeyedBefore(const KeyedName& a, const KeyedName& b)
{
    const int order = a.first.compare(b.first);
    return order != 0 ? order < 0 : a.second < b.second;
}

// Sorts keyed names as SortNames sorts names and drops those whose key an
// earlier one has.
void SortKeyedNames(std::vector<KeyedName>& keyed)
{
    if (keyed.empty()) return;
    // The names of one listing mostly share their server and container: the
    // keys' common beginning is compared once, not at every step.
    std::size_t common = keyed.front().first.size();
    for (const KeyedName& name : keyed) {
        const std::string& first = keyed.front().first;
        const std::string& key = name.first;
        std::size_t i = 0;
        const std::size_t end = std::min(common, key.size());
        while (i < end && key[i] == first[i]) ++i;
        common = i;
    }
    std::sort(keyed.begin(), keyed.end(), [common](const KeyedName& a, const KeyedName& b) {
        const int order =
            a.first.compare(common, std::string::npos, b.first, common, std::string::npos);
        return order != 0 ? order < 0 : a.second < b.second;
    });
    DropRepeatedKeys(keyed);
}

}  // namespace

void NameSorter::Add(std::string name)
{
    names_.push_back(KeyName(std::move(name)));
    if (names_.size() - sorted_ == kRunLength) CloseRun();
}

void NameSorter::Clear()
{
    std::deque<KeyedName>().swap(names_);
    runs_.clear();
    sorted_ = 0;
}

void NameSorter::CloseRun()
{
    const auto first = names_.begin() + static_cast<std::ptrdiff_t>(sorted_);
    if (!std::is_sorted(first, names_.end(), KeyedBefore))
        std::sort(first, names_.end(), KeyedBefore);
    runs_.push_back(names_.size() - sorted_);
    sorted_ = names_.size();
    // Runs are merged as a binary counter counts: the lengths on the stack
    // halve from bottom to top, so each name is merged about log2(runs) times.
    while (runs_.size() >= 2 && runs_[runs_.size() - 2] <= runs_.back()) MergeLastRuns();
}

void NameSorter::MergeLastRuns()
{
    const std::size_t second = runs_.back();
    runs_.pop_back();
    const auto end = names_.begin() + static_cast<std::ptrdiff_t>(sorted_);
    const auto middle = end - static_cast<std::ptrdiff_t>(second);
    const auto start = middle - static_cast<std::ptrdiff_t>(runs_.back());
    if (KeyedBefore(*middle, *(middle - 1))) std::inplace_merge(start, middle, end, KeyedBefore);
    runs_.back() += second;
}

std::deque<KeyedName> NameSorter::Finish()
{
    if (names_.size() > sorted_) CloseRun();
    while (runs_.size() >= 2) MergeLastRuns();
    DropRepeatedKeys(names_);
    std::deque<KeyedName> out;
    out.swap(names_);
    Clear();
    return out;
}

void SortNames(std::vector<std::string>& names)
{
    std::vector<KeyedName> keyed;
    keyed.reserve(names.size());
    for (std::string& name : names) keyed.push_back(KeyName(std::move(name)));
    SortKeyedNames(keyed);
    names.clear();
    for (KeyedName& name : keyed) names.push_back(std::move(name.second));
}

}  // namespace ovdir
