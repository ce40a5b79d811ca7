// The command line: the same run as the window, its log lines on standard output.
#include <clocale>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include "base/run_log.h"
#include "io/platform.h"
#include "recovery/recover_driver.h"
#include "recovery/run.h"
#include "table/working_copy.h"

namespace {

using namespace tabrescue;

constexpr int kExitOk = 0, kExitFailed = 1, kExitUsage = 2;

constexpr const char* kUsage =
    "usage: tabrescue [--all] -o OUTPUT_FOLDER TABLE.TAB [TABLE.TAB ...]\n"
    "       tabrescue --undelete -o OUTPUT_FOLDER TABLE.TAB [TABLE.TAB ...]\n"
    "       tabrescue --check TABLE.TAB [TABLE.TAB ...]\n"
    "\n"
    "Brings back the rows and geometries deleted from MapInfo tables. The input table is never\n"
    "changed; the results TABLE_DAT.tab and TABLE_MAP.tab are written to OUTPUT_FOLDER, and any\n"
    "file they would replace there is kept as NAME.bak.\n"
    "\n"
    "  -o, --output FOLDER  folder for the result tables\n"
    "  --all                Restore/Fix All Records and Objects: write both results even when\n"
    "                       nothing is deleted (repairs header counts and style indexes)\n"
    "  --undelete           write TABLE_undeleted.tab instead: the table with every deleted row\n"
    "                       live again, with its values and its geometry\n"
    "  --check              only count deleted rows and geometries; writes nothing\n"
    "  --help, --version\n"
    "\n"
    "Exit status: 0 every run ended OK or had nothing to restore (--undelete: every table was\n"
    "written), 1 a run ended by ERROR or the output folder was missing, 2 usage error.\n";

// Writes the pane's text as it grows, with plain line ends.
void printAdded(std::ostream& out, std::string_view added)
{
    std::string s;
    s.reserve(added.size());
    for (std::size_t i = 0; i < added.size(); ++i) {
        if (added[i] == '\r' && i + 1 < added.size() && added[i + 1] == '\n')
            continue;
        s += added[i];
    }
    out << s << std::flush;
}

class CliFrontend : public RunFrontend {
public:
    CliFrontend()
    {
        m_log.setChangeHook([](std::string_view added, bool) { printAdded(std::cout, added); });
    }
    RunLog& log() override { return m_log; }
    void showMessage(const std::string& text) override
    {
        printAdded(std::cerr, text);
        std::cerr << "\n";
    }
    void flipLogColour() override {}
    void beep() override {}
    std::string now() override
    {
        const std::tm local = platform::localTime(std::time(nullptr));
        char buf[128];
        const std::size_t n = std::strftime(buf, sizeof buf, "%x %X", &local);
        return std::string(buf, n);
    }

private:
    RunLog m_log;
};

int check(const std::vector<std::string>& tables)
{
    int status = kExitOk;
    for (const std::string& path : tables) {
        RunLog log;
        log.setChangeHook([](std::string_view added, bool) { printAdded(std::cerr, added); });
        const auto table = openMiTable(path, &log);
        if (!table) {
            std::cerr << path << ": not a usable table (its .TAB and a .DAT or a .MAP with .ID are needed)\n";
            status = kExitFailed;
            continue;
        }
        std::int32_t rows = 0, objects = 0;
        CountFailures failed;
        getDeletedCount(*table, rows, objects, &log, &failed);
        if (failed.rows || failed.objects)
            status = kExitFailed;
        std::cout << path << ": " << rows << " deleted rows, " << objects << " deleted geometries\n";
    }
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");
    platform::useUtf8Console();
    // UTF-8 on every system: paths with letters beyond the ANSI code page reach the core intact.
    const std::vector<std::string> args = platform::commandLineArguments(argc, argv);
    const std::size_t count = args.size();
    std::vector<std::string> tables;
    std::string output;
    bool all = false, checkOnly = false, undelete = false, haveOutput = false;
    for (std::size_t i = 1; i < count; ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return kExitOk;
        }
        if (a == "--version") {
            std::cout << "tabrescue " << TABRESCUE_VERSION << "\n";
            return kExitOk;
        }
        if (a == "--all") {
            all = true;
        } else if (a == "--undelete") {
            undelete = true;
        } else if (a == "--check") {
            checkOnly = true;
        } else if (a == "-o" || a == "--output") {
            if (i + 1 >= count) {
                std::cerr << "tabrescue: " << a << " needs a folder\n" << kUsage;
                return kExitUsage;
            }
            output = args[++i];
            haveOutput = true;
        } else if (a == "--") {
            for (++i; i < count; ++i)
                tables.push_back(args[i]);
        } else if (a.size() > 1 && a[0] == '-') {
            std::cerr << "tabrescue: unknown option " << a << "\n" << kUsage;
            return kExitUsage;
        } else {
            tables.push_back(a);
        }
    }
    if (tables.empty() || (checkOnly && (all || undelete || haveOutput)) || (undelete && all) ||
        (!checkOnly && !haveOutput)) {
        std::cerr << kUsage;
        return kExitUsage;
    }
    if (checkOnly)
        return check(tables);

    int status = kExitOk;
    if (undelete) {
        for (const std::string& table : tables) {
            CliFrontend frontend;
            if (runUndelete(frontend, RunInput{table, output, false}).status != 0)
                status = kExitFailed;
        }
        return status;
    }
    for (const std::string& table : tables) {
        CliFrontend frontend;
        const RunOutcome outcome = runRecovery(frontend, RunInput{table, output, all});
        if (outcome.verdict != RunVerdict::EndsByOk && outcome.verdict != RunVerdict::NothingToRestore)
            status = kExitFailed;
    }
    return status;
}
