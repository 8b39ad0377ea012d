// Page operations on large generated pages: the time of AddLinks and of HighlightDocument, the late-bound
// calls they make per link (name lookups and invokes apart, counted by the test document model), and the
// cost of the seen set alone at growing link counts, against n log n. Each size runs twice: on a page
// whose objects share their identifiers (as MSHTML's elements do) and on one whose objects answer
// identifiers of their own (every cached identifier refused, looked up again: the worst case).
//
// Run under Wine: tools/winerun.sh <prefix> PageOpsBench.exe [links...]
#include <windows.h>
#include <mshtml.h>
#include <objbase.h>
#include <wrl/client.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "com/ComSupportUnit.h"
#include "keptor/KeptorServerUnit.h"
#include "page/KepUtilsFuncUnit.h"
#include "page/LinkWalkUnit.h"
#include "support/TestDocumentUnit.h"

using Microsoft::WRL::ComPtr;
using namespace zorbex;

namespace {

using TClock = std::chrono::steady_clock;

double Milliseconds(TClock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

// A page of `links` anchors: every tenth repeats an earlier target in other letter case, every
// twentieth carries a fragment, every fiftieth is a javascript: link; a few paragraphs between.
std::string MakePage(long links) {
    std::string html = "<html><head><title>bench</title></head><body>\n";
    html.reserve(static_cast<size_t>(links) * 80);
    for (long i = 0; i < links; ++i) {
        std::string target;
        if (i % 50 == 49)
            target = "javascript:go(" + std::to_string(i) + ")";
        else if (i % 10 == 9)
            target = "HTTP://EXAMPLE.TEST/SECTION" + std::to_string(i % 97) + "/PAGE" +
                     std::to_string(i / 2) + ".HTML";
        else
            target = "http://example.test/section" + std::to_string(i % 97) + "/page" + std::to_string(i) +
                     ".html" + (i % 20 == 3 ? "#part" : "");
        html += "<a href=\"" + target + "\">Link number " + std::to_string(i) + "</a>";
        html += i % 25 == 24 ? "\n<p>text</p>\n" : " ";
    }
    html += "</body></html>\n";
    return html;
}

struct TRun {
    long Links = 0;
    double AddLinksMs = 0;
    double AddLinksLookups = 0; // per link
    double AddLinksInvokes = 0;
    size_t Sent = 0;
    double HighlightMs = 0;
    double HighlightLookups = 0;
    double HighlightInvokes = 0;
    double SeenSetMs = 0;
};

TRun Measure(long links, bool distinctIds, keptor::TKeptorServer& server) {
    TRun run;
    run.Links = links;
    auto dom = std::make_shared<test::TTestDom>();
    dom->DistinctDispIds = distinctIds;
    ComPtr<IHTMLDocument2> document =
        test::LoadTestDocument(dom, MakePage(links), L"http://example.test/index.html");
    TVariant documentVariant(static_cast<IDispatch*>(document.Get()));
    TVariant noElement;

    const size_t listsBefore = server.Lists().size();
    dom->ResetRecords();
    auto start = TClock::now();
    AddLinks(documentVariant.Get(), VARIANT_FALSE, noElement.Get());
    run.AddLinksMs = Milliseconds(TClock::now() - start);
    run.AddLinksLookups = static_cast<double>(dom->GetIDsOfNamesCalls) / links;
    run.AddLinksInvokes = static_cast<double>(dom->InvokeCalls) / links;
    run.Sent = server.Lists().size() > listsBefore ? server.Lists().back().Urls.size() : 0;

    // Every other distinct target held; the pass styles about half the links.
    if (run.Sent) {
        const auto& urls = server.Lists().back().Urls;
        for (size_t i = 0; i < urls.size(); i += 2)
            server.Archive().LinkStates[urls[i]] = 1;
    }
    dom->ResetRecords();
    start = TClock::now();
    HighlightDocument(1, document.Get(), static_cast<IGUIServer*>(&server));
    run.HighlightMs = Milliseconds(TClock::now() - start);
    run.HighlightLookups = static_cast<double>(dom->GetIDsOfNamesCalls) / links;
    run.HighlightInvokes = static_cast<double>(dom->InvokeCalls) / links;
    server.Archive().LinkStates.clear();

    // The seen set alone, on the same kind of URLs (best of three).
    std::vector<std::wstring> urls;
    urls.reserve(static_cast<size_t>(links));
    for (long i = 0; i < links; ++i)
        urls.push_back(i % 10 == 9 ? L"HTTP://EXAMPLE.TEST/SECTION" + std::to_wstring(i % 97) + L"/PAGE" +
                                         std::to_wstring(i / 2) + L".HTML"
                                   : L"http://example.test/section" + std::to_wstring(i % 97) + L"/page" +
                                         std::to_wstring(i) + L".html");
    run.SeenSetMs = 1e300;
    for (int round = 0; round < 3; ++round) {
        start = TClock::now();
        TURLSeenSet seen;
        size_t kept = 0;
        for (const auto& url : urls)
            kept += seen.Insert(url) ? 1u : 0u;
        run.SeenSetMs = std::min(run.SeenSetMs, Milliseconds(TClock::now() - start));
        if (kept == 0)
            std::printf("?");
    }
    return run;
}

} // namespace

int main(int argc, char** argv) {
    if (FAILED(::OleInitialize(nullptr)))
        return 1;
    std::vector<long> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atol(argv[i]));
    if (sizes.empty())
        sizes = {5000, 25000, 100000};
    {
        ComPtr<keptor::TKeptorServer> server = keptor::TKeptorServer::Create();
        server->RegisterRunning();
        std::printf("%-9s %8s %8s | %11s %8s %8s | %12s %8s %8s | %11s %14s\n", "ids", "links", "sent",
                    "AddLinks ms", "GIDN/lk", "Inv/lk", "Highlight ms", "GIDN/lk", "Inv/lk", "seen set ms",
                    "seen ns/insert");
        std::vector<TRun> runs;
        for (long size : sizes) {
            for (bool distinct : {false, true}) {
                const TRun run = Measure(size, distinct, *server.Get());
                if (!distinct)
                    runs.push_back(run);
                std::printf("%-9s %8ld %8zu | %11.1f %8.3f %8.3f | %12.1f %8.3f %8.3f | %11.2f %14.1f\n",
                            distinct ? "distinct" : "shared", run.Links, run.Sent, run.AddLinksMs,
                            run.AddLinksLookups, run.AddLinksInvokes, run.HighlightMs, run.HighlightLookups,
                            run.HighlightInvokes, run.SeenSetMs, run.SeenSetMs * 1e6 / run.Links);
                std::fflush(stdout);
            }
        }
        server->RevokeRunning();
        if (runs.size() >= 2) {
            const TRun& first = runs.front();
            const TRun& last = runs.back();
            const double n = static_cast<double>(last.Links) / first.Links;
            const double nlogn =
                n * std::log2(static_cast<double>(last.Links)) / std::log2(static_cast<double>(first.Links));
            std::printf("\n%ld -> %ld links (x%.0f): n log n grows x%.1f, n^2 x%.0f\n", first.Links,
                        last.Links, n, nlogn, n * n);
            std::printf("seen set grew x%.1f, AddLinks x%.1f, HighlightDocument x%.1f\n",
                        last.SeenSetMs / first.SeenSetMs, last.AddLinksMs / first.AddLinksMs,
                        last.HighlightMs / first.HighlightMs);
        }
    }
    ::OleUninitialize();
    return 0;
}
