// Capture-file reading: the input is written to a memory file and read as the
// analyzer and qarsilo-cli read a "file:" source, through a capture session and
// its thread into the analyzer's frame store; then every frame is read back
// from the store and must be the frame the reader delivered. Decoding the
// frames is the decode target's work: done here too, it took most of this
// target's time and found nothing the decode target does not.
#include "fuzz_input.h"

#include "core/analysis/frame_store.h"
#include "core/capture/adapter_name.h"
#include "core/capture/capture_session.h"

#include <sys/mman.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <vector>

using namespace qarsilo;

namespace {
// Some thousand inputs' frames, several chunks: appends cross from chunk to chunk.
constexpr std::size_t kStoreBytes = std::size_t(16) << 20;

// FNV-1a over a frame's lengths, time stamp and bytes.
std::uint64_t frameSum(const FrameHeader& h, const std::uint8_t* bytes) {
    std::uint64_t sum = 0xcbf29ce484222325u;
    const auto add = [&sum](std::uint64_t v) {
        sum ^= v;
        sum *= 0x100000001b3u;
    };
    add(h.capLen);
    add(h.wireLen);
    add(static_cast<std::uint64_t>(h.tsSec));
    // A file's microseconds field is 32 bits, which the store keeps as they
    // are; libpcap hands a value past 2^31 on as negative.
    add(static_cast<std::uint32_t>(h.tsUsec));
    for (std::uint32_t i = 0; i < h.capLen; ++i)
        add(bytes[i]);
    return sum;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int fd = memfd_create("capture", 0);
    QARSILO_FUZZ_CHECK(fd >= 0);
    QARSILO_FUZZ_CHECK(ftruncate(fd, 0) == 0);
    for (std::size_t at = 0; at < size;) {
        const ssize_t n = pwrite(fd, data + at, size - at, static_cast<off_t>(at));
        QARSILO_FUZZ_CHECK(n > 0);
        at += static_cast<std::size_t>(n);
    }
    static const QString adapter =
        captureFileAdapterName(QStringLiteral("/proc/self/fd/%1").arg(fd));

    // One store for many inputs, as the analyzer keeps one for a long capture:
    // a new store per input spent most of the time making its block table and
    // mapping a first chunk for a few frames. Emptied now and then.
    static FrameStore store;
    if (store.memoryUsed() > kStoreBytes)
        store.clear();
    const std::size_t first = store.size();
    const std::size_t droppedBefore = store.dropped();
    std::size_t delivered = 0;
    std::vector<std::uint64_t> sums; // of the frames the store took
    std::mutex lock;
    std::condition_variable wake;
    bool ended = false;
    CaptureSession session(CaptureWindow::CommandLine);
    session.setFileReplay(FileReplay::AsFastAsPossible);
    session.setHandler([&](const pcap_pkthdr& h, const std::uint8_t* bytes) {
        ++delivered;
        const FrameHeader header = frameHeaderFrom(h);
        if (store.append(header, bytes))
            sums.push_back(frameSum(header, bytes));
    });
    session.setEndHandler([&](LoopEnd) {
        std::lock_guard g(lock);
        ended = true;
        wake.notify_all();
    });
    if (!session.start(adapter).ok())
        return 0;
    {
        std::unique_lock g(lock);
        wake.wait(g, [&] { return ended; });
    }
    session.stop();
    QARSILO_FUZZ_CHECK(store.size() - first + store.dropped() - droppedBefore == delivered);
    QARSILO_FUZZ_CHECK(sums.size() == store.size() - first);
    for (std::size_t i = first; i < store.size(); ++i) {
        const FrameStore::Frame frame = store.at(i);
        QARSILO_FUZZ_CHECK(frameSum(frame.header, frame.bytes) == sums[i - first]);
    }
    return 0;
}
