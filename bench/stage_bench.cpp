// Times the four stages of a recovery on one table:
//   tabrescue-stage-bench --table=PATH.TAB [Google Benchmark flags]
// The recoveries write their result tables beside the given table, as they do beside a working copy.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "base/run_log.h"
#include "dat/dat_count.h"
#include "dat/dat_recover.h"
#include "map/map_count.h"
#include "map/map_recover.h"
#include "table/table_files.h"

namespace {

using namespace tabrescue;

// Removes what an earlier repetition left, untimed: in a run the results never exist beforehand.
// Dirty pages of earlier repetitions are written out first, as before each timed copy.
void removeResults(const mapinfoTableFilesPull& table, std::string_view suffix)
{
    for (const char* ext : {".TAB", ".DAT", ".MAP", ".ID"}) {
        std::error_code ec;
        std::filesystem::remove(table.ParentFolder() + table.TabBaseName() + std::string(suffix) + ext, ec);
    }
    [[maybe_unused]] const int synced = std::system("sync");
}

// Every stage gets a log like the command line's: text kept, listing lines never built.
// The first repetition of each stage is preceded by an untimed run: a virtual machine backs memory
// that was never touched slowly, and that would be timed instead of the stage.
template <class Stage>
void runStage(benchmark::State& state, bool& warmedUp, std::uint64_t bytes, Stage stage,
              std::function<void()> before = {})
{
    for (auto _ : state) {
        if (!warmedUp || before) {
            state.PauseTiming();
            if (!warmedUp) {
                if (before)
                    before();
                RunLog log;
                stage(log);
                warmedUp = true;
            }
            if (before)
                before();
            state.ResumeTiming();
        }
        RunLog log;
        const std::int64_t result = stage(log);
        if (result < 0) {
            state.SkipWithError("the stage failed; see its log");
            std::cerr << log.text();
            break;
        }
        state.counters["result"] = static_cast<double>(result);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes * state.iterations()));
}

std::uint64_t sizeOf(const std::string& path)
{
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return ec ? 0 : size;
}

} // namespace

int main(int argc, char** argv)
{
    std::string tabPath;
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.substr(0, 8) == "--table=")
            tabPath = arg.substr(8);
        else
            rest.push_back(argv[i]);
    }
    int restCount = static_cast<int>(rest.size());
    benchmark::Initialize(&restCount, rest.data());
    if (tabPath.empty() || restCount > 1) {
        std::cerr << "usage: tabrescue-stage-bench --table=PATH.TAB [benchmark flags]\n";
        return 2;
    }

    mapinfoTableFilesPull table;
    table.initByTABpath(tabPath);
    const std::string dat = table.DATfullpath();
    const std::string map = table.MAPfullpath();
    if (table.TableName().empty() || dat.empty() || map.empty()) {
        std::cerr << "tabrescue-stage-bench: " << tabPath << " is not a table with .DAT, .MAP and .ID\n";
        return 2;
    }

    auto configure = [](benchmark::internal::Benchmark* b) {
        b->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(1);
    };
    std::array<bool, 4> warmedUp{};
    configure(benchmark::RegisterBenchmark("getDelDATcount", [&](benchmark::State& s) {
        runStage(s, warmedUp[0], sizeOf(dat), [&](RunLog& log) {
            bool failed = false;
            const auto n = getDelDATcount(dat, &log, &failed);
            return failed ? -1 : std::int64_t{n};
        });
    }));
    configure(benchmark::RegisterBenchmark("getDelMAPcount", [&](benchmark::State& s) {
        runStage(s, warmedUp[1], sizeOf(map), [&](RunLog& log) {
            bool failed = false;
            const auto n = getDelMAPcount(map, &log, &failed);
            return failed ? -1 : std::int64_t{n};
        });
    }));
    configure(benchmark::RegisterBenchmark("doDelDAT_recover", [&](benchmark::State& s) {
        runStage(
            s, warmedUp[2], sizeOf(dat),
            [&](RunLog& log) { return std::int64_t{doDelDAT_recover(table, &log).count}; },
            [&] { removeResults(table, "#R_DAT"); });
    }));
    configure(benchmark::RegisterBenchmark("doDelMAP_ID_recover", [&](benchmark::State& s) {
        runStage(
            s, warmedUp[3], sizeOf(map),
            [&](RunLog& log) { return std::int64_t{doDelMAP_ID_recover(table, &log).count}; },
            [&] { removeResults(table, "#R_MAP"); });
    }));

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
