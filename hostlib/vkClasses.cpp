#include "vkClasses.h"

#include "vkErrors.h"
#include "vkSysUtils.h"
#include "vkVariant.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

TFileStream64::TFileStream64(const QString &FileName, quint16 Mode, quint32 Rights)
{
    OpenSize = 0;
    // The create mode ignores Rights on purpose: a new file always gets 0666
    // less the umask, whatever the caller passed.
    if (Mode == fmCreate)
        FHandle = FileCreate64(FileName, 0666);
    else
        FHandle = FileOpen64(FileName, Mode, int(Rights));
    const int err = errno;

    if (IsToolVariant()) {
        // The configuration tool carries on with a dead stream: every
        // operation answers as on a bad descriptor (Size -1, Read 0), so a
        // disk that cannot be opened is simply listed without partitions.
        if (FHandle < 0)
            DebugLog(QStringLiteral("error: %1 open file:%2").arg(QString::number(err), FileName));
        IsDevice = FileName.startsWith(QLatin1String("/dev/"));
        OpenSize = Size();
        return;
    }

    if (FHandle < 0)
        throw Exception(QStringLiteral("error %1 open file \"%2\"").arg(QString::number(err), FileName));
    IsDevice = FileName.contains(QLatin1String("/dev/"));
}

TFileStream64::~TFileStream64()
{
    if (FHandle >= 0)
        ::close(FHandle);
}

qint64 TFileStream64::Read(void *Buffer, qint64 Count)
{
    if (Count <= 0)
        return 0;
    ssize_t n;
    do
        n = ::read(FHandle, Buffer, size_t(Count));
    while (n < 0 && errno == EINTR);
    return n < 0 ? 0 : qint64(n);
}

qint64 TFileStream64::ReadAt(qint64 Offset, void *Buffer, qint64 Count)
{
    if (Count <= 0 || Offset < 0)
        return 0;
    ssize_t n;
    do
        n = ::pread(FHandle, Buffer, size_t(Count), off_t(Offset));
    while (n < 0 && errno == EINTR);
    return n < 0 ? 0 : qint64(n);
}

qint64 TFileStream64::Write(const void *Buffer, qint64 Count)
{
    if (Count <= 0)
        return 0;
    ssize_t n;
    do
        n = ::write(FHandle, Buffer, size_t(Count));
    while (n < 0 && errno == EINTR);
    return n < 0 ? 0 : qint64(n);
}

qint64 TFileStream64::Seek(qint64 Offset, TSeekOrigin Origin)
{
    int whence = SEEK_SET;
    switch (Origin) {
    case soBeginning: whence = SEEK_SET; break;
    case soCurrent: whence = SEEK_CUR; break;
    case soEnd: whence = SEEK_END; break;
    }
    static_assert(sizeof(off_t) == 8, "large-file offsets are required");
    return qint64(::lseek(FHandle, off_t(Offset), whence));
}

void TFileStream64::SetSize(qint64 NewSize)
{
    // A size the descriptor cannot be positioned at (a negative one) is an
    // error, not a request to cut the file at wherever it happens to stand.
    const qint64 p = Seek(NewSize, soBeginning);
    if (p < 0 || p != NewSize || ::ftruncate(FHandle, off_t(p)) != 0)
        throw EStreamError(QStringLiteral("Error setting stream size"));
}

qint64 TFileStream64::Position()
{
    return Seek(0, soCurrent);
}

void TFileStream64::SetPosition(qint64 P)
{
    Seek(P, soBeginning);
}

qint64 TFileStream64::Size()
{
    const qint64 pos = Seek(0, soCurrent);
    const qint64 result = Seek(0, soEnd);
    Seek(pos, soBeginning);
    return result;
}
