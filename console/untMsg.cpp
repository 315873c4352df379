#include "untMsg.h"
#include "ui_untMsg.h"

#include <QApplication>
#include <QFont>
#include <QFontMetricsF>
#include <QPalette>
#include <QPlainTextEdit>

#include <memory>

namespace {
TMessageWindowHook g_hook;

// The window the message belongs to: the console's main window when it is
// there, else whichever window is active.
QWidget *OwnerWindow()
{
    const QWidgetList tops = QApplication::topLevelWidgets();
    for (QWidget *w : tops) {
        if (w->objectName() == QLatin1String("fmConMain"))
            return w;
    }
    return QApplication::activeWindow();
}
} // namespace

TfmMsg::TfmMsg(QWidget *parent) : QDialog(parent), ui(new Ui::TfmMsg)
{
    ui->setupUi(this);
    Memo1 = ui->Memo1;
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(236, 233, 216));
    setPalette(pal);
    setAutoFillBackground(true);

    // Output of system tools lines up in columns: the memo alone gets the
    // typewriter face; the window keeps the application's font.
    QFont memoFont(QStringLiteral("Courier"));
    memoFont.setPixelSize(13);
    memoFont.setWeight(QFont::Normal);
    memoFont.setStyle(QFont::StyleNormal);
    memoFont.setStyleHint(QFont::TypeWriter);
    Memo1->setFont(memoFont);
    // Tool output aligns with tabs at every eighth column.
    Memo1->setTabStopDistance(8 * QFontMetricsF(memoFont).horizontalAdvance(QLatin1Char(' ')));
    QPalette memoPal = Memo1->palette();
    memoPal.setColor(QPalette::Text, Qt::black);
    Memo1->setPalette(memoPal);

    Memo1->setFocus();
}

TfmMsg::~TfmMsg() { delete ui; }

void ShowMessageWindow(const QStringList &Lines)
{
    // Freed on every way out, also when filling or showing it fails.
    std::unique_ptr<TfmMsg> window(new TfmMsg(OwnerWindow()));
    window->Memo1->setPlainText(Lines.join(QLatin1Char('\n')));
    const TMessageWindowHook hook = g_hook;
    if (hook)
        hook(window.get());
    else
        window->exec();
}

void SetMessageWindowHook(TMessageWindowHook hook) { g_hook = std::move(hook); }
