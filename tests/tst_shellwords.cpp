// The shell-word splitter and quoting behind the driver lines handed to
// modprobe, checked against the real /bin/sh, and the output cutter of the
// command window against fgets(3).
#include "vkCmdUtils.h"

#include <QTest>

#include <cctype>
#include <cstdio>

namespace {
// The words as "[w1][w2]...".
QByteArray bracketed(const QList<QByteArray> &words)
{
    QByteArray out;
    for (const QByteArray &w : words)
        out += '[' + w + ']';
    return out;
}

// What /bin/sh makes of the words of a line: printf shows each argument.
QByteArray shellWords(const QByteArray &line)
{
    FILE *p = ::popen(("printf '[%s]' " + line).constData(), "r");
    if (!p)
        return "(no shell)";
    QByteArray out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, qsizetype(n));
    ::pclose(p);
    return out;
}
} // namespace

class TestShellWords : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The splitter's words are the shell's, for every row the shell can run
    // as one command.
    void split_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("words");
        QTest::addColumn<bool>("oneCommand");   // the shell may check the row
        auto row = [](const char *name, const QByteArray &line, const QByteArray &words, bool one = true) {
            QTest::newRow(name) << line << words << one;
        };
        row("blanks and tabs separate", "  a \t b\t", "[a][b]");
        row("line feed separates", "a\nb", "[a][b]", false);
        row("carriage return is text", "a\rb", "[a\rb]");
        row("escaped blank joins", "a\\ b\\\tc", "[a b\tc]");
        row("backslash outside quotes", "\\a\\\\\\'", "[a\\']");
        row("trailing backslash stays", "a\\", "[a\\]");
        row("backslash in double quotes before text stays", "\"a\\b\\ c\\'\"", "[a\\b\\ c\\']");
        row("backslash in double quotes escapes four", "\"\\\\\\\"\\$\\`\"", "[\\\"$`]");
        row("backslash and line feed join", "a\\\nb \"c\\\nd\" \\\n e", "[ab][cd][e]");
        row("single quotes keep everything", "'a\"b\\c $x \\\n'", "[a\"b\\c $x \\\n]");
        row("empty quotes are words", "'' \"\"x", "[][x]");
        row("comment at a word's start", "e1000 # note 'x", "[e1000]");
        row("hash inside or after quotes is text", "a#b c# ''#d \\#e", "[a#b][c#][#d][#e]");
        row("joined line before a hash", "a \\\n#b", "[a]");
        row("comment ends at a line feed", "a #b\nc", "[a][c]", false);
        row("unterminated quote runs to the end", "a'b c", "[ab c]", false);
        row("bytes that are not UTF-8", "caf\xe9 \xff'\xfe'", "[caf\xe9][\xff\xfe]");
        row("unterminated double quote runs to the end", "a\"b c", "[ab c]", false);
        row("backslash before a NUL in double quotes stays", QByteArray("\"a\\\0b\"", 6), QByteArray("[a\\\0b]", 6),
            false);
    }
    void split()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, words);
        QFETCH(bool, oneCommand);
        QCOMPARE(bracketed(SplitShellWords(line)), words);
        if (oneCommand)
            QCOMPARE(shellWords(line), words);
    }

    // Quoted words reach a command exactly, whatever bytes they hold, and
    // the splitter reads them back as the same words.
    void quotedWordsComeBack_data()
    {
        QTest::addColumn<QList<QByteArray>>("words");
        QTest::newRow("quotes") << QList<QByteArray>{"it's", "'", "\"", "''"};
        QTest::newRow("blanks and empty") << QList<QByteArray>{"a b", "", "\t", "x\ny"};
        QTest::newRow("shell code") << QList<QByteArray>{"$(touch x)", "`y`", "; z", "#c", "\\", "*"};
        QTest::newRow("not UTF-8") << QList<QByteArray>{"caf\xe9", "\xc3\xa9'\xff", "\xe4\xb8", "a\x80'b"};
        QTest::newRow("UTF-8") << QList<QByteArray>{"caf\xc3\xa9", "\xe4\xb8\xad", "\xef\xbb\xbf" "bom"};
    }
    void quotedWordsComeBack()
    {
        QFETCH(QList<QByteArray>, words);
        QByteArray line, plain;
        for (const QByteArray &w : words) {
            line += ' ' + ShellQuoteBytes(w).toUtf8();
            plain += ' ' + ShellQuote(w);
        }
        QVERIFY(QString::fromUtf8(line).toUtf8() == line);   // survives the way to the shell
        QCOMPARE(shellWords(line), bracketed(words));
        QCOMPARE(shellWords(plain), bracketed(words));
        QCOMPARE(SplitShellWords(plain), words);
    }

    // Every byte on its own, in a device-like and a path-like word: a
    // letter, a digit or one of "/._+:-" (and, for an argument, "=" and ",")
    // leaves the word as typed; any other byte makes it quoted. Either way
    // the real shell gives back each word exactly.
    void shellArgQuotesAllButPlain_data()
    {
        QTest::addColumn<bool>("argument");   // ShellArg(bytes, "=,") rather than ShellArg(text)
        QTest::newRow("device names and paths") << false;
        QTest::newRow("module arguments") << true;
    }
    void shellArgQuotesAllButPlain()
    {
        QFETCH(bool, argument);
        const QByteArray plainSet = argument ? "/._+:-=," : "/._+:-";
        QByteArray line;
        QList<QByteArray> words;
        for (int b = 1; b < 0x100; ++b) {
            const char c = char(b);
            const bool plain = (b < 0x80 && std::isalnum(b)) || plainSet.contains(c);
            // A byte above 0x7f stands alone only in a word of bytes; as text
            // it is the letter of that number.
            for (const QByteArray &word : {"/dev/sd" + QByteArray(1, c) + '1', "/mnt/a" + QByteArray(1, c) + 'b'}) {
                const QString text = QString::fromLatin1(word);
                const QString arg = argument ? ShellArg(word, "=,") : ShellArg(text);
                QVERIFY2((arg == text) == plain, qPrintable(QStringLiteral("byte 0x%1: %2").arg(b, 2, 16).arg(arg)));
                line += ' ' + arg.toUtf8();
                words << (argument ? word : text.toUtf8());
            }
        }
        // An empty word goes as '', and a character beyond Latin-1 is never
        // plain, whatever its low byte ("中" is U+4E2D, "-" is 0x2D).
        for (const QByteArray &word : {QByteArray(), QByteArray("/mnt/\xe4\xb8\xad")}) {
            const QString text = QString::fromUtf8(word);
            const QString arg = argument ? ShellArg(word, "=,") : ShellArg(text);
            QVERIFY2(arg != text, qPrintable(arg));
            line += ' ' + arg.toUtf8();
            words << word;
        }
        QCOMPARE(shellWords(line), bracketed(words));
    }

    // The command window's pieces are fgets(3)'s with a 1025-byte buffer,
    // however the output arrives.
    void cutterAsFgets_data()
    {
        QTest::addColumn<QByteArray>("output");
        const QByteArray a(1024, 'a');
        QTest::newRow("nothing") << QByteArray();
        QTest::newRow("short lines, last unterminated") << QByteArray("ab\n\n\ncd");
        QTest::newRow("1023 and a line feed") << a.left(1023) + '\n' + "x";
        QTest::newRow("1024 and a line feed") << a + "\nx\n";
        QTest::newRow("long line") << a + a + a.left(952) + '\n';
        QTest::newRow("zero bytes") << QByteArray("a\0b\n\0\0", 6) + a;
    }
    void cutterAsFgets()
    {
        QFETCH(QByteArray, output);
        QList<QByteArray> expected;
        if (!output.isEmpty()) {
            FILE *f = ::fmemopen(output.data(), size_t(output.size()), "r");
            QVERIFY(f);
            char buf[1025];
            long at = 0;
            while (std::fgets(buf, sizeof buf, f)) {
                const long now = std::ftell(f);
                expected << output.mid(at, now - at);
                at = now;
            }
            std::fclose(f);
        }
        for (const qsizetype chunk : {qsizetype(1), qsizetype(7), qsizetype(1024), qsizetype(1025), qsizetype(65536)}) {
            QList<QByteArray> pieces;
            TPieceCutter cutter([&](QByteArrayView p) { pieces << p.toByteArray(); });
            for (qsizetype i = 0; i < output.size(); i += chunk)
                cutter.feed(output.constData() + i, std::min(chunk, output.size() - i));
            cutter.finish();
            QCOMPARE(pieces, expected);
        }
    }
};

QTEST_GUILESS_MAIN(TestShellWords)
#include "tst_shellwords.moc"
