// The line files of the configuration tool (modules.conf, md.conf,
// mount.conf, /etc/fstab) on arbitrary bytes. Loaded and saved with no edit,
// the file comes back byte for byte, every line end made a line feed; each
// line's shown text gives back its own bytes, and an edited text survives
// being written and shown again.
#include "fuzz_support.h"
#include "vkFileUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray in(reinterpret_cast<const char *>(data), qsizetype(size));
    FuzzWrite(QStringLiteral("/etc/velkora/modules.conf"), data, size);
    const QString path = FuzzRoot() + QStringLiteral("/etc/velkora/modules.conf");

    QList<QByteArray> back;
    for (const QByteArray &line : LoadLineBytes(path)) {
        FuzzCheck(!line.contains('\n') && !line.contains('\r'));
        const QString shown = DecodeLocalText(line);
        back << EncodeEditedLine(shown, line);
        FuzzCheck(back.last() == line);
        const QString edited = shown + QStringLiteral(" x=1");
        FuzzCheck(DecodeLocalText(EncodeEditedLine(edited, line)) == edited);
    }
    SaveLineBytes(path, back);

    QByteArray expected = in;
    expected.replace("\r\n", "\n");
    expected.replace('\r', '\n');
    if (!expected.isEmpty() && !expected.endsWith('\n'))
        expected += '\n';
    QFile f(path);
    FuzzCheck(f.open(QIODevice::ReadOnly) && f.readAll() == expected);
    return 0;
}
