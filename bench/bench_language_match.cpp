// Anchor search over a generated 10 MiB HTML page: CMatch against
// std::regex and POSIX regexec on the same pattern.

#include "language/Match.h"

#include <benchmark/benchmark.h>

#include <regex.h>

#include <cstdio>
#include <random>
#include <regex>
#include <string>

namespace {

const char* const kLinkPattern = "<[ \t]*a[ \t]+href[ \t]*=[ \t]*\"\\c[^\"]+\\c\"[ \t]*>";
const char* const kLinkRegex = "<[ \t]*a[ \t]+href[ \t]*=[ \t]*\"([^\"]+)\"[ \t]*>";

// A page of paragraphs, tables and tags, with an anchor every few hundred
// bytes and near misses that share the anchor's start.
const std::string& Page()
{
    static const std::string page = [] {
        std::mt19937 rng(7);
        std::string p = "<html><head><title>Firmware releases</title></head><body>\n";
        const char* words[] = {"crate", "firmware", "release", "board", "version", "notes", "flash", "the",
                               "of", "update", "node", "control", "status", "image"};
        int n = 0;
        while (p.size() < 10 * 1024 * 1024) {
            p += "<p class=\"text\">";
            for (int w = 0; w < 40; ++w) {
                p += words[rng() % 14];
                p += ' ';
            }
            p += "</p>\n<div><span>";
            switch (n++ % 4) {
            case 0: p += "<a href=\"/files/Cb_v1" + std::to_string(n % 100) + ".s19\">Cb firmware</a>"; break;
            case 1: p += "<A HREF = \"http://host/dl/node_" + std::to_string(n) + ".hex\" >node</A>"; break;
            case 2: p += "<abbr title=\"x\">abbr</abbr> <a name=\"n" + std::to_string(n) + "\">mark</a>"; break;
            default: p += "<a\thref=\"release_notes_" + std::to_string(n) + ".html\">notes</a>"; break;
            }
            p += "</span></div>\n<table><tr><td>1</td><td>2</td></tr></table>\n";
        }
        p += "</body></html>\n";
        return p;
    }();
    return page;
}

void SetRate(benchmark::State& state, int links)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(Page().size()));
    state.counters["links"] = links;
}

void BM_CMatch(benchmark::State& state)
{
    const std::string& page = Page();
    CMatch link(kLinkPattern, true);
    int links = 0;
    for (auto _ : state) {
        links = 0;
        int pos = 0;
        while (link.Match(page.c_str(), pos, &pos)) {
            benchmark::DoNotOptimize(link.GetMarkPos(2));
            ++links;
        }
    }
    SetRate(state, links);
}
BENCHMARK(BM_CMatch)->Unit(benchmark::kMillisecond);

void BM_StdRegex(benchmark::State& state)
{
    const std::string& page = Page();
    std::regex link(kLinkRegex, std::regex::extended | std::regex::icase);
    int links = 0;
    for (auto _ : state) {
        links = 0;
        for (std::cregex_iterator it(page.c_str(), page.c_str() + page.size(), link), end; it != end; ++it) {
            benchmark::DoNotOptimize((*it)[1].first);
            ++links;
        }
    }
    SetRate(state, links);
}
BENCHMARK(BM_StdRegex)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_PosixRegexec(benchmark::State& state)
{
    const std::string& page = Page();
    regex_t link;
    if (regcomp(&link, kLinkRegex, REG_EXTENDED | REG_ICASE) != 0) {
        state.SkipWithError("regcomp failed");
        return;
    }
    int links = 0;
    for (auto _ : state) {
        links = 0;
        const char* p = page.c_str();
        regmatch_t m[2];
        int flags = 0;
        while (regexec(&link, p, 2, m, flags) == 0) {
            benchmark::DoNotOptimize(m[1].rm_so);
            ++links;
            p += m[0].rm_eo;
            flags = REG_NOTBOL;
        }
    }
    regfree(&link);
    SetRate(state, links);
}
BENCHMARK(BM_PosixRegexec)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
