// Anchor search over a generated 10 MiB HTML page: CMatch against POSIX
// regexec (told where the text ends with REG_STARTEND, so that it does not
// measure the rest of the page for every match) and std::regex, on the same
// pattern, with the link captured and without captures.

#include "RoundRatios.h"

#include "language/Match.h"

#include <benchmark/benchmark.h>

#include <regex.h>

#include <random>
#include <regex>
#include <string>

namespace {

const char* const kLinkPattern = "<[ \t]*a[ \t]+href[ \t]*=[ \t]*\"\\c[^\"]+\\c\"[ \t]*>";
const char* const kLinkRegex = "<[ \t]*a[ \t]+href[ \t]*=[ \t]*\"([^\"]+)\"[ \t]*>";
const char* const kAnchorPattern = "<[ \t]*a[ \t]+href[ \t]*=[ \t]*\"[^\"]+\"[ \t]*>";

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

// Every contestant must find every anchor of the page: three in four
// blocks of the page are links.
void Finish(benchmark::State& state, int links)
{
    static int expected = -1;
    if (expected < 0)
        expected = links;
    if (links != expected || links == 0)
        state.SkipWithError("the matchers found different numbers of links");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(Page().size()));
    state.counters["links"] = links;
}

void CMatchLinks(benchmark::State& state, const char* pattern, bool captures)
{
    const std::string& page = Page();
    CMatch link(pattern, true);
    int links = 0;
    for (auto _ : state) {
        links = 0;
        int pos = 0;
        while (link.Match(page.c_str(), pos, &pos)) {
            if (captures)
                benchmark::DoNotOptimize(link.GetMarkPos(2));
            ++links;
        }
    }
    Finish(state, links);
}

void RegexecLinks(benchmark::State& state, const char* pattern, size_t groups)
{
    const std::string& page = Page();
    regex_t link;
    if (regcomp(&link, pattern, REG_EXTENDED | REG_ICASE) != 0)
        return state.SkipWithError("regcomp failed");
    int links = 0;
    for (auto _ : state) {
        links = 0;
        regmatch_t m[2];
        regoff_t at = 0;
        for (;;) {
            m[0].rm_so = at;
            m[0].rm_eo = static_cast<regoff_t>(page.size());
            if (regexec(&link, page.c_str(), groups + 1, m, REG_STARTEND | (at ? REG_NOTBOL : 0)) != 0)
                break;
            benchmark::DoNotOptimize(m[groups].rm_so);
            ++links;
            at = m[0].rm_eo;
        }
    }
    regfree(&link);
    Finish(state, links);
}

void BM_CMatch(benchmark::State& state) { CMatchLinks(state, kLinkPattern, true); }
void BM_CMatchNoMarks(benchmark::State& state) { CMatchLinks(state, kAnchorPattern, false); }
void BM_Regexec(benchmark::State& state) { RegexecLinks(state, kLinkRegex, 1); }
void BM_RegexecNoCaptures(benchmark::State& state) { RegexecLinks(state, kAnchorPattern, 0); }

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
    Finish(state, links);
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = bench::TakeRounds(argc, argv, 5);
    auto ms = [](benchmark::internal::Benchmark* b) { b->Unit(benchmark::kMillisecond)->MinTime(0.5); };
    // std::regex takes seconds per page: a few pages a round.
    auto slow = [](benchmark::internal::Benchmark* b) { b->Unit(benchmark::kMillisecond)->Iterations(3); };
    bench::RegisterRounds(rounds, {{"BM_CMatch", BM_CMatch, ms},
                                   {"BM_Regexec", BM_Regexec, ms},
                                   {"BM_CMatchNoMarks", BM_CMatchNoMarks, ms},
                                   {"BM_RegexecNoCaptures", BM_RegexecNoCaptures, ms},
                                   {"BM_StdRegex", BM_StdRegex, slow}});
    using Kind = bench::Ratio::Kind;
    return bench::RunAndReport(argc, argv,
                               {{"CMatch / regexec with captures, speed", "BM_CMatch", "BM_Regexec", Kind::Speed, 0},
                                {"CMatch / regexec without captures, speed", "BM_CMatchNoMarks",
                                 "BM_RegexecNoCaptures", Kind::Speed, 0},
                                {"CMatch / std::regex with captures, speed", "BM_CMatch", "BM_StdRegex", Kind::Speed,
                                 0}});
}
