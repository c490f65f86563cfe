// The chart windows' costs: the frame handler of each window (ns per frame,
// the median of several runs over a mix of crafted frames, called through the
// same std::function the capture session calls), the application window's
// counters fed by two threads at once, and one tick's chart rebuild and
// drawing at the window's size, bar and pie, with the copy to the window.
//
//   qarsilo-bench-chart [--frames 2000000] [--runs 9]

#include "core/stats/distribution_chart.h"
#include "support/chart_frames.h"

#include "core/capture/capture_session.h"

#include <QGuiApplication>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

using namespace qarsilo;
using Clock = std::chrono::steady_clock;

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

struct Frame {
    pcap_pkthdr header;
    QByteArray bytes;
};

// A mix of what a LAN carries: web, DNS, ARP, IPv6, LLC, sizes from 60 to 1514.
std::vector<Frame> frameMix() {
    std::vector<Frame> out;
    auto add = [&out](const QByteArray& f, int times) {
        for (int i = 0; i < times; ++i)
            out.push_back({test::snapHeader(f), f});
    };
    add(test::ipv4Frame(6, 443, 52000, 1514), 30);
    add(test::ipv4Frame(6, 52000, 443, 60), 20);
    add(test::ipv4Frame(17, 53, 53, 90), 8);
    add(test::ipv4Frame(17, 50000, 8000, 700), 6);
    add(test::ipv4Frame(1, 0, 0, 98), 2);
    add(test::ipv6Frame(6, 50000, 443, 1294), 10);
    add(test::ipv6Frame(17, 546, 547, 150), 3);
    add(test::ipv6Frame(58, 0, 0, 120), 2);
    add(test::etherFrame(0x0806, 60), 5);
    add(test::llcFrame(0x42, 39, 60), 2);
    add(test::etherFrame(0x88CC, 300), 1);
    // Interleave the kinds as a link would.
    std::vector<Frame> mixed;
    for (std::size_t i = 0; i < out.size(); ++i)
        mixed.push_back(out[(i * 37) % out.size()]);
    return mixed;
}

double handlerNs(ChartKind kind, int slot, const std::vector<Frame>& frames, long long count) {
    DistributionChart chart(kind);
    // The capture session calls the window's handler through this type.
    const CaptureSession::Handler handler = [&chart, slot](const pcap_pkthdr& h,
                                                           const std::uint8_t* bytes) {
        chart.countFrame(slot, h, bytes);
    };
    const std::size_t n = frames.size();
    const auto start = Clock::now();
    for (long long i = 0; i < count; ++i) {
        const Frame& f = frames[static_cast<std::size_t>(i) % n];
        handler(f.header, test::bytesOf(f.bytes));
    }
    const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    (void)chart.counters().take();
    return ns / static_cast<double>(count);
}

// Both captures of the application window at once into the same counters.
double twoThreadsNs(const std::vector<Frame>& frames, long long count) {
    DistributionChart chart(ChartKind::Application);
    auto feed = [&](int slot) {
        const CaptureSession::Handler handler = [&chart, slot](const pcap_pkthdr& h,
                                                               const std::uint8_t* bytes) {
            chart.countFrame(slot, h, bytes);
        };
        const std::size_t n = frames.size();
        for (long long i = 0; i < count; ++i) {
            const Frame& f = frames[static_cast<std::size_t>(i + slot * 7) % n];
            handler(f.header, test::bytesOf(f.bytes));
        }
    };
    const auto start = Clock::now();
    std::thread a(feed, 0);
    std::thread b(feed, 1);
    a.join();
    b.join();
    const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    (void)chart.counters().take();
    return ns / static_cast<double>(count); // per frame of one thread, both running
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    long long frames = 2'000'000;
    int runs = 9;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == u"--frames")
            frames = args[++i].toLongLong();
        else if (args[i] == u"--runs")
            runs = args[++i].toInt();
    }
    runs = std::max(runs, 1);
    const std::vector<Frame> mix = frameMix();

    std::printf("frame handler, %lld frames a run, median of %d runs (ns per frame)\n", frames,
                runs);
    struct Handler {
        ChartKind kind;
        int slot;
        const char* name;
    };
    const Handler handlers[] = {
        {ChartKind::PacketSize, 0, "CPacketSizeView"},
        {ChartKind::NetworkLayer, 0, "CPDL2View"},
        {ChartKind::IPv4, 0, "CPDL3View"},
        {ChartKind::IPv6, 0, "PDv6L3View"},
        {ChartKind::Application, 0, "CPDAppView (tcp)"},
        {ChartKind::Application, 1, "CPDAppView (udp)"},
        {ChartKind::IPv4IPv6, 0, "CPDv4v6L3View (IPv4)"},
        {ChartKind::IPv4IPv6, 1, "CPDv4v6L3View (IPv6)"},
    };
    for (const Handler& h : handlers) {
        std::vector<double> ns;
        for (int r = 0; r < runs; ++r)
            ns.push_back(handlerNs(h.kind, h.slot, mix, frames));
        std::printf("  %-22s %6.2f ns\n", h.name, median(ns));
    }
    {
        std::vector<double> ns;
        for (int r = 0; r < runs; ++r)
            ns.push_back(twoThreadsNs(mix, frames));
        std::printf("  %-22s %6.2f ns (wall time per frame of each thread, both at once)\n",
                    "CPDAppView, 2 threads", median(ns));
    }

    std::printf("\none tick at %dx%d: rebuild the chart and draw it, then copy it to the window "
                "(median of %d, ms)\n",
                kChartViewSize.width(), kChartViewSize.height(), std::max(runs, 5));
    std::printf("  %-22s %10s %10s %10s %10s\n", "window", "bar build", "bar draw", "pie build",
                "pie draw");
    QImage window(kChartViewSize, QImage::Format_RGB32);
    std::vector<double> copies;
    for (int k = 0; k < kChartKinds; ++k) {
        const ChartKind kind = static_cast<ChartKind>(k);
        DistributionChart chart(kind);
        DistributionChart::Bytes bytes{};
        for (int i = 0; i < chart.categoryCount(); ++i)
            bytes[static_cast<std::size_t>(i)] = static_cast<std::uint64_t>(1000 + 37 * i * i);
        double cells[4] = {};
        for (int type : {CChartWnd::kBarChart, CChartWnd::kPieChart}) {
            chart.setActiveType(type);
            std::vector<double> build;
            std::vector<double> draw;
            for (int r = 0; r < std::max(runs, 5); ++r) {
                const auto t0 = Clock::now();
                chart.show(bytes, false);
                const auto t1 = Clock::now();
                const QImage image = chart.render(kChartViewSize);
                const auto t2 = Clock::now();
                {
                    QPainter p(&window);
                    p.drawImage(0, 0, image);
                }
                const auto t3 = Clock::now();
                build.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
                draw.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
                copies.push_back(std::chrono::duration<double, std::milli>(t3 - t2).count());
            }
            const int at = type == CChartWnd::kBarChart ? 0 : 2;
            cells[at] = median(build);
            cells[at + 1] = median(draw);
        }
        std::printf("  %-22s %10.3f %10.3f %10.3f %10.3f\n", chart.info().className, cells[0],
                    cells[1], cells[2], cells[3]);
    }
    std::printf("  copy to the window: %.3f ms\n", median(copies));
    return 0;
}
