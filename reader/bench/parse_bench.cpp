// Parse speed of the trace reader on a generated log of 500 000 calls.
// Built with the project, never run by the tests:
//   build/reader/tracelet_log_bench
#include <benchmark/benchmark.h>

#include <ostream>
#include <streambuf>

#include "trace/check.hpp"
#include "trace/generator.hpp"
#include "trace/json.hpp"
#include "trace/parser.hpp"

using namespace tracelet::trace;

namespace {

const std::string& log_text() {
    static const std::string text = [] {
        GeneratorOptions o;
        o.calls = 500000;
        return generate_session(o);
    }();
    return text;
}

struct CountingSink : Sink {
    std::size_t calls = 0, problems = 0;
    void call(Call&&) override { ++calls; }
    void problem(Problem&&) override { ++problems; }
};

// Feeds the text in 1 MiB pieces, as the file reader does.
template <class S>
void feed(const std::string& text, S& sink) {
    Parser p(sink);
    p.begin_file(0, "bench");
    constexpr std::size_t kChunk = 1 << 20;
    for (std::size_t off = 0; off < text.size(); off += kChunk) p.feed(std::string_view(text).substr(off, kChunk));
    p.end_file();
}

void BM_Parse(benchmark::State& state) {
    const std::string& text = log_text();
    for (auto _ : state) {
        CountingSink sink;
        feed(text, sink);
        if (sink.calls < 500000 || sink.problems) state.SkipWithError("generated log did not parse cleanly");
        benchmark::DoNotOptimize(sink.calls);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
    state.counters["calls"] = 500000;
}
BENCHMARK(BM_Parse)->Unit(benchmark::kMillisecond);

struct CheckingSink : Sink {
    Checker checker{[this](const Finding&) { ++findings; }};
    std::size_t findings = 0;
    void call(Call&& c) override { checker.feed(c); }
};

void BM_ParseAndCheck(benchmark::State& state) {
    const std::string& text = log_text();
    for (auto _ : state) {
        CheckingSink sink;
        feed(text, sink);
        sink.checker.finish();
        if (sink.findings) state.SkipWithError("generated log has findings");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ParseAndCheck)->Unit(benchmark::kMillisecond);

struct NullBuffer : std::streambuf {
    int overflow(int c) override { return c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

void BM_ParseToJson(benchmark::State& state) {
    const std::string& text = log_text();
    NullBuffer nb;
    std::ostream out(&nb);
    for (auto _ : state) {
        JsonLinesWriter writer(out, false);
        feed(text, writer);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ParseToJson)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
