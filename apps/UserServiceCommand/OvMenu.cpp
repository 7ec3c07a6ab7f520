// The menu loop of the command application.
#include "apps/UserServiceCommand/OvMenu.h"

#include <ostream>

#include "apps/UserServiceCommand/OvCommandSupport.h"
#include "services/OvCommException.h"

void PrintMenu(std::ostream& out, const OvCommandRow* rows, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        out << '\n'
            << rows[i].selection << ". " << rows[i].name
            << (rows[i].deprecated ? " ( Deprecated )" : "") << '\n';
    }
    out << "\n?. Help\n"
        << "\n0. Exit\n";
}

void PrintHelp(std::ostream& out, const OvCommandRow* rows, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        out << '\n' << rows[i].selection << ". " << rows[i].name << " <" << rows[i].help << ">\n";
    }
}

bool Dispatch(const std::string& selection, OvCommandContext& context, const OvCommandRow* rows,
              std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (selection == rows[i].selection) {
            try {
                rows[i].run(context);
            } catch (const OvCommException& error) {
                // No proxy could be made: the services are elsewhere and
                // cannot be reached now. The command reports it as it
                // reports a failed call, and the next command tries again.
                ReportError(context, error.GetCode());
            }
            return true;
        }
    }
    return false;
}

void RunMenuLoop(OvCommandContext& context, const OvCommandRow* rows, std::size_t count)
{
    std::ostream& out = context.io.Out();
    for (;;) {
        PrintMenu(out, rows, count);
        context.io.Prompt("\n\nSelection: ", OvAnswerKind::Selection);
        std::string selection;
        // End of input counts as leaving the menu: nothing more can be typed.
        if (!context.io.ReadWord(selection)) break;
        const unsigned char first =
            selection.empty() ? 0 : static_cast<unsigned char>(selection[0]);
        if (first < '0' || first > '9') {
            if (selection == "?") PrintHelp(out, rows, count);
            out << "\nEnter selection 1-20\n"
                << "? for help\n"
                << "or 0 to exit\n";
            continue;
        }
        if (selection == "0") break;
        Dispatch(selection, context, rows, count);
    }
    out << "\n\n" << std::flush;
}
