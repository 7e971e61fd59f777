// Generation pass time for large projects: prints the time of one pass over 2000 and 4000
// objects (the ratio shows whether the pass stays linear).
#include <benchmark/benchmark.h>

#include "generator/generator.h"
#include "platform/fs.h"
#include "populate.h"

namespace tsr {
namespace {

void GenerationPass(benchmark::State& state) {
    Project project;
    project.Start();
    Populate(project.document(), static_cast<int>(state.range(0)));
    NullLogSink log;
    GenerationHooks hooks;
    Generator generator(project, log, hooks, "/nonexistent");
    for (auto _ : state) generator.generateApplication();
    state.counters["html_bytes"] = static_cast<double>(generator.BuildDocument().size());
}

// Only the document text, without writing the file.
void BuildDocument(benchmark::State& state) {
    Project project;
    project.Start();
    Populate(project.document(), static_cast<int>(state.range(0)));
    NullLogSink log;
    GenerationHooks hooks;
    Generator generator(project, log, hooks, "/nonexistent");
    for (auto _ : state) benchmark::DoNotOptimize(generator.BuildDocument());
}

BENCHMARK(GenerationPass)->Arg(2000)->Arg(4000)->Unit(benchmark::kMillisecond);
BENCHMARK(BuildDocument)->Arg(2000)->Arg(4000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tsr

BENCHMARK_MAIN();
