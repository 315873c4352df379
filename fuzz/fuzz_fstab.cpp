// The configuration tool's fstab edit on arbitrary bytes. The input's first
// line is the device, its second the mount point, the rest the file's lines.
//
// The result must be exactly what the plain rule gives: keep a line unless
// its first blank-separated field is the device or its second is the mount
// point, fields being the non-empty runs between spaces (a tab is text).
// What stays keeps its bytes and its order.
#include "fuzz_support.h"
#include "vkLineFile.h"

#include <string>
#include <vector>

namespace {

std::vector<std::string> Fields(const std::string &line)
{
    std::vector<std::string> fields;
    std::string field;
    for (char c : line) {
        if (c != ' ') {
            field += c;
        } else if (!field.empty()) {
            fields.push_back(field);
            field.clear();
        }
    }
    if (!field.empty())
        fields.push_back(field);
    return fields;
}

std::vector<std::string> SplitLines(const std::string &text)
{
    std::vector<std::string> lines;
    std::string::size_type from = 0;
    while (from < text.size()) {
        const auto nl = text.find('\n', from);
        const auto end = nl == std::string::npos ? text.size() : nl;
        lines.push_back(text.substr(from, end - from));
        from = end + 1;
    }
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<std::string> lines = SplitLines(std::string(reinterpret_cast<const char *>(data), size));
    const std::string dev = lines.empty() ? std::string() : lines[0];
    const std::string point = lines.size() < 2 ? std::string() : lines[1];
    lines.erase(lines.begin(), lines.begin() + std::min<size_t>(lines.size(), 2));

    TLines edited;
    for (const std::string &l : lines)
        edited << QByteArray(l.data(), qsizetype(l.size()));
    DropFstabLines(edited, QByteArray(dev.data(), qsizetype(dev.size())), QByteArray(point.data(), qsizetype(point.size())));

    std::vector<std::string> want;
    for (const std::string &l : lines) {
        const std::vector<std::string> f = Fields(l);
        const std::string first = f.empty() ? std::string() : f[0];
        const std::string second = f.size() < 2 ? std::string() : f[1];
        if (first != dev && second != point)
            want.push_back(l);
    }
    FuzzCheck(size_t(edited.size()) == want.size());
    for (size_t i = 0; i < want.size(); ++i)
        FuzzCheck(edited[qsizetype(i)] == QByteArray(want[i].data(), qsizetype(want[i].size())));
    return 0;
}
