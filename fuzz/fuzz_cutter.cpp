// The command window's output cutter against fgets(3) with a 1025-byte
// buffer: the same pieces, byte for byte, however the output is split into
// reads. The first byte of the input picks the read sizes.
#include "vkCmdUtils.h"

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const unsigned seed = data[0];
    QByteArray output(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));

    QList<QByteArray> expected;
    if (!output.isEmpty()) {
        FILE *f = ::fmemopen(output.data(), size_t(output.size()), "r");
        if (!f)
            __builtin_trap();
        char buf[1025];
        long at = 0;
        while (std::fgets(buf, sizeof buf, f)) {
            const long now = std::ftell(f);
            expected << output.mid(at, now - at);
            at = now;
        }
        std::fclose(f);
    }

    QList<QByteArray> pieces;
    TPieceCutter cutter([&](QByteArrayView p) { pieces << p.toByteArray(); });
    qsizetype at = 0;
    for (unsigned i = 1; at < output.size(); ++i) {
        const qsizetype chunk = qMin<qsizetype>(1 + qsizetype((seed * i * 131u) % 2100u), output.size() - at);
        cutter.feed(output.constData() + at, chunk);
        at += chunk;
    }
    cutter.finish();
    if (pieces != expected)
        __builtin_trap();
    return 0;
}
