// SPDX-License-Identifier: MIT
#include "ui/ChannelDialog.h"

#include "form/FormTexts.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>

namespace Wirelog {

ChannelDialog::ChannelDialog(const QString& fileName, const std::vector<std::string>& channels,
                             QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("channelDialog"));
    setWindowTitle(QString::fromLatin1(kMessageCaption));
    setModal(true);
    for (QComboBox* box : {&scl_, &sda_})
        for (const std::string& channel : channels)
            box->addItem(QString::fromStdString(channel));
    sda_.setCurrentIndex(channels.size() > 1 ? 1 : 0);
    scl_.setObjectName(QStringLiteral("scl"));
    sda_.setObjectName(QStringLiteral("sda"));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // The same channel for both lines is no bus.
    const auto check = [this, buttons] {
        buttons->button(QDialogButtonBox::Ok)
            ->setEnabled(scl_.currentIndex() != sda_.currentIndex());
    };
    connect(&scl_, &QComboBox::currentIndexChanged, this, check);
    connect(&sda_, &QComboBox::currentIndexChanged, this, check);
    check();

    auto* layout = new QFormLayout(this);
    auto* text = new QLabel(tr("%1 has no channels named SCL and SDA.\nWhich channels carry the "
                               "bus?")
                                .arg(fileName),
                            this);
    layout->addRow(text);
    layout->addRow(QStringLiteral("SCL"), &scl_);
    layout->addRow(QStringLiteral("SDA"), &sda_);
    layout->addRow(buttons);
}

} // namespace Wirelog
