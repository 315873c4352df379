#include "untSelSpeed.h"
#include "ui_untSelSpeed.h"

#include "untNetFlux.h"
#include "vkErrors.h"
#include "vkFormUtils.h"
#include "vkGuard.h"

#include <QApplication>
#include <QPalette>
#include <QScreen>

#include <memory>

namespace {
TSelectSpeedHook g_hook;

// Bytes per second at a graph's full height, by entry: about 1.2, 12 and
// 120 MiB/s, what 10, 100 and 1000 Mbit/s carry in practice.
constexpr int kRates[] = {1258291, 12582912, 125829120};
} // namespace

TfmSelSpeed::TfmSelSpeed(QWidget *Owner) : QDialog(Owner), ui(new Ui::TfmSelSpeed)
{
    ui->setupUi(this);
    btnOK = ui->btnOK;
    btnCancel = ui->btnCancel;
    ListBox1 = ui->ListBox1;

    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(236, 233, 216));
    pal.setColor(QPalette::Button, QColor(236, 233, 216));
    setPalette(pal);
    setAutoFillBackground(true);
    if (QScreen *s = screen())
        move(s->geometry().center() - QPoint(width() / 2, height() / 2));

    ConnectListClick(ListBox1, Guard(this, &TfmSelSpeed::ListBox1Click));
    // The OK button ends the dialog only once its choice has been applied.
    connect(btnOK, &QPushButton::clicked, this, [this] {
        bool applied = false;
        RunGuarded(this, [&] {
            btnOKClick();
            applied = true;
        });
        if (applied)
            accept();
    });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    ListBox1->setFocus();
    RunGuarded(this, [this] { FormCreate(); });
}

TfmSelSpeed::~TfmSelSpeed() { delete ui; }

void TfmSelSpeed::FormCreate()
{
    ListBox1->setCurrentRow(1);
}

void TfmSelSpeed::ListBox1Click()
{
    btnOK->setEnabled(ListItemIndex(ListBox1) >= 0);
}

void TfmSelSpeed::btnOKClick()
{
    const int i = ListItemIndex(ListBox1);
    if (i < 0 || i >= int(std::size(kRates)))
        throw Exception(QStringLiteral("error selection"));
    MaxRate = kRates[i];
    SpeedLabel = ListBox1->item(i)->text();
}

bool SelectSpeed()
{
    const auto dialog = std::make_unique<TfmSelSpeed>();
    const TSelectSpeedHook hook = g_hook;
    const int result = hook ? hook(dialog.get()) : dialog->exec();
    return result == QDialog::Accepted;
}

void SetSelectSpeedHook(TSelectSpeedHook Hook) { g_hook = std::move(Hook); }
