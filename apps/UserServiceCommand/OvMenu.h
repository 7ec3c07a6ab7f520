// The menu loop: menu, help, hints and the dispatch of a selection.
#pragma once

#include <cstddef>
#include <string>

#include "apps/UserServiceCommand/OvCommands.h"

void PrintMenu(std::ostream& out, const OvCommandRow* rows, std::size_t count);
void PrintHelp(std::ostream& out, const OvCommandRow* rows, std::size_t count);

// Runs the command whose selection equals the word; false when none does.
bool Dispatch(const std::string& selection, OvCommandContext& context, const OvCommandRow* rows,
              std::size_t count);

// Menu cycles until the user selects 0 or the input ends; then "\n\n".
void RunMenuLoop(OvCommandContext& context, const OvCommandRow* rows = kOvCommands,
                 std::size_t count = kOvCommandCount);
