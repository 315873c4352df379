#include "vkDialogs.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QInputDialog>
#include <QMessageBox>

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
    QMessageBox box(IconOf(Type), AppTitle(), Text, QMessageBox::NoButton, Parent);
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
    auto *box = new QMessageBox(QMessageBox::Critical, AppTitle(), Text, QMessageBox::Ok, Parent);
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
    bool ok = false;
    const QString typed = QInputDialog::getText(Parent, Caption, Prompt, QLineEdit::Normal, Value, &ok);
    if (ok)
        Value = typed;
    return ok;
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
