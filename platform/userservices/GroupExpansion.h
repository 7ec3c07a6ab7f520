// The users among a group's nested members, read within limits.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/directory/Directory.h"
#include "platform/directory/Names.h"

namespace ovdir {

// What one expansion of a group's members has cost: every search it makes,
// every entry it is handed and every member value those carry count against
// its limits, so that a directory whose groups name ever more groups, or one
// group of millions of members, cannot make it grow or go on without end.
class ExpansionBudget {
public:
    explicit ExpansionBudget(const ExpansionLimits& limits) : limits_(limits) {}
    // Before each search: whether it may be made.
    bool Search() { return ++searches_ <= limits_.searches; }
    // An entry handed over, with its member values: whether they fit.
    bool Take(const Entry& entry)
    {
        entries_ += 1;
        for (const char* attribute : {"member", "uniquemember", "memberuid"})
            if (const auto* values = entry.Find(attribute)) entries_ += values->size();
        return entries_ <= limits_.entries;
    }
    // The record of an expansion stopped at its limits.
    void Report(const std::string& location) const
    {
        ReportServiceFault(
            kStatusExpansionTooLarge, location, 0,
            searches_ > limits_.searches
                ? "the members of the group needed more than " + std::to_string(limits_.searches) +
                      " searches (MaxGroupSearches)"
                : "the members of the group came to more than " + std::to_string(limits_.entries) +
                      " entries and member values (MaxEntries)");
    }

private:
    const ExpansionLimits limits_;
    std::size_t searches_ = 0;
    std::size_t entries_ = 0;
};

// The users among the nested members of top, whose naming context is base,
// as printed names on server: each group is read once, whatever cycles the
// groups make, and within the budget.
unsigned ExpandGroup(Directory& directory, const Dn& base, Entry top, const std::string& server,
                     const ClassChains& classes, ExpansionBudget& budget,
                     std::vector<std::string>& printed);

}  // namespace ovdir
