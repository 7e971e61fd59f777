// Generation pass time for large projects: prints the time of one pass over 2000 and 4000
// objects (the ratio shows whether the pass stays linear).
#include <benchmark/benchmark.h>

#include "generator/generator.h"
#include "platform/fs.h"

namespace tsr {
namespace {

// Fills the project with pages of widgets, links and containers until it holds `count` objects.
void Populate(ProjectDocument& doc, int count) {
    pugi::xml_node project = doc.ProjectElement();
    doc.CreateObject(FindTypeByKey("corvanegateway"), project);
    doc.CreateObject(FindTypeByKey("unigateway"), project);
    const char* widgets[] = {"switch", "slider", "knob", "checkb", "textinput", "label",
                             "button", "plot",   "radiob"};
    const char* links[] = {"cvnlink", "unitylink", "s7iplink", "kxlink", "smlink"};
    pugi::xml_node page = project.first_child();
    int objects = 4, i = 0;
    while (objects < count) {
        if (i % 40 == 39) {
            doc.CreateObject(kTypePage, project, &page);
            ++objects;
        }
        pugi::xml_node parent = page;
        if (i % 10 == 0) {
            doc.CreateObject(FindTypeByKey("div"), page, &parent);
            ++objects;
        }
        pugi::xml_node widget;
        doc.CreateObject(FindTypeByKey(widgets[i % 9]), parent, &widget);
        ++objects;
        if (i % 2 == 0 && objects < count) {
            doc.CreateObject(FindTypeByKey(links[i % 5]), widget);
            ++objects;
        }
        ++i;
    }
}

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
