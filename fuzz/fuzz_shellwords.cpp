// The shell-word splitter behind the driver lines and the quoting that
// hands the words to modprobe. The splitter agrees with a reference made
// from /bin/sh's quoting rules; its words, quoted and run through a real
// /bin/sh, come back exactly; and the splitter reads quoted words back as
// the same words.
#include "vkCmdUtils.h"

#include <QByteArray>
#include <QList>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <unistd.h>

extern char **environ;

namespace {
void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

// /bin/sh's token rules as a state machine, with nothing but blanks, line
// feeds, quotes, backslashes and comments special; an unterminated quote
// runs to the end.
QList<QByteArray> referenceSplit(const QByteArray &s)
{
    enum { Between, Word, Single, Double, Comment } state = Between;
    QList<QByteArray> words;
    QByteArray word;
    const qsizetype n = s.size();
    auto next = [&](qsizetype i) { return i + 1 < n ? s[i + 1] : '\0'; };
    for (qsizetype i = 0; i < n; ++i) {
        const char c = s[i];
        const bool hasNext = i + 1 < n;
        switch (state) {
        case Comment:
            if (c == '\n')
                state = Between;
            continue;
        case Single:
            if (c == '\'')
                state = Word;
            else
                word += c;
            continue;
        case Double:
            if (c == '"')
                state = Word;
            else if (c == '\\' && hasNext && std::memchr("\\\"$`\n", next(i), 5)) {
                if (s[++i] != '\n')
                    word += s[i];
            } else
                word += c;
            continue;
        case Between:
            if (c == ' ' || c == '\t' || c == '\n')
                continue;
            if (c == '\\' && next(i) == '\n' && hasNext) {
                ++i;
                continue;
            }
            if (c == '#') {
                state = Comment;
                continue;
            }
            state = Word;
            [[fallthrough]];
        case Word:
            if (c == ' ' || c == '\t' || c == '\n') {
                words << word;
                word.clear();
                state = Between;
            } else if (c == '\\') {
                if (!hasNext)
                    word += c;
                else if (s[++i] != '\n')
                    word += s[i];
            } else if (c == '\'')
                state = Single;
            else if (c == '"')
                state = Double;
            else
                word += c;
            continue;
        }
    }
    if (state == Word || state == Single || state == Double)
        words << word;
    return words;
}

// One /bin/sh for the whole run, reading commands on its standard input.
// libFuzzer's timer interrupts reads and writes now and then: each is
// retried.
struct Shell {
    int in = -1;
    int out = -1;
    QByteArray pending;   // read from the shell, not yet taken

    Shell()
    {
        int toSh[2], fromSh[2];
        check(::pipe(toSh) == 0 && ::pipe(fromSh) == 0);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, toSh[0], 0);
        posix_spawn_file_actions_adddup2(&fa, fromSh[1], 1);
        posix_spawn_file_actions_addclose(&fa, toSh[1]);
        posix_spawn_file_actions_addclose(&fa, fromSh[0]);
        char a0[] = "sh";
        char *argv[] = {a0, nullptr};
        pid_t pid;
        check(posix_spawn(&pid, "/bin/sh", &fa, nullptr, argv, environ) == 0);
        posix_spawn_file_actions_destroy(&fa);
        ::close(toSh[0]);
        ::close(fromSh[1]);
        in = toSh[1];
        out = fromSh[0];
    }

    void write(const QByteArray &text)
    {
        for (qsizetype done = 0; done < text.size();) {
            const ssize_t n = ::write(in, text.constData() + done, size_t(text.size() - done));
            check(n > 0 || (n < 0 && errno == EINTR));
            done += n > 0 ? n : 0;
        }
    }

    QByteArray readUntil(char end)
    {
        for (;;) {
            const qsizetype at = pending.indexOf(end);
            if (at >= 0) {
                const QByteArray taken = pending.left(at);
                pending.remove(0, at + 1);
                return taken;
            }
            char buf[4096];
            const ssize_t n = ::read(out, buf, sizeof buf);
            check(n > 0 || (n < 0 && errno == EINTR));
            if (n > 0)
                pending.append(buf, n);
        }
    }

    QList<QByteArray> words(const QByteArray &quoted)
    {
        write("set -- " + quoted + "\nprintf '%d\\n' $#\nif [ $# -gt 0 ]; then printf '%s\\0' \"$@\"; fi\n");
        bool ok = false;
        const int count = readUntil('\n').toInt(&ok);
        check(ok);
        QList<QByteArray> got;
        for (int k = 0; k < count; ++k)
            got << readUntil('\0');
        return got;
    }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray line(reinterpret_cast<const char *>(data), qsizetype(size));
    const QList<QByteArray> words = SplitShellWords(line);
    check(words == referenceSplit(line));

    QByteArray plain, forLine;
    bool hasNul = false;
    for (const QByteArray &w : words) {
        plain += ' ' + ShellQuote(w);
        forLine += ' ' + ShellQuoteBytes(w).toUtf8();
        hasNul = hasNul || w.contains('\0');
    }
    check(SplitShellWords(plain) == words);
    if (hasNul)
        return 0;   // no shell word can hold a zero byte
    static Shell sh;
    check(sh.words(plain) == words);
    check(sh.words(forLine) == words);
    return 0;
}
