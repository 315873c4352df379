#include "vkDialogs.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QTextLayout>

#include <algorithm>
#include <climits>

namespace {
TDialogResponder g_responder;

// "Desc(*.a)|All(*.*)" → "Desc(*.a);;All(*.*)"
QString QtFilter(const QString &filter)
{
    return QString(filter).replace(QLatin1Char('|'), QStringLiteral(";;"));
}

QMessageBox::Icon IconOf(TMsgDlgType type)
{
    switch (type) {
    case TMsgDlgType::Warning: return QMessageBox::Warning;
    case TMsgDlgType::Error: return QMessageBox::Critical;
    case TMsgDlgType::Information: return QMessageBox::Information;
    case TMsgDlgType::Confirmation: return QMessageBox::Question;
    case TMsgDlgType::Custom: break;
    }
    return QMessageBox::NoIcon;
}
} // namespace

QString FitDialogText(const QString &Text, const QFont &Font, int MaxWidth, int MaxLines)
{
    // Lines that fit: broken at a blank where the line allows, anywhere in a
    // word longer than the width (a device name, a module's parameters).
    const QFontMetrics metrics(Font);
    QStringList lines;
    for (const QString &paragraph : Text.split(QLatin1Char('\n'))) {
        if (metrics.horizontalAdvance(paragraph) <= MaxWidth) {
            lines << paragraph;
            continue;
        }
        QTextLayout layout(paragraph, Font);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(MaxWidth);
            lines << paragraph.mid(line.textStart(), line.textLength());
        }
        layout.endLayout();
    }
    // Too many lines for the screen: the beginning and the end stay, which
    // is where a message's own words are; an ellipsis marks what is left out.
    if (MaxLines >= 3 && lines.size() > MaxLines) {
        const qsizetype tail = 1;
        const qsizetype head = MaxLines - 1 - tail;
        lines = lines.mid(0, head) + QStringList{QString(QChar(0x2026))} + lines.mid(lines.size() - tail);
    }
    return lines.join(QLatin1Char('\n'));
}

namespace {
// The largest text a dialog on Parent's screen may show: lines narrow enough
// that the message box, which limits itself to half the screen's width (at
// most 500 pixels) with its icon, never wraps them again, and half the
// screen's height, so that the box with its buttons always fits.
QString FitToScreen(const QString &Text, const QFont &Font, const QWidget *Parent)
{
    const QScreen *screen = Parent ? Parent->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 800, 600);
    const int lineHeight = std::max(1, QFontMetrics(Font).lineSpacing());
    return FitDialogText(Text, Font, std::max(100, std::min(area.width() / 2, 500) - 120),
                         std::max(3, area.height() / 2 / lineHeight));
}
} // namespace

void SetDialogResponder(TDialogResponder responder) { g_responder = std::move(responder); }

QString AppTitle()
{
    // The title defaults to the program's file name without its extension.
    QString name = QCoreApplication::applicationName();
    if (name.isEmpty())
        name = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    return name;
}

int MessageDlg(const QString &Text, TMsgDlgType Type, unsigned Buttons, QWidget *Parent)
{
    if (g_responder) {
        TDialogRequest r;
        r.kind = TDialogRequest::Message;
        r.Caption = AppTitle();
        r.Text = Text;
        r.Type = Type;
        r.Buttons = Buttons;
        return g_responder(r).Result;
    }
    // Texts here may come from a file or the system: shown as plain text,
    // never as markup, and never wider or taller than the screen.
    QMessageBox box(IconOf(Type), AppTitle(), QString(), QMessageBox::NoButton, Parent);
    box.setTextFormat(Qt::PlainText);
    box.setText(FitToScreen(Text, box.font(), Parent));
    if (Buttons & mbYes) box.addButton(QMessageBox::Yes);
    if (Buttons & mbNo) box.addButton(QMessageBox::No);
    if (Buttons & mbOK) box.addButton(QMessageBox::Ok);
    if (Buttons & mbCancel) box.addButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Yes: return mrYes;
    case QMessageBox::No: return mrNo;
    case QMessageBox::Ok: return mrOk;
    case QMessageBox::Cancel: return mrCancel;
    default: return mrNone;
    }
}

void ShowErrorMessage(const QString &Text, QWidget *Parent)
{
    MessageDlg(Text, TMsgDlgType::Error, mbOK, Parent);
}

void OpenErrorMessage(const QString &Text, QWidget *Parent, std::function<void()> Closed)
{
    if (g_responder) {
        MessageDlg(Text, TMsgDlgType::Error, mbOK, Parent);
        if (Closed)
            Closed();
        return;
    }
    auto *box = new QMessageBox(QMessageBox::Critical, AppTitle(), QString(), QMessageBox::Ok, Parent);
    box->setTextFormat(Qt::PlainText);
    box->setText(FitToScreen(Text, box->font(), Parent));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    QObject::connect(box, &QDialog::finished, box, [Closed = std::move(Closed)](int) {
        if (Closed)
            Closed();
    });
    box->show();
}

static QString FileDialog(TDialogRequest::Kind kind, const QString &Title, const QString &InitialDir,
                          const QString &Filter, QWidget *Parent)
{
    if (g_responder) {
        TDialogRequest r;
        r.kind = kind;
        r.Caption = Title;
        r.InitialDir = InitialDir;
        r.Filter = Filter;
        return g_responder(r).Value;
    }
    if (kind == TDialogRequest::OpenFile)
        return QFileDialog::getOpenFileName(Parent, Title, InitialDir, QtFilter(Filter));
    return QFileDialog::getSaveFileName(Parent, Title, InitialDir, QtFilter(Filter));
}

QString OpenFileDialog(const QString &Title, const QString &InitialDir, const QString &Filter,
                       QWidget *Parent)
{
    return FileDialog(TDialogRequest::OpenFile, Title, InitialDir, Filter, Parent);
}

QString SaveFileDialog(const QString &Title, const QString &InitialDir, const QString &Filter,
                       QWidget *Parent)
{
    return FileDialog(TDialogRequest::SaveFile, Title, InitialDir, Filter, Parent);
}

bool InputQuery(const QString &Caption, const QString &Prompt, QString &Value, QWidget *Parent)
{
    if (g_responder) {
        TDialogRequest r;
        r.kind = TDialogRequest::InputText;
        r.Caption = Caption;
        r.Text = Prompt;
        r.Value = Value;
        const TDialogAnswer a = g_responder(r);
        if (a.Result != mrOk)
            return false;
        Value = a.Value;
        return true;
    }
    // The prompt may hold a whole line of a file; the edit field takes the
    // whole line, the prompt only what fits on the screen.
    QInputDialog dialog(Parent);
    dialog.setWindowTitle(Caption);
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setLabelText(FitToScreen(Prompt, dialog.font(), Parent));
    if (QLabel *label = dialog.findChild<QLabel *>())
        label->setTextFormat(Qt::PlainText);
    if (QLineEdit *edit = dialog.findChild<QLineEdit *>())
        edit->setMaxLength(std::max(edit->maxLength(), int(std::min<qsizetype>(Value.size(), INT_MAX))));
    dialog.setTextValue(Value);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    Value = dialog.textValue();
    return true;
}

bool FontDialog(QFont &Font, QWidget *Parent)
{
    if (g_responder) {
        TDialogRequest r;
        r.kind = TDialogRequest::ChooseFont;
        r.Caption = QStringLiteral("Font");
        r.Value = Font.toString();
        const TDialogAnswer a = g_responder(r);
        QFont chosen;
        if (a.Result != mrOk || !chosen.fromString(a.Value))
            return false;
        Font = chosen;
        return true;
    }
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, Font, Parent);
    if (ok)
        Font = chosen;
    return ok;
}
