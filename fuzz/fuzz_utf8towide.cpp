// UTF8ToWide on arbitrary bytes: never reads past the input, never produces
// more units than there are bytes, and agrees with Qt on well-formed text.
#include "vkSysUtils.h"

#include <QString>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // An exact-size heap copy, so the address sanitizer sees any over-read.
    std::unique_ptr<char[]> copy(new char[size ? size : 1]);
    if (size)
        std::memcpy(copy.get(), data, size);
    const QByteArray bytes = QByteArray::fromRawData(copy.get(), qsizetype(size));
    const QString wide = UTF8ToWide(bytes);
    if (size_t(wide.size()) > size)
        std::abort();
    if (QString::fromUtf8(bytes).toUtf8() == bytes) {
        // Well-formed: the reference tables give the same units as Qt.
        if (wide != QString::fromUtf8(bytes))
            std::abort();
    }
    return 0;
}
